// Making room for a file that no free run holds: the stretch of the volume
// of the file's size where the least data must move, and a free place
// outside that stretch for each file that moves out of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vt {

// What lies on one stretch of clusters: free space, one whole movable file
// (its index in the engine's file list), or clusters that stay where they are.
constexpr int64_t kRoomFree = -1;
constexpr int64_t kRoomFixed = -2;

struct CRoomSegment {
  uint64_t m_nLcn = 0;
  uint64_t m_nClusters = 0;
  int64_t m_nItem = kRoomFixed;
};

// One file moved out of the stretch: from its place to a free place outside.
struct CRoomMove {
  int64_t m_nItem = 0;
  uint64_t m_nFrom = 0;
  uint64_t m_nClusters = 0;
  uint64_t m_nTarget = 0;
};

struct CRoomPlan {
  uint64_t m_nWindowLcn = 0;
  uint64_t m_nWindowClusters = 0;
  uint64_t m_nMovedClusters = 0;   // the clusters of the files moving out
  std::vector<CRoomMove> m_moves;  // largest file first
};

enum RoomVerdict {
  ROOM_FOUND,
  ROOM_NO_SPACE,   // the volume's free clusters are fewer than needed
  ROOM_NO_WINDOW,  // every stretch of that size holds clusters that stay
  ROOM_NO_PLACE,   // the files in the way have no free place elsewhere
};

// Segments in any order; clusters no segment covers stay where they are, and
// so does LCN 0. A file that overlaps the stretch at all moves out whole.
// Of the stretches with the fewest clusters to move, up to maxTries are
// checked for places (largest file first, each into the smallest free piece
// outside the stretch that holds it, at the piece's start); the first that
// has a place for every file is the plan.
RoomVerdict PlanRoom(std::vector<CRoomSegment> segments, uint64_t totalClusters, uint64_t needed,
                     CRoomPlan* plan, size_t maxTries = 64);

}  // namespace vt
