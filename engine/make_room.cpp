// The search for a stretch of the volume to empty for one file: every
// stretch that starts where a segment starts (sliding a stretch down to the
// start of its first segment never adds a file to it), the cheapest first.
#include "engine/make_room.h"

#include <algorithm>
#include <map>

namespace vt {

namespace {

// The segments sorted, covering [0, total) without overlaps: gaps and LCN 0
// become fixed, and clusters two segments claim are fixed too (the list
// they came from is stale there).
std::vector<CRoomSegment> Normalize(std::vector<CRoomSegment> in, uint64_t total) {
  std::sort(in.begin(), in.end(),
            [](const CRoomSegment& a, const CRoomSegment& b) { return a.m_nLcn < b.m_nLcn; });
  std::vector<CRoomSegment> out;
  auto push = [&out](uint64_t lcn, uint64_t clusters, int64_t item) {
    if (clusters == 0) return;
    if (!out.empty() && item < 0 && out.back().m_nItem == item &&
        out.back().m_nLcn + out.back().m_nClusters == lcn) {
      out.back().m_nClusters += clusters;
      return;
    }
    out.push_back({lcn, clusters, item});
  };
  uint64_t cursor = 0;
  for (const CRoomSegment& s : in) {
    if (s.m_nClusters == 0 || s.m_nLcn >= total) continue;
    const uint64_t end = std::min(total, s.m_nLcn + s.m_nClusters);
    if (s.m_nLcn < cursor) {
      // Overlap: everything both claim stays.
      if (end <= cursor && out.back().m_nItem == kRoomFixed) continue;
      CRoomSegment last = out.back();
      out.pop_back();
      const uint64_t first = std::min(last.m_nLcn, s.m_nLcn);
      const uint64_t stop = std::max(cursor, end);
      push(first, stop - first, kRoomFixed);
      cursor = stop;
      continue;
    }
    push(cursor, s.m_nLcn - cursor, kRoomFixed);
    int64_t item = s.m_nItem < kRoomFixed ? kRoomFixed : s.m_nItem;
    uint64_t lcn = s.m_nLcn;
    if (lcn == 0) {
      if (item != kRoomFree) item = kRoomFixed;
      push(0, 1, kRoomFixed);
      lcn = 1;
    }
    push(lcn, end - lcn, item);
    cursor = end;
  }
  push(cursor, total > cursor ? total - cursor : 0, kRoomFixed);
  return out;
}

struct CCandidate {
  uint64_t m_nCost;
  uint64_t m_nLcn;
  size_t m_nFirst;  // index of the segment the stretch starts in
};

bool PlaceFiles(const std::vector<CRoomSegment>& segs, const CCandidate& c, uint64_t needed,
                CRoomPlan* plan) {
  const uint64_t w0 = c.m_nLcn;
  const uint64_t w1 = c.m_nLcn + needed;
  std::multimap<uint64_t, uint64_t> pieces;  // clusters -> first LCN
  for (const CRoomSegment& s : segs) {
    if (s.m_nItem != kRoomFree) continue;
    const uint64_t end = s.m_nLcn + s.m_nClusters;
    if (s.m_nLcn < w0) {
      const uint64_t stop = std::min(end, w0);
      pieces.emplace(stop - s.m_nLcn, s.m_nLcn);
    }
    if (end > w1) {
      const uint64_t first = std::max(s.m_nLcn, w1);
      pieces.emplace(end - first, first);
    }
  }
  std::vector<const CRoomSegment*> files;
  for (size_t k = c.m_nFirst; k < segs.size() && segs[k].m_nLcn < w1; ++k)
    if (segs[k].m_nItem >= 0) files.push_back(&segs[k]);
  std::stable_sort(files.begin(), files.end(), [](const CRoomSegment* a, const CRoomSegment* b) {
    return a->m_nClusters > b->m_nClusters;
  });
  plan->m_moves.clear();
  for (const CRoomSegment* f : files) {
    auto it = pieces.lower_bound(f->m_nClusters);
    if (it == pieces.end()) return false;
    const uint64_t left = it->first - f->m_nClusters;
    const uint64_t at = it->second;
    pieces.erase(it);
    if (left) pieces.emplace(left, at + f->m_nClusters);
    plan->m_moves.push_back({f->m_nItem, f->m_nLcn, f->m_nClusters, at});
  }
  plan->m_nWindowLcn = w0;
  plan->m_nWindowClusters = needed;
  plan->m_nMovedClusters = c.m_nCost;
  return true;
}

}  // namespace

RoomVerdict PlanRoom(std::vector<CRoomSegment> segments, uint64_t totalClusters, uint64_t needed,
                     CRoomPlan* plan, size_t maxTries) {
  std::vector<CRoomSegment> segs = Normalize(std::move(segments), totalClusters);
  uint64_t free = 0;
  uint64_t largest = 0;
  for (const CRoomSegment& s : segs) {
    if (s.m_nItem != kRoomFree) continue;
    free += s.m_nClusters;
    largest = std::max(largest, s.m_nClusters);
  }
  if (needed == 0 || free < needed) return ROOM_NO_SPACE;
  // A file larger than every free run has nowhere to go: it stays, and the
  // stretches around it are not tried in vain.
  for (CRoomSegment& s : segs)
    if (s.m_nItem >= 0 && s.m_nClusters > largest) s.m_nItem = kRoomFixed;

  std::vector<CCandidate> candidates;
  size_t j = 0;  // segments [i, j) overlap the stretch starting at segment i
  uint64_t cost = 0;
  size_t fixedIn = 0;
  auto add = [&](const CRoomSegment& s, bool in) {
    if (s.m_nItem == kRoomFixed)
      in ? ++fixedIn : --fixedIn;
    else if (s.m_nItem >= 0)
      in ? cost += s.m_nClusters : cost -= s.m_nClusters;
  };
  for (size_t i = 0; i < segs.size(); ++i) {
    if (i > 0 && i - 1 < j) add(segs[i - 1], false);
    if (j < i) j = i;
    const uint64_t start = segs[i].m_nLcn;
    if (start + needed > totalClusters) break;
    while (j < segs.size() && segs[j].m_nLcn < start + needed) add(segs[j++], true);
    if (segs[i].m_nItem == kRoomFixed || fixedIn != 0) continue;
    candidates.push_back({cost, start, i});
  }
  if (candidates.empty()) return ROOM_NO_WINDOW;
  const size_t tries = std::min(maxTries, candidates.size());
  std::partial_sort(candidates.begin(), candidates.begin() + tries, candidates.end(),
                    [](const CCandidate& a, const CCandidate& b) {
                      return a.m_nCost != b.m_nCost ? a.m_nCost < b.m_nCost : a.m_nLcn < b.m_nLcn;
                    });
  for (size_t t = 0; t < tries; ++t)
    if (PlaceFiles(segs, candidates[t], needed, plan)) return ROOM_FOUND;
  return ROOM_NO_PLACE;
}

}  // namespace vt
