// Cluster map figures: a rebuild of a large volume, painting a full window
// in the compressed view, and the overview strip of a very large volume.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/records.h"
#include "map/cluster_map.h"
#include "map/map_geometry.h"
#include "map/map_painter.h"
#include "map/overview.h"

namespace vt {
namespace {

constexpr uint64_t kClusters = 10000000;
constexpr int kFiles = 200000;

// 200,000 files of 20-cluster fragments, a third of them in 2 to 5 pieces
// spread over the volume, with small free gaps between files.
struct CVolumeLists {
  CGrowableArray<CClusterItem> freeRuns;
  CGrowableArray<CFileItem> files;
  CVolumeLists() {
    files.SetGrowBy(32768);
    uint64_t lcn = 0;
    uint64_t far = kClusters / 2;
    for (int i = 0; i < kFiles; ++i) {
      CFileItem f;
      f.m_fragments.Add(CFileClusterItem(lcn, 20));
      lcn += 20;
      if (i % 3 == 0) {
        for (int k = 0; k < 1 + i % 4; ++k) {
          f.m_fragments.Add(CFileClusterItem(far, 20));
          far += 23;
        }
      }
      if (i % 50 == 0) f.m_wFlags = FI_UNMOVABLE;
      files.Add(std::move(f));
      CClusterItem gap;
      gap.m_nLcn = lcn;
      gap.m_nClusters = 3;
      freeRuns.Add(gap);
      lcn += 3;
    }
    CClusterItem tail;
    tail.m_nLcn = far;
    tail.m_nClusters = static_cast<uint32_t>(kClusters - far);
    freeRuns.Add(tail);
  }
};

const CVolumeLists& Lists() {
  static CVolumeLists lists;
  return lists;
}

void BM_InitGrid_10M_Clusters_200k_Files(benchmark::State& state) {
  const CVolumeLists& lists = Lists();
  ClusterMap map;
  for (auto _ : state) {
    map.InitGrid(lists.freeRuns, lists.files, kClusters);
    benchmark::DoNotOptimize(map.Length());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kClusters));
}
BENCHMARK(BM_InitGrid_10M_Clusters_200k_Files)->Unit(benchmark::kMillisecond);

void BM_ExtractMapRuns_10M_Clusters(benchmark::State& state) {
  const CVolumeLists& lists = Lists();
  ClusterMap map;
  CGrowableArray<CClusterItem> mapRuns;
  for (auto _ : state) {
    state.PauseTiming();
    map.InitGrid(lists.freeRuns, lists.files, kClusters);
    state.ResumeTiming();
    map.ExtractMapRuns(mapRuns);
    benchmark::DoNotOptimize(mapRuns.GetSize());
  }
}
BENCHMARK(BM_ExtractMapRuns_10M_Clusters)->Unit(benchmark::kMillisecond);

// One paint of the compressed view: every block of the window classified
// by sampling and gathered into runs. Arguments: width, height, block size.
void BM_CompressedWindow_10M_Clusters(benchmark::State& state) {
  const CVolumeLists& lists = Lists();
  ClusterMap map;
  map.InitGrid(lists.freeRuns, lists.files, kClusters);
  CMapSnapshot snap = map.Snapshot();
  const CMapGeometry g(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                       static_cast<int>(state.range(2)), true, snap->Length());
  size_t runs = 0;
  for (auto _ : state) {
    runs = MapBlockRuns(snap.get(), g, 0).size();
    benchmark::DoNotOptimize(runs);
  }
  state.counters["blocks"] = static_cast<double>(g.BlocksPerRow()) * g.VisibleRows();
  state.counters["clusters_per_block"] = static_cast<double>(g.ClustersPerBlock());
  state.counters["runs"] = static_cast<double>(runs);
}
BENCHMARK(BM_CompressedWindow_10M_Clusters)
    ->Args({705, 400, 10})
    ->Args({705, 400, 7})
    ->Args({1600, 900, 3})
    ->Args({1600, 900, 1})
    ->Unit(benchmark::kMicrosecond);

// The overview strip of 200,000,000 clusters. Argument: strip width.
void BM_OverviewSampling_200M_Clusters(benchmark::State& state) {
  constexpr uint64_t n = 200000001;
  static std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> v(n, CMS_FREE);
    for (uint64_t i = 0; i < n; i += 7) v[i] = static_cast<uint8_t>(i % 3);
    return v;
  }();
  const int width = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::vector<CRgb> row = SampleOverview(bytes.data(), n, width);
    benchmark::DoNotOptimize(row.data());
  }
  state.counters["samples_per_column"] =
      static_cast<double>(OverviewSampling(n, width).m_nSamplesPerColumn);
}
BENCHMARK(BM_OverviewSampling_200M_Clusters)->Arg(500)->Arg(1600)->Unit(benchmark::kMicrosecond);

// For comparison: the overview strip of the 10,000,000-cluster map, which
// reads about 1000 samples per column.
void BM_OverviewSampling_10M_Clusters(benchmark::State& state) {
  const CVolumeLists& lists = Lists();
  ClusterMap map;
  map.InitGrid(lists.freeRuns, lists.files, kClusters);
  CMapSnapshot snap = map.Snapshot();
  for (auto _ : state) {
    std::vector<CRgb> row = SampleOverview(snap.get(), static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(row.data());
  }
}
BENCHMARK(BM_OverviewSampling_10M_Clusters)->Arg(500)->Arg(1600)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vt

BENCHMARK_MAIN();
