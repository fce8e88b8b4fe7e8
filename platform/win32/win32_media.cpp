// The media under a Windows volume (storage property queries) and retrim
// through the Storage Management API (Windows 8 and later).
#include <wbemcli.h>

#include <cstdio>
#include <string>

#include "platform/win32/win32_volume_ops.h"

namespace vt {

namespace {

// Releases a COM pointer on scope exit.
template <typename T>
class CComPtr {
 public:
  CComPtr() = default;
  CComPtr(const CComPtr&) = delete;
  CComPtr& operator=(const CComPtr&) = delete;
  ~CComPtr() {
    if (m_p) m_p->Release();
  }
  T** operator&() { return &m_p; }
  T* operator->() const { return m_p; }
  T* Get() const { return m_p; }

 private:
  T* m_p = nullptr;
};

class CBstr {
 public:
  explicit CBstr(const wchar_t* text) : m_b(::SysAllocString(text)) {}
  CBstr(const CBstr&) = delete;
  CBstr& operator=(const CBstr&) = delete;
  ~CBstr() { ::SysFreeString(m_b); }
  operator BSTR() const { return m_b; }

 private:
  BSTR m_b;
};

bool QueryProperty(HANDLE h, STORAGE_PROPERTY_ID id, void* out, DWORD size) {
  STORAGE_PROPERTY_QUERY query = {};
  query.PropertyId = id;
  query.QueryType = PropertyStandardQuery;
  DWORD returned = 0;
  return ::DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), out, size,
                           &returned, nullptr) &&
         returned >= size;
}

// Both answers from one device; false when it answers neither.
bool QueryDevice(const std::string& path, VOLUME_MEDIA_INFO* media) {
  HANDLE h = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DEVICE_SEEK_PENALTY_DESCRIPTOR seek = {};
  DEVICE_TRIM_DESCRIPTOR trim = {};
  const bool hasSeek = QueryProperty(h, StorageDeviceSeekPenaltyProperty, &seek, sizeof(seek));
  const bool hasTrim = QueryProperty(h, StorageDeviceTrimProperty, &trim, sizeof(trim));
  if (hasSeek) media->SeekPenalty = seek.IncursSeekPenalty ? SEEK_PENALTY_YES : SEEK_PENALTY_NO;
  if (hasTrim) media->TrimSupported = trim.TrimEnabled ? TRUE : FALSE;
  ::CloseHandle(h);
  return hasSeek || hasTrim;
}

// The disk of a volume's first extent, "\\.\PhysicalDriveN".
std::string DiskOfVolume(const std::string& volume) {
  HANDLE h = ::CreateFileA(volume.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  VOLUME_DISK_EXTENTS extents = {};
  DWORD returned = 0;
  const BOOL ok = ::DeviceIoControl(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &extents,
                                    sizeof(extents), &returned, nullptr);
  const DWORD err = ::GetLastError();
  ::CloseHandle(h);
  // A volume spanning disks answers ERROR_MORE_DATA with its first extent.
  if ((!ok && err != ERROR_MORE_DATA) || extents.NumberOfDiskExtents == 0) return std::string();
  char name[40];
  std::snprintf(name, sizeof(name), "\\\\.\\PhysicalDrive%lu",
                static_cast<unsigned long>(extents.Extents[0].DiskNumber));
  return name;
}

// "C:\" as "\\.\C:".
std::string VolumeDevice(const char* root) {
  std::string text = root ? root : "";
  while (!text.empty() && (text.back() == '\\' || text.back() == '/')) text.pop_back();
  return "\\\\.\\" + text;
}

// MSFT_Volume.Optimize(ReTrim) on the volume with the root's letter. An
// HRESULT failure to reach the namespace, class or method means the system
// has no Storage Management API.
DWORD OptimizeReTrim(char letter) {
  const HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const bool uninit = SUCCEEDED(init);
  ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  DWORD result = ERROR_OLD_WIN_VERSION;
  {
    CComPtr<IWbemLocator> locator;
    CComPtr<IWbemServices> services;
    CComPtr<IWbemClassObject> volumeClass;
    CComPtr<IWbemClassObject> signature;
    CComPtr<IWbemClassObject> params;
    CComPtr<IEnumWbemClassObject> found;
    CComPtr<IWbemClassObject> volume;
    CComPtr<IWbemClassObject> answer;
    CBstr ns(L"ROOT\\Microsoft\\Windows\\Storage");
    CBstr className(L"MSFT_Volume");
    CBstr method(L"Optimize");
    wchar_t queryText[80];
    std::swprintf(queryText, 80, L"SELECT * FROM MSFT_Volume WHERE DriveLetter = '%c'",
                  static_cast<wchar_t>(letter));
    CBstr query(queryText);
    CBstr language(L"WQL");
    ULONG count = 0;
    VARIANT path;
    ::VariantInit(&path);
    if (SUCCEEDED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IWbemLocator, reinterpret_cast<void**>(&locator))) &&
        SUCCEEDED(locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                         &services)) &&
        SUCCEEDED(::CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                      RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                      EOAC_NONE)) &&
        SUCCEEDED(services->GetObject(className, 0, nullptr, &volumeClass, nullptr)) &&
        SUCCEEDED(volumeClass->GetMethod(method, 0, &signature, nullptr)) && signature.Get() &&
        SUCCEEDED(signature->SpawnInstance(0, &params))) {
      // The system has the API; what follows are this volume's failures.
      result = ERROR_NOT_SUPPORTED;
      VARIANT yes;
      ::VariantInit(&yes);
      yes.vt = VT_BOOL;
      yes.boolVal = VARIANT_TRUE;
      if (SUCCEEDED(params->Put(L"ReTrim", 0, &yes, 0)) &&
          SUCCEEDED(services->ExecQuery(language, query,
                                        WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                        nullptr, &found)) &&
          found->Next(WBEM_INFINITE, 1, &volume, &count) == WBEM_S_NO_ERROR && count == 1 &&
          SUCCEEDED(volume->Get(L"__PATH", 0, &path, nullptr, nullptr)) && path.vt == VT_BSTR &&
          SUCCEEDED(services->ExecMethod(path.bstrVal, method, 0, nullptr, params.Get(), &answer,
                                         nullptr))) {
        VARIANT value;
        ::VariantInit(&value);
        if (answer.Get() && SUCCEEDED(answer->Get(L"ReturnValue", 0, &value, nullptr, nullptr))) {
          const long code = value.vt == VT_I4 ? value.lVal : -1;
          result = code == 0 ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
        }
        ::VariantClear(&value);
      }
      ::VariantClear(&path);
    }
  }
  if (uninit) ::CoUninitialize();
  return result;
}

}  // namespace

BOOL CWin32VolumeOps::GetVolumeMediaA(const char* root, VOLUME_MEDIA_INFO* media) {
  if (!root || !media) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *media = VOLUME_MEDIA_INFO{SEEK_PENALTY_UNKNOWN, FALSE};
  const std::string volume = VolumeDevice(root);
  // The volume handle answers on most systems; otherwise its disk does.
  if (!QueryDevice(volume, media)) {
    const std::string disk = DiskOfVolume(volume);
    if (!disk.empty()) QueryDevice(disk, media);
  }
  ::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CWin32VolumeOps::RetrimVolumeA(const char* root, ULONGLONG* trimmedBytes) {
  if (!root || !trimmedBytes || !root[0]) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *trimmedBytes = 0;
  // A retrim hands the drive every free cluster; the API reports no count.
  ULARGE_INTEGER freeToCaller = {}, total = {}, totalFree = {};
  const BOOL sized = ::GetDiskFreeSpaceExA(root, &freeToCaller, &total, &totalFree);
  const DWORD err = OptimizeReTrim(root[0]);
  if (err != ERROR_SUCCESS) {
    ::SetLastError(err);
    return FALSE;
  }
  if (sized) *trimmedBytes = totalFree.QuadPart;
  ::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // namespace vt
