#include "platform/image/fs_volume.h"

#include "platform/image/codepage.h"
#include "platform/image/fat_volume.h"
#include "platform/image/ntfs_boot.h"
#include "platform/image/ntfs_volume.h"

namespace vt {

DWORD CFsVolume::FindChild(const CFsNode& folder, const std::string& name, CFsNode* child) {
  CFsListing entries;
  DWORD err = ListFolder(folder, &entries);
  if (err != ERROR_SUCCESS) return err;
  for (const CFsNode& node : *entries) {
    if (node.m_strName == "." || node.m_strName == "..") continue;
    if (Cp1252EqualNoCase(node.m_strName, name) || Cp1252EqualNoCase(node.m_strShortName, name)) {
      *child = node;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

DWORD OpenFsVolume(std::unique_ptr<CBlockDevice> device, std::unique_ptr<CFsVolume>* volume,
                   std::string* message) {
  uint8_t boot[16] = {};
  if (device->Size() >= sizeof(boot) && device->Read(0, boot, sizeof(boot)) == ERROR_SUCCESS &&
      ntfs::HasNtfsSignature(boot, sizeof(boot))) {
    return CNtfsVolume::Open(std::move(device), volume, message);
  }
  return CFatVolume::Open(std::move(device), volume, message);
}

}  // namespace vt
