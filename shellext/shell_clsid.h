// Names the extension shares with the main program: its class identifier,
// its file name and the registry keys it owns under HKEY_CLASSES_ROOT.
#pragma once

#ifdef _WIN32
#include "base/winshapes.h"
#endif

namespace vt {

constexpr const char* kShellClsidText = "{5A1C07E2-94B3-4F6D-A2C8-3E7D19B04F55}";
constexpr const char* kShellLibraryName = "VantrelShell.dll";
// "%s\\ShellEx\\ContextMenuHandlers\\%s" with "*" or "Directory" and this name.
constexpr const char* kShellHandlerName = "Vantrel";
constexpr const char* kShellHandlerKeyFormat = "%s\\ShellEx\\ContextMenuHandlers\\%s";
constexpr const char* kShellClassKeyFormat = "CLSID\\%s";

#ifdef _WIN32
// {5A1C07E2-94B3-4F6D-A2C8-3E7D19B04F55}
constexpr CLSID kClsidVantrelShell = {
    0x5a1c07e2, 0x94b3, 0x4f6d, {0xa2, 0xc8, 0x3e, 0x7d, 0x19, 0xb0, 0x4f, 0x55}};
#endif

}  // namespace vt
