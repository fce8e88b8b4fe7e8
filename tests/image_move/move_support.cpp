#include "tests/image_move/move_support.h"

#include <cstring>

#include "ondisk/fat_boot.h"
#include "platform/image/fat_volume.h"

namespace vt {
namespace test {

CMovableVolume::CMovableVolume(std::vector<uint8_t> bytes, uint64_t logicalSize, bool readOnly) {
  auto memory = std::make_unique<CMemoryBlockDevice>(std::move(bytes), logicalSize, false);
  m_pMemory = memory.get();
  auto device = std::make_unique<CFaultBlockDevice>(std::move(memory), m_pPlan);
  m_dwMount = m_set.MountDevice('V', std::move(device), "memory", readOnly);
}

std::vector<uint8_t> CMovableVolume::Bytes() const { return m_pMemory->Data(); }

std::vector<std::pair<uint64_t, uint64_t>> Extents(IVolumeOps& ops, HANDLE file) {
  std::vector<std::pair<uint64_t, uint64_t>> out;
  STARTING_VCN_INPUT_BUFFER in = {};
  std::vector<uint8_t> reply(16 + 16 * 64);
  DWORD returned = 0;
  if (!ops.DeviceIoControl(file, FSCTL_GET_RETRIEVAL_POINTERS, &in, sizeof(in), reply.data(),
                           static_cast<DWORD>(reply.size()), &returned)) {
    return out;
  }
  uint32_t count = 0;
  std::memcpy(&count, reply.data(), 4);
  int64_t vcn = 0;
  std::memcpy(&vcn, reply.data() + 8, 8);
  for (uint32_t i = 0; i < count && i < 64; ++i) {
    int64_t next = 0;
    int64_t lcn = 0;
    std::memcpy(&next, reply.data() + 16 + i * 16, 8);
    std::memcpy(&lcn, reply.data() + 24 + i * 16, 8);
    out.emplace_back(static_cast<uint64_t>(lcn), static_cast<uint64_t>(next - vcn));
    vcn = next;
  }
  return out;
}

DWORD MoveFile(IVolumeOps& ops, HANDLE volume, HANDLE file, uint64_t vcn, uint64_t lcn,
               uint32_t count) {
  MOVE_FILE_DATA move = {};
  move.FileHandle = file;
  move.StartingVcn.QuadPart = static_cast<LONGLONG>(vcn);
  move.StartingLcn.QuadPart = static_cast<LONGLONG>(lcn);
  move.ClusterCount = count;
  DWORD returned = 0;
  if (ops.DeviceIoControl(volume, FSCTL_MOVE_FILE, &move, sizeof(move), nullptr, 0, &returned)) {
    return ERROR_SUCCESS;
  }
  return ops.GetLastError();
}

namespace {

struct CSurveyWalk {
  CFatVolume* fat;
  std::vector<uint8_t> owned;
  CImageSurvey* out;

  void Own(const std::vector<CFsRun>& runs, const std::string& path) {
    for (const CFsRun& run : runs) {
      for (uint64_t i = 0; i < run.m_nCount; ++i) {
        uint64_t lcn = run.m_nLcn + i;
        if (lcn >= owned.size()) {
          out->m_strProblem += path + ": cluster outside the volume\n";
        } else if (owned[lcn]++) {
          out->m_strProblem += path + ": cluster " + std::to_string(lcn + 2) + " owned twice\n";
        }
      }
    }
  }

  void Folder(const CFsNode& folder, const std::string& path, int depth) {
    CFsListing listing;
    if (depth > 16 || fat->ListFolder(folder, &listing) != ERROR_SUCCESS) {
      out->m_strProblem += path + ": folder unreadable\n";
      return;
    }
    for (const CFsNode& node : *listing) {
      if (node.m_strName == "." || node.m_strName == "..") continue;
      std::string child = path + "\\" + node.m_strName;
      std::vector<CFsRun> runs;
      if (fat->GetRuns(node, &runs) != ERROR_SUCCESS) {
        out->m_strProblem += child + ": broken chain\n";
        continue;
      }
      Own(runs, child);
      if (node.m_bDirectory) {
        Folder(node, child, depth + 1);
        continue;
      }
      const uint64_t clusterBytes = fat->BytesPerCluster();
      uint64_t have = 0;
      for (const CFsRun& run : runs) have += run.m_nCount;
      if (have != (node.m_nSize + clusterBytes - 1) / clusterBytes) {
        out->m_strProblem += child + ": " + std::to_string(have) + " clusters for " +
                             std::to_string(node.m_nSize) + " bytes\n";
        continue;
      }
      std::string data;
      for (const CFsRun& run : runs) {
        std::string piece(static_cast<size_t>(run.m_nCount * clusterBytes), '\0');
        fat->ReadRaw(fat->LcnOffset(run.m_nLcn), &piece[0], piece.size());
        data += piece;
      }
      data.resize(static_cast<size_t>(node.m_nSize));
      out->m_files[child] = data;
    }
  }
};

}  // namespace

CImageSurvey Survey(const std::vector<uint8_t>& bytes, uint64_t logicalSize) {
  CImageSurvey survey;
  std::unique_ptr<CFsVolume> volume;
  std::string message;
  if (CFatVolume::Open(std::make_unique<CMemoryBlockDevice>(bytes, logicalSize, true), &volume,
                       &message) != ERROR_SUCCESS) {
    survey.m_strProblem = "cannot open: " + message;
    return survey;
  }
  auto* fat = static_cast<CFatVolume*>(volume.get());
  CSurveyWalk walk{fat, std::vector<uint8_t>(static_cast<size_t>(fat->TotalClusters()), 0),
                   &survey};
  std::vector<CFsRun> rootRuns;
  fat->GetRuns(fat->Root(), &rootRuns);
  walk.Own(rootRuns, "");
  walk.Folder(fat->Root(), "", 0);
  for (uint64_t lcn = 0; lcn < fat->TotalClusters(); ++lcn) {
    uint32_t cluster = static_cast<uint32_t>(lcn + 2);
    if (!walk.owned[lcn] && fat->Table().Get(cluster) != 0 &&
        fat->Table().Kind(cluster) != EFatEntry::kBad) {
      ++survey.m_nLostClusters;
    }
  }
  return survey;
}

CFatRegions Regions(const std::vector<uint8_t>& bytes) {
  CFatRegions r;
  CFatLayout layout;
  std::string message;
  if (bytes.size() >= 512 &&
      ParseFatBootSector(bytes.data(), 512, &layout, &message) == ERROR_SUCCESS) {
    r.m_nFat0 = layout.FatOffset(0);
    r.m_nFat1 = layout.FatOffset(1);
    r.m_nFatBytes = layout.FatBytes();
  }
  return r;
}

std::vector<uint8_t> WithSecondFat(const std::vector<uint8_t>& bytes) {
  CFatRegions r = Regions(bytes);
  std::vector<uint8_t> out = bytes;
  if (r.m_nFatBytes && r.m_nFat1 + r.m_nFatBytes <= out.size()) {
    std::memcpy(&out[r.m_nFat0], &bytes[r.m_nFat1], r.m_nFatBytes);
  }
  return out;
}

}  // namespace test
}  // namespace vt
