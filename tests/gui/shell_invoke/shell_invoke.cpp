// vt-shell-invoke: does what Explorer does with the registered extension:
// creates it by its class identifier, hands it the selected files as
// CF_HDROP, builds its menu and invokes "&Analyze" or "&Defrag".
//
//   vt-shell-invoke analyze|defrag PATH...   (paths in UTF-8)
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "shellext/shell_clsid.h"

namespace {

class CDrop final : public IDataObject {
 public:
  explicit CDrop(std::vector<std::wstring> paths) : m_paths(std::move(paths)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDataObject) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
    size_t chars = 1;
    for (const auto& p : m_paths) chars += p.size() + 1;
    HGLOBAL mem = ::GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(WCHAR));
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(mem));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    WCHAR* at = reinterpret_cast<WCHAR*>(drop + 1);
    for (const auto& p : m_paths) {
      std::memcpy(at, p.c_str(), (p.size() + 1) * sizeof(WCHAR));
      at += p.size() + 1;
    }
    ::GlobalUnlock(mem);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = mem;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* f) override {
    return f->cfFormat == CF_HDROP ? S_OK : DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

 private:
  std::vector<std::wstring> m_paths;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: vt-shell-invoke analyze|defrag PATH...\n");
    return 2;
  }
  // The command line's own UTF-16 text, so the paths keep every character.
  int wargc = 0;
  LPWSTR* wargv = ::CommandLineToArgvW(::GetCommandLineW(), &wargc);
  std::vector<std::wstring> paths;
  for (int i = 2; i < wargc; ++i) paths.push_back(wargv[i]);
  ::LocalFree(wargv);
  ::CoInitialize(nullptr);
  IShellExtInit* init = nullptr;
  HRESULT hr = ::CoCreateInstance(vt::kClsidVantrelShell, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IShellExtInit, reinterpret_cast<void**>(&init));
  if (FAILED(hr)) {
    std::fprintf(stderr, "vt-shell-invoke: the extension is not registered (0x%08lx)\n", hr);
    return 1;
  }
  CDrop drop(paths);
  hr = init->Initialize(nullptr, &drop, nullptr);
  IContextMenu* menu = nullptr;
  if (SUCCEEDED(hr)) hr = init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
  if (FAILED(hr)) {
    std::fprintf(stderr, "vt-shell-invoke: Initialize failed (0x%08lx)\n", hr);
    return 1;
  }
  HMENU m = ::CreatePopupMenu();
  hr = menu->QueryContextMenu(m, 0, 100, 200, CMF_NORMAL);
  std::printf("menu items: %u\n", static_cast<unsigned>(HRESULT_CODE(hr)));
  CMINVOKECOMMANDINFO info = {};
  info.cbSize = sizeof(info);
  // Offsets: 0 "&Analyze", 1 "&Defrag".
  info.lpVerb = MAKEINTRESOURCEA(std::strcmp(argv[1], "defrag") == 0 ? 1 : 0);
  info.nShow = SW_SHOWNORMAL;
  hr = menu->InvokeCommand(&info);
  std::printf("InvokeCommand: 0x%08lx\n", hr);
  menu->Release();
  init->Release();
  ::DestroyMenu(m);
  ::CoUninitialize();
  return SUCCEEDED(hr) ? 0 : 1;
}
