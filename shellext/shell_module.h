// Library-wide state of the extension: its own module handle and the count
// of live objects and server locks that keeps it loaded.
#pragma once

#include <string>

#include "base/winshapes.h"

namespace vt {

// Stored when the library is attached to a process.
HMODULE ShellModule();
void SetShellModule(HMODULE module);

// Raised by each extension object and each LockServer(TRUE), lowered by each
// destruction and LockServer(FALSE). Explorer may use the extension from the
// threads of several windows at once, so the count changes atomically.
void ShellObjectAdded();
void ShellObjectRemoved();
LONG ShellObjectCount();

// The library's own full path (empty when it cannot be read whole).
std::string ShellModulePath();

}  // namespace vt
