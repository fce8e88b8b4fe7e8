// The NTFS side of the image backend under fuzzing. The first byte picks
// what the rest of the input is:
//   0  a volume as chunks: {u32 first sector, u16 sector count, the sectors}
//      repeated (512-byte sectors; the rest of the volume, up to the size its
//      boot sector declares, capped, reads as zeros). It is mounted and used
//      the way the engine and the NTFS reader use it: volume information and
//      data, the bitmap, file records by number, raw reads, the engine's
//      NTFS reader over the whole volume, and a walk of
//      every folder that opens each entry, asks its retrieval pointers and
//      reads it.
//   1  one file record: update sequence, header, attributes, and each
//      attribute's value or run list (which must survive encoding again).
//   2  an index: a u16 root size, a byte giving the VCN unit (2^(9 + b % 4)
//      bytes), the $INDEX_ROOT value, then the 4 KB index blocks as the
//      allocation holds them.
//   3  an LZNT1 compression unit: a u16 output size, then the chunks.
// Seeds: fuzz/corpus/ntfs_fuzz (made by fuzz/make_ntfs_seeds.sh).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/defrag.h"
#include "engine/globals.h"
#include "engine/ntfs_reader.h"
#include "ondisk/ntfs_attr.h"
#include "ondisk/ntfs_layout.h"
#include "ondisk/ntfs_record.h"
#include "ondisk/ntfs_runlist.h"
#include "platform/image/block_device.h"
#include "platform/image/fs_volume.h"
#include "platform/image/ntfs_compress.h"
#include "platform/image/ntfs_filename.h"
#include "platform/image/ntfs_index.h"
#include "platform/image/volume_set.h"
#include "platform/recording.h"

namespace {

using vt::CImageVolumeSet;
using vt::CMemoryBlockDevice;
using vt::Le16;
using vt::Le32;
namespace ntfs = vt::ntfs;

constexpr uint64_t kMaxVolumeBytes = 64ull << 20;
constexpr int kMaxEntries = 400;
constexpr int kMaxDepth = 24;
constexpr uint32_t kBlockBytes = 4096;

struct Walker {
  CImageVolumeSet& set;
  int entries = 0;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(8192);

  void Extents(HANDLE h) {
    int64_t vcn = 0;
    for (int calls = 0; calls < 64; ++calls) {
      DWORD returned = 0;
      // Two extents a call, so continuation is exercised.
      BOOL ok = set.DeviceIoControl(h, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, sizeof(vcn),
                                    buffer.data(), 48, &returned);
      if (!ok && set.GetLastError() != ERROR_MORE_DATA) return;
      DWORD count;
      std::memcpy(&count, buffer.data(), sizeof(count));
      if (count == 0 || returned < 16 + 16 * count) __builtin_trap();
      int64_t next;
      std::memcpy(&next, buffer.data() + 16 + 16 * (count - 1), sizeof(next));
      if (next <= vcn) __builtin_trap();  // replies must move forward
      vcn = next;
      if (ok) return;
    }
  }

  void Visit(const std::string& folder, int depth) {
    WIN32_FIND_DATAA data;
    HANDLE find = set.FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    std::vector<std::string> subfolders;
    do {
      std::string name = data.cFileName;
      if (name == "." || name == ".." || ++entries > kMaxEntries) continue;
      std::string path = folder + "\\" + name;
      HANDLE h =
          set.CreateFileA(path.c_str(), GENERIC_READ, 7, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
      if (h != INVALID_HANDLE_VALUE) {
        Extents(h);
        LARGE_INTEGER size;
        set.GetFileSizeEx(h, &size);
        DWORD read = 0;
        set.ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &read);
        if (read > buffer.size()) __builtin_trap();
        set.CloseHandle(h);
      }
      if (data.cAlternateFileName[0]) {
        set.GetFileAttributesA((folder + "\\" + data.cAlternateFileName).c_str());
      }
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && path.size() < 200) {
        subfolders.push_back(path);
      }
    } while (set.FindNextFileA(find, &data));
    set.FindClose(find);
    if (depth < kMaxDepth) {
      for (const std::string& sub : subfolders) Visit(sub, depth + 1);
    }
  }
};

void FuzzVolume(const uint8_t* data, size_t size) {
  std::vector<uint8_t> head;
  size_t pos = 0;
  while (size - pos >= 6) {
    const uint64_t sector = Le32(data + pos);
    const size_t count = Le16(data + pos + 4);
    pos += 6;
    const size_t bytes = std::min(count * 512, size - pos);
    const uint64_t at = sector * 512;
    if (at + bytes > kMaxVolumeBytes) break;
    if (bytes == 0) continue;
    if (head.size() < at + bytes) head.resize(static_cast<size_t>(at + bytes));
    std::memcpy(head.data() + at, data + pos, bytes);
    pos += bytes;
  }
  uint64_t logical = head.size();
  if (head.size() >= 0x30) {
    const uint64_t declared = (ntfs::Le64(head.data() + 0x28) + 1) * Le16(head.data() + 0x0B);
    if (declared > logical && declared <= kMaxVolumeBytes) logical = declared;
  }
  const std::vector<uint8_t> copy = head;
  CImageVolumeSet set;
  auto device = std::make_unique<CMemoryBlockDevice>(std::move(head), logical, true);
  if (set.MountDevice('V', std::move(device), "fuzz", true) != ERROR_SUCCESS) return;

  // The allocation check that guards the first write reaches a verdict on
  // any image, and counts no more lost clusters than the volume has.
  vt::CAllocationCheck check;
  DWORD clustersSeen = 0, ignored = 0;
  set.GetDiskFreeSpaceA("V:\\", &ignored, &ignored, &ignored, &clustersSeen);
  const bool checked = set.CheckAllocation('V', &check) == ERROR_SUCCESS;
  if (checked && check.m_nLostClusters > clustersSeen) __builtin_trap();

  // A check that takes the records an analysis was served (asked for here
  // in turn, as the reader asks) reaches the same verdict.
  {
    CImageVolumeSet along;
    if (along.MountDevice('V', std::make_unique<CMemoryBlockDevice>(copy, logical, true), "fuzz",
                          true) == ERROR_SUCCESS) {
      along.CheckAlongReads('V');
      HANDLE volume = along.CreateFileA("\\\\.\\V:", GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
      NTFS_VOLUME_DATA_BUFFER volumeData = {};
      DWORD returned = 0;
      uint64_t records = 0;
      if (along.DeviceIoControl(volume, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &volumeData,
                                sizeof(volumeData), &returned) &&
          volumeData.BytesPerFileRecordSegment != 0)
        records = static_cast<uint64_t>(volumeData.MftValidDataLength.QuadPart) /
                  volumeData.BytesPerFileRecordSegment;
      std::vector<uint8_t> reply(8208);
      for (uint64_t i = 0; i < std::min<uint64_t>(records, 4096); ++i)
        along.DeviceIoControl(volume, FSCTL_GET_NTFS_FILE_RECORD, &i, 8, reply.data(),
                              static_cast<DWORD>(reply.size()), &returned);
      along.CloseHandle(volume);
      vt::CAllocationCheck second;
      if (along.CheckAllocation('V', &second) == ERROR_SUCCESS && checked &&
          (second.m_strProblem != check.m_strProblem ||
           second.m_nLostClusters != check.m_nLostClusters))
        __builtin_trap();
    }
  }

  char label[64], fsName[64];
  DWORD serial, maxComponent, flags, spc, bps, freeClusters, total;
  set.GetVolumeInformationA("V:\\", label, sizeof(label), &serial, &maxComponent, &flags, fsName,
                            sizeof(fsName));
  set.GetDiskFreeSpaceA("V:\\", &spc, &bps, &freeClusters, &total);
  HANDLE volume = set.CreateFileA("\\\\.\\V:", GENERIC_READ, 3, OPEN_EXISTING, 0);
  if (volume != INVALID_HANDLE_VALUE) {
    std::vector<uint8_t> reply(16 + 8192);
    DWORD returned = 0;
    NTFS_VOLUME_DATA_BUFFER info;
    set.DeviceIoControl(volume, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &info, sizeof(info),
                        &returned);
    for (int64_t start : {int64_t(0), int64_t(13), int64_t(total) - 1, int64_t(total)}) {
      set.DeviceIoControl(volume, FSCTL_GET_VOLUME_BITMAP, &start, 8, reply.data(), 24, &returned);
      set.DeviceIoControl(volume, FSCTL_GET_VOLUME_BITMAP, &start, 8, reply.data(),
                          static_cast<DWORD>(reply.size()), &returned);
      if (returned > reply.size()) __builtin_trap();
    }
    // The reader's pass: every record by number until the MFT ends.
    for (uint64_t n = 0; n < 4096; ++n) {
      uint64_t reference = n | (0xABCDull << 48);
      if (!set.DeviceIoControl(volume, FSCTL_GET_NTFS_FILE_RECORD, &reference, 8, reply.data(),
                               static_cast<DWORD>(reply.size()), &returned)) {
        if (set.GetLastError() == ERROR_INVALID_PARAMETER) break;
        continue;
      }
      uint64_t number;
      std::memcpy(&number, reply.data(), 8);
      if (number > n || returned > reply.size()) __builtin_trap();
    }
    LARGE_INTEGER to;
    to.QuadPart = 0;
    set.SetFilePointerEx(volume, to, nullptr, FILE_BEGIN);
    DWORD read = 0;
    set.ReadFile(volume, reply.data(), 4096, &read);
    // The engine's reader over the same volume: its boot sector in the
    // volume's sector size, the MFT's bitmap, every record and the
    // attribute lists that lend names.
    static vt::CRecordingSink sink;
    static vt::CScriptedPrompt prompt;
    vt::CDriveData drive;
    vt::CEngineServices services;
    services.volume = &set;
    services.system = &vt::HostSystem();
    services.messages = &sink;
    services.prompt = &prompt;
    vt::SetCurrentDrive(&drive);
    vt::SetUnattended(true);
    {
      vt::CDefrag engine(services);
      engine.m_bNtfs = true;
      engine.m_strDrive = "V:\\";
      vt::CNtfsReader reader(engine, engine.m_files, engine.m_dirMap);
      reader.ScanVolume(volume);
      for (const auto& f : engine.m_files) (void)engine.GetItemPath(f);
    }
    vt::SetCurrentDrive(nullptr);
    set.CloseHandle(volume);
  }
  Walker walker{set};
  walker.Visit("V:", 0);
}

void FuzzRecord(const uint8_t* data, size_t size) {
  size = std::min<size_t>(size, 4096) / 512 * 512;
  if (size == 0) return;
  std::vector<uint8_t> record(data, data + size);
  if (ntfs::ApplyFixups(record.data(), record.size()) != ERROR_SUCCESS) return;
  ntfs::CRecordHeader header;
  if (ntfs::ParseRecordHeader(record.data(), record.size(), &header) != ERROR_SUCCESS) return;
  std::vector<ntfs::CAttribute> attributes;
  if (ntfs::ParseAttributes(record.data(), record.size(), header, &attributes) != ERROR_SUCCESS) {
    return;
  }
  for (const ntfs::CAttribute& a : attributes) {
    if (a.m_bNonResident) {
      size_t length = 0;
      const uint8_t* pairs = ntfs::RunListBytes(record.data(), a, &length);
      std::vector<ntfs::CRun> runs;
      if (ntfs::DecodeRunList(pairs, length, a.m_nFirstVcn, &runs) != ERROR_SUCCESS) continue;
      std::vector<uint8_t> encoded;
      std::vector<ntfs::CRun> again;
      if (!runs.empty()) {
        if (ntfs::EncodeRunList(runs, &encoded) != ERROR_SUCCESS) __builtin_trap();
        if (ntfs::DecodeRunList(encoded.data(), encoded.size(), runs[0].m_nVcn, &again) !=
                ERROR_SUCCESS ||
            !(again == runs)) {
          __builtin_trap();
        }
      }
      ntfs::MergeRuns(&runs);
      continue;
    }
    const uint8_t* value = ntfs::ResidentValue(record.data(), a);
    ntfs::CFileName name;
    ntfs::CStandardInformation info;
    std::vector<ntfs::CListEntry> entries;
    ntfs::CIndexRoot root;
    switch (a.m_nType) {
      case ntfs::kAttrFileName:
        ntfs::ParseFileName(value, a.m_nValueLength, &name);
        break;
      case ntfs::kAttrStandardInformation:
        ntfs::ParseStandardInformation(value, a.m_nValueLength, &info);
        break;
      case ntfs::kAttrAttributeList:
        ntfs::ParseAttributeList(value, a.m_nValueLength, &entries);
        break;
      case ntfs::kAttrIndexRoot:
        ntfs::ParseIndexRoot(value, a.m_nValueLength, &root);
        break;
      default:
        break;
    }
  }
}

void FuzzIndex(const uint8_t* data, size_t size) {
  if (size < 3) return;
  const size_t rootSize = std::min<size_t>(Le16(data), size - 3);
  const uint64_t unit = 512ull << (data[2] % 4);
  const uint8_t* root = data + 3;
  const uint8_t* blocks = root + rootSize;
  const size_t allocation = size - 3 - rootSize;
  auto reader = [&](uint64_t vcn, std::vector<uint8_t>* block) -> DWORD {
    if (vcn > allocation / unit || vcn * unit + kBlockBytes > allocation) {
      return ERROR_FILE_CORRUPT;
    }
    block->assign(blocks + vcn * unit, blocks + vcn * unit + kBlockBytes);
    return ERROR_SUCCESS;
  };
  int seen = 0;
  auto visit = [&](const ntfs::CIndexEntry& e) {
    ntfs::CFileName name;
    ntfs::ParseFileName(e.m_pKey, e.m_nKeyLength, &name);
    return ++seen < 100000;
  };
  ntfs::WalkIndex(root, rootSize, kBlockBytes, reader, visit);
}

void FuzzLznt1(const uint8_t* data, size_t size) {
  if (size < 2) return;
  std::vector<uint8_t> out(std::min<size_t>(Le16(data), 65536));
  ntfs::DecompressLznt1(data + 2, size - 2, out.data(), out.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  switch (data[0] % 4) {
    case 0:
      FuzzVolume(data + 1, size - 1);
      break;
    case 1:
      FuzzRecord(data + 1, size - 1);
      break;
    case 2:
      FuzzIndex(data + 1, size - 1);
      break;
    default:
      FuzzLznt1(data + 1, size - 1);
      break;
  }
  return 0;
}
