#include "map/cluster_map.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "engine/defrag.h"
#include "engine/globals.h"

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace vt {

namespace {
// first + count < length, without the sum wrapping: a virtual extent's LCN
// is all ones and must not come back round to the start of the map.
bool Fits(uint64_t first, uint64_t count, uint64_t length) {
  return first < length && count < length - first;
}

}  // namespace

void CMapBytes::Fill(uint32_t first, uint32_t count, uint8_t v) {
  uint8_t* p = m_bytes.data() + first;
  for (uint32_t i = 0; i < count; ++i) StoreMapByte(p + i, v);
}

ClusterMap::ClusterMap(IPrompt* prompt, IClusterMapView* view) : m_pPrompt(prompt), m_pView(view) {}

ClusterMap::~ClusterMap() = default;

std::shared_ptr<CMapBytes> ClusterMap::Current() const { return std::atomic_load(&m_bytes); }

CMapSnapshot ClusterMap::Snapshot() const { return Current(); }

uint32_t ClusterMap::Length() const {
  auto bytes = Current();
  return bytes ? bytes->Length() : 0;
}

void ClusterMap::Publish(std::shared_ptr<CMapBytes> bytes) {
  std::atomic_store(&m_bytes, std::move(bytes));
}

void ClusterMap::ResetDirty() {
  m_dwDirtyLow.store(0xFFFFFFFFu, std::memory_order_relaxed);
  m_dwDirtyHigh.store(0, std::memory_order_relaxed);
}

template <typename T>
T* CMapAllocator<T>::allocate(size_t n) {
  const size_t bytes = n * sizeof(T);
#ifdef __linux__
  constexpr size_t kHuge = 2u << 20;
  if (bytes >= 2 * kHuge) {
    void* p = std::aligned_alloc(kHuge, (bytes + kHuge - 1) / kHuge * kHuge);
    if (!p) throw std::bad_alloc();
    madvise(p, bytes, MADV_HUGEPAGE);  // advice only; fine if refused
    return static_cast<T*>(p);
  }
#endif
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  if (!p) throw std::bad_alloc();
  return static_cast<T*>(p);
}

template <typename T>
void CMapAllocator<T>::deallocate(T* p, size_t) noexcept {
  std::free(p);
}

template struct CMapAllocator<uint8_t>;

bool ClusterMap::MakeBytes(uint64_t n, CMapStorage* out) {
  try {
    out->resize(static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

bool ClusterMap::Build(uint64_t n, CMapStorage* out) {
  // The length is kept in 32 bits; a larger volume is as unmappable as one
  // whose bytes cannot be allocated.
  if (n <= 0xFFFFFFFFull && MakeBytes(n, out)) return true;
  CMapStorage().swap(*out);
  Publish(nullptr);
  ResetDirty();
  if (m_pPrompt) m_pPrompt->ShowMessage(kGridAllocationFailed, MB_OK | MB_ICONERROR);
  SetCancel(true);
  return false;
}

bool ClusterMap::Allocate(uint64_t n) {
  CMapStorage bytes;
  if (!Build(n, &bytes)) return false;
  if (!bytes.empty()) std::memset(bytes.data(), CMS_UNMOVABLE, bytes.size());
  ResetDirty();
  Publish(std::make_shared<CMapBytes>(std::move(bytes)));
  return true;
}

void ClusterMap::InitGrid(const CDefrag& engine) {
  InitGrid(engine.m_freeRuns, engine.m_files, engine.m_nTotalClusters);
}

void ClusterMap::InitGrid(const CGrowableArray<CClusterItem>& freeRuns,
                          const CGrowableArray<CFileItem>& files, uint64_t totalClusters) {
  if (IsUnattended()) return;  // no map is shown in the unattended run
  CTimeIt timer("CWndGraph::InitGrid");
  SetLeftClickCluster(kNoCluster);
  SetRightClickCluster(kNoCluster);

  // Built privately and published whole, so the painter never sees it half done.
  CMapStorage bytes;
  if (!Build(totalClusters + 1, &bytes)) return;
  const uint64_t length = bytes.size();
  uint8_t* data = bytes.data();

  // A run or fragment that does not fit wholly is skipped, not clipped.
  // Free runs come in ascending order, so the bytes between them are set to
  // unknown as the walk passes them and each byte is written once; a run
  // out of order is still marked, over bytes already passed.
  uint64_t passed = 0;
  for (const CClusterItem& run : freeRuns) {
    if (run.m_nState != RUN_FREE || !Fits(run.m_nLcn, run.m_nClusters, length)) continue;
    if (run.m_nLcn > passed) std::memset(data + passed, CMS_UNKNOWN, run.m_nLcn - passed);
    std::memset(data + run.m_nLcn, CMS_FREE, run.m_nClusters);
    passed = std::max<uint64_t>(passed, run.m_nLcn + run.m_nClusters);
  }
  if (length > passed) std::memset(data + passed, CMS_UNKNOWN, length - passed);
  // Files after free runs: where both claim a cluster the file wins, and a
  // later file overwrites an earlier one.
  for (const CFileItem& file : files) {
    const size_t n = file.m_fragments.GetSize();
    if (n == 0) continue;
    const uint8_t value = file.IsUnmovable() ? static_cast<uint8_t>(CMS_UNMOVABLE)
                                             : static_cast<uint8_t>(std::min<size_t>(n - 1, 15));
    for (const CFileClusterItem& f : file.m_fragments) {
      if (Fits(f.m_nLcn, f.m_nClusters, length)) std::memset(data + f.m_nLcn, value, f.m_nClusters);
    }
  }

  ResetDirty();
  Publish(std::make_shared<CMapBytes>(std::move(bytes)));
  if (m_pView) m_pView->OnMapRebuilt();
}

void ClusterMap::ExtractMapRuns(CDefrag& engine) { ExtractMapRuns(engine.m_mapRuns); }

void ClusterMap::ExtractMapRuns(CGrowableArray<CClusterItem>& mapRuns) {
  mapRuns.RemoveAll();
  auto bytes = Current();
  if (!bytes) return;
  const uint32_t length = bytes->Length();
  // memchr finds the next unknown cluster: only this thread writes the
  // bytes while it runs.
  const uint8_t* data = bytes->Data();
  uint32_t i = 0;
  while (i < length) {
    const void* hit = std::memchr(data + i, CMS_UNKNOWN, length - i);
    if (!hit) break;
    i = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - data);
    const uint32_t first = i;
    while (i < length && bytes->Get(i) == CMS_UNKNOWN) bytes->Set(i++, CMS_UNMOVABLE);
    CClusterItem run;
    run.m_nLcn = first;
    run.m_nClusters = i - first;
    run.m_nState = RUN_MAP;
    mapRuns.Add(run);
  }
}

void ClusterMap::Widen(uint64_t first, uint64_t end) {
  if (first < m_dwDirtyLow.load(std::memory_order_relaxed))
    m_dwDirtyLow.store(static_cast<uint32_t>(first), std::memory_order_relaxed);
  if (end > m_dwDirtyHigh.load(std::memory_order_relaxed))
    m_dwDirtyHigh.store(static_cast<uint32_t>(end), std::memory_order_relaxed);
}

void ClusterMap::SelectFile(const CFileItem& file) {
  auto bytes = Current();
  if (!bytes) return;
  const uint64_t length = bytes->Length();
  for (const CFileClusterItem& f : file.m_fragments) {
    if (!Fits(f.m_nLcn, f.m_nClusters, length)) continue;
    const uint32_t first = static_cast<uint32_t>(f.m_nLcn);
    for (uint32_t i = first; i < first + f.m_nClusters; ++i)
      bytes->Set(i, static_cast<uint8_t>(bytes->Get(i) | CMS_SELECTED));
    Widen(f.m_nLcn, f.m_nLcn + f.m_nClusters);
  }
}

void ClusterMap::SelectRun(const CClusterItem& run) {
  if (run.m_nState == RUN_MERGED) return;
  auto bytes = Current();
  if (!bytes) return;
  if (!Fits(run.m_nLcn, run.m_nClusters, bytes->Length())) return;
  const uint32_t first = static_cast<uint32_t>(run.m_nLcn);
  for (uint32_t i = first; i < first + run.m_nClusters; ++i)
    bytes->Set(i, static_cast<uint8_t>(bytes->Get(i) | CMS_SELECTED));
  Widen(run.m_nLcn, run.m_nLcn + run.m_nClusters);
}

void ClusterMap::ClearSelection() {
  auto bytes = Current();
  if (bytes) {
    const uint32_t high = std::min(DirtyHigh(), bytes->Length());
    for (uint32_t i = DirtyLow(); i < high; ++i) {
      const uint8_t v = bytes->Get(i);
      if (v & CMS_SELECTED) bytes->Set(i, static_cast<uint8_t>(v & ~CMS_SELECTED));
    }
  }
  ResetDirty();
}

void ClusterMap::ClearMarks() {
  auto bytes = Current();
  if (!bytes) return;
  const uint32_t length = bytes->Length();
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t v = bytes->Get(i);
    if (v & (CMS_SELECTED | CMS_DEFRAGGED)) bytes->Set(i, static_cast<uint8_t>(v & 0x6F));
  }
}

void ClusterMap::MarkMove(uint64_t oldLcn, uint64_t newLcn, uint32_t count) {
  if (IsUnattended()) return;
  auto bytes = Current();
  if (!bytes) return;
  const uint64_t length = bytes->Length();
  if (!Fits(oldLcn, count, length) || !Fits(newLcn, count, length)) return;
  bytes->Fill(static_cast<uint32_t>(oldLcn), count, CMS_FREE);
  bytes->Fill(static_cast<uint32_t>(newLcn), count, CMS_DEFRAGGED);
  if (m_pView) m_pView->OnMoveMarked(newLcn + count);
}

void ClusterMap::MarkUnmovable(const CFileItem& file) {
  if (IsUnattended()) return;
  auto bytes = Current();
  if (!bytes) return;
  const uint64_t length = bytes->Length();
  bool marked = false;
  for (const CFileClusterItem& f : file.m_fragments) {
    if (!Fits(f.m_nLcn, f.m_nClusters, length)) continue;
    bytes->Fill(static_cast<uint32_t>(f.m_nLcn), f.m_nClusters, CMS_UNMOVABLE);
    marked = true;
  }
  if (marked && m_pView) m_pView->OnMapRebuilt();
}

void ClusterMap::SetBlockSize(int size) { m_nBlockSize = std::min(std::max(size, 1), 10); }

CMapGeometry ClusterMap::Geometry(int width, int height) const {
  return CMapGeometry(width, height, m_nBlockSize, m_bCompressed, Length());
}

uint64_t ClusterMap::ClustersPerBlock(int width, int height) const {
  return Geometry(width, height).ClustersPerBlock();
}

uint64_t ClusterMap::ClustersPerRow(int width, int height) const {
  return Geometry(width, height).ClustersPerRow();
}

uint64_t ClusterMap::ScrollRange(int width, int height) const {
  return Geometry(width, height).ScrollMax();
}

CVisibleRange ClusterMap::VisibleRange(int width, int height, uint64_t position) const {
  return Geometry(width, height).VisibleRange(position);
}

uint64_t ClusterMap::ClusterAtPoint(int width, int height, int x, int y, uint64_t position) const {
  return Geometry(width, height).ClusterAtPoint(x, y, position);
}

void ClusterMap::KeepDefraggedMarks(const CMapBytes* before) {
  auto bytes = Current();
  if (!before || !bytes || before->Length() != bytes->Length()) return;
  for (uint32_t i = 0; i < bytes->Length(); ++i) {
    if (!(before->Get(i) & CMS_DEFRAGGED)) continue;
    const uint8_t v = bytes->Get(i);
    if ((v & 0x60) == 0) bytes->Set(i, static_cast<uint8_t>((v & ~CMS_LEVEL_MASK) | CMS_DEFRAGGED));
  }
}

}  // namespace vt
