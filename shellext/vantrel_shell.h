// CVantrelShell: the context-menu handler Explorer makes for each context
// menu of files and folders. It adds the "Vantrel" popup with "&Analyze" and
// "&Defrag" and hands the selection to the main program in a request file.
#pragma once

#include <shlobj.h>

#include <string>

#include "base/winshapes.h"

namespace vt {

class CVantrelShell final : public IContextMenu, public IShellExtInit {
 public:
  CVantrelShell();
  CVantrelShell(const CVantrelShell&) = delete;
  CVantrelShell& operator=(const CVantrelShell&) = delete;

  // IUnknown (IShellExtInit's three forward here).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IContextMenu
  HRESULT STDMETHODCALLTYPE QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst,
                                             UINT idCmdLast, UINT flags) override;
  HRESULT STDMETHODCALLTYPE InvokeCommand(CMINVOKECOMMANDINFO* info) override;
  HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR offset, UINT type, UINT* reserved, CHAR* name,
                                             UINT cchMax) override;

  // IShellExtInit
  HRESULT STDMETHODCALLTYPE Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data,
                                       HKEY programKey) override;

 private:
  ~CVantrelShell();

  LONG m_nRefs = 0;
  std::string m_strPaths;  // every selected path followed by CR LF
  HMENU m_hSubMenu = nullptr;
};

}  // namespace vt
