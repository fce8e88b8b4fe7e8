// Mounting an NTFS volume, its geometry, bitmap and controls, and the data
// of its files. Folders are in ntfs_folder.cpp.
#include "platform/image/ntfs_volume.h"

#include <algorithm>
#include <cstring>

#include "base/codepage.h"
#include "ondisk/ntfs_layout.h"
#include "platform/image/ntfs_file.h"

namespace vt {

using ntfs::CFileRecords;
using ntfs::CNtfsGeometry;
using ntfs::CRecordHeader;
using ntfs::CRun;
using ntfs::CStream;
using ntfs::kAttrData;
using ntfs::kAttrFlagEncrypted;
using ntfs::kAttrIndexAllocation;
using ntfs::kAttrVolumeName;
using ntfs::kIndexI30;
using ntfs::kRecordBitmap;
using ntfs::kRecordRoot;
using ntfs::kRecordVolume;
using ntfs::Le64;
using ntfs::MergeRuns;
using ntfs::ParseNtfsBootSector;
using ntfs::ParseRecordHeader;
using ntfs::PutLe64;
using ntfs::ReadStream;
using ntfs::RecordNumberOf;

namespace {

// GetVolumeInformationA's flags for NTFS, as Windows 7 and later report
// them. Spelled out here since older headers lack some of the names.
constexpr DWORD kNtfsFlags = 0x00000001 |  // FILE_CASE_SENSITIVE_SEARCH
                             0x00000002 |  // FILE_CASE_PRESERVED_NAMES
                             0x00000004 |  // FILE_UNICODE_ON_DISK
                             0x00000008 |  // FILE_PERSISTENT_ACLS
                             0x00000010 |  // FILE_FILE_COMPRESSION
                             0x00000020 |  // FILE_VOLUME_QUOTAS
                             0x00000040 |  // FILE_SUPPORTS_SPARSE_FILES
                             0x00000080 |  // FILE_SUPPORTS_REPARSE_POINTS
                             0x00010000 |  // FILE_SUPPORTS_OBJECT_IDS
                             0x00020000 |  // FILE_SUPPORTS_ENCRYPTION
                             0x00040000 |  // FILE_NAMED_STREAMS
                             0x00200000 |  // FILE_SUPPORTS_TRANSACTIONS
                             0x00400000 |  // FILE_SUPPORTS_HARD_LINKS
                             0x00800000 |  // FILE_SUPPORTS_EXTENDED_ATTRIBUTES
                             0x01000000 |  // FILE_SUPPORTS_OPEN_BY_FILE_ID
                             0x02000000;   // FILE_SUPPORTS_USN_JOURNAL

constexpr size_t kBitmapChunk = 1 << 20;
constexpr size_t kRecordReplyHeader = ntfs::reply::kRecord;

DWORD Corrupt(std::string* message, const std::string& reason) {
  if (message) *message = "damaged NTFS volume: " + reason;
  return ERROR_DISK_CORRUPT;
}

unsigned PopCount(uint8_t b) {
  unsigned n = 0;
  for (; b; b &= static_cast<uint8_t>(b - 1)) ++n;
  return n;
}

}  // namespace

DWORD CNtfsVolume::Open(std::unique_ptr<CBlockDevice> storage, std::unique_ptr<CFsVolume>* volume,
                        std::string* message) {
  auto device = std::make_unique<CHeldWriteDevice>(std::move(storage));
  std::vector<uint8_t> boot(512);
  if (device->Size() < boot.size()) {
    if (message) *message = "not an NTFS volume: too short to hold a boot sector";
    return ERROR_UNRECOGNIZED_VOLUME;
  }
  DWORD err = device->Read(0, boot.data(), boot.size());
  if (err != ERROR_SUCCESS) {
    if (message) *message = "cannot read the boot sector";
    return err;
  }
  std::unique_ptr<CNtfsVolume> ntfs(new CNtfsVolume());
  err = ParseNtfsBootSector(boot.data(), boot.size(), &ntfs->m_geometry, message);
  if (err != ERROR_SUCCESS) return err;
  const CNtfsGeometry& g = ntfs->m_geometry;
  if (device->Size() < g.VolumeBytes()) {
    if (message) {
      *message = "image is truncated: " + std::to_string(device->Size()) +
                 " bytes, the volume needs " + std::to_string(g.VolumeBytes());
    }
    return ERROR_DISK_CORRUPT;
  }
  ntfs->m_pHeld = device.get();
  ntfs->m_pDevice = std::move(device);
  err = ntfs->m_mft.Open(ntfs->m_pDevice.get(), g, message);
  if (err != ERROR_SUCCESS) return err;

  CFileRecords bitmapFile;
  bool found = false;
  err = bitmapFile.Load(ntfs->m_mft, kRecordBitmap);
  if (err == ERROR_SUCCESS) err = bitmapFile.FindStream(kAttrData, u"", &ntfs->m_bitmap, &found);
  if (err != ERROR_SUCCESS || !found || ntfs->m_bitmap.Size() < (g.TotalClusters() + 7) / 8) {
    return Corrupt(message, "the volume bitmap ($Bitmap) is missing or too short");
  }
  err = ntfs->CountFree(message);
  if (err != ERROR_SUCCESS) return err;
  ntfs->JudgeClean();
  ntfs->m_records.m_strPath = IntentRecordPath(*ntfs->m_pDevice, ntfs->Serial());
  // A group of our moves that was cut off is finished before anything else.
  CIntentRecord record;
  if (!ntfs->m_pDevice->IsReadOnly() && ntfs->IsWritable() &&
      ReadIntentRecord(ntfs->m_records.m_strPath, &record) == ERROR_SUCCESS &&
      record.m_dwSerial == ntfs->Serial()) {
    ntfs->RecoverInterrupted(record);
  }

  // A label or root that cannot be read leaves the volume usable without
  // them; listing the root then reports the damage.
  CFileRecords volumeFile;
  CStream name;
  if (volumeFile.Load(ntfs->m_mft, kRecordVolume) == ERROR_SUCCESS &&
      volumeFile.FindStream(kAttrVolumeName, u"", &name, &found) == ERROR_SUCCESS && found &&
      name.m_bResident) {
    std::u16string text(name.m_value.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<char16_t>(Le16(name.m_value.data() + 2 * i));
    }
    ntfs->m_strLabel = Utf16ToUtf8(text);
  }
  CFsNode& root = ntfs->m_root;
  root.m_bRoot = true;
  root.m_bDirectory = true;
  root.m_nId = kRecordRoot;
  root.m_nRef = kRecordRoot;
  root.m_dwAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  CFsNode fromRecord;
  if (ntfs->NodeFromRecords(kRecordRoot, &fromRecord) == ERROR_SUCCESS) {
    root.m_dwAttributes = fromRecord.m_dwAttributes | FILE_ATTRIBUTE_DIRECTORY;
    root.m_ftCreation = fromRecord.m_ftCreation;
    root.m_ftAccess = fromRecord.m_ftAccess;
    root.m_ftWrite = fromRecord.m_ftWrite;
  }
  *volume = std::move(ntfs);
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::CountFree(std::string* message) {
  const uint64_t total = TotalClusters();
  const uint64_t bytes = (total + 7) / 8;
  std::vector<uint8_t> chunk;
  uint64_t used = 0;
  for (uint64_t at = 0; at < bytes; at += kBitmapChunk) {
    chunk.resize(static_cast<size_t>(std::min<uint64_t>(kBitmapChunk, bytes - at)));
    if (ReadStream(*m_pDevice, m_geometry, m_bitmap, at, chunk.data(), chunk.size()) !=
        ERROR_SUCCESS) {
      return Corrupt(message, "cannot read the volume bitmap");
    }
    if (at + chunk.size() == bytes && total % 8) {
      chunk.back() = static_cast<uint8_t>(chunk.back() & ((1u << (total % 8)) - 1));
    }
    // Eight bytes a step; the rest one at a time.
    size_t i = 0;
    for (; i + 8 <= chunk.size(); i += 8) {
      uint64_t word;
      std::memcpy(&word, chunk.data() + i, 8);
      // Words all free or all used are the rule; only mixed ones are counted.
      if (word == 0) continue;
      used += ~word == 0 ? 64u : static_cast<uint64_t>(__builtin_popcountll(word));
    }
    for (; i < chunk.size(); ++i) used += PopCount(chunk[i]);
  }
  m_nFreeClusters = total - used;
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::FileSystemFlags() const { return kNtfsFlags; }

DWORD CNtfsVolume::GetBitmap(uint64_t firstLcn, uint64_t count, uint8_t* bits) {
  const uint64_t total = TotalClusters();
  if (firstLcn > total || count > total - firstLcn) return ERROR_INVALID_PARAMETER;
  if (count == 0) return ERROR_SUCCESS;
  const uint64_t firstByte = firstLcn / 8;
  const unsigned shift = static_cast<unsigned>(firstLcn % 8);
  const size_t full = static_cast<size_t>(count / 8);
  const unsigned tail = static_cast<unsigned>(count % 8);
  if (shift == 0) {
    // Byte-aligned, as every volume-bitmap reply is: the stored bytes are the
    // answer and go straight into the caller's buffer.
    if (full != 0 &&
        ReadStream(*m_pDevice, m_geometry, m_bitmap, firstByte, bits, full) != ERROR_SUCCESS) {
      return ERROR_DISK_CORRUPT;
    }
    if (tail != 0) {
      uint8_t last = 0;
      if (ReadStream(*m_pDevice, m_geometry, m_bitmap, firstByte + full, &last, 1) != ERROR_SUCCESS)
        return ERROR_DISK_CORRUPT;
      bits[full] = static_cast<uint8_t>(bits[full] | (last & ((1u << tail) - 1)));
    }
    return ERROR_SUCCESS;
  }
  const uint64_t endByte = (firstLcn + count + 7) / 8;
  std::vector<uint8_t> stored(static_cast<size_t>(endByte - firstByte) + 1, 0);
  if (ReadStream(*m_pDevice, m_geometry, m_bitmap, firstByte, stored.data(), stored.size() - 1) !=
      ERROR_SUCCESS) {
    return ERROR_DISK_CORRUPT;
  }
  // Output byte i is made of stored bytes i and i + 1 (the extra zero byte
  // at the end stands in for the one past the range).
  const uint8_t* in = stored.data();
  for (size_t i = 0; i < full; ++i) {
    bits[i] = static_cast<uint8_t>(bits[i] | (in[i] >> shift) | (in[i + 1] << (8 - shift)));
  }
  if (tail != 0) {
    const unsigned v = (in[full] >> shift) | (static_cast<unsigned>(in[full + 1]) << (8 - shift));
    bits[full] = static_cast<uint8_t>(bits[full] | (v & ((1u << tail) - 1)));
  }
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::ReadRaw(uint64_t offset, void* buffer, size_t size) {
  if (offset > VolumeBytes() || size > VolumeBytes() - offset) return ERROR_SECTOR_NOT_FOUND;
  return m_pDevice->Read(offset, buffer, size);
}

DWORD CNtfsVolume::MainStream(const CFsNode& node, CStream* stream, bool* found) {
  CFileRecords file;
  DWORD err = file.Load(m_mft, node.m_nRef);
  if (err != ERROR_SUCCESS) return err;
  if (file.Header().IsDirectory()) {
    return file.FindStream(kAttrIndexAllocation, kIndexI30, stream, found);
  }
  return file.FindStream(kAttrData, u"", stream, found);
}

DWORD CNtfsVolume::GetRuns(const CFsNode& node, std::vector<CFsRun>* runs) {
  runs->clear();
  CStream stream;
  bool found = false;
  DWORD err = MainStream(node, &stream, &found);
  if (err != ERROR_SUCCESS) return err;
  if (!found || stream.m_bResident) return ERROR_SUCCESS;
  std::vector<CRun> merged = stream.m_runs;
  MergeRuns(&merged);
  for (const CRun& run : merged) runs->push_back({run.m_nVcn, run.m_nLcn, run.m_nCount});
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::ReadFileData(const CFsNode& node, uint64_t offset, void* buffer, size_t size) {
  if (node.m_bDirectory) return ERROR_INVALID_FUNCTION;
  CStream stream;
  bool found = false;
  DWORD err = MainStream(node, &stream, &found);
  if (err != ERROR_SUCCESS) return err;
  if (!found) return ERROR_HANDLE_EOF;
  if (stream.m_nFlags & kAttrFlagEncrypted) return ERROR_ACCESS_DENIED;
  return ReadStream(*m_pDevice, m_geometry, stream, offset, buffer, size);
}

DWORD CNtfsVolume::GetNtfsVolumeData(NTFS_VOLUME_DATA_BUFFER* data) {
  const CNtfsGeometry& g = m_geometry;
  const uint64_t total = TotalClusters();
  // The zone follows the MFT's last stored cluster.
  uint64_t mftEnd = g.m_nMftLcn + 1;
  for (const CRun& run : m_mft.Data().m_runs) {
    if (!run.IsSparse()) mftEnd = run.m_nLcn + run.m_nCount;
  }
  const uint64_t zoneStart = std::min(mftEnd, total);
  const uint64_t zoneEnd = std::min(zoneStart + total / 8, total);
  std::memset(data, 0, sizeof(*data));
  data->VolumeSerialNumber.QuadPart = static_cast<LONGLONG>(g.m_nSerial);
  data->NumberSectors.QuadPart = static_cast<LONGLONG>(g.m_nTotalSectors);
  data->TotalClusters.QuadPart = static_cast<LONGLONG>(total);
  data->FreeClusters.QuadPart = static_cast<LONGLONG>(m_nFreeClusters);
  data->TotalReserved.QuadPart = 0;
  data->BytesPerSector = g.m_nBytesPerSector;
  data->BytesPerCluster = static_cast<DWORD>(g.ClusterBytes());
  data->BytesPerFileRecordSegment = g.m_nRecordSize;
  data->ClustersPerFileRecordSegment = static_cast<DWORD>(g.m_nRecordSize / g.ClusterBytes());
  data->MftValidDataLength.QuadPart = static_cast<LONGLONG>(m_mft.Data().m_nInitializedSize);
  data->MftStartLcn.QuadPart = static_cast<LONGLONG>(g.m_nMftLcn);
  data->Mft2StartLcn.QuadPart = static_cast<LONGLONG>(g.m_nMftMirrorLcn);
  data->MftZoneStart.QuadPart = static_cast<LONGLONG>(zoneStart);
  data->MftZoneEnd.QuadPart = static_cast<LONGLONG>(zoneEnd);
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::GetNtfsFileRecord(const void* in, DWORD inSize, void* out, DWORD outSize,
                                     DWORD* returned) {
  *returned = 0;
  if (!in || inSize < sizeof(NTFS_FILE_RECORD_INPUT_BUFFER)) return ERROR_INVALID_PARAMETER;
  const uint32_t recordSize = m_geometry.m_nRecordSize;
  if (!out || outSize < kRecordReplyHeader + recordSize) return ERROR_INSUFFICIENT_BUFFER;
  uint8_t reference[8];
  std::memcpy(reference, in, sizeof(reference));
  uint64_t number = RecordNumberOf(Le64(reference));
  if (number >= m_mft.RecordCount()) return ERROR_INVALID_PARAMETER;
  number = m_mft.InUseAtOrBelow(number);
  // The record is read where the reply holds it: the analysis asks for
  // every record of the volume, one call each.
  auto* reply = static_cast<uint8_t*>(out);
  uint8_t* record = reply + kRecordReplyHeader;
  const DWORD read = m_mft.ReadRecordInto(number, record);
  // The next record in use of a pass over them all also counts for the
  // allocation check, which then need not read it again (unless the pass
  // goes ahead on its own).
  if (m_bCheckAlong && !m_pAhead && m_pass.m_strProblem.empty() && number >= m_pass.m_nNext &&
      m_mft.IsInUse(number) && NoneInUse(m_pass.m_nNext, number))
    PassRecord(number, record, read);
  CRecordHeader header;
  if (read != ERROR_SUCCESS || ParseRecordHeader(record, recordSize, &header) != ERROR_SUCCESS) {
    return ERROR_FILE_CORRUPT;
  }
  PutLe64(reply + ntfs::reply::kReference, number);
  PutLe32(reply + ntfs::reply::kRecordLength, recordSize);
  *returned = static_cast<DWORD>(kRecordReplyHeader + recordSize);
  return ERROR_SUCCESS;
}

}  // namespace vt
