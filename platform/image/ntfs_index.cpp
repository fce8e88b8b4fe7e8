#include "platform/image/ntfs_index.h"

#include <set>

#include "ondisk/ntfs_layout.h"
#include "ondisk/ntfs_record.h"

namespace vt {
namespace ntfs {

namespace {

using namespace index;

// Real indexes are a handful of levels deep even with millions of entries.
constexpr size_t kMaxDepth = 32;

struct CNodeEntry {
  size_t m_nOffset = 0;  // in the frame's bytes
  size_t m_nKeyLength = 0;
  bool m_bLast = false;
  bool m_bSubNode = false;
  uint64_t m_nSubVcn = 0;
};

struct CFrame {
  std::vector<uint8_t> m_bytes;
  std::vector<CNodeEntry> m_entries;
  size_t m_nNext = 0;
  bool m_bDescended = false;
};

// Decodes the entries of a node whose header starts at `node` in `bytes`,
// with `available` bytes from there on. The last entry must be marked.
DWORD ParseNode(const std::vector<uint8_t>& bytes, size_t node, size_t available,
                std::vector<CNodeEntry>* entries) {
  if (available < kNodeHeader) return ERROR_FILE_CORRUPT;
  const uint8_t* h = bytes.data() + node;
  const uint32_t first = Le32(h + kNodeEntriesOffset);
  const uint32_t length = Le32(h + kNodeIndexLength);
  const uint32_t allocated = Le32(h + kNodeAllocatedSize);
  if (first < kNodeHeader || first % 8 != 0 || first > length || length > allocated ||
      allocated > available) {
    return ERROR_FILE_CORRUPT;
  }
  entries->clear();
  size_t pos = first;
  while (true) {
    if (length - pos < kEntryKey) return ERROR_FILE_CORRUPT;  // no last entry
    const uint8_t* e = h + pos;
    CNodeEntry entry;
    entry.m_nOffset = node + pos;
    const size_t entryLength = Le16(e + kEntryLength);
    entry.m_nKeyLength = Le16(e + kEntryKeyLength);
    const uint16_t flags = Le16(e + kEntryFlags);
    entry.m_bLast = (flags & kEntryLast) != 0;
    entry.m_bSubNode = (flags & kEntryHasSubNode) != 0;
    const size_t tail = entry.m_bSubNode ? 8 : 0;
    if (entryLength < kEntryKey + tail || entryLength % 8 != 0 || entryLength > length - pos ||
        entry.m_nKeyLength > entryLength - kEntryKey - tail) {
      return ERROR_FILE_CORRUPT;
    }
    if (entry.m_bSubNode) entry.m_nSubVcn = Le64(e + entryLength - 8);
    entries->push_back(entry);
    if (entry.m_bLast) break;
    pos += entryLength;
  }
  return ERROR_SUCCESS;
}

DWORD LoadBlock(const CIndexBlockReader& reader, uint64_t vcn, uint32_t blockSize, CFrame* frame) {
  DWORD err = reader(vcn, &frame->m_bytes);
  if (err != ERROR_SUCCESS) return err;
  std::vector<uint8_t>& b = frame->m_bytes;
  if (b.size() != blockSize || blockSize < kBlockNode + kNodeHeader) return ERROR_FILE_CORRUPT;
  if (Le32(b.data() + multisector::kSignature) != kIndexBlockSignature) return ERROR_FILE_CORRUPT;
  err = ApplyFixups(b.data(), b.size());
  if (err != ERROR_SUCCESS) return err;
  if (Le64(b.data() + kBlockVcn) != vcn) return ERROR_FILE_CORRUPT;
  return ParseNode(b, kBlockNode, b.size() - kBlockNode, &frame->m_entries);
}

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

DWORD ParseIndexRoot(const uint8_t* value, size_t size, CIndexRoot* root) {
  if (size < kRootNode + kNodeHeader) return ERROR_FILE_CORRUPT;
  CIndexRoot r;
  r.m_nIndexedType = Le32(value + kRootIndexedType);
  r.m_nCollation = Le32(value + kRootCollation);
  r.m_nBlockSize = Le32(value + kRootBlockSize);
  r.m_nClustersPerBlock = value[kRootClustersPerBlock];
  if (!IsPowerOfTwo(r.m_nBlockSize) || r.m_nBlockSize < 512 || r.m_nBlockSize > 65536) {
    return ERROR_FILE_CORRUPT;
  }
  *root = r;
  return ERROR_SUCCESS;
}

DWORD WalkIndex(const uint8_t* rootValue, size_t rootSize, uint32_t blockSize,
                const CIndexBlockReader& reader, const CIndexVisitor& visit) {
  CIndexRoot root;
  DWORD err = ParseIndexRoot(rootValue, rootSize, &root);
  if (err != ERROR_SUCCESS) return err;
  // Frames are kept as the walk climbs back up, so that their storage
  // serves the next block at that depth: a walk over a folder of thousands
  // of blocks allocates for a handful.
  std::vector<CFrame> stack(1);
  size_t depth = 1;
  stack[0].m_bytes.assign(rootValue, rootValue + rootSize);
  err = ParseNode(stack[0].m_bytes, kRootNode, rootSize - kRootNode, &stack[0].m_entries);
  if (err != ERROR_SUCCESS) return err;
  std::set<uint64_t> visited;
  while (depth > 0) {
    CFrame& top = stack[depth - 1];
    if (top.m_nNext == top.m_entries.size()) {
      --depth;
      continue;
    }
    const CNodeEntry entry = top.m_entries[top.m_nNext];
    if (entry.m_bSubNode && !top.m_bDescended) {
      top.m_bDescended = true;
      if (depth >= kMaxDepth || !visited.insert(entry.m_nSubVcn).second) {
        return ERROR_FILE_CORRUPT;
      }
      if (stack.size() == depth) stack.emplace_back();  // `top` is not used past here
      CFrame& child = stack[depth];
      child.m_nNext = 0;
      child.m_bDescended = false;
      err = LoadBlock(reader, entry.m_nSubVcn, blockSize, &child);
      if (err != ERROR_SUCCESS) return err;
      ++depth;
      continue;
    }
    top.m_bDescended = false;
    ++top.m_nNext;
    if (entry.m_bLast) continue;
    CIndexEntry out;
    out.m_nReference = Le64(top.m_bytes.data() + entry.m_nOffset + kEntryReference);
    out.m_pKey = top.m_bytes.data() + entry.m_nOffset + kEntryKey;
    out.m_nKeyLength = entry.m_nKeyLength;
    if (!visit(out)) return ERROR_SUCCESS;
  }
  return ERROR_SUCCESS;
}

}  // namespace ntfs
}  // namespace vt
