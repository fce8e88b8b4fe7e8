#include "platform/image/fs_volume.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/image/codepage.h"
#include "platform/image/fat_volume.h"
#include "platform/image/ntfs_boot.h"
#include "platform/image/ntfs_volume.h"

namespace vt {

namespace {
std::string FoldName(const std::string& name) {
  std::string folded(name);
  for (char& c : folded) c = Cp1252Upper(c);
  return folded;
}

// Name look-ups in the folder listed last: opening every file of a large
// folder would otherwise compare each name with every entry before it.
struct CListingIndex {
  std::weak_ptr<const std::vector<CFsNode>> listing;
  const void* raw = nullptr;
  std::unordered_map<std::string, size_t> byName;
};
thread_local CListingIndex t_index;
}  // namespace

DWORD CFsVolume::FindChild(const CFsNode& folder, const std::string& name, CFsNode* child) {
  CFsListing entries;
  DWORD err = ListFolder(folder, &entries);
  if (err != ERROR_SUCCESS) return err;
  if (t_index.listing.expired() || t_index.raw != entries.get()) {
    t_index.byName.clear();
    t_index.listing = entries;
    t_index.raw = entries.get();
    // Long names first, so that a long name wins over another entry's short name.
    for (size_t i = 0; i < entries->size(); ++i) {
      const CFsNode& node = (*entries)[i];
      if (node.m_strName == "." || node.m_strName == "..") continue;
      t_index.byName.emplace(FoldName(node.m_strName), i);
    }
    for (size_t i = 0; i < entries->size(); ++i) {
      const CFsNode& node = (*entries)[i];
      if (node.m_strName == "." || node.m_strName == ".." || node.m_strShortName.empty()) continue;
      t_index.byName.emplace(FoldName(node.m_strShortName), i);
    }
  }
  auto it = t_index.byName.find(FoldName(name));
  if (it == t_index.byName.end()) return ERROR_FILE_NOT_FOUND;
  *child = (*entries)[it->second];
  return ERROR_SUCCESS;
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
