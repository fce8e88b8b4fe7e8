// What the extension's tests share: a copy of VantrelShell.dll loaded from a
// folder of its own with the recorder beside it as "Vantrel.exe", a CF_HDROP
// data object, and small registry and file helpers.
#pragma once

#include <shlobj.h>

#include <string>
#include <vector>

#include "base/winshapes.h"

namespace vt {
namespace test {

class CShellLibrary {
 public:
  // Set up once for the test program, taken down at its end.
  static CShellLibrary& Get();

  bool Loaded() const { return m_module != nullptr; }
  const std::string& Folder() const { return m_folder; }  // ends with a backslash
  std::string Path() const;                               // the loaded copy

  HRESULT Register();
  HRESULT Unregister();
  HRESULT CanUnloadNow();
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);

  // Records of recorder starts ("started-*.txt"), and removing them.
  std::vector<std::string> Records() const;
  void ClearRecords() const;
  // Waits (bounded) for the first record and returns its command line.
  bool WaitForRecord(std::string* commandLine) const;
  // Whether a recorder from this folder is running now.
  bool RecorderRunning() const;

  void SetUp();
  void TearDown();

 private:
  std::string m_folder;
  HMODULE m_module = nullptr;
};

// A data object holding CF_HDROP with the given paths.
class CDropData final : public IDataObject {
 public:
  explicit CDropData(std::vector<std::wstring> paths) : m_paths(std::move(paths)) {}
  void FailGetData() { m_fail = true; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override;
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

 private:
  std::vector<std::wstring> m_paths;
  bool m_fail = false;
};

// A build path as Windows sees it (Wine maps the host's root to Z:).
std::string WindowsPath(std::string path);

// Registry: whether a key under HKEY_CLASSES_ROOT exists, and a REG_SZ value
// (false when absent or of another type).
bool ClassesKeyExists(const std::string& key);
bool ReadClassesText(const std::string& key, const char* value, std::string* text);

// Files in the temporary folder named "Van*.tmp".
std::vector<std::string> RequestFilesInTemp();
bool ReadWholeFile(const std::string& path, std::string* bytes);
std::string TempFolder();

}  // namespace test
}  // namespace vt
