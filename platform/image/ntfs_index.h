// Folder indexes: the B-tree of index entries kept in $INDEX_ROOT (the top
// node, inside the record) and in the index blocks ("INDX") of
// $INDEX_ALLOCATION, walked in key order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/winshapes.h"

namespace vt {
namespace ntfs {

// The fixed part of an $INDEX_ROOT value.
struct CIndexRoot {
  uint32_t m_nIndexedType = 0;  // 0x30 (file names) for folders
  uint32_t m_nCollation = 0;
  uint32_t m_nBlockSize = 0;
  uint8_t m_nClustersPerBlock = 0;
};

// Decodes the fixed part of an $INDEX_ROOT value; ERROR_FILE_CORRUPT when the
// value is too short or the block size is not a power of two from 512 to
// 64 KB.
DWORD ParseIndexRoot(const uint8_t* value, size_t size, CIndexRoot* root);

// An entry handed to the visitor; the key is valid during the call only.
struct CIndexEntry {
  uint64_t m_nReference = 0;
  const uint8_t* m_pKey = nullptr;
  size_t m_nKeyLength = 0;
};

// Reads the raw index block (fix-ups not applied) at a VCN of the index
// allocation into `block` (sized by the reader).
using CIndexBlockReader = std::function<DWORD(uint64_t vcn, std::vector<uint8_t>* block)>;
// Receives the entries in order; returning false ends the walk early.
using CIndexVisitor = std::function<bool(const CIndexEntry&)>;

// Walks an index in key order: the entries of the root value, each preceded
// by the subtree its sub-node pointer leads to. Index blocks are read
// through `reader`, checked (size `blockSize`, fix-ups, "INDX", the VCN they
// claim) and each visited at most once. ERROR_FILE_CORRUPT for a damaged
// node, a block reached twice (a loop) or a tree deeper than any real one;
// the visitor may then have seen part of the entries.
DWORD WalkIndex(const uint8_t* rootValue, size_t rootSize, uint32_t blockSize,
                const CIndexBlockReader& reader, const CIndexVisitor& visit);

}  // namespace ntfs
}  // namespace vt
