// The class object that makes CVantrelShell objects.
#pragma once

#include <unknwn.h>

#include "base/winshapes.h"

namespace vt {

class CClassFactory final : public IClassFactory {
 public:
  CClassFactory() = default;
  CClassFactory(const CClassFactory&) = delete;
  CClassFactory& operator=(const CClassFactory&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IClassFactory
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  ~CClassFactory() = default;
  LONG m_nRefs = 0;
};

}  // namespace vt
