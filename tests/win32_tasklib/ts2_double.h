// A stand-in Task Scheduler 2.0 service: records every call the library makes
// with its arguments, answers from a script, and counts the live objects so a
// test can see that everything handed out was released.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tasklib/task_service.h"
#include "ts2_stubs.h"

namespace vt {
namespace test {

struct CTs2World {
  struct Task {
    std::wstring name;
    TASK_STATE state;
  };

  // Script.
  bool productFolderExists = true;
  bool systemDefragFolderExists = true;
  std::vector<Task> systemDefragTasks;
  std::map<std::string, HRESULT> failures;  // "ITriggerCollection::Create" -> E_NOTIMPL

  // Record.
  std::vector<std::string> calls;
  std::vector<std::pair<std::wstring, VARIANT_BOOL>> enabledPuts;
  int live = 0;
  const void* lastDefinition = nullptr;

  HRESULT Answer(const std::string& call, const std::string& args);
};

// The world the factory below hands out services for.
CTs2World*& CurrentWorld();
HRESULT CreateFakeTaskService(ITaskService** service);

// Text of a BSTR (ASCII range) for the record; "(null)" for a null BSTR.
std::string Narrow(const wchar_t* text);
std::string Describe(const VARIANT& v);

}  // namespace test
}  // namespace vt
