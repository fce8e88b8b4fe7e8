// Shared pieces of the NTFS move tests: the images made by mkntfs and
// ntfs-3g with their manifests, a volume set over an image in memory behind
// a fault plan, and the NTFS tools' view of an image written back to a file
// (what a read-only ntfs-3g mount reads, what ntfsfix -n says, ntfsinfo's
// runs).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/image/volume_set.h"
#include "tests/image_move/fault_device.h"

namespace vt {
namespace test {

struct CNtfsManifest {
  std::map<std::string, std::string> m_sha;  // path ("/"-separated) -> SHA-256
  std::map<std::string, std::string> m_kind;
  std::map<std::string, std::vector<std::vector<int64_t>>> m_runs;  // {vcn, lcn, count}
  std::map<std::string, int> m_attrList;
};

// The folder holding ntfs-main.img and ntfs-frag.img with their manifests,
// made when needed; empty with a reason when there are none.
std::string NtfsImageDir(std::string* why);
bool LoadNtfsManifest(const std::string& path, CNtfsManifest* manifest);
// Whether the NTFS tools can be run here (root, ntfs-3g, ntfsfix, ntfsinfo).
bool NtfsToolsUsable(std::string* why);

std::vector<uint8_t> ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Every file's SHA-256 as a read-only ntfs-3g mount reads it; false when
// the mount fails (the reason in `why`).
bool MountedChecksums(const std::string& image, std::map<std::string, std::string>* sha,
                      std::string* why);
// ntfsfix -n's exit status and output.
int NtfsfixCheck(const std::string& image, std::string* output);
// The unnamed data runs of a file as ntfsinfo -v -F shows them
// ({vcn, lcn or -1, count}, all segments, VCN order).
std::vector<std::vector<int64_t>> NtfsinfoRuns(const std::string& image, const std::string& path);

// A volume set with drive V: on an image held in memory behind a fault plan.
struct CNtfsMovable {
  explicit CNtfsMovable(std::vector<uint8_t> bytes, bool readOnly = false);
  const std::vector<uint8_t>& Bytes() const { return m_pMemory->Data(); }
  HANDLE OpenVolume();
  HANDLE OpenFile(const std::string& path);  // "/"-separated, UTF-8

  CImageVolumeSet m_set;
  std::shared_ptr<CFaultPlan> m_pPlan = std::make_shared<CFaultPlan>();
  const CMemoryBlockDevice* m_pMemory = nullptr;
  DWORD m_dwMount = ERROR_SUCCESS;
};

// The extents of an open file as {vcn, lcn, count}; sparse extents have lcn -1.
std::vector<std::vector<int64_t>> FileExtents(IVolumeOps& ops, HANDLE file);
// FSCTL_MOVE_FILE on the volume handle; ERROR_SUCCESS or the last error.
DWORD MoveClusters(IVolumeOps& ops, HANDLE volume, HANDLE file, uint64_t vcn, uint64_t lcn,
                   uint32_t count);
// The first run of `count` free clusters at or after `from` in the volume
// bitmap; -1 when there is none.
int64_t FindFreeRun(IVolumeOps& ops, HANDLE volume, uint64_t count, uint64_t from = 0);
// Whether a cluster is in use in the volume bitmap.
bool ClusterUsed(IVolumeOps& ops, HANDLE volume, uint64_t lcn);

}  // namespace test
}  // namespace vt
