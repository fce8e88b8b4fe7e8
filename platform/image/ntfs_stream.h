// An attribute's value as one stream: resident bytes, or the run list put
// together from every segment of a non-resident attribute, and reading it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ondisk/ntfs_attr.h"
#include "ondisk/ntfs_boot.h"
#include "ondisk/ntfs_runlist.h"
#include "platform/image/block_device.h"

namespace vt {
namespace ntfs {

struct CStream {
  uint32_t m_nType = 0;
  std::u16string m_name;
  bool m_bResident = true;
  std::vector<uint8_t> m_value;  // resident
  uint16_t m_nFlags = 0;
  uint8_t m_nCompressionUnit = 0;
  uint64_t m_nAllocatedSize = 0;
  uint64_t m_nDataSize = 0;
  uint64_t m_nInitializedSize = 0;
  std::vector<CRun> m_runs;  // from VCN 0 without gaps, as stored

  uint64_t Size() const { return m_bResident ? m_value.size() : m_nDataSize; }
  bool IsCompressed() const {
    return !m_bResident && m_nCompressionUnit != 0 && (m_nFlags & kAttrFlagCompressed) != 0;
  }
};

// One piece of an attribute as found in a record.
struct CSegment {
  const uint8_t* m_pRecord = nullptr;
  const CAttribute* m_pAttribute = nullptr;
};

// Puts an attribute together from its segments (any order): one resident
// segment, or non-resident segments whose VCN ranges follow each other from
// 0, each with a run list covering exactly its range, the whole covering the
// allocated size, every run inside the volume. ERROR_FILE_CORRUPT otherwise.
DWORD AssembleStream(const std::vector<CSegment>& segments, const CNtfsGeometry& geometry,
                     CStream* stream);

// Reads `size` bytes from `offset` of a stream's value. Bytes past the
// initialized size and sparse runs read as zeros, compressed units are
// expanded, and a range past the value's end is ERROR_HANDLE_EOF.
DWORD ReadStream(CBlockDevice& device, const CNtfsGeometry& geometry, const CStream& stream,
                 uint64_t offset, void* out, size_t size);

}  // namespace ntfs
}  // namespace vt
