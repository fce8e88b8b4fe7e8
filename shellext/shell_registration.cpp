// DllRegisterServer and DllUnregisterServer: the extension's keys under
// HKEY_CLASSES_ROOT. The main program judges success by whether the class
// key exists afterwards; the results say what went wrong for other callers.
#include <olectl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "shellext/shell_clsid.h"
#include "shellext/shell_module.h"

namespace vt {

namespace {

const char* const kHandlerOwners[] = {"*", "Directory"};

std::string HandlerKey(const char* owner) {
  char key[128];
  std::snprintf(key, sizeof(key), kShellHandlerKeyFormat, owner, kShellHandlerName);
  return key;
}

std::string ClassKey() {
  char key[128];
  std::snprintf(key, sizeof(key), kShellClassKeyFormat, kShellClsidText);
  return key;
}

class CRegKey {
 public:
  CRegKey() = default;
  ~CRegKey() {
    if (m_h) ::RegCloseKey(m_h);
  }
  CRegKey(const CRegKey&) = delete;
  CRegKey& operator=(const CRegKey&) = delete;
  HKEY Get() const { return m_h; }
  void Close() {
    if (m_h) ::RegCloseKey(m_h);
    m_h = nullptr;
  }
  HKEY* Put() { return &m_h; }

 private:
  HKEY m_h = nullptr;
};

LONG CreateForWriting(HKEY parent, const std::string& name, CRegKey* key) {
  return ::RegCreateKeyExA(parent, name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key->Put(),
                           nullptr);
}

LONG SetText(HKEY key, const char* valueName, const std::string& text) {
  return ::RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

// Deletes a key with all its subkeys: the first subkey, again and again,
// until none is left or one cannot go, then the key itself. A key that
// cannot be opened is left alone (ERROR_FILE_NOT_FOUND when it is absent).
LONG DeleteKeyTree(HKEY parent, const char* name) {
  LONG rc;
  {
    CRegKey key;
    rc = ::RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, key.Put());
    if (rc != ERROR_SUCCESS) return rc;
    for (;;) {
      char subkey[256];
      DWORD length = sizeof(subkey);
      if (::RegEnumKeyExA(key.Get(), 0, subkey, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      if (DeleteKeyTree(key.Get(), subkey) != ERROR_SUCCESS) break;
    }
  }
  return ::RegDeleteKeyA(parent, name);
}

}  // namespace

}  // namespace vt

extern "C" {

STDAPI DllRegisterServer() {
  using namespace vt;
  // What this call creates, so that a registration failing part-way takes
  // it away again: a class key without its server would make the program
  // (and Explorer) believe in an extension that cannot load.
  std::vector<std::string> created;
  auto create = [&created](HKEY parent, const std::string& name, CRegKey* key) {
    DWORD disposition = 0;
    const LONG rc = ::RegCreateKeyExA(parent, name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                      key->Put(), &disposition);
    if (rc == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY && parent == HKEY_CLASSES_ROOT)
      created.push_back(name);
    return rc;
  };
  auto undo = [&created]() {
    for (auto it = created.rbegin(); it != created.rend(); ++it)
      DeleteKeyTree(HKEY_CLASSES_ROOT, it->c_str());
    return SELFREG_E_CLASS;
  };
  // The handler keys are best effort; the class key decides.
  for (const char* owner : kHandlerOwners) {
    CRegKey handler;
    if (create(HKEY_CLASSES_ROOT, HandlerKey(owner), &handler) == ERROR_SUCCESS)
      SetText(handler.Get(), nullptr, kShellClsidText);
  }

  std::string library = ShellModulePath();
  {
    CRegKey classKey;
    if (library.empty() || create(HKEY_CLASSES_ROOT, ClassKey(), &classKey) != ERROR_SUCCESS)
      return undo();
    CRegKey server;
    if (CreateForWriting(classKey.Get(), "InprocServer32", &server) != ERROR_SUCCESS ||
        SetText(server.Get(), nullptr, library) != ERROR_SUCCESS ||
        SetText(server.Get(), "ThreadingModel", "Apartment") != ERROR_SUCCESS) {
      server.Close();
      classKey.Close();
      return undo();
    }
  }
  return S_OK;
}

STDAPI DllUnregisterServer() {
  using namespace vt;
  HRESULT result = S_FALSE;
  std::string keys[] = {HandlerKey(kHandlerOwners[0]), HandlerKey(kHandlerOwners[1]), ClassKey()};
  for (const std::string& key : keys) {
    LONG rc = DeleteKeyTree(HKEY_CLASSES_ROOT, key.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) result = SELFREG_E_CLASS;
  }
  return result;
}

}  // extern "C"
