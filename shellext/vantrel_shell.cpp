#include "shellext/vantrel_shell.h"

#include <shellapi.h>

#include <vector>

#include "shellext/request_file.h"
#include "shellext/shell_module.h"

namespace vt {

namespace {

class CFileHandle {
 public:
  explicit CFileHandle(HANDLE h) : m_h(h) {}
  ~CFileHandle() {
    if (Valid()) ::CloseHandle(m_h);
  }
  CFileHandle(const CFileHandle&) = delete;
  CFileHandle& operator=(const CFileHandle&) = delete;
  bool Valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
  HANDLE Get() const { return m_h; }

 private:
  HANDLE m_h;
};

// Writes the request file over the empty file GetTempFileName made.
void WriteRequestFile(const char* path, const std::string& pathList) {
  CFileHandle file(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return;
  std::string text = RequestFileText(pathList);
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    DWORD written = 0;
    if (!::WriteFile(file.Get(), data, static_cast<DWORD>(left), &written, nullptr) || written == 0)
      return;
    data += written;
    left -= written;
  }
}

// CF_HDROP as one global memory block.
FORMATETC DropFormat() {
  FORMATETC format = {};
  format.cfFormat = CF_HDROP;
  format.ptd = nullptr;
  format.dwAspect = DVASPECT_CONTENT;
  format.lindex = -1;
  format.tymed = TYMED_HGLOBAL;
  return format;
}

}  // namespace

CVantrelShell::CVantrelShell() { ShellObjectAdded(); }

CVantrelShell::~CVantrelShell() {
  if (m_hSubMenu && ::IsMenu(m_hSubMenu)) ::DestroyMenu(m_hSubMenu);
  ShellObjectRemoved();
}

HRESULT CVantrelShell::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IContextMenu)) {
    *out = static_cast<IContextMenu*>(this);
  } else if (::IsEqualIID(iid, IID_IShellExtInit)) {
    *out = static_cast<IShellExtInit*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CVantrelShell::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&m_nRefs)); }

ULONG CVantrelShell::Release() {
  LONG left = ::InterlockedDecrement(&m_nRefs);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT CVantrelShell::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
  if (!data) return E_FAIL;
  FORMATETC format = DropFormat();
  STGMEDIUM medium = {};
  if (FAILED(data->GetData(&format, &medium))) return E_FAIL;
  if (medium.tymed != TYMED_HGLOBAL || !medium.hGlobal) {
    ::ReleaseStgMedium(&medium);
    return E_FAIL;
  }
  HDROP drop = static_cast<HDROP>(medium.hGlobal);
  UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  if (count > 0) {
    m_strPaths.clear();
    // The paths are taken as UTF-16 and passed on as UTF-8, whatever code
    // page Explorer runs in: the main program's code page is UTF-8.
    std::vector<WCHAR> path(kRequestPathMax + 1);
    for (UINT i = 0; i < count; ++i) {
      // A longer path would arrive cut off and name some other item.
      if (::DragQueryFileW(drop, i, nullptr, 0) > kRequestPathMax) continue;
      UINT length = ::DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size()));
      if (length == 0) continue;
      int bytes = ::WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(length), nullptr,
                                        0, nullptr, nullptr);
      if (bytes <= 0) continue;
      std::string utf8(static_cast<size_t>(bytes), '\0');
      ::WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(length), &utf8[0], bytes,
                            nullptr, nullptr);
      AppendRequestPath(&m_strPaths, utf8.data(), utf8.size());
    }
  }
  ::ReleaseStgMedium(&medium);
  return S_OK;
}

HRESULT CVantrelShell::QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                        UINT flags) {
  if (flags & CMF_DEFAULTONLY) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
  // Identifiers beyond the range the shell gave belong to other handlers.
  if (idCmdLast < idCmdFirst || idCmdLast - idCmdFirst < kCommandCount - 1)
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);

  HMENU popup = ::CreatePopupMenu();
  if (!popup) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
  ::InsertMenuA(popup, 0, MF_BYPOSITION | MF_STRING, idCmdFirst + kCommandAnalyze, "&Analyze");
  ::InsertMenuA(popup, 1, MF_BYPOSITION | MF_STRING, idCmdFirst + kCommandDefrag, "&Defrag");

  ::InsertMenuA(menu, indexMenu, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
  ::InsertMenuA(menu, indexMenu + 1, MF_BYPOSITION | MF_POPUP | MF_STRING,
                reinterpret_cast<UINT_PTR>(popup), "Vantrel");
  ::InsertMenuA(menu, indexMenu + 2, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
  m_hSubMenu = popup;
  return MAKE_HRESULT(SEVERITY_SUCCESS, 0, kCommandCount);
}

HRESULT CVantrelShell::GetCommandString(UINT_PTR offset, UINT type, UINT*, CHAR* name,
                                        UINT cchMax) {
  const char* text = CommandHelpText(offset);
  if (!text || !name || cchMax == 0) return S_OK;
  if (type == GCS_HELPTEXTA) {
    ::lstrcpynA(name, text, static_cast<int>(cchMax));
  } else if (type == GCS_HELPTEXTW) {
    // The buffer is then cchMax UTF-16 characters.
    WCHAR* wide = reinterpret_cast<WCHAR*>(name);
    UINT i = 0;
    for (; text[i] && i + 1 < cchMax; ++i) wide[i] = static_cast<WCHAR>(text[i]);
    wide[i] = L'\0';
  }
  return S_OK;
}

HRESULT CVantrelShell::InvokeCommand(CMINVOKECOMMANDINFO* info) {
  if (!info) return E_INVALIDARG;
  // A verb given as text has a pointer, not an offset, in lpVerb.
  ULONG_PTR verb = reinterpret_cast<ULONG_PTR>(info->lpVerb);
  if ((verb >> 16) != 0) return E_INVALIDARG;
  const char* commandSwitch = CommandSwitch(verb);
  if (!commandSwitch) return E_INVALIDARG;

  std::string program;
  if (!ProgramBeside(ShellModulePath(), &program)) return E_INVALIDARG;

  std::string parameters = commandSwitch;
  char tempFolder[MAX_PATH] = "";
  char requestFile[MAX_PATH] = "";
  DWORD folderLength = ::GetTempPathA(MAX_PATH, tempFolder);
  if (folderLength == 0 || folderLength >= MAX_PATH ||
      ::GetTempFileNameA(tempFolder, kRequestFilePrefix, 0, requestFile) == 0) {
    ::MessageBoxA(nullptr, "Could not create temporary file.", "Vantrel", MB_SETFOREGROUND);
  } else {
    parameters += requestFile;
    WriteRequestFile(requestFile, m_strPaths);
  }

  ::ShellExecuteA(nullptr, "open", program.c_str(), parameters.c_str(), nullptr, SW_SHOW);
  return S_OK;
}

}  // namespace vt
