#include "platform/image/ntfs_edit.h"

#include <algorithm>
#include <cstring>

#include "ondisk/ntfs_layout.h"

namespace vt {
namespace ntfs {

DWORD WriteStream(CBlockDevice& device, const CNtfsGeometry& g, const CStream& stream,
                  uint64_t offset, const uint8_t* data, size_t size) {
  if (stream.m_bResident) return ERROR_NOT_SUPPORTED;
  const uint64_t cb = g.ClusterBytes();
  struct CPiece {
    uint64_t at;
    size_t from, bytes;
  };
  std::vector<CPiece> pieces;
  size_t covered = 0;
  for (const CRun& run : stream.m_runs) {
    const uint64_t begin = std::max(offset, run.m_nVcn * cb);
    const uint64_t end = std::min(offset + size, run.EndVcn() * cb);
    if (begin >= end) continue;
    if (run.IsSparse()) return ERROR_FILE_CORRUPT;
    pieces.push_back({g.LcnOffset(run.m_nLcn) + (begin - run.m_nVcn * cb),
                      static_cast<size_t>(begin - offset), static_cast<size_t>(end - begin)});
    covered += static_cast<size_t>(end - begin);
  }
  if (covered != size) return ERROR_FILE_CORRUPT;
  for (size_t i = 0; i < pieces.size();) {
    size_t j = i + 1;
    size_t bytes = pieces[i].bytes;
    while (j < pieces.size() && pieces[j].at == pieces[i].at + bytes) bytes += pieces[j++].bytes;
    DWORD err = device.Write(pieces[i].at, data + pieces[i].from, bytes);
    if (err != ERROR_SUCCESS) return err;
    i = j;
  }
  return ERROR_SUCCESS;
}

bool InOnePlace(const CNtfsGeometry& g, const CStream& stream, uint64_t offset, uint64_t size) {
  const uint64_t cb = g.ClusterBytes();
  uint64_t next = 0;
  bool started = false;
  for (const CRun& run : stream.m_runs) {
    const uint64_t begin = std::max(offset, run.m_nVcn * cb);
    const uint64_t end = std::min(offset + size, run.EndVcn() * cb);
    if (begin >= end) continue;
    if (run.IsSparse()) return false;
    const uint64_t at = g.LcnOffset(run.m_nLcn) + (begin - run.m_nVcn * cb);
    if (started && at != next) return false;
    started = true;
    next = at + (end - begin);
  }
  return started;
}

DWORD ResizeAttribute(const CAttribute& a, size_t newLength, std::vector<uint8_t>* bytes,
                      CRecordHeader* header) {
  const size_t at = a.m_nOffset;
  const size_t oldLength = a.m_nLength;
  const size_t inUse = header->m_nBytesInUse;
  if (newLength % 8 != 0 || at + oldLength > inUse || inUse > bytes->size() ||
      inUse - oldLength + newLength > bytes->size()) {
    return ERROR_DISK_FULL;
  }
  const size_t newInUse = inUse - oldLength + newLength;
  uint8_t* p = bytes->data();
  std::memmove(p + at + newLength, p + at + oldLength, inUse - (at + oldLength));
  if (newLength > oldLength) std::fill(p + at + oldLength, p + at + newLength, 0);
  if (newInUse < inUse) std::fill(p + newInUse, p + inUse, 0);
  PutLe32(p + at + attr::kLength, static_cast<uint32_t>(newLength));
  PutLe32(p + kRecordBytesInUseField, static_cast<uint32_t>(newInUse));
  header->m_nBytesInUse = static_cast<uint32_t>(newInUse);
  return ERROR_SUCCESS;
}

DWORD InsertAttribute(size_t offset, const std::vector<uint8_t>& attribute,
                      std::vector<uint8_t>* bytes, CRecordHeader* header) {
  const size_t inUse = header->m_nBytesInUse;
  if (attribute.size() % 8 != 0 || offset > inUse || inUse > bytes->size() ||
      inUse + attribute.size() > bytes->size()) {
    return ERROR_DISK_FULL;
  }
  uint8_t* p = bytes->data();
  std::memmove(p + offset + attribute.size(), p + offset, inUse - offset);
  std::copy(attribute.begin(), attribute.end(), p + offset);
  const size_t newInUse = inUse + attribute.size();
  PutLe32(p + kRecordBytesInUseField, static_cast<uint32_t>(newInUse));
  header->m_nBytesInUse = static_cast<uint32_t>(newInUse);
  return ERROR_SUCCESS;
}

DWORD RewriteRunList(const CAttribute& a, const std::vector<CRun>& runs,
                     std::vector<uint8_t>* bytes, CRecordHeader* header) {
  std::vector<uint8_t> pairs;
  DWORD err = EncodeRunList(runs, &pairs);
  if (err != ERROR_SUCCESS) return err;
  const size_t newLength = (a.m_nRunsOffset + pairs.size() + 7) / 8 * 8;
  err = ResizeAttribute(a, newLength, bytes, header);
  if (err != ERROR_SUCCESS) return err;
  uint8_t* p = bytes->data() + a.m_nOffset;
  std::fill(p + a.m_nRunsOffset, p + newLength, 0);
  std::copy(pairs.begin(), pairs.end(), p + a.m_nRunsOffset);
  return ERROR_SUCCESS;
}

}  // namespace ntfs
}  // namespace vt
