// The process priority and processor affinity calls, behind an interface so
// that tests can record them. On Windows these are the process calls
// themselves; elsewhere the nearest equivalents for every thread of the
// process (nice level and CPU affinity).
#pragma once

#include <cstdint>

#include "base/winshapes.h"

namespace vt {

// The Windows priority classes the options page offers.
constexpr DWORD kPriorityHigh = 128;
constexpr DWORD kPriorityAboveNormal = 32768;
constexpr DWORD kPriorityNormal = 32;
constexpr DWORD kPriorityBelowNormal = 16384;
constexpr DWORD kPriorityIdle = 64;

class IProcessControl {
 public:
  virtual ~IProcessControl() = default;
  virtual bool SetPriorityClass(DWORD priorityClass) = 0;
  // Bit i lets processor i run the process.
  virtual bool SetAffinityMask(uint64_t mask) = 0;
  // Every processor the system offers the process.
  virtual bool GetSystemAffinityMask(uint64_t* mask) = 0;
};

IProcessControl& HostProcessControl();

// The nice level nearest to a priority class; false for a value that is no
// priority class.
bool NiceLevelForPriorityClass(DWORD priorityClass, int* nice);

}  // namespace vt
