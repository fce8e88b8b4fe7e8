#include "platform/process_control.h"

namespace vt {

bool NiceLevelForPriorityClass(DWORD priorityClass, int* nice) {
  switch (priorityClass) {
    case kPriorityHigh:
      *nice = -10;
      return true;
    case kPriorityAboveNormal:
      *nice = -5;
      return true;
    case kPriorityNormal:
      *nice = 0;
      return true;
    case kPriorityBelowNormal:
      *nice = 10;
      return true;
    case kPriorityIdle:
      *nice = 19;
      return true;
    default:
      return false;
  }
}

}  // namespace vt
