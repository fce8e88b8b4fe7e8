#include "shell_fixture.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>

namespace vt {
namespace test {

namespace {

typedef HRESULT(STDAPICALLTYPE* PlainExport)();
typedef HRESULT(STDAPICALLTYPE* ClassObjectExport)(REFCLSID, REFIID, void**);

template <class Proc>
Proc Export(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

std::vector<std::string> Matching(const std::string& folder, const char* pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = ::FindFirstFileA((folder + pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(folder + data.cFileName);
  } while (::FindNextFileA(find, &data));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

class CShellEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { CShellLibrary::Get().SetUp(); }
  void TearDown() override { CShellLibrary::Get().TearDown(); }
};
::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new CShellEnvironment);

}  // namespace

std::string WindowsPath(std::string path) {
  if (path.size() > 1 && path[1] == ':') return path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

std::string TempFolder() {
  char folder[MAX_PATH];
  DWORD n = ::GetTempPathA(MAX_PATH, folder);
  return std::string(folder, n < MAX_PATH ? n : 0);
}

CShellLibrary& CShellLibrary::Get() {
  static CShellLibrary library;
  return library;
}

void CShellLibrary::SetUp() {
  char name[64];
  std::snprintf(name, sizeof(name), "vtshell-%lu-%lu\\",
                static_cast<unsigned long>(::GetCurrentProcessId()),
                static_cast<unsigned long>(::GetTickCount()));
  m_folder = TempFolder() + name;
  if (!::CreateDirectoryA(m_folder.c_str(), nullptr)) return;
  std::string library = m_folder + "VantrelShell.dll";
  if (!::CopyFileA(WindowsPath(VT_SHELL_DLL).c_str(), library.c_str(), FALSE)) return;
  if (!::CopyFileA(WindowsPath(VT_RECORDER_EXE).c_str(), (m_folder + "Vantrel.exe").c_str(), FALSE))
    return;
  m_module = ::LoadLibraryA(library.c_str());
}

void CShellLibrary::TearDown() {
  if (m_module) {
    Unregister();
    for (int i = 0; i < 600 && RecorderRunning(); ++i) ::Sleep(100);
    ::FreeLibrary(m_module);
    m_module = nullptr;
  }
  if (m_folder.empty()) return;
  for (const std::string& file : Matching(m_folder, "*"))
    ::DeleteFileA(file.c_str());  // "." and ".." simply fail
  ::RemoveDirectoryA(m_folder.c_str());
}

std::string CShellLibrary::Path() const {
  char path[MAX_PATH];
  DWORD n = ::GetModuleFileNameA(m_module, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : 0);
}

HRESULT CShellLibrary::Register() { return Export<PlainExport>(m_module, "DllRegisterServer")(); }
HRESULT CShellLibrary::Unregister() {
  return Export<PlainExport>(m_module, "DllUnregisterServer")();
}
HRESULT CShellLibrary::CanUnloadNow() { return Export<PlainExport>(m_module, "DllCanUnloadNow")(); }
HRESULT CShellLibrary::GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return Export<ClassObjectExport>(m_module, "DllGetClassObject")(clsid, iid, out);
}

std::vector<std::string> CShellLibrary::Records() const {
  return Matching(m_folder, "started-*.txt");
}

void CShellLibrary::ClearRecords() const {
  for (const std::string& record : Records()) ::DeleteFileA(record.c_str());
}

bool CShellLibrary::WaitForRecord(std::string* commandLine) const {
  // Bounded: a started program writes its record within moments.
  for (int i = 0; i < 1200; ++i) {
    std::vector<std::string> records = Records();
    if (!records.empty()) return ReadWholeFile(records.front(), commandLine);
    ::Sleep(50);
  }
  return false;
}

bool CShellLibrary::RecorderRunning() const {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  bool running = false;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32First(snapshot, &entry); more && !running;
       more = ::Process32Next(snapshot, &entry)) {
    if (::lstrcmpiA(entry.szExeFile, "Vantrel.exe") != 0) continue;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (!process) continue;
    char image[MAX_PATH];
    DWORD length = MAX_PATH;
    if (::QueryFullProcessImageNameA(process, 0, image, &length))
      running = ::_strnicmp(image, m_folder.c_str(), m_folder.size()) == 0;
    ::CloseHandle(process);
  }
  ::CloseHandle(snapshot);
  return running;
}

HRESULT CDropData::QueryInterface(REFIID iid, void** out) {
  if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IDataObject)) {
    *out = static_cast<IDataObject*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT CDropData::QueryGetData(FORMATETC* format) {
  return format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
}

HRESULT CDropData::GetData(FORMATETC* format, STGMEDIUM* medium) {
  if (m_fail || QueryGetData(format) != S_OK) return DV_E_FORMATETC;
  // DROPFILES, then the UTF-16 paths each ended by a NUL, then one more NUL.
  size_t chars = 1;
  for (const auto& p : m_paths) chars += p.size() + 1;
  size_t bytes = sizeof(DROPFILES) + chars * sizeof(WCHAR);
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  if (!block) return E_OUTOFMEMORY;
  auto* drop = static_cast<DROPFILES*>(::GlobalLock(block));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  WCHAR* text = reinterpret_cast<WCHAR*>(drop + 1);
  for (const auto& p : m_paths) {
    std::memcpy(text, p.c_str(), (p.size() + 1) * sizeof(WCHAR));
    text += p.size() + 1;
  }
  ::GlobalUnlock(block);
  medium->tymed = TYMED_HGLOBAL;
  medium->hGlobal = block;
  medium->pUnkForRelease = nullptr;
  return S_OK;
}

bool ClassesKeyExists(const std::string& key) {
  HKEY h;
  if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
    return false;
  ::RegCloseKey(h);
  return true;
}

bool ReadClassesText(const std::string& key, const char* value, std::string* text) {
  HKEY h;
  if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
    return false;
  char data[1024];
  DWORD size = sizeof(data) - 1;
  DWORD type = 0;
  LONG rc = ::RegQueryValueExA(h, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  ::RegCloseKey(h);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
  data[size] = '\0';
  *text = data;  // up to the stored terminator
  return true;
}

std::vector<std::string> RequestFilesInTemp() { return Matching(TempFolder(), "Van*.tmp"); }

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  char buffer[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ::ReadFile(file, buffer, sizeof(buffer), &got, nullptr) != FALSE) && got > 0)
    bytes->append(buffer, got);
  ::CloseHandle(file);
  return ok;
}

}  // namespace test
}  // namespace vt
