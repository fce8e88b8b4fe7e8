#include "engine/ntfs_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/globals.h"
#include "engine/text.h"
#include "platform/text_convert.h"

namespace vt {

namespace {
constexpr DWORD kRecordReplySize = 8208;
constexpr uint32_t kMaxRecordSize = 8192;
// The MFT bitmap of the largest volume this engine handles is far smaller.
constexpr uint64_t kMaxBitmapBytes = 512ull << 20;
constexpr uint32_t kFileNameIsDirectory = 0x10000000;
constexpr uint32_t kHiddenSystemDirectory = 0x02 | 0x04 | 0x10;
}  // namespace

CNtfsReader::CNtfsReader(CDefrag& engine, CGrowableArray<CFileItem>& files,
                         std::unordered_map<uint32_t, CFileItem>& dirMap)
    : m_engine(engine), m_files(files), m_dirMap(dirMap) {}

bool CNtfsReader::ReadRaw(uint64_t offset, void* buffer, DWORD size) {
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
  ApplyFixups(record->data(), record->size());
  return true;
}

bool CNtfsReader::ReadNonResident(const CByteView& record, const CNtfsAttribute& attribute,
                                  std::vector<uint8_t>* value) {
  std::vector<CNtfsRun> runs;
  if (!DecodeRunList(record, attribute.offset + attribute.runsOffset, &runs)) return false;
  const uint64_t bytesPerCluster = static_cast<uint64_t>(m_nSectorsPerCluster) * m_nBytesPerSector;
  if (bytesPerCluster == 0) return false;
  const uint64_t allocated = value->size();
  uint64_t vcn = 0;
  const uint64_t last = attribute.lastVcn < 0 ? 0 : static_cast<uint64_t>(attribute.lastVcn);
  std::vector<uint8_t> cluster(static_cast<size_t>(bytesPerCluster));
  for (const CNtfsRun& run : runs) {
    for (uint64_t k = 0; k < run.length && vcn <= last; ++k, ++vcn) {
      const uint64_t at = vcn * bytesPerCluster;
      if (at >= allocated) return true;
      const uint64_t n = std::min<uint64_t>(bytesPerCluster, allocated - at);
      if (run.sparse) continue;  // the buffer is already zero
      const uint64_t lcn = static_cast<uint64_t>(run.lcn) + k;
      if (!ReadRaw(lcn * bytesPerCluster, cluster.data(), static_cast<DWORD>(bytesPerCluster)))
        return false;
      std::memcpy(value->data() + at, cluster.data(), static_cast<size_t>(n));
    }
  }
  return true;
}

bool CNtfsReader::LoadMftBitmap(std::vector<uint8_t>* bitmap, uint64_t* records) {
  CByteView record0(m_record0.data(), m_record0.size());
  CNtfsAttribute attr;
  if (FindAttribute(record0, kNtfsAttrBitmap, nullptr, &attr)) {
    uint64_t size = attr.nonResident ? static_cast<uint64_t>(attr.allocatedSize) : attr.valueLength;
    if (size > kMaxBitmapBytes) return false;
    try {
      bitmap->assign(static_cast<size_t>(size), 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (attr.nonResident) {
      if (!ReadNonResident(record0, attr, bitmap)) return false;
    } else {
      const size_t at = attr.offset + attr.valueOffset;
      if (!record0.Has(at, attr.valueLength)) return false;
      std::memcpy(bitmap->data(), m_record0.data() + at, attr.valueLength);
    }
    CNtfsAttribute data;
    uint64_t dataSize = 0;
    if (FindAttribute(record0, kNtfsAttrData, nullptr, &data))
      dataSize = data.nonResident ? static_cast<uint64_t>(data.realSize) : data.valueLength;
    *records = dataSize / m_nRecordSize;
    return true;
  }
  // Not in record 0: the first of records 1 to 31 whose first attribute is a bitmap.
  std::vector<uint8_t> record;
  for (uint32_t i = 1; i < 32; ++i) {
    if (!ReadMftRecordRaw(i, &record)) continue;
    CByteView view(record.data(), record.size());
    std::vector<CNtfsAttribute> attributes = ListAttributes(view);
    if (attributes.empty() || attributes[0].type != kNtfsAttrBitmap) continue;
    const CNtfsAttribute& a = attributes[0];
    uint64_t size = a.nonResident ? static_cast<uint64_t>(a.allocatedSize) : a.valueLength;
    if (size > kMaxBitmapBytes) return false;
    bitmap->assign(static_cast<size_t>(size), 0);
    if (a.nonResident) {
      if (!ReadNonResident(view, a, bitmap)) return false;
    } else {
      const size_t at = a.offset + a.valueOffset;
      if (!view.Has(at, a.valueLength)) return false;
      std::memcpy(bitmap->data(), record.data() + at, a.valueLength);
    }
    *records = 8 * size;
    return true;
  }
  return false;
}

bool CNtfsReader::ScanVolume(HANDLE volume) {
  CTimeIt timer("ScanVolume");
  if (volume == INVALID_HANDLE_VALUE || volume == nullptr) return false;
  m_hVolume = volume;
  if (!ReadRaw(0, m_boot, sizeof(m_boot)) || std::memcmp(m_boot + 3, "NTFS", 4) != 0) {
    m_engine.ShowError("Invalid signature found when reading boot block.");
    return false;
  }
  CByteView boot(m_boot, sizeof(m_boot));
  m_nBytesPerSector = boot.U16(0x0B);
  m_nSectorsPerCluster = boot.U8(0x0D);
  m_nMftLcn = boot.U64(0x30);
  m_nRecordSize = NtfsRecordSize(boot.U8(0x40), m_nSectorsPerCluster, m_nBytesPerSector);

  bool allocated = m_nRecordSize >= 256 && m_nRecordSize <= (1u << 16) && m_nBytesPerSector != 0;
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
  if (records > static_cast<uint64_t>(bitmap.size()) * 8) records = static_cast<uint64_t>(bitmap.size()) * 8;
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
      m_engine.Messages().Send(m_engine.m_hNotifyWnd, WM_APP, 0, 0);
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
    if ((out.U64(0) & 0xFFFFFFFFFFFFull) != i) continue;
    const uint32_t length = out.U32(8);
    if (length > kMaxRecordSize || length > kRecordReplySize - 12) continue;
    const uint8_t* record = reply.data() + 12;
    CByteView view(record, length);
    if (view.U64(0x20) != 0) continue;  // extension record
    if (length < view.U16(0x14) || length < view.U32(0x18) ||
        view.U32(0) != kNtfsRecordSignature)
      continue;
    CFileItem item;
    ProcessRecord(static_cast<uint32_t>(i), record, length, item);
  }
  return true;
}

void CNtfsReader::TakeFileName(const CByteView& view, const CNtfsAttribute& a, CFileItem& item,
                               bool* hasName, bool* nameFinal) {
  if (*nameFinal || a.nonResident) return;
  const size_t v = a.offset + a.valueOffset;
  if (a.valueLength < 0x42 || !view.Has(v, a.valueLength)) return;
  const uint8_t chars = view.U8(v + 0x40);
  if (0x42u + chars * 2u > a.valueLength) return;
  std::u16string name;
  for (size_t k = 0; k < chars; ++k) name += static_cast<char16_t>(view.U16(v + 0x42 + 2 * k));
  item.m_strName = Utf16ToSystemAnsi(name);
  *hasName = true;
  if (view.U32(v + 0x38) & kFileNameIsDirectory)
    item.m_wFlags |= FI_DIRECTORY;
  else
    item.m_wFlags &= static_cast<uint16_t>(~FI_DIRECTORY);
  item.m_nFolder = static_cast<int32_t>(view.U32(v));
  const uint64_t time = view.U64(v + 0x18);
  item.m_ftLastWrite.dwLowDateTime = static_cast<DWORD>(time);
  item.m_ftLastWrite.dwHighDateTime = static_cast<DWORD>(time >> 32);
  if (view.U8(v + 0x41) & 1) *nameFinal = true;
}

bool CNtfsReader::NameFromAttributeList(uint32_t r, const CByteView& record, CFileItem& item) {
  if (m_hVolume == INVALID_HANDLE_VALUE || m_hVolume == nullptr) return false;
  CNtfsAttribute list;
  if (!FindAttribute(record, kNtfsAttrAttributeList, nullptr, &list)) return false;
  std::vector<uint8_t> value;
  if (list.nonResident) {
    const uint64_t size = static_cast<uint64_t>(list.allocatedSize);
    if (list.allocatedSize <= 0 || size > (1u << 20)) return false;
    value.assign(static_cast<size_t>(size), 0);
    if (!ReadNonResident(record, list, &value)) return false;
    if (list.realSize >= 0 && static_cast<uint64_t>(list.realSize) < value.size())
      value.resize(static_cast<size_t>(list.realSize));
  } else {
    const size_t at = list.offset + list.valueOffset;
    if (!record.Has(at, list.valueLength)) return false;
    value.assign(record.Data() + at, record.Data() + at + list.valueLength);
  }

  // Entries: type (4), length (2), name length (1), name offset (1), first
  // VCN (8), file reference (8), attribute id (2).
  std::vector<uint32_t> holders;
  CByteView entries(value.data(), value.size());
  for (size_t at = 0; entries.Has(at, 0x1A);) {
    const uint32_t type = entries.U32(at);
    const uint16_t length = entries.U16(at + 4);
    if (length < 0x1A) break;
    if (type == kNtfsAttrFileName) {
      const uint32_t holder = static_cast<uint32_t>(entries.U64(at + 0x10) & 0xFFFFFFFFFFFFull);
      if (holder != r && std::find(holders.begin(), holders.end(), holder) == holders.end())
        holders.push_back(holder);
    }
    at += length;
  }

  bool hasName = false;
  bool nameFinal = false;
  std::vector<uint8_t> reply(kRecordReplySize);
  for (uint32_t holder : holders) {
    NTFS_FILE_RECORD_INPUT_BUFFER request = {};
    request.FileReferenceNumber.QuadPart = holder;
    DWORD returned = 0;
    if (!m_engine.Ops().DeviceIoControl(m_hVolume, FSCTL_GET_NTFS_FILE_RECORD, &request,
                                        sizeof(request), reply.data(), kRecordReplySize, &returned))
      continue;
    CByteView out(reply.data(), reply.size());
    const uint32_t length = out.U32(8);
    if ((out.U64(0) & 0xFFFFFFFFFFFFull) != holder || length > kMaxRecordSize) continue;
    CByteView extension(reply.data() + 12, length);
    // Only an extension record of this file may lend it a name.
    if (extension.U32(0) != kNtfsRecordSignature ||
        (extension.U64(0x20) & 0xFFFFFFFFFFFFull) != r)
      continue;
    for (const CNtfsAttribute& a : ListAttributes(extension))
      if (a.type == kNtfsAttrFileName) TakeFileName(extension, a, item, &hasName, &nameFinal);
  }
  return hasName;
}

void CNtfsReader::ProcessRecord(uint32_t r, const uint8_t* record, size_t size, CFileItem& item) {
  CByteView view(record, size);
  uint32_t fileAttributes = 0;
  bool hasAttributeList = false;
  bool hasName = false;
  bool nameFinal = false;
  uint64_t end = ~0ull;

  for (const CNtfsAttribute& a : ListAttributes(view)) {
    switch (a.type) {
      case kNtfsAttrStandardInformation:
        if (!a.nonResident && a.valueLength >= 0x24)
          fileAttributes = view.U32(a.offset + a.valueOffset + 0x20);
        break;
      case kNtfsAttrAttributeList:
        hasAttributeList = true;
        break;
      case kNtfsAttrFileName:
        TakeFileName(view, a, item, &hasName, &nameFinal);
        break;
      case kNtfsAttrData:
      case kNtfsAttrIndexAllocation: {
        if (hasAttributeList || !a.nonResident || a.realSize == 0 ||
            item.m_fragments.GetSize() != 0)
          break;
        int64_t firstVcn = a.firstVcn;
        if (firstVcn > a.lastVcn) firstVcn = 0;
        item.m_nSize = static_cast<uint64_t>(a.realSize);
        if (a.Compressed())
          item.m_wFlags |= FI_VIRTUAL;
        else
          item.m_wFlags &= static_cast<uint16_t>(~FI_VIRTUAL);
        if (!item.m_strName.empty() && item.m_strName[0] == '$') {
          if (r < 32 || (fileAttributes & kHiddenSystemDirectory))
            item.m_wFlags |= FI_UNMOVABLE;
          else
            item.m_wFlags &= static_cast<uint16_t>(~FI_UNMOVABLE);
        }
        std::vector<CNtfsRun> runs;
        if (!DecodeRunList(view, a.offset + a.runsOffset, &runs)) return;  // abandoned
        if (a.lastVcn < 0) return;
        uint64_t count = static_cast<uint64_t>(a.lastVcn) + 1;
        int64_t vcn = firstVcn;
        while (count > 0) {
          uint64_t lcn = 0;
          uint64_t remaining = 0;
          bool sparse = false;
          if (!LookupRun(runs, firstVcn, a.lastVcn, vcn, &lcn, &remaining, &sparse)) return;
          const uint64_t l = remaining < count ? remaining : count;
          if (!sparse && lcn != 0 && lcn != ~0ull) {
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
  if (!hasName && hasAttributeList) hasName = NameFromAttributeList(r, view, item);

  CDriveData* drive = CurrentDrive() ? CurrentDrive() : m_engine.m_pDrive;
  if (drive) {
    if (item.m_wFlags & FI_DIRECTORY)
      drive->m_nFolders += 1;
    else
      drive->m_nFiles += 1;
  }
  if (!hasName || item.m_strName.empty()) return;
  item.m_nRecord = r;
  if (hasAttributeList)
    item.m_wFlags |= FI_NEEDS_EXTENTS;
  if (item.m_wFlags & FI_UNMOVABLE)
    item.m_nSize = static_cast<uint64_t>(item.GetClusters()) * m_nSectorsPerCluster * m_nBytesPerSector;
  if (item.m_nSize == 0 && !hasAttributeList && !(item.m_wFlags & FI_DIRECTORY)) return;
  item.m_fragments.FreeExtra();
  if (item.m_wFlags & FI_DIRECTORY) m_dirMap[r] = item;
  m_files.Add(std::move(item));
}

}  // namespace vt
