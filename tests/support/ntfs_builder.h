// Hand-built NTFS volumes, file records and structures in memory, for
// precise test cases of the image backend and the engine's reader:
// a fixed small geometry (512-byte sectors, 4 KB clusters, 1 KB records,
// 4 KB index blocks), metafiles 0 to 15, folders with resident or
// block-based indexes, files with resident, contiguous, sparse or
// hand-placed data, attribute lists, and raw access for damage. The layout
// is written here independently of the reader under test (its own fix-ups,
// run lists with fixed 8-byte fields, its own index layout).
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/image/block_device.h"

namespace vt {
namespace test {

constexpr uint32_t kBClusterBytes = 4096;
constexpr uint32_t kBRecordBytes = 1024;
constexpr uint32_t kBBlockBytes = 4096;
constexpr int64_t kBHole = -1;

// One run of a hand-placed file: `count` clusters at `lcn` (kBHole: sparse).
struct CBRun {
  int64_t lcn;
  uint64_t count;
};

// Little pieces of the on-disk format, written by the builder's own code.
std::vector<uint8_t> BuildRunList(const std::vector<CBRun>& runs);
// A file record with the given attribute bytes (each already 8-aligned),
// fix-ups applied for writing. `usn` is the check value.
std::vector<uint8_t> BuildRecord(uint64_t number, uint16_t flags, uint64_t base,
                                 const std::vector<std::vector<uint8_t>>& attributes,
                                 uint16_t usn = 1, uint16_t sequence = 1);
std::vector<uint8_t> ResidentAttr(uint32_t type, const std::u16string& name,
                                  const std::vector<uint8_t>& value, uint16_t instance = 0);
std::vector<uint8_t> NonResidentAttr(uint32_t type, const std::u16string& name, uint64_t firstVcn,
                                     int64_t lastVcn, const std::vector<uint8_t>& runList,
                                     uint64_t allocated, uint64_t size, uint64_t initialized,
                                     uint16_t flags = 0, uint8_t compressionUnit = 0,
                                     uint16_t instance = 0);
std::vector<uint8_t> FileNameValue(uint64_t parentRef, const std::u16string& name, uint8_t space,
                                   bool directory, uint64_t size, uint32_t attributes = 0x20);
std::vector<uint8_t> StandardInfoValue(uint32_t attributes);
// An index entry (0 for `subVcn` = none; `last` marks the end entry).
std::vector<uint8_t> IndexEntry(uint64_t ref, const std::vector<uint8_t>& key, bool last,
                                int64_t subVcn = -1);
// An $INDEX_ROOT value over the entries (already including the end entry).
std::vector<uint8_t> IndexRootValue(const std::vector<std::vector<uint8_t>>& entries, bool large);
// An index block at `vcn`, fix-ups applied for writing.
std::vector<uint8_t> IndexBlock(uint64_t vcn, const std::vector<std::vector<uint8_t>>& entries,
                                bool node);
// Applies the update sequence for writing (check value `usn`).
void ProtectStrides(std::vector<uint8_t>* data, size_t usaOffset, uint16_t usn);

// Single file records for the engine's reader: attributes added in order,
// compact run lists, any record size.
// One run of a record built below: `count` clusters at `lcn` (-1: sparse).
using NtfsRunSpec = CBRun;

class CNtfsRecordBuilder {
 public:
  explicit CNtfsRecordBuilder(uint32_t size = 1024);

  CNtfsRecordBuilder& StandardInformation(uint32_t fileAttributes);
  CNtfsRecordBuilder& FileName(const std::u16string& name, uint32_t parent, uint8_t nameSpace,
                               bool directory, uint64_t time = 0x01D0000012345678ull);
  CNtfsRecordBuilder& AttributeList();
  // A resident attribute list naming, for each attribute type, the record
  // that holds it.
  CNtfsRecordBuilder& AttributeList(const std::vector<std::pair<uint32_t, uint64_t>>& entries);
  CNtfsRecordBuilder& ResidentData(uint32_t length, uint32_t type = 0x80);
  CNtfsRecordBuilder& NonResident(uint32_t type, const std::vector<NtfsRunSpec>& runs,
                                  uint64_t realSize, bool compressed = false,
                                  int64_t firstVcn = 0, int64_t lastVcn = -1,
                                  const std::u16string& name = u"");
  CNtfsRecordBuilder& BaseReference(uint64_t base);

  // The finished record: end marker, bytes in use, and the update sequence
  // saved (the sector ends carry the check value, as on disk).
  std::vector<uint8_t> Build(bool protect = false) const;

 private:
  void Add(const std::vector<uint8_t>& attribute);
  uint32_t m_size;
  std::vector<uint8_t> m_attributes;
  uint64_t m_base = 0;
};

class CNtfsImageBuilder {
 public:
  explicit CNtfsImageBuilder(uint64_t totalClusters = 2048, uint32_t mftRecords = 64);

  static constexpr uint64_t kRoot = 5;
  uint64_t TotalClusters() const { return m_nTotalClusters; }
  // An MFT of more than 16 clusters goes behind the metafiles' clusters,
  // which it would otherwise overlap.
  uint64_t MftLcn() const { return MftClusters() <= 16 ? 4 : 32; }
  uint64_t MftClusters() const {
    return (static_cast<uint64_t>(m_nMftRecords) * kBRecordBytes + kBClusterBytes - 1) /
           kBClusterBytes;
  }
  uint64_t ClusterOffset(uint64_t lcn) const { return lcn * kBClusterBytes; }
  uint32_t MftRecords() const { return m_nMftRecords; }

  // Hands out `count` clusters from the free area, in order.
  uint64_t Allocate(uint64_t count);
  void MarkUsed(uint64_t lcn, uint64_t count);

  // Items: each returns its record number. Folders index their children
  // at Finish(), resident while they fit in `rootEntries` entries, else in
  // one level of index blocks.
  uint64_t AddFolder(uint64_t parent, const std::u16string& name, uint32_t attributes = 0);
  // A file with its data resident (up to 600 bytes) or in new clusters.
  uint64_t AddFile(uint64_t parent, const std::u16string& name, const std::string& data,
                   uint32_t attributes = 0x20);
  // A file whose $DATA has the given runs (the content is written by the
  // caller), `size` bytes long. With `extensionSplits`, the run list is
  // cut before those run indexes into extension records behind an
  // attribute list.
  uint64_t AddFileRuns(uint64_t parent, const std::u16string& name, uint64_t size,
                       const std::vector<CBRun>& runs,
                       const std::vector<size_t>& extensionSplits = {}, uint16_t flags = 0,
                       uint8_t compressionUnit = 0);
  // Another name for a record: a DOS name (namespace 2) beside its Win32
  // name, or a hard link.
  void AddName(uint64_t record, uint64_t parent, const std::u16string& name, uint8_t space);
  void SetNamespace(uint64_t record, uint8_t space);  // of its first name
  // Splits $MFT's data into two segments; the second lives in record 15
  // behind an attribute list of record 0.
  void SplitMft() {
    m_bSplitMft = true;
    m_nNextLcn = std::max<uint64_t>(m_nNextLcn, 48);
  }
  void SetRootEntries(size_t n) { m_nRootEntries = n; }
  // Gives $Volume its information (no flag set) and $LogFile a page emptied
  // as at a clean unmount, so that the volume may be written. Before Finish.
  void MarkClean() { m_nCleanLogLcn = Allocate(1); }
  void SetLabel(const std::u16string& label) { m_label = label; }

  // Writes every record, index, bitmap and the boot sector.
  void Finish();
  // The volume offset of record `number` (the MFT is contiguous).
  uint64_t RecordOffset(uint64_t number) const;
  uint64_t IndexBlockLcn(uint64_t folder, size_t block) const;
  // Raw access for damage (after Finish), inside what was written.
  void Write(uint64_t offset, const void* data, size_t size);
  std::vector<uint8_t>& Bytes() { return m_bytes; }
  std::unique_ptr<CBlockDevice> Device(bool readOnly = false) const;

 private:
  struct Name {
    uint64_t m_nParent;
    std::u16string m_name;
    uint8_t m_nSpace;
  };
  struct Item {
    bool m_bFolder = false;
    bool m_bMeta = false;
    uint32_t m_nAttributes = 0x20;
    std::vector<Name> m_names;
    bool m_bResident = true;
    std::string m_data;
    uint64_t m_nSize = 0;
    std::vector<CBRun> m_runs;
    std::vector<size_t> m_splits;
    uint16_t m_nDataFlags = 0;
    uint8_t m_nCompressionUnit = 0;
    std::vector<uint64_t> m_blockLcns;
  };
  uint64_t NewRecord();
  void WriteRecord(uint64_t number, const std::vector<uint8_t>& record);
  std::vector<std::vector<uint8_t>> DataAttributes(const Item& item) const;
  void WriteFolderIndex(uint64_t number, Item* item, std::vector<std::vector<uint8_t>>* attrs);

  uint64_t m_nTotalClusters;
  uint32_t m_nMftRecords;
  uint64_t m_nCleanLogLcn = 0;  // $LogFile's one cluster when MarkClean
  uint64_t m_nNextLcn;
  uint64_t m_nNextRecord = 16;
  size_t m_nRootEntries = 8;
  bool m_bSplitMft = false;
  std::u16string m_label = u"HAND";
  std::map<uint64_t, Item> m_items;
  std::vector<uint8_t> m_bitmap;
  std::vector<uint8_t> m_bytes;
  uint64_t m_nWritten = 0;  // end of the bytes written so far
};

}  // namespace test
}  // namespace vt
