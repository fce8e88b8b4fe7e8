#include "shellext/class_factory.h"

#include <new>

#include "shellext/shell_module.h"
#include "shellext/vantrel_shell.h"

namespace vt {

HRESULT CClassFactory::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IClassFactory)) {
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG CClassFactory::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&m_nRefs)); }

ULONG CClassFactory::Release() {
  LONG left = ::InterlockedDecrement(&m_nRefs);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT CClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  CVantrelShell* shell = new (std::nothrow) CVantrelShell();
  if (!shell) return E_OUTOFMEMORY;
  // Hold it across the query so a refused interface frees the object (and
  // with it its share of the object count).
  shell->AddRef();
  HRESULT hr = shell->QueryInterface(iid, out);
  shell->Release();
  return hr;
}

HRESULT CClassFactory::LockServer(BOOL lock) {
  if (lock)
    ShellObjectAdded();
  else
    ShellObjectRemoved();
  return S_OK;
}

}  // namespace vt
