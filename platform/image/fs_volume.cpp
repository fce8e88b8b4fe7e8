#include "platform/image/fs_volume.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/codepage.h"
#include "ondisk/ntfs_boot.h"
#include "platform/image/fat_volume.h"
#include "platform/image/ntfs_volume.h"

namespace vt {

namespace {
std::string FoldName(const std::string& name) { return FoldUtf8(name); }

// Name look-ups in recently listed folders: opening every file of a large
// folder would otherwise compare each name with every entry before it. A
// path walk alternates between a folder and its parents, so a few folders
// are kept.
struct CListingIndex {
  std::weak_ptr<const std::vector<CFsNode>> listing;
  const void* raw = nullptr;
  std::unordered_map<std::string, size_t> byName;
  uint64_t used = 0;
};
constexpr size_t kIndexedListings = 8;
thread_local CListingIndex t_indexes[kIndexedListings];
thread_local uint64_t t_clock = 0;

const CListingIndex& IndexOf(const CFsListing& entries) {
  CListingIndex* slot = nullptr;
  for (CListingIndex& index : t_indexes) {
    if (index.raw == entries.get() && !index.listing.expired()) {
      index.used = ++t_clock;
      return index;
    }
    if (!slot || index.used < slot->used) slot = &index;
  }
  slot->byName.clear();
  slot->listing = entries;
  slot->raw = entries.get();
  slot->used = ++t_clock;
  // Long names first, so that a long name wins over another entry's short name.
  for (size_t i = 0; i < entries->size(); ++i) {
    const CFsNode& node = (*entries)[i];
    if (node.m_strName == "." || node.m_strName == "..") continue;
    slot->byName.emplace(FoldName(node.m_strName), i);
  }
  for (size_t i = 0; i < entries->size(); ++i) {
    const CFsNode& node = (*entries)[i];
    if (node.m_strName == "." || node.m_strName == ".." || node.m_strShortName.empty()) continue;
    slot->byName.emplace(FoldName(node.m_strShortName), i);
  }
  return *slot;
}
}  // namespace

DWORD CFsVolume::FindChild(const CFsNode& folder, const std::string& name, CFsNode* child) {
  CFsListing entries;
  DWORD err = ListFolder(folder, &entries);
  if (err != ERROR_SUCCESS) return err;
  const CListingIndex& index = IndexOf(entries);
  auto it = index.byName.find(FoldName(name));
  if (it == index.byName.end()) return ERROR_FILE_NOT_FOUND;
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
