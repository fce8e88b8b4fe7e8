// The cluster map: one state byte per cluster of the current volume, filled
// from the analysis results and marked by selections and moves.
//
// Worker threads rebuild and mark the map while the window thread paints
// it. A rebuild makes a complete new array and publishes it in one atomic
// swap, so a painter holding a snapshot never reads a freed or half-built
// array; marks are whole-byte stores into the published array.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "engine/records.h"
#include "map/map_geometry.h"
#include "map/map_state.h"
#include "platform/ui_sink.h"

namespace vt {

class CDefrag;

// Storage of the map's bytes: made without writing them (the map writes
// each byte once as it is built), and on Linux in huge pages where the
// system gives them, since a map of a large volume runs to hundreds of
// megabytes and its first touch otherwise costs a fault every 4 KiB.
template <typename T>
struct CMapAllocator {
  using value_type = T;
  CMapAllocator() = default;
  template <typename U>
  CMapAllocator(const CMapAllocator<U>&) {}
  T* allocate(size_t n);
  void deallocate(T* p, size_t n) noexcept;
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;  // default-initialised: not written
  }
  template <typename U, typename... A>
  void construct(U* p, A&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
  }
  template <typename U>
  bool operator==(const CMapAllocator<U>&) const {
    return true;
  }
  template <typename U>
  bool operator!=(const CMapAllocator<U>&) const {
    return false;
  }
};
using CMapStorage = std::vector<uint8_t, CMapAllocator<uint8_t>>;

// One published byte array. Its length never changes; its bytes may.
class CMapBytes {
 public:
  explicit CMapBytes(CMapStorage&& bytes) : m_bytes(std::move(bytes)) {}
  explicit CMapBytes(const std::vector<uint8_t>& bytes) : m_bytes(bytes.begin(), bytes.end()) {}
  CMapBytes(const CMapBytes&) = delete;
  CMapBytes& operator=(const CMapBytes&) = delete;

  uint32_t Length() const { return static_cast<uint32_t>(m_bytes.size()); }
  uint8_t Get(uint32_t i) const { return LoadMapByte(m_bytes.data() + i); }
  void Set(uint32_t i, uint8_t v) { StoreMapByte(m_bytes.data() + i, v); }
  void Fill(uint32_t first, uint32_t count, uint8_t v);
  const uint8_t* Data() const { return m_bytes.data(); }

 private:
  CMapStorage m_bytes;
};

using CMapSnapshot = std::shared_ptr<const CMapBytes>;

// What the map tells its window: the strip and the map are to be redrawn.
class IClusterMapView {
 public:
  virtual ~IClusterMapView() = default;
  // A rebuild was published: recompute the overview strip, repaint.
  virtual void OnMapRebuilt() = 0;
  // A chunk moved: bring `cluster` into sight centred, repaint at once, and
  // recompute the overview strip when the view scrolled.
  virtual void OnMoveMarked(uint64_t cluster) = 0;
};

class ClusterMap {
 public:
  // The prompt shows the allocation failure; the view is told of changes.
  // Both may be null and must outlive the map.
  explicit ClusterMap(IPrompt* prompt = nullptr, IClusterMapView* view = nullptr);
  ClusterMap(const ClusterMap&) = delete;
  ClusterMap& operator=(const ClusterMap&) = delete;
  virtual ~ClusterMap();

  void SetView(IClusterMapView* view) { m_pView = view; }
  void SetPrompt(IPrompt* prompt) { m_pPrompt = prompt; }

  // A new array of n bytes, all CMS_UNMOVABLE, with nothing selected. On
  // failure: the message, the cancel flag, and an empty map.
  bool Allocate(uint64_t n);

  // Rebuilds the map from the free runs and the files (nothing when the
  // program runs unattended).
  void InitGrid(const CDefrag& engine);
  void InitGrid(const CGrowableArray<CClusterItem>& freeRuns,
                const CGrowableArray<CFileItem>& files, uint64_t totalClusters);

  // Turns each run of CMS_UNKNOWN into CMS_UNMOVABLE and lists it (state 2).
  void ExtractMapRuns(CDefrag& engine);
  void ExtractMapRuns(CGrowableArray<CClusterItem>& mapRuns);

  void SelectFile(const CFileItem& file);
  void SelectRun(const CClusterItem& run);
  void ClearSelection();
  // Removes the selection and the defragged marks from every byte.
  void ClearMarks();
  // count clusters moved from oldLcn to newLcn (nothing when unattended).
  void MarkMove(uint64_t oldLcn, uint64_t newLcn, uint32_t count);
  // Carries the "Defragged" marks of `before` (the array before a rebuild)
  // over to the clusters that still hold data of a movable file.
  void KeepDefraggedMarks(const CMapBytes* before);
  // Shows the fragments of a file that turned out unmovable as CMS_UNMOVABLE
  // (those inside the map) and repaints (nothing when unattended).
  void MarkUnmovable(const CFileItem& file);

  // The published array; null while the map is empty.
  CMapSnapshot Snapshot() const;
  uint32_t Length() const;
  bool IsEmpty() const { return Length() == 0; }
  uint32_t DirtyLow() const { return m_dwDirtyLow.load(std::memory_order_relaxed); }
  uint32_t DirtyHigh() const { return m_dwDirtyHigh.load(std::memory_order_relaxed); }

  // View settings.
  bool IsCompressed() const { return m_bCompressed; }
  void SetCompressed(bool on) { m_bCompressed = on; }
  int BlockSize() const { return m_nBlockSize; }
  // Kept within 1..10.
  void SetBlockSize(int size);
  uint64_t RightClickCluster() const { return m_nRightClick.load(std::memory_order_relaxed); }
  uint64_t LeftClickCluster() const { return m_nLeftClick.load(std::memory_order_relaxed); }
  void SetRightClickCluster(uint64_t c) { m_nRightClick.store(c, std::memory_order_relaxed); }
  void SetLeftClickCluster(uint64_t c) { m_nLeftClick.store(c, std::memory_order_relaxed); }

  // Geometry for a window of the given client size, with the current view
  // settings and map length.
  CMapGeometry Geometry(int width, int height) const;
  int BlocksPerRow(int width) const { return Geometry(width, 0).BlocksPerRow(); }
  int VisibleRows(int height) const { return Geometry(0, height).VisibleRows(); }
  uint64_t ClustersPerBlock(int width, int height) const;
  uint64_t ClustersPerRow(int width, int height) const;
  // Positions 0 .. this; the compressed view always stays at position 0.
  uint64_t ScrollRange(int width, int height) const;
  CVisibleRange VisibleRange(int width, int height, uint64_t position) const;
  uint64_t ClusterAtPoint(int width, int height, int x, int y, uint64_t position) const;

 protected:
  // Makes the storage for a new array of n bytes, not yet written; false
  // when the memory cannot be had.
  virtual bool MakeBytes(uint64_t n, CMapStorage* out);

 private:
  std::shared_ptr<CMapBytes> Current() const;
  void Publish(std::shared_ptr<CMapBytes> bytes);
  bool Build(uint64_t n, CMapStorage* out);
  void Widen(uint64_t first, uint64_t end);
  void ResetDirty();

  std::shared_ptr<CMapBytes> m_bytes;  // only through std::atomic_load/store
  std::atomic<uint32_t> m_dwDirtyLow{0xFFFFFFFFu};
  std::atomic<uint32_t> m_dwDirtyHigh{0};
  bool m_bCompressed = true;
  int m_nBlockSize = 7;
  std::atomic<uint64_t> m_nRightClick{kNoCluster};
  std::atomic<uint64_t> m_nLeftClick{kNoCluster};
  IPrompt* m_pPrompt;
  IClusterMapView* m_pView;
};

// The message shown when the map's memory cannot be had.
constexpr const char* kGridAllocationFailed = "Unable to allocate memory for grid.";

}  // namespace vt
