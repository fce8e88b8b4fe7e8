#include "platform/class_keys.h"

namespace vt {

namespace {

class CNoClassKeys : public IClassKeySource {
 public:
  LONG EnumKey(DWORD, std::string*) override { return ERROR_NO_MORE_ITEMS; }
};

}  // namespace

IClassKeySource& HostClassKeys() {
  static CNoClassKeys host;
  return host;
}

}  // namespace vt
