// The registry's class root, listed for the known file extensions.
#pragma once

#include <string>

#include "base/winshapes.h"

#ifndef ERROR_NO_MORE_ITEMS
#define ERROR_NO_MORE_ITEMS 259L
#endif

namespace vt {

// The subkeys of the registry's class root, by index (RegEnumKeyExA with a
// buffer of 80 characters): ERROR_SUCCESS with the name, ERROR_MORE_DATA for
// a name too long for it, ERROR_NO_MORE_ITEMS at the end.
class IClassKeySource {
 public:
  virtual ~IClassKeySource() = default;
  virtual LONG EnumKey(DWORD index, std::string* name) = 0;
};

// HKEY_CLASSES_ROOT on Windows; other systems have no class registry and
// list nothing.
IClassKeySource& HostClassKeys();

}  // namespace vt
