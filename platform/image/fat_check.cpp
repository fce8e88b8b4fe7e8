// The allocation check of a FAT volume before its first move. A move trusts
// the FAT: a cluster whose entry is 0 is taken as owned by nobody, and a
// chain is rewritten as the FAT shows it. On a volume where two chains meet,
// a chain runs through a free cluster or the copies disagree, that trust
// destroys files, so such a volume is refused before anything is written.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/image/fat_volume.h"

namespace vt {

namespace {

std::string Num(uint64_t n) { return std::to_string(n); }

// Byte offset in the FAT of the entry of cluster 2, the first one a chain uses.
uint64_t FirstEntryByte(EFatType type) {
  switch (type) {
    case EFatType::kFat12:
      return 3;
    case EFatType::kFat16:
      return 4;
    case EFatType::kFat32:
      return 8;
  }
  return 8;
}

uint64_t ClusterAtByte(EFatType type, uint64_t offset) {
  switch (type) {
    case EFatType::kFat12:
      return offset * 2 / 3;
    case EFatType::kFat16:
      return offset / 2;
    case EFatType::kFat32:
      return offset / 4;
  }
  return offset / 4;
}

}  // namespace

DWORD CFatVolume::CheckAllocation(CAllocationCheck* result) {
  return WalkAllocation(result, nullptr);
}

DWORD CFatVolume::WalkAllocation(CAllocationCheck* result, std::vector<uint32_t>* owners) {
  *result = CAllocationCheck();
  SettleFrees();
  const uint32_t maxCluster = m_table.MaxCluster();
  const uint64_t clusterBytes = m_layout.BytesPerCluster();
  // Which item's chain holds each cluster: 0 for none, else index + 1 into
  // `paths`. Every step of a walk claims a cluster, so no walk outlasts the
  // volume, loops included.
  std::vector<uint32_t> owner(static_cast<size_t>(maxCluster) + 1, 0);
  std::vector<std::string> paths;
  auto fail = [result](const std::string& text) {
    if (result->m_strProblem.empty()) result->m_strProblem = text;
    return false;
  };
  auto claim = [&](uint32_t first, const std::string& path, uint64_t* length) {
    paths.push_back(path);
    const uint32_t id = static_cast<uint32_t>(paths.size());
    uint32_t cluster = first;
    *length = 0;
    for (;;) {
      if (cluster < 2 || cluster > maxCluster)
        return fail(path + ": its cluster chain leaves the volume (cluster " + Num(cluster) + ")");
      if (owner[cluster] == id)
        return fail(path + ": its cluster chain loops back to cluster " + Num(cluster));
      if (owner[cluster] != 0) {
        return fail(path + " and " + paths[owner[cluster] - 1] + " share cluster " + Num(cluster));
      }
      const uint32_t next = m_table.Get(cluster);
      switch (m_table.Classify(next)) {
        case EFatEntry::kFree:
          return fail(path + ": its cluster chain runs into free cluster " + Num(cluster));
        case EFatEntry::kBad:
          return fail(path + ": its cluster chain runs into bad cluster " + Num(cluster));
        case EFatEntry::kInvalid:
          return fail(path + ": its cluster chain has an invalid entry at cluster " + Num(cluster));
        case EFatEntry::kEnd:
          owner[cluster] = id;
          ++*length;
          return true;
        case EFatEntry::kNext:
          owner[cluster] = id;
          ++*length;
          cluster = next;
          break;
      }
    }
  };

  struct CPending {
    CFsNode m_node;
    CFsNode m_parent;
    std::string m_strPath;
  };
  std::vector<CPending> pending;
  std::string sizeProblem;
  std::string entryProblem;
  CFsNode root = Root();
  uint64_t length = 0;
  if (m_layout.m_eType == EFatType::kFat32 && !claim(root.m_nRef, "\\", &length))
    return ERROR_SUCCESS;
  pending.push_back(CPending{root, root, "\\"});
  while (!pending.empty()) {
    CPending folder = std::move(pending.back());
    pending.pop_back();
    std::vector<CFsNode> nodes;
    std::string problem;
    if (ReadFolder(folder.m_node, &nodes, nullptr, &problem) != ERROR_SUCCESS) {
      fail(folder.m_strPath + ": the folder cannot be read");
      return ERROR_SUCCESS;
    }
    if (problem.empty()) problem = CheckFolderEntries(folder.m_node, folder.m_parent, nodes);
    if (!problem.empty() && entryProblem.empty()) entryProblem = folder.m_strPath + ": " + problem;
    for (const CFsNode& child : nodes) {
      if (child.m_strName == "." || child.m_strName == "..") continue;
      const std::string path =
          (folder.m_strPath == "\\" ? "\\" : folder.m_strPath + "\\") + child.m_strName;
      if (child.m_nRef == 0) {
        if (child.m_bDirectory) {
          fail(path + ": a folder without clusters");
          return ERROR_SUCCESS;
        }
        if (child.m_nSize != 0) {
          fail(path + ": " + Num(child.m_nSize) + " bytes but no clusters");
          return ERROR_SUCCESS;
        }
        continue;
      }
      if (child.m_nRef > maxCluster) {
        fail(path + ": its first cluster " + Num(child.m_nRef) + " lies outside the volume");
        return ERROR_SUCCESS;
      }
      if (!claim(static_cast<uint32_t>(child.m_nRef), path, &length)) return ERROR_SUCCESS;
      if (child.m_bDirectory) {
        pending.push_back(CPending{child, folder.m_node, path});
      } else if ((child.m_nSize + clusterBytes - 1) / clusterBytes != length &&
                 sizeProblem.empty()) {
        // Said only when no chain is broken: a chain that runs into another
        // file's is the better name for what is wrong.
        sizeProblem = path + ": its size of " + Num(child.m_nSize) +
                      " bytes does not fit its chain of " + Num(length) + " clusters";
      }
    }
  }

  // Every chain was followed: the clusters in use that none of them reached
  // are what fsck.fat reclaims, whatever else it finds.
  for (uint32_t cluster = 2; cluster <= maxCluster; ++cluster) {
    const EFatEntry kind = m_table.Kind(cluster);
    if (kind != EFatEntry::kFree && kind != EFatEntry::kBad && owner[cluster] == 0)
      ++result->m_nLostClusters;
  }
  if (owners) *owners = owner;
  std::string marks = CheckMarks();
  for (const std::string* problem : {&sizeProblem, &entryProblem, &marks}) {
    if (!problem->empty()) {
      fail(*problem);
      return ERROR_SUCCESS;
    }
  }

  // The copies must agree on every chain, or a checker that reads another
  // copy sees other files.
  if (m_layout.m_nFats > 1 && m_layout.m_bMirrored) {
    const uint64_t bytes = m_layout.FatBytesNeeded();
    const uint64_t chunk = 1 << 20;
    std::vector<uint8_t> active(static_cast<size_t>(std::min(bytes, chunk)));
    std::vector<uint8_t> other(active.size());
    for (uint64_t at = FirstEntryByte(m_layout.m_eType); at < bytes; at += chunk) {
      const size_t n = static_cast<size_t>(std::min(chunk, bytes - at));
      DWORD err = m_pDevice->Read(m_layout.FatOffset(m_layout.m_nActiveFat) + at, active.data(), n);
      if (err != ERROR_SUCCESS) return err;
      for (uint32_t copy = 0; copy < m_layout.m_nFats; ++copy) {
        if (copy == m_layout.m_nActiveFat) continue;
        err = m_pDevice->Read(m_layout.FatOffset(copy) + at, other.data(), n);
        if (err != ERROR_SUCCESS) return err;
        auto diff = std::mismatch(active.begin(), active.begin() + n, other.begin());
        if (diff.first != active.begin() + n) {
          const uint64_t offset = at + static_cast<uint64_t>(diff.first - active.begin());
          fail("the FAT copies " + Num(m_layout.m_nActiveFat + 1) + " and " + Num(copy + 1) +
               " differ at cluster " + Num(ClusterAtByte(m_layout.m_eType, offset)));
          return ERROR_SUCCESS;
        }
      }
    }
  }

  return ERROR_SUCCESS;
}

}  // namespace vt
