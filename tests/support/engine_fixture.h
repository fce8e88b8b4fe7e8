// An engine over a fake volume, with recorded messages and scripted prompts.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/defrag.h"
#include "engine/globals.h"
#include "platform/recording.h"
#include "tests/support/fake_volume.h"

namespace vt {
namespace test {

// System services with a chosen version and pinned clock.
class CFakeSystem : public ISystemOps {
 public:
  DWORD major = 6, minor = 1;
  DWORD failStep = 0;  // 1 lookup, 2 open token, 3 first adjust, 4 second adjust
  DWORD failError = ERROR_ACCESS_DENIED;
  int adjustCalls = 0;
  DWORD lastAttributes = 0;
  DWORD tick = 1000;

  void GetVersion(DWORD* ma, DWORD* mi) override {
    *ma = major;
    *mi = minor;
  }
  BOOL LookupPrivilegeValueA(const char*, LUID* luid) override {
    if (failStep == 1) return Fail();
    luid->LowPart = 17;
    luid->HighPart = 0;
    return TRUE;
  }
  BOOL OpenProcessToken(DWORD, HANDLE* token) override {
    if (failStep == 2) return Fail();
    *token = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x44));
    return TRUE;
  }
  BOOL AdjustTokenPrivileges(HANDLE, BOOL, TOKEN_PRIVILEGES* newState, DWORD,
                             TOKEN_PRIVILEGES* previous, DWORD* length) override {
    ++adjustCalls;
    if (failStep == 3 && adjustCalls == 1) return Fail();
    if (failStep == 4 && adjustCalls == 2) return Fail();
    if (previous) {
      *previous = *newState;
      previous->Privileges[0].Attributes = 0;
    }
    if (length) *length = sizeof(TOKEN_PRIVILEGES);
    lastAttributes = newState->Privileges[0].Attributes;
    return TRUE;
  }
  BOOL CloseHandle(HANDLE) override { return TRUE; }
  DWORD GetLastError() override { return m_error; }
  DWORD GetTickCount() override { return tick; }
  SYSTEMTIME GetLocalTime() override { return SYSTEMTIME{2026, 12, 2, 8, 10, 30, 15, 0}; }
  std::string FormatSystemMessage(DWORD error) override;

 private:
  BOOL Fail() {
    m_error = failError;
    return FALSE;
  }
  DWORD m_error = 0;
};

// Records the map rebuilds the engine asks for.
class CRecordingMap : public IClusterMapHost {
 public:
  std::vector<size_t> rebuildsAtFileCount;
  std::vector<std::vector<uint64_t>> moves;
  void RebuildMap(const CDefrag& engine) override {
    rebuildsAtFileCount.push_back(engine.m_files.GetSize());
  }
  void MarkMove(uint64_t oldLcn, uint64_t newLcn, uint32_t count) override {
    moves.push_back({oldLcn, newLcn, count});
  }
};

class EngineTest : public ::testing::Test {
 protected:
  EngineTest();
  ~EngineTest() override;

  // Makes a fresh engine (after changing the fake system's version, say).
  void MakeEngine();
  // Opens drive C: of the fake volume.
  bool Open();
  // Opens and analyses; returns AnalyzeVolume's result.
  bool Analyze();

  CFakeVolume volume{'C'};
  CFakeSystem system;
  CRecordingSink sink;
  CScriptedPrompt prompt;
  CRecordingMap map;
  CDriveData drive;
  std::unique_ptr<CDefrag> engine;
};

}  // namespace test
}  // namespace vt
