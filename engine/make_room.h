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
// A piece of the file room is made for; m_nPos is where in the file it
// starts (clusters before it). Where it already lies as it would in the
// stretch it stays; elsewhere it moves out like a file.
constexpr int64_t kRoomOwn = -3;

struct CRoomSegment {
  uint64_t m_nLcn = 0;
  uint64_t m_nClusters = 0;
  int64_t m_nItem = kRoomFixed;
  uint64_t m_nPos = 0;
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
  // Pieces of the file that stay where they are: the rest of it is put
  // around them, piece by piece, instead of moved in as a whole.
  uint64_t m_nInPlaceClusters = 0;
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
// has a place for every file is the plan. Stretches where the file's largest
// pieces already lie as they would in them are tried too; and where every
// stretch holds files (or pieces) too large for any free run, room is made
// for those first, elsewhere (two levels deep at most), their moves coming
// first in the plan.
RoomVerdict PlanRoom(std::vector<CRoomSegment> segments, uint64_t totalClusters, uint64_t needed,
                     CRoomPlan* plan, size_t maxTries = 64);

}  // namespace vt
