// The map window's paint: a full 1280 x 800 window of blocks over a volume
// of 2,000,000 clusters, in the compressed and uncompressed views at block
// sizes 1 and 10, drawn into the back buffer as the window draws it (the
// copy to the screen is one block transfer and not counted). A frame at
// 60 Hz has 16 ms.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "engine/records.h"
#include "map/block_painter.h"
#include "map/cluster_map.h"

namespace vt {
namespace {

constexpr uint64_t kClusters = 2000000;

// Files of 1 to 64 clusters in 1 to 16 pieces, free gaps between them and
// a little system space: runs change every few clusters, the hard case for
// drawing by runs.
const ClusterMap& Map() {
  static ClusterMap map;
  static bool built = false;
  if (!built) {
    std::mt19937 rng(42);
    CGrowableArray<CClusterItem> free;
    CGrowableArray<CFileItem> files;
    files.SetGrowBy(65536);
    uint64_t c = 0;
    while (c < kClusters) {
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(1 + rng() % 64, kClusters - c));
      const unsigned kind = rng() % 10;
      if (kind < 3) {
        CClusterItem run;
        run.m_nLcn = c;
        run.m_nClusters = n;
        free.Add(run);
      } else if (kind < 9) {
        CFileItem f;
        const uint32_t pieces = 1 + rng() % 16;
        for (uint32_t i = 0; i < pieces; ++i) f.m_fragments.Add(CFileClusterItem(c, n));
        if (rng() % 40 == 0) f.m_wFlags = FI_UNMOVABLE;
        files.Add(std::move(f));
      }
      c += n;
    }
    map.InitGrid(free, files, kClusters);
    built = true;
  }
  return map;
}

// Arguments: compressed (1) or not (0), block size.
void BM_PaintWindow_1280x800_2M_Clusters(benchmark::State& state) {
  const CMapSnapshot snap = Map().Snapshot();
  const bool compressed = state.range(0) != 0;
  const int block = static_cast<int>(state.range(1));
  constexpr int w = 1280, h = 800;
  const CMapGeometry g(w, h, block, compressed, snap->Length());
  // The middle of the volume in the uncompressed view.
  const uint64_t position = compressed ? 0 : g.ScrollMax() / 2;
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
  CBlockPainter painter;
  for (auto _ : state) {
    PaintMapPixels(painter, pixels.data(), w, snap.get(), g, position);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  state.counters["blocks"] = static_cast<double>(g.BlocksPerRow()) * g.VisibleRows();
  state.counters["clusters_per_block"] = static_cast<double>(g.ClustersPerBlock());
}
BENCHMARK(BM_PaintWindow_1280x800_2M_Clusters)
    ->ArgNames({"compressed", "block"})
    ->Args({1, 1})
    ->Args({1, 10})
    ->Args({0, 1})
    ->Args({0, 10})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vt

BENCHMARK_MAIN();
