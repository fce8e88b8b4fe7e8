#include "platform/class_keys.h"

namespace vt {

namespace {

class CRegistryClassKeys : public IClassKeySource {
 public:
  LONG EnumKey(DWORD index, std::string* name) override {
    char buffer[80];
    DWORD length = sizeof(buffer);
    const LONG rc = ::RegEnumKeyExA(HKEY_CLASSES_ROOT, index, buffer, &length, nullptr, nullptr,
                                    nullptr, nullptr);
    if (rc == ERROR_SUCCESS) name->assign(buffer, length);
    return rc;
  }
};

}  // namespace

IClassKeySource& HostClassKeys() {
  static CRegistryClassKeys host;
  return host;
}

}  // namespace vt
