#include "platform/image/ntfs_stream.h"

#include <algorithm>
#include <cstring>

#include "platform/image/ntfs_compress.h"

namespace vt {
namespace ntfs {

namespace {

// The run holding a VCN, or runs.end().
std::vector<CRun>::const_iterator RunAt(const std::vector<CRun>& runs, uint64_t vcn) {
  auto it = std::upper_bound(runs.begin(), runs.end(), vcn,
                             [](uint64_t v, const CRun& r) { return v < r.m_nVcn; });
  if (it == runs.begin()) return runs.end();
  --it;
  return vcn < it->EndVcn() ? it : runs.end();
}

// Reads bytes of an uncompressed stream below its initialized size.
DWORD ReadMapped(CBlockDevice& device, const CNtfsGeometry& g, const CStream& s, uint64_t offset,
                 uint8_t* out, size_t size) {
  const uint64_t cb = g.ClusterBytes();
  size_t done = 0;
  while (done < size) {
    const uint64_t at = offset + done;
    auto run = RunAt(s.m_runs, at / cb);
    if (run == s.m_runs.end()) return ERROR_FILE_CORRUPT;
    const uint64_t runStart = run->m_nVcn * cb;
    const uint64_t take = std::min<uint64_t>(size - done, run->EndVcn() * cb - at);
    if (run->IsSparse()) {
      std::memset(out + done, 0, static_cast<size_t>(take));
    } else {
      DWORD err = device.Read(g.LcnOffset(run->m_nLcn) + (at - runStart), out + done,
                              static_cast<size_t>(take));
      if (err != ERROR_SUCCESS) return err;
    }
    done += static_cast<size_t>(take);
  }
  return ERROR_SUCCESS;
}

// Expands compression unit `unit` into `out` (unit size bytes).
DWORD ReadUnit(CBlockDevice& device, const CNtfsGeometry& g, const CStream& s, uint64_t unit,
               std::vector<uint8_t>* out) {
  const uint64_t cb = g.ClusterBytes();
  const uint64_t unitClusters = 1ull << s.m_nCompressionUnit;
  const uint64_t first = unit * unitClusters;
  const size_t unitBytes = static_cast<size_t>(unitClusters * cb);
  out->assign(unitBytes, 0);
  // A unit is stored whole (no sparse cluster), not at all (all sparse), or
  // compressed in the clusters before its sparse tail.
  uint64_t stored = 0;
  bool sparse = false;
  for (uint64_t vcn = first; vcn < first + unitClusters;) {
    auto run = RunAt(s.m_runs, vcn);
    if (run == s.m_runs.end()) return ERROR_FILE_CORRUPT;
    const uint64_t take = std::min(run->EndVcn(), first + unitClusters) - vcn;
    if (run->IsSparse()) {
      sparse = true;
    } else {
      if (sparse) return ERROR_FILE_CORRUPT;  // stored clusters after the tail
      stored += take;
    }
    vcn += take;
  }
  if (stored == 0) return ERROR_SUCCESS;
  if (!sparse) return ReadMapped(device, g, s, first * cb, out->data(), unitBytes);
  std::vector<uint8_t> packed(static_cast<size_t>(stored * cb));
  DWORD err = ReadMapped(device, g, s, first * cb, packed.data(), packed.size());
  if (err != ERROR_SUCCESS) return err;
  return DecompressLznt1(packed.data(), packed.size(), out->data(), unitBytes);
}

DWORD ReadCompressed(CBlockDevice& device, const CNtfsGeometry& g, const CStream& s,
                     uint64_t offset, uint8_t* out, size_t size) {
  const uint64_t unitBytes = g.ClusterBytes() << s.m_nCompressionUnit;
  std::vector<uint8_t> unit;
  size_t done = 0;
  while (done < size) {
    const uint64_t at = offset + done;
    DWORD err = ReadUnit(device, g, s, at / unitBytes, &unit);
    if (err != ERROR_SUCCESS) return err;
    const uint64_t inUnit = at % unitBytes;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(size - done, unitBytes - inUnit));
    std::memcpy(out + done, unit.data() + inUnit, take);
    done += take;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD AssembleStream(const std::vector<CSegment>& segments, const CNtfsGeometry& geometry,
                     CStream* stream) {
  if (segments.empty()) return ERROR_FILE_CORRUPT;
  CStream s;
  const CAttribute& head = *segments[0].m_pAttribute;
  s.m_nType = head.m_nType;
  s.m_name = head.m_name;
  s.m_nFlags = head.m_nFlags;
  if (!head.m_bNonResident) {
    if (segments.size() != 1) return ERROR_FILE_CORRUPT;
    const uint8_t* value = ResidentValue(segments[0].m_pRecord, head);
    s.m_value.assign(value, value + head.m_nValueLength);
    *stream = std::move(s);
    return ERROR_SUCCESS;
  }
  std::vector<CSegment> ordered = segments;
  std::sort(ordered.begin(), ordered.end(), [](const CSegment& a, const CSegment& b) {
    return a.m_pAttribute->m_nFirstVcn < b.m_pAttribute->m_nFirstVcn;
  });
  const uint64_t cb = geometry.ClusterBytes();
  const uint64_t total = geometry.TotalClusters();
  uint64_t next = 0;
  for (size_t i = 0; i < ordered.size(); ++i) {
    const CAttribute& a = *ordered[i].m_pAttribute;
    if (!a.m_bNonResident || a.m_nFirstVcn != next) return ERROR_FILE_CORRUPT;
    if (i == 0) {
      s.m_nFlags = a.m_nFlags;
      s.m_nCompressionUnit = a.m_nCompressionUnit;
      s.m_nAllocatedSize = a.m_nAllocatedSize;
      s.m_nDataSize = a.m_nDataSize;
      s.m_nInitializedSize = a.m_nInitializedSize;
    }
    size_t size = 0;
    const uint8_t* bytes = RunListBytes(ordered[i].m_pRecord, a, &size);
    const size_t before = s.m_runs.size();
    DWORD err = DecodeRunList(bytes, size, a.m_nFirstVcn, &s.m_runs);
    if (err != ERROR_SUCCESS) return err;
    const uint64_t end = s.m_runs.size() == before ? a.m_nFirstVcn : s.m_runs.back().EndVcn();
    if (end != a.m_nFirstVcn + a.VcnCount()) return ERROR_FILE_CORRUPT;
    next = end;
  }
  if (next > s.m_nAllocatedSize / cb || next * cb != s.m_nAllocatedSize) return ERROR_FILE_CORRUPT;
  for (const CRun& run : s.m_runs) {
    if (!run.IsSparse() && (run.m_nLcn >= total || run.m_nCount > total - run.m_nLcn)) {
      return ERROR_FILE_CORRUPT;
    }
  }
  s.m_bResident = false;
  *stream = std::move(s);
  return ERROR_SUCCESS;
}

DWORD ReadStream(CBlockDevice& device, const CNtfsGeometry& geometry, const CStream& stream,
                 uint64_t offset, void* out, size_t size) {
  const uint64_t length = stream.Size();
  if (offset > length || size > length - offset) return ERROR_HANDLE_EOF;
  auto* bytes = static_cast<uint8_t*>(out);
  if (stream.m_bResident) {
    if (size) std::memcpy(bytes, stream.m_value.data() + offset, size);
    return ERROR_SUCCESS;
  }
  if (stream.IsCompressed()) return ReadCompressed(device, geometry, stream, offset, bytes, size);
  // Past the initialized size the value reads as zeros whatever is stored.
  const uint64_t valid = std::min(stream.m_nInitializedSize, length);
  const size_t mapped =
      offset >= valid ? 0 : static_cast<size_t>(std::min<uint64_t>(size, valid - offset));
  if (mapped < size) std::memset(bytes + mapped, 0, size - mapped);
  return mapped ? ReadMapped(device, geometry, stream, offset, bytes, mapped) : ERROR_SUCCESS;
}

}  // namespace ntfs
}  // namespace vt
