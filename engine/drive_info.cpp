#include "engine/drive_info.h"

#include "platform/system_ops.h"

namespace vt {

bool ReadDriveData(IVolumeOps& ops, const std::string& root, CDriveData& drive, std::string* error,
                   DWORD* errorCode) {
  if (error) error->clear();
  if (errorCode) *errorCode = 0;
  char fsName[MAX_PATH] = {};
  DWORD serial = 0;
  DWORD maxComponent = 0;
  DWORD flags = 0;
  if (!ops.GetVolumeInformationA(root.c_str(), nullptr, 0, &serial, &maxComponent, &flags, fsName,
                                 MAX_PATH)) {
    if (errorCode) *errorCode = ops.GetLastError();
    return false;
  }
  fsName[MAX_PATH - 1] = '\0';

  auto fail = [&]() {
    DWORD code = ops.GetLastError();
    if (errorCode) *errorCode = code;
    if (error) {
      std::string text = HostSystem().FormatSystemMessage(code);
      for (char c : text) {
        if (c == '\n')
          *error += ' ';
        else if (c != '\r')
          *error += c;
      }
    }
    return false;
  };

  ULARGE_INTEGER freeToCaller = {};
  ULARGE_INTEGER total = {};
  ULARGE_INTEGER totalFree = {};
  if (!ops.GetDiskFreeSpaceExA(root.c_str(), &freeToCaller, &total, &totalFree)) return fail();
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD totalClusters = 0;
  if (!ops.GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                             &totalClusters))
    return fail();

  drive = CDriveData();
  drive.m_strDrive = root;
  drive.m_strFileSystem = fsName;
  drive.m_nDiskSize = total.QuadPart;
  drive.m_nFreeBytes = totalFree.QuadPart;
  drive.m_dwBytesPerCluster = sectorsPerCluster * bytesPerSector;
  drive.m_bNtfs = drive.m_strFileSystem == "NTFS";
  char letter = root.empty() ? 'A' : root[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  drive.m_nDriveIndex = (letter >= 'A' && letter <= 'Z') ? static_cast<uint32_t>(letter - 'A') : 0;
  return true;
}

}  // namespace vt
