// What the FAT checker rejects besides the chains: the marks of a volume
// that was not cleanly unmounted, a media byte the FAT copies do not repeat,
// a fixed root that ends inside a sector, and folders whose "." and ".."
// entries do not name the folder and its parent. Moves would keep such a
// volume as it is, but a volume is written only when its checker accepts it.
#include <cstdio>
#include <string>
#include <vector>

#include "base/le.h"
#include "platform/image/fat_volume.h"

namespace vt {

namespace {

constexpr size_t kBootMedia = 21;

std::string Hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", value);
  return text;
}

}  // namespace

std::string CFatVolume::CheckMarks() {
  uint8_t boot[512];
  if (m_pDevice->Read(0, boot, sizeof(boot)) != ERROR_SUCCESS)
    return "the boot sector cannot be read";
  // The one place that decides on the dirty marks. Marks our own moves set
  // in this session are ours to clear.
  if (!m_bMarkedDirty) {
    if (m_nDirtyFlagOffset != 0 && (boot[m_nDirtyFlagOffset] & 1) != 0)
      return "the volume was not cleanly unmounted (the boot sector's dirty flag is set)";
  }
  const uint32_t copies = m_layout.m_bMirrored ? m_layout.m_nFats : 1;
  for (uint32_t i = 0; i < copies; ++i) {
    const uint32_t copy = m_layout.m_bMirrored ? i : m_layout.m_nActiveFat;
    uint8_t head[8] = {};
    if (m_pDevice->Read(m_layout.FatOffset(copy), head, sizeof(head)) != ERROR_SUCCESS)
      return "FAT copy " + std::to_string(copy + 1) + " cannot be read";
    if (head[0] != boot[kBootMedia]) {
      return "the media byte " + Hex(boot[kBootMedia]) + " of the boot sector differs from " +
             Hex(head[0]) + " in FAT copy " + std::to_string(copy + 1);
    }
    const bool clean = m_layout.m_eType == EFatType::kFat12 ||
                       (m_layout.m_eType == EFatType::kFat16 ? (Le16(head + 2) & 0x8000) != 0
                                                             : (Le32(head + 4) & 0x08000000) != 0);
    if (!clean && !m_bMarkedDirty) {
      return "the volume was not cleanly unmounted (the clean bit of FAT copy " +
             std::to_string(copy + 1) + " is clear)";
    }
  }
  if (m_layout.m_eType != EFatType::kFat32 &&
      m_layout.RootDirBytes() % m_layout.m_nBytesPerSector != 0) {
    return "the root folder's " + std::to_string(m_layout.m_nRootEntries) +
           " entries do not fill whole sectors";
  }
  return std::string();
}

std::string CFatVolume::CheckFolderEntries(const CFsNode& folder, const CFsNode& parent,
                                           const std::vector<CFsNode>& nodes) {
  if (folder.m_bRoot) return std::string();
  // ".." of a folder in the root names cluster 0 (FAT32 also accepts the
  // root's own cluster).
  const uint64_t up = parent.m_bRoot ? 0 : parent.m_nRef;
  const bool upOk = nodes.size() > 1 && nodes[1].m_strName == ".." &&
                    (nodes[1].m_nRef == up || (parent.m_bRoot && nodes[1].m_nRef == parent.m_nRef));
  if (nodes.empty() || nodes[0].m_strName != "." || nodes[0].m_nRef != folder.m_nRef)
    return "its first entry is not a '.' entry naming the folder itself";
  if (!upOk) return "its second entry is not a '..' entry naming its parent folder";
  for (size_t i = 2; i < nodes.size(); ++i) {
    if (nodes[i].m_strName == "." || nodes[i].m_strName == "..")
      return "it holds another '" + nodes[i].m_strName + "' entry";
  }
  return std::string();
}

}  // namespace vt
