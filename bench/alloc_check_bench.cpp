// The allocation check that runs before the first write to an image, on the
// image named by VT_CHECK_IMAGE (bench/alloc_check.sh makes the images).
// Each iteration mounts the image afresh, for reading, and checks it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/image/fs_volume.h"
#include "platform/image/volume_set.h"

namespace {

void BM_AllocationCheck(benchmark::State& state, const std::string& image) {
  uint64_t lost = 0;
  for (auto _ : state) {
    vt::CImageVolumeSet set;
    std::string message;
    if (set.MountForReading('V', image, &message) != ERROR_SUCCESS) {
      state.SkipWithError(message.c_str());
      return;
    }
    vt::CAllocationCheck check;
    if (set.CheckAllocation('V', &check) != ERROR_SUCCESS || !check.IsConsistent()) {
      state.SkipWithError(("not consistent: " + check.m_strProblem).c_str());
      return;
    }
    lost = check.m_nLostClusters;
  }
  state.counters["lost_clusters"] = static_cast<double>(lost);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const char* image = std::getenv("VT_CHECK_IMAGE");
  if (!image || !*image) {
    std::fprintf(stderr, "set VT_CHECK_IMAGE to a FAT or NTFS image\n");
    return 2;
  }
  benchmark::RegisterBenchmark("AllocationCheck", BM_AllocationCheck, std::string(image))
      ->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
