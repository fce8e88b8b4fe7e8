// The library's entry points: the process attach, the class object and the
// unload check. Registration is in shell_registration.cpp.
#include "shellext/shell_module.h"

#include <new>

#include "shellext/class_factory.h"
#include "shellext/shell_clsid.h"

namespace vt {

namespace {
HMODULE g_hModule = nullptr;
LONG g_nObjects = 0;
}  // namespace

HMODULE ShellModule() { return g_hModule; }
void SetShellModule(HMODULE module) { g_hModule = module; }
void ShellObjectAdded() { ::InterlockedIncrement(&g_nObjects); }
void ShellObjectRemoved() { ::InterlockedDecrement(&g_nObjects); }
LONG ShellObjectCount() { return ::InterlockedCompareExchange(&g_nObjects, 0, 0); }

std::string ShellModulePath() {
  char path[MAX_PATH];
  DWORD length = ::GetModuleFileNameA(g_hModule, path, MAX_PATH);
  // A cut-off path would name some other file.
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(path, length);
}

}  // namespace vt

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) vt::SetShellModule(instance);
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!::IsEqualCLSID(clsid, vt::kClsidVantrelShell)) return CLASS_E_CLASSNOTAVAILABLE;
  vt::CClassFactory* factory = new (std::nothrow) vt::CClassFactory();
  if (!factory) return E_OUTOFMEMORY;
  // Hold it across the query so a refused interface frees the factory.
  factory->AddRef();
  HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() { return vt::ShellObjectCount() == 0 ? S_OK : S_FALSE; }

}  // extern "C"
