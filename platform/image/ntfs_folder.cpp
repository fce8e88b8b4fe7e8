// Folders of an NTFS volume: listings from the $I30 index, and finding a
// child by its long or short name.
#include <algorithm>
#include <map>

#include "base/codepage.h"
#include "ondisk/ntfs_layout.h"
#include "platform/image/ntfs_file.h"
#include "platform/image/ntfs_index.h"
#include "platform/image/ntfs_volume.h"

namespace vt {

namespace {

constexpr size_t kFolderCacheSize = 16;
// An index allocation read in one piece; a larger one is read a block at a
// time (a folder of a million entries is about 100 MB).
constexpr uint64_t kWholeIndexBytes = 16ull << 20;

// The node of one index entry, from the entry's copy of the file's details.
CFsNode NodeFromName(uint64_t reference, const ntfs::CFileName& name) {
  CFsNode node;
  node.m_nId = ntfs::RecordNumberOf(reference);
  node.m_nRef = reference;
  node.m_bDirectory = name.IsDirectory();
  node.m_dwAttributes = name.Win32Attributes();
  node.m_nSize = node.m_bDirectory ? 0 : name.m_nDataSize;
  node.m_ftCreation = name.m_ftCreation;
  node.m_ftAccess = name.m_ftAccess;
  node.m_ftWrite = name.m_ftWrite;
  node.m_strName = Utf16ToUtf8(name.m_name);
  if (name.m_nNamespace == ntfs::kNamespaceWin32AndDos) node.m_strShortName = node.m_strName;
  return node;
}

// "." or "..": the folder itself or its parent, as its record describes it.
CFsNode DotNode(const char* name, const CFsNode& of) {
  CFsNode dot = of;
  dot.m_strName = name;
  dot.m_strShortName.clear();
  dot.m_strAltName.clear();
  dot.m_nSize = 0;
  dot.m_bRoot = false;
  return dot;
}

}  // namespace

DWORD CNtfsVolume::NodeFromRecords(uint64_t reference, CFsNode* node) {
  ntfs::CFileRecords file;
  DWORD err = file.Load(m_mft, reference);
  if (err != ERROR_SUCCESS) return err;
  ntfs::CStandardInformation info;
  err = file.StandardInformation(&info);
  if (err != ERROR_SUCCESS) return err;
  const bool directory = file.Header().IsDirectory();
  node->m_nId = file.Number();
  node->m_nRef = reference;
  node->m_bDirectory = directory;
  node->m_dwAttributes = ntfs::Win32AttributesOf(info.m_nAttributes, directory);
  node->m_ftCreation = info.m_ftCreation;
  node->m_ftAccess = info.m_ftAccess;
  node->m_ftWrite = info.m_ftWrite;
  node->m_nSize = 0;
  if (!directory) {
    ntfs::CStream data;
    bool found = false;
    err = file.FindStream(ntfs::kAttrData, u"", &data, &found);
    if (err != ERROR_SUCCESS) return err;
    if (found) node->m_nSize = data.Size();
  }
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::WalkFolder(const ntfs::CFileRecords& dir, const ntfs::CIndexVisitor& visit,
                              CAlignedBytes* whole) {
  if (!dir.Header().IsDirectory()) return ERROR_DIRECTORY;
  ntfs::CStream root;
  ntfs::CStream allocation;
  bool hasRoot = false;
  bool hasAllocation = false;
  DWORD err = dir.FindStream(ntfs::kAttrIndexRoot, ntfs::kIndexI30, &root, &hasRoot);
  if (err != ERROR_SUCCESS) return err;
  if (!hasRoot || !root.m_bResident) return ERROR_FILE_CORRUPT;
  err = dir.FindStream(ntfs::kAttrIndexAllocation, ntfs::kIndexI30, &allocation, &hasAllocation);
  if (err != ERROR_SUCCESS) return err;
  ntfs::CIndexRoot header;
  err = ntfs::ParseIndexRoot(root.m_value.data(), root.m_value.size(), &header);
  if (err != ERROR_SUCCESS) return err;
  if (header.m_nIndexedType != ntfs::kAttrFileName) return ERROR_FILE_CORRUPT;

  // Sub-node VCNs count clusters, or 512-byte blocks when index blocks are
  // smaller than a cluster.
  const uint64_t clusterBytes = m_geometry.ClusterBytes();
  const uint64_t vcnBytes = header.m_nBlockSize >= clusterBytes ? clusterBytes : 512;
  const uint32_t blockSize = header.m_nBlockSize;
  // A stretch that does not read whole leaves each block to be read alone,
  // so that the blocks read and judged are the same either way.
  bool inWhole = false;
  if (whole && hasAllocation && !allocation.m_bResident && allocation.Size() <= kWholeIndexBytes) {
    whole->resize(static_cast<size_t>(allocation.Size()));
    inWhole = ntfs::ReadStream(*m_pDevice, m_geometry, allocation, 0, whole->data(),
                               whole->size()) == ERROR_SUCCESS;
  }
  auto reader = [&](uint64_t vcn, std::vector<uint8_t>* block) -> DWORD {
    if (!hasAllocation || allocation.m_bResident) return ERROR_FILE_CORRUPT;
    const uint64_t size = allocation.Size();
    if (vcn > size / vcnBytes || vcn * vcnBytes > size || size - vcn * vcnBytes < blockSize) {
      return ERROR_FILE_CORRUPT;
    }
    if (inWhole) {
      const uint8_t* at = whole->data() + vcn * vcnBytes;
      block->assign(at, at + blockSize);
      return ERROR_SUCCESS;
    }
    block->resize(blockSize);
    DWORD e = ntfs::ReadStream(*m_pDevice, m_geometry, allocation, vcn * vcnBytes, block->data(),
                               block->size());
    return e == ERROR_SUCCESS ? e : ERROR_FILE_CORRUPT;
  };
  return ntfs::WalkIndex(root.m_value.data(), root.m_value.size(), blockSize, reader, visit);
}

DWORD CNtfsVolume::ReadFolder(const CFsNode& folder, CFolder* out) {
  ntfs::CFileRecords dir;
  DWORD err = dir.Load(m_mft, folder.m_nRef);
  if (err == ERROR_FILE_NOT_FOUND) err = ERROR_FILE_CORRUPT;  // listed but gone
  if (err != ERROR_SUCCESS) return err;
  if (!dir.Header().IsDirectory()) return ERROR_DIRECTORY;

  auto visible = std::make_shared<std::vector<CFsNode>>();
  std::vector<uint8_t> win32;  // per visible node: a Win32 name that may have a DOS twin
  std::map<uint64_t, std::string> dosNames;
  auto visit = [&](const ntfs::CIndexEntry& entry) {
    ntfs::CFileName name;
    // An entry whose key does not decode is left out; the rest still list.
    if (ntfs::ParseFileName(entry.m_pKey, entry.m_nKeyLength, &name) != ERROR_SUCCESS) return true;
    const uint64_t number = ntfs::RecordNumberOf(entry.m_nReference);
    if (name.m_nNamespace == ntfs::kNamespaceDos) {
      dosNames[number] = Utf16ToUtf8(name.m_name);
      return true;
    }
    CFsNode node = NodeFromName(entry.m_nReference, name);
    if (number < ntfs::kFirstUserRecord) {
      out->m_hidden.push_back(std::move(node));
    } else {
      visible->push_back(std::move(node));
      win32.push_back(name.m_nNamespace == ntfs::kNamespaceWin32);
    }
    return true;
  };
  err = WalkFolder(dir, visit);
  if (err != ERROR_SUCCESS) return err;
  for (size_t i = 0; i < visible->size(); ++i) {
    CFsNode& node = (*visible)[i];
    auto dos = dosNames.find(node.m_nId);
    if (win32[i] && dos != dosNames.end()) {
      node.m_strShortName = dos->second;
      node.m_strAltName = dos->second;
    }
  }

  if (!folder.m_bRoot) {
    // Windows lists "." and ".." first in every folder but the root.
    CFsNode self = folder;
    NodeFromRecords(folder.m_nRef, &self);
    CFsNode parent = self;
    std::vector<ntfs::CFileName> names = dir.FileNames();
    if (!names.empty()) NodeFromRecords(names[0].m_nParent, &parent);
    visible->insert(visible->begin(), {DotNode(".", self), DotNode("..", parent)});
  }
  out->m_visible = std::move(visible);
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::LoadFolder(const CFsNode& folder, std::shared_ptr<const CFolder>* out) {
  if (!folder.m_bDirectory) return ERROR_DIRECTORY;
  const uint64_t key = ntfs::RecordNumberOf(folder.m_nRef);
  for (size_t i = 0; i < m_folderCache.size(); ++i) {
    if (m_folderCache[i].first == key) {
      *out = m_folderCache[i].second;
      std::rotate(m_folderCache.begin() + i, m_folderCache.begin() + i + 1, m_folderCache.end());
      return ERROR_SUCCESS;
    }
  }
  auto loaded = std::make_shared<CFolder>();
  DWORD err = ReadFolder(folder, loaded.get());
  if (err != ERROR_SUCCESS) return err;
  if (m_folderCache.size() >= kFolderCacheSize) m_folderCache.erase(m_folderCache.begin());
  m_folderCache.emplace_back(key, loaded);
  *out = std::move(loaded);
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::ListFolder(const CFsNode& folder, CFsListing* entries) {
  std::shared_ptr<const CFolder> loaded;
  DWORD err = LoadFolder(folder, &loaded);
  if (err != ERROR_SUCCESS) return err;
  *entries = loaded->m_visible;
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::FindChild(const CFsNode& folder, const std::string& name, CFsNode* child) {
  std::shared_ptr<const CFolder> loaded;
  DWORD err = LoadFolder(folder, &loaded);
  if (err != ERROR_SUCCESS) return err;
  auto matches = [&](const CFsNode& node) {
    return Utf8EqualNoCase(node.m_strName, name) ||
           (!node.m_strShortName.empty() && Utf8EqualNoCase(node.m_strShortName, name));
  };
  const CFsNode* match = nullptr;
  for (const CFsNode& node : *loaded->m_visible) {
    if (node.m_strName != "." && node.m_strName != ".." && matches(node)) {
      match = &node;
      break;
    }
  }
  for (size_t i = 0; !match && i < loaded->m_hidden.size(); ++i) {
    if (matches(loaded->m_hidden[i])) match = &loaded->m_hidden[i];
  }
  if (!match) return ERROR_FILE_NOT_FOUND;
  // The handle sees the file as its records are now, not the index's copy.
  CFsNode node = *match;
  err = NodeFromRecords(match->m_nRef, &node);
  if (err == ERROR_FILE_NOT_FOUND) err = ERROR_FILE_CORRUPT;  // listed but gone
  if (err != ERROR_SUCCESS) return err;
  *child = node;
  return ERROR_SUCCESS;
}

}  // namespace vt
