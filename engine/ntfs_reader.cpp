#include "engine/ntfs_reader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "base/text.h"
#include "engine/globals.h"
#include "ondisk/ntfs_boot.h"
#include "ondisk/ntfs_layout.h"
#include "ondisk/ntfs_record.h"
#include "ondisk/ntfs_runlist.h"
#include "platform/text_convert.h"

namespace vt {

namespace {
constexpr DWORD kRecordReplySize = 8208;
constexpr uint32_t kMaxRecordSize = 8192;
// The MFT bitmap of the largest volume this engine handles is far smaller.
constexpr uint64_t kMaxBitmapBytes = 512ull << 20;
constexpr uint32_t kHiddenSystemDirectory =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
// Volume handles read whole sectors; NTFS knows none larger than this.
constexpr uint32_t kMaxSectorBytes = 4096;
namespace fn = ntfs::fname;
}  // namespace

CNtfsReader::CNtfsReader(CDefrag& engine, CGrowableArray<CFileItem>& files,
                         std::unordered_map<uint32_t, CFileItem>& dirMap)
    : m_engine(engine), m_files(files), m_dirMap(dirMap) {}

bool CNtfsReader::ReadRaw(uint64_t offset, void* buffer, DWORD size) {
  // A volume handle reads whole sectors only (on a 4K-native disk, 4096
  // bytes): a read that is not is widened to the sectors around it.
  const uint64_t sector = m_nIoSector == 0 ? 1 : m_nIoSector;
  const uint64_t first = offset / sector * sector;
  const uint64_t end = (offset + size + sector - 1) / sector * sector;
  if (first == offset && end == offset + size) return ReadSectors(offset, buffer, size);
  if (end - first > 0xFFFFFFFFull) return false;
  std::vector<uint8_t> sectors(static_cast<size_t>(end - first));
  if (!ReadSectors(first, sectors.data(), static_cast<DWORD>(sectors.size()))) return false;
  std::memcpy(buffer, sectors.data() + (offset - first), size);
  return true;
}

bool CNtfsReader::ReadSectors(uint64_t offset, void* buffer, DWORD size) {
  IVolumeOps& ops = m_engine.Ops();
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  if (!ops.SetFilePointerEx(m_hVolume, to, nullptr, FILE_BEGIN)) return false;
  DWORD read = 0;
  return ops.ReadFile(m_hVolume, buffer, size, &read) && read == size;
}

bool CNtfsReader::ReadMftRecordRaw(uint32_t index, std::vector<uint8_t>* record) {
  record->assign(m_nRecordSize, 0);
  const uint64_t sector = m_nMftLcn * m_nSectorsPerCluster;
  const uint64_t offset = sector * m_nBytesPerSector + static_cast<uint64_t>(index) * m_nRecordSize;
  if (!ReadRaw(offset, record->data(), m_nRecordSize)) return false;
  ntfs::ApplyFixups(record->data(), record->size(), ntfs::FixupRule::kLenient);
  return true;
}

bool CNtfsReader::ReadNonResident(const uint8_t* record, const ntfs::CAttribute& attribute,
                                  std::vector<uint8_t>* value) {
  std::vector<ntfs::CRun>& runs = m_runs;
  runs.clear();
  size_t size = 0;
  const uint8_t* pairs = ntfs::RunListBytes(record, attribute, &size);
  if (ntfs::DecodeRunList(pairs, size, 0, &runs) != ERROR_SUCCESS) return false;
  const uint64_t bytesPerCluster = static_cast<uint64_t>(m_nSectorsPerCluster) * m_nBytesPerSector;
  if (bytesPerCluster == 0) return false;
  const uint64_t allocated = value->size();
  uint64_t vcn = 0;
  const uint64_t last = attribute.m_nLastVcn < 0 ? 0 : static_cast<uint64_t>(attribute.m_nLastVcn);
  std::vector<uint8_t>& cluster = m_cluster;
  cluster.resize(static_cast<size_t>(bytesPerCluster));
  for (const ntfs::CRun& run : runs) {
    for (uint64_t k = 0; k < run.m_nCount && vcn <= last; ++k, ++vcn) {
      const uint64_t at = vcn * bytesPerCluster;
      if (at >= allocated) return true;
      const uint64_t n = std::min<uint64_t>(bytesPerCluster, allocated - at);
      if (run.IsSparse()) continue;  // the buffer is already zero
      const uint64_t lcn = run.m_nLcn + k;
      if (!ReadRaw(lcn * bytesPerCluster, cluster.data(), static_cast<DWORD>(bytesPerCluster)))
        return false;
      std::memcpy(value->data() + at, cluster.data(), static_cast<size_t>(n));
    }
  }
  return true;
}

bool CNtfsReader::ReadValue(const uint8_t* record, size_t size, const ntfs::CAttribute& a,
                            std::vector<uint8_t>* value) {
  const uint64_t length = a.m_bNonResident ? a.m_nAllocatedSize : a.m_nValueLength;
  if (length > kMaxBitmapBytes) return false;
  try {
    value->assign(static_cast<size_t>(length), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (a.m_bNonResident) return ReadNonResident(record, a, value);
  const size_t at = a.m_nOffset + a.m_nValueOffset;
  if (!CByteView(record, size).Has(at, a.m_nValueLength)) return false;
  std::memcpy(value->data(), record + at, a.m_nValueLength);
  return true;
}

bool CNtfsReader::LoadMftBitmap(std::vector<uint8_t>* bitmap, uint64_t* records) {
  const std::vector<ntfs::CAttribute> attributes =
      ntfs::WalkAttributes(m_record0.data(), m_record0.size());
  if (const ntfs::CAttribute* attr = ntfs::FindUnnamed(attributes, ntfs::kAttrBitmap)) {
    if (!ReadValue(m_record0.data(), m_record0.size(), *attr, bitmap)) return false;
    const ntfs::CAttribute* data = ntfs::FindUnnamed(attributes, ntfs::kAttrData);
    uint64_t dataSize = 0;
    if (data) dataSize = data->m_bNonResident ? data->m_nDataSize : data->m_nValueLength;
    *records = dataSize / m_nRecordSize;
    return true;
  }
  // Not in record 0: the first of records 1 to 31 whose first attribute is a bitmap.
  std::vector<uint8_t> record;
  for (uint32_t i = 1; i < 32; ++i) {
    if (!ReadMftRecordRaw(i, &record)) continue;
    const std::vector<ntfs::CAttribute> found = ntfs::WalkAttributes(record.data(), record.size());
    if (found.empty() || found[0].m_nType != ntfs::kAttrBitmap) continue;
    if (!ReadValue(record.data(), record.size(), found[0], bitmap)) return false;
    *records = 8 * bitmap->size();
    return true;
  }
  return false;
}

bool CNtfsReader::ScanVolume(HANDLE volume) {
  CTimeIt timer("ScanVolume");
  if (volume == INVALID_HANDLE_VALUE || volume == nullptr) return false;
  m_hVolume = volume;
  // The boot sector is read as one sector of the volume's own size; where
  // the volume does not tell it, as the largest sector NTFS knows, which is
  // whole sectors of every smaller size too.
  m_nIoSector = kMaxSectorBytes;
  NTFS_VOLUME_DATA_BUFFER data = {};
  DWORD returned = 0;
  if (m_engine.Ops().DeviceIoControl(volume, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &data,
                                     sizeof(data), &returned) &&
      returned >= sizeof(data)) {
    const DWORD bps = data.BytesPerSector;
    if (bps >= ntfs::boot::kMinSectorBytes && bps <= kMaxSectorBytes && (bps & (bps - 1)) == 0)
      m_nIoSector = bps;
  }
  std::vector<uint8_t> boot(std::max<uint32_t>(m_nIoSector, ntfs::boot::kMinSectorBytes));
  if (!ReadSectors(0, boot.data(), static_cast<DWORD>(boot.size())) ||
      !ntfs::HasNtfsSignature(boot.data(), boot.size())) {
    m_engine.ShowError("Invalid signature found when reading boot block.");
    return false;
  }
  ntfs::CNtfsGeometry geometry;
  std::string reason;
  if (ntfs::ParseNtfsBootSector(boot.data(), boot.size(), &geometry, &reason) != ERROR_SUCCESS) {
    m_engine.ShowError(reason);
    return false;
  }
  m_nBytesPerSector = geometry.m_nBytesPerSector;
  m_nSectorsPerCluster = geometry.m_nSectorsPerCluster;
  m_nMftLcn = geometry.m_nMftLcn;
  m_nRecordSize = geometry.m_nRecordSize;
  // Sectors the boot sector names are at least as large as the device's.
  if (m_nBytesPerSector > m_nIoSector) m_nIoSector = m_nBytesPerSector;

  bool allocated = true;
  if (allocated) {
    try {
      m_record0.assign(m_nRecordSize, 0);
    } catch (const std::bad_alloc&) {
      allocated = false;
    }
  }
  if (!allocated) {
    m_engine.ShowError(
        Format("Memory allocation error reading NTFS Record Header. Length = %u", m_nRecordSize));
    return false;
  }
  std::vector<uint8_t> record0;
  if (!ReadMftRecordRaw(0, &record0)) {
    m_engine.ShowError("Error loading NTFS $Bitmap.");
    return false;
  }
  m_record0 = std::move(record0);

  std::vector<uint8_t> bitmap;
  uint64_t records = 0;
  if (!LoadMftBitmap(&bitmap, &records)) {
    m_engine.ShowError("Error loading NTFS $Bitmap.");
    return false;
  }
  // Only records the bitmap covers can be in use.
  if (records > static_cast<uint64_t>(bitmap.size()) * 8)
    records = static_cast<uint64_t>(bitmap.size()) * 8;
  if (records > 0xFFFFFFFFull) records = 0xFFFFFFFFull;

  CDriveData* drive = CurrentDrive() ? CurrentDrive() : m_engine.m_pDrive;
  uint64_t range = records;
  m_engine.Messages().Send(m_engine.m_hProgressWnd, UM_PROGRESS, PROGRESS_RANGE,
                           reinterpret_cast<LPARAM>(&range));
  std::string status = "Analyzing drive: " + (drive ? drive->m_strDrive : m_engine.m_strDrive);
  m_engine.Messages().Send(m_engine.m_hProgressWnd, UM_PROGRESS, PROGRESS_TEXT,
                           reinterpret_cast<LPARAM>(status.c_str()));
  const uint64_t step = records / 10 == 0 ? 1 : records / 10;

  std::vector<uint8_t> reply(kRecordReplySize);
  uint64_t checkpoints = 0;
  uint64_t position = 0;
  for (uint64_t i = 0; i < records; ++i) {
    if (!((bitmap[static_cast<size_t>(i >> 3)] >> (i & 7)) & 1)) continue;
    if (IsCancelled()) break;
    if (i % step == 0 && !IsUnattended()) {
      m_engine.Messages().Send(m_engine.m_hNotifyWnd, UM_DRIVE_UPDATE, 0, 0);
      if (checkpoints % 2 == 0) {
        position = i;
        m_engine.Messages().Send(m_engine.m_hProgressWnd, UM_PROGRESS, PROGRESS_PERCENT,
                                 reinterpret_cast<LPARAM>(&position));
      }
      ++checkpoints;
      if (m_engine.MapHost()) m_engine.MapHost()->RebuildMap(m_engine);
    }

    NTFS_FILE_RECORD_INPUT_BUFFER request = {};
    request.FileReferenceNumber.QuadPart = static_cast<LONGLONG>(i);
    DWORD returned = 0;
    if (!m_engine.Ops().DeviceIoControl(volume, FSCTL_GET_NTFS_FILE_RECORD, &request,
                                        sizeof(request), reply.data(), kRecordReplySize, &returned))
      continue;
    CByteView out(reply.data(), reply.size());
    if (ntfs::RecordNumberOf(out.U64(ntfs::reply::kReference)) != i) continue;
    const uint32_t length = out.U32(ntfs::reply::kRecordLength);
    // The record must be all there: a reply shorter than it claims leaves
    // the rest of the buffer from the record before.
    if (length > kMaxRecordSize || returned < ntfs::reply::kRecord ||
        length > returned - ntfs::reply::kRecord)
      continue;
    const uint8_t* record = reply.data() + ntfs::reply::kRecord;
    CByteView view(record, length);
    if (view.U64(ntfs::record::kBaseReference) != 0) continue;  // extension record
    if (length < view.U16(ntfs::record::kFirstAttribute) ||
        length < view.U32(ntfs::record::kBytesInUse) ||
        view.U32(ntfs::multisector::kSignature) != ntfs::kRecordSignature)
      continue;
    RecycleItem(m_item);
    ProcessRecord(static_cast<uint32_t>(i), record, length, m_item);
  }
  return true;
}

void CNtfsReader::TakeFileName(const CByteView& view, const ntfs::CAttribute& a, CFileItem& item,
                               bool* hasName, bool* nameFinal) {
  if (*nameFinal || a.m_bNonResident) return;
  const size_t v = a.m_nOffset + a.m_nValueOffset;
  if (a.m_nValueLength < fn::kName || !view.Has(v, a.m_nValueLength)) return;
  const uint8_t chars = view.U8(v + fn::kNameLength);
  if (fn::kName + chars * 2u > a.m_nValueLength) return;
  // Inside the record, as checked above.
  const uint8_t* name = view.Data() + v + fn::kName;
  // Names are ASCII as a rule, and ASCII is its own UTF-8: those go in as
  // they are; others are converted.
  uint8_t high = 0;
  for (size_t k = 0; k < chars; ++k)
    high |= static_cast<uint8_t>(name[2 * k] & 0x80) | name[2 * k + 1];
  if (high == 0) {
    item.m_strName.assign(chars, '\0');
    for (size_t k = 0; k < chars; ++k) item.m_strName[k] = static_cast<char>(name[2 * k]);
  } else {
    // A name has at most 255 units (its length is a byte).
    char16_t units[255];
    for (size_t k = 0; k < chars; ++k)
      units[k] = static_cast<char16_t>(name[2 * k] | name[2 * k + 1] << 8);
    Utf16ToSystemAnsi(units, chars, &item.m_strName);
  }
  *hasName = true;
  if (view.U32(v + fn::kFlags) & ntfs::kFileNameIsDirectory)
    item.m_wFlags |= FI_DIRECTORY;
  else
    item.m_wFlags &= static_cast<uint16_t>(~FI_DIRECTORY);
  item.m_nFolder = static_cast<int32_t>(view.U32(v + fn::kParent));
  // The third of the four times is the one shown as the last write.
  const uint64_t time = view.U64(v + fn::kChangeTime);
  item.m_ftLastWrite.dwLowDateTime = static_cast<DWORD>(time);
  item.m_ftLastWrite.dwHighDateTime = static_cast<DWORD>(time >> 32);
  if (view.U8(v + fn::kNamespace) & ntfs::kNamespaceWin32) *nameFinal = true;
}

bool CNtfsReader::NameFromAttributeList(uint32_t r, const uint8_t* record, size_t size,
                                        const ntfs::CAttribute& list, CFileItem& item) {
  if (m_hVolume == INVALID_HANDLE_VALUE || m_hVolume == nullptr) return false;
  std::vector<uint8_t>& value = m_listValue;
  if (list.m_bNonResident) {
    // Sizes past 2^63 are negative on disk, and refused with the zero one.
    const uint64_t allocated = list.m_nAllocatedSize;
    if (allocated == 0 || allocated > (1u << 20)) return false;
    value.assign(static_cast<size_t>(allocated), 0);
    if (!ReadNonResident(record, list, &value)) return false;
    if (list.m_nDataSize < value.size()) value.resize(static_cast<size_t>(list.m_nDataSize));
  } else {
    const size_t at = list.m_nOffset + list.m_nValueOffset;
    if (!CByteView(record, size).Has(at, list.m_nValueLength)) return false;
    value.assign(record + at, record + at + list.m_nValueLength);
  }

  // A list damaged part-way lends no names: which records hold them is
  // then not known.
  if (ntfs::ParseAttributeList(value.data(), value.size(), &m_listEntries) != ERROR_SUCCESS)
    return false;
  std::vector<uint32_t>& holders = m_holders;
  holders.clear();
  for (const ntfs::CListEntry& entry : m_listEntries) {
    if (entry.m_nType != ntfs::kAttrFileName) continue;
    const auto holder = static_cast<uint32_t>(ntfs::RecordNumberOf(entry.m_nReference));
    if (holder != r && std::find(holders.begin(), holders.end(), holder) == holders.end())
      holders.push_back(holder);
  }

  bool hasName = false;
  bool nameFinal = false;
  std::vector<uint8_t>& reply = m_extension;
  reply.resize(kRecordReplySize);
  for (uint32_t holder : holders) {
    NTFS_FILE_RECORD_INPUT_BUFFER request = {};
    request.FileReferenceNumber.QuadPart = holder;
    DWORD returned = 0;
    if (!m_engine.Ops().DeviceIoControl(m_hVolume, FSCTL_GET_NTFS_FILE_RECORD, &request,
                                        sizeof(request), reply.data(), kRecordReplySize, &returned))
      continue;
    CByteView out(reply.data(), reply.size());
    const uint32_t length = out.U32(ntfs::reply::kRecordLength);
    if (ntfs::RecordNumberOf(out.U64(ntfs::reply::kReference)) != holder ||
        length > kMaxRecordSize || returned < ntfs::reply::kRecord ||
        length > returned - ntfs::reply::kRecord)
      continue;
    CByteView extension(reply.data() + ntfs::reply::kRecord, length);
    // Only an extension record of this file may lend it a name.
    if (extension.U32(ntfs::multisector::kSignature) != ntfs::kRecordSignature ||
        ntfs::RecordNumberOf(extension.U64(ntfs::record::kBaseReference)) != r)
      continue;
    ntfs::CAttributeWalk walk(extension.Data(), extension.Size());
    ntfs::CAttribute a;
    while (walk.Next(&a))
      if (a.m_nType == ntfs::kAttrFileName) TakeFileName(extension, a, item, &hasName, &nameFinal);
  }
  return hasName;
}

void CNtfsReader::RecycleItem(CFileItem& item) {
  std::string name = std::move(item.m_strName);
  std::vector<CFileClusterItem> fragments = std::move(item.m_fragments.Vector());
  item = CFileItem();
  name.clear();
  fragments.clear();
  item.m_strName = std::move(name);
  item.m_fragments.Vector() = std::move(fragments);
}

void CNtfsReader::ProcessRecord(uint32_t r, const uint8_t* record, size_t size, CFileItem& item) {
  CByteView view(record, size);
  uint32_t fileAttributes = 0;
  bool hasAttributeList = false;
  bool hasName = false;
  bool nameFinal = false;
  uint64_t end = ~0ull;

  // The first unnamed attribute list, where the names may have gone.
  ntfs::CAttribute list;
  ntfs::CAttributeWalk walk(record, size);
  ntfs::CAttribute a;
  while (walk.Next(&a)) {
    switch (a.m_nType) {
      case ntfs::kAttrStandardInformation:
        if (!a.m_bNonResident && a.m_nValueLength >= ntfs::si::kAttributes + 4)
          fileAttributes = view.U32(a.m_nOffset + a.m_nValueOffset + ntfs::si::kAttributes);
        break;
      case ntfs::kAttrAttributeList:
        if (a.m_nNameLength == 0 && list.m_nType == 0) list = a;
        hasAttributeList = true;
        break;
      case ntfs::kAttrFileName:
        TakeFileName(view, a, item, &hasName, &nameFinal);
        break;
      case ntfs::kAttrData:
      case ntfs::kAttrIndexAllocation: {
        if (hasAttributeList || !a.m_bNonResident || a.m_nDataSize == 0 ||
            item.m_fragments.GetSize() != 0)
          break;
        int64_t firstVcn = static_cast<int64_t>(a.m_nFirstVcn);
        if (firstVcn > a.m_nLastVcn) firstVcn = 0;
        item.m_nSize = a.m_nDataSize;
        if (a.m_nFlags & ntfs::kAttrFlagCompressed)
          item.m_wFlags |= FI_VIRTUAL;
        else
          item.m_wFlags &= static_cast<uint16_t>(~FI_VIRTUAL);
        if (r < ntfs::kFirstMovableRecord) {
          item.m_wFlags |= FI_UNMOVABLE;
        } else if (!item.m_strName.empty() && item.m_strName[0] == '$') {
          if (r < 32 || (fileAttributes & kHiddenSystemDirectory))
            item.m_wFlags |= FI_UNMOVABLE;
          else
            item.m_wFlags &= static_cast<uint16_t>(~FI_UNMOVABLE);
        }
        // A run list that does not decode abandons the record, as does a VCN
        // outside the attribute's or beyond its runs.
        std::vector<ntfs::CRun>& runs = m_runs;
        runs.clear();
        size_t pairsSize = 0;
        const uint8_t* pairs = ntfs::RunListBytes(record, a, &pairsSize);
        if (firstVcn < 0 || ntfs::DecodeRunList(pairs, pairsSize, static_cast<uint64_t>(firstVcn),
                                                &runs) != ERROR_SUCCESS)
          return;
        if (a.m_nLastVcn < 0) return;
        uint64_t count = static_cast<uint64_t>(a.m_nLastVcn) + 1;
        int64_t vcn = firstVcn;
        // The runs follow each other from the first VCN on, so the run
        // holding each next VCN is found by walking on from the last one.
        size_t next = 0;
        while (count > 0) {
          const ntfs::CRun* run = nullptr;
          if (vcn <= a.m_nLastVcn) {
            while (next < runs.size() && runs[next].EndVcn() <= static_cast<uint64_t>(vcn)) ++next;
            if (next < runs.size() && runs[next].m_nVcn <= static_cast<uint64_t>(vcn))
              run = &runs[next];
          }
          if (!run) return;
          const uint64_t into = static_cast<uint64_t>(vcn) - run->m_nVcn;
          const uint64_t lcn = run->IsSparse() ? 0 : run->m_nLcn + into;
          const uint64_t remaining = run->m_nCount - into;
          const uint64_t l = remaining < count ? remaining : count;
          if (!run->IsSparse() && lcn != 0 && lcn != ~0ull) {
            if (item.m_fragments.GetSize() > 0 && lcn == end) {
              item.m_fragments.back().m_nClusters += static_cast<uint32_t>(l);
            } else {
              item.m_fragments.Add(CFileClusterItem(lcn, static_cast<uint32_t>(l)));
              if (item.m_nFirstLcn == 0) item.m_nFirstLcn = lcn;
            }
            end = lcn + l;
          }
          vcn += static_cast<int64_t>(l);
          count -= l;
        }
        break;
      }
      default:
        break;
    }
  }

  // A record whose names were moved out to extension records (as some
  // writers do once the record fills) would otherwise be counted but never
  // listed, and so never defragmented: its names are read from there.
  if (!hasName && list.m_nType == ntfs::kAttrAttributeList)
    hasName = NameFromAttributeList(r, record, size, list, item);

  CDriveData* drive = CurrentDrive() ? CurrentDrive() : m_engine.m_pDrive;
  if (drive) {
    if (item.m_wFlags & FI_DIRECTORY)
      drive->m_nFolders += 1;
    else
      drive->m_nFiles += 1;
  }
  if (!hasName || item.m_strName.empty()) return;
  item.m_nRecord = r;
  if (hasAttributeList) item.m_wFlags |= FI_NEEDS_EXTENTS;
  if (item.m_wFlags & FI_UNMOVABLE)
    item.m_nSize =
        static_cast<uint64_t>(item.GetClusters()) * m_nSectorsPerCluster * m_nBytesPerSector;
  if (item.m_nSize == 0 && !hasAttributeList && !(item.m_wFlags & FI_DIRECTORY)) return;
  // Copies, so that the item's storage serves the next record; a copy's
  // fragment list is as long as it needs and no longer.
  if (item.m_wFlags & FI_DIRECTORY) m_dirMap[r] = item;
  m_files.Add(item);
}

}  // namespace vt
