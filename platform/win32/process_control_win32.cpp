#include "platform/process_control.h"

namespace vt {

namespace {

class CWin32ProcessControl : public IProcessControl {
 public:
  bool SetPriorityClass(DWORD priorityClass) override {
    return ::SetPriorityClass(::GetCurrentProcess(), priorityClass) != FALSE;
  }
  bool SetAffinityMask(uint64_t mask) override {
    const DWORD_PTR native = static_cast<DWORD_PTR>(mask);
    if (native != mask) return false;  // processors a 32-bit process cannot name
    return ::SetProcessAffinityMask(::GetCurrentProcess(), native) != FALSE;
  }
  bool GetSystemAffinityMask(uint64_t* mask) override {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system)) return false;
    *mask = system;
    return true;
  }
};

}  // namespace

IProcessControl& HostProcessControl() {
  static CWin32ProcessControl host;
  return host;
}

}  // namespace vt
