// Shared pieces of the move tests: mounting an image behind a fault plan,
// issuing FSCTL_MOVE_FILE as the engine does, and an independent look at a
// volume image (every file's bytes, clusters owned twice, lost clusters).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/image/volume_set.h"
#include "tests/image_move/fault_device.h"

namespace vt {
namespace test {

// A volume set with drive V: on `bytes` (kept in memory) behind a fault plan.
struct CMovableVolume {
  CMovableVolume(std::vector<uint8_t> bytes, uint64_t logicalSize, bool readOnly = false);
  // The image as it now stands.
  std::vector<uint8_t> Bytes() const;

  CImageVolumeSet m_set;
  std::shared_ptr<CFaultPlan> m_pPlan = std::make_shared<CFaultPlan>();
  const CMemoryBlockDevice* m_pMemory = nullptr;
  DWORD m_dwMount = ERROR_SUCCESS;
};

// The extents of an open file, as (LCN, count) pairs in file order.
std::vector<std::pair<uint64_t, uint64_t>> Extents(IVolumeOps& ops, HANDLE file);

// FSCTL_MOVE_FILE on the volume handle; ERROR_SUCCESS or the last error.
DWORD MoveFile(IVolumeOps& ops, HANDLE volume, HANDLE file, uint64_t vcn, uint64_t lcn,
               uint32_t count);

// What an image holds, read with the image reader itself but checked
// without trusting the move code: every file's bytes by path, and what is
// wrong with the allocation ("" when nothing).
struct CImageSurvey {
  std::map<std::string, std::string> m_files;
  uint64_t m_nLostClusters = 0;  // in use but owned by nothing
  std::string m_strProblem;
};
CImageSurvey Survey(const std::vector<uint8_t>& bytes, uint64_t logicalSize);

// The image with its second FAT copied over the first: what a checker that
// trusted the second copy would see.
std::vector<uint8_t> WithSecondFat(const std::vector<uint8_t>& bytes);

// Byte ranges of the image: both FAT copies, and the boot sector flags.
struct CFatRegions {
  uint64_t m_nFat0 = 0;
  uint64_t m_nFat1 = 0;
  uint64_t m_nFatBytes = 0;
};
CFatRegions Regions(const std::vector<uint8_t>& bytes);

}  // namespace test
}  // namespace vt
