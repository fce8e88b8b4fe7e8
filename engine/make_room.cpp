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
  auto push = [&out](uint64_t lcn, uint64_t clusters, int64_t item, uint64_t pos = 0) {
    if (clusters == 0) return;
    if (!out.empty() && (item == kRoomFree || item == kRoomFixed) && out.back().m_nItem == item &&
        out.back().m_nLcn + out.back().m_nClusters == lcn) {
      out.back().m_nClusters += clusters;
      return;
    }
    out.push_back({lcn, clusters, item, pos});
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
    int64_t item = s.m_nItem < kRoomOwn ? kRoomFixed : s.m_nItem;
    uint64_t lcn = s.m_nLcn;
    if (lcn == 0) {
      if (item != kRoomFree) item = kRoomFixed;
      push(0, 1, kRoomFixed);
      lcn = 1;
    }
    push(lcn, end - lcn, item, s.m_nPos);
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

bool InPlace(const CRoomSegment& s, uint64_t w0) {
  return s.m_nItem == kRoomOwn && s.m_nLcn == w0 + s.m_nPos;
}

using CPieces = std::multimap<uint64_t, uint64_t>;  // clusters -> first LCN

// The free pieces outside [w0, w1).
CPieces Pieces(const std::vector<CRoomSegment>& segs, uint64_t w0, uint64_t w1) {
  CPieces pieces;
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
  return pieces;
}

// Each file, largest first, into the smallest piece that holds it.
bool Place(std::vector<const CRoomSegment*> files, CPieces* pieces, std::vector<CRoomMove>* moves) {
  std::stable_sort(files.begin(), files.end(), [](const CRoomSegment* a, const CRoomSegment* b) {
    return a->m_nClusters > b->m_nClusters;
  });
  for (const CRoomSegment* f : files) {
    auto it = pieces->lower_bound(f->m_nClusters);
    if (it == pieces->end()) return false;
    const uint64_t left = it->first - f->m_nClusters;
    const uint64_t at = it->second;
    pieces->erase(it);
    if (left) pieces->emplace(left, at + f->m_nClusters);
    moves->push_back({f->m_nItem, f->m_nLcn, f->m_nClusters, at});
  }
  return true;
}

bool PlaceFiles(const std::vector<CRoomSegment>& segs, const CCandidate& c, uint64_t needed,
                bool anchors, CRoomPlan* plan) {
  const uint64_t w0 = c.m_nLcn;
  const uint64_t w1 = c.m_nLcn + needed;
  CPieces pieces = Pieces(segs, w0, w1);
  std::vector<const CRoomSegment*> files;
  plan->m_nInPlaceClusters = 0;
  for (size_t k = c.m_nFirst; k < segs.size() && segs[k].m_nLcn < w1; ++k) {
    if (anchors && InPlace(segs[k], w0))
      plan->m_nInPlaceClusters += segs[k].m_nClusters;
    else if (segs[k].m_nItem >= 0 || segs[k].m_nItem == kRoomOwn)
      files.push_back(&segs[k]);
  }
  plan->m_moves.clear();
  if (!Place(files, &pieces, &plan->m_moves)) return false;
  plan->m_nWindowLcn = w0;
  plan->m_nWindowClusters = needed;
  plan->m_nMovedClusters = c.m_nCost;
  return true;
}

// [lcn, lcn + n) set to `item`, the segments it cuts split.
void Carve(std::vector<CRoomSegment>* segs, uint64_t lcn, uint64_t n, int64_t item) {
  std::vector<CRoomSegment> out;
  out.reserve(segs->size() + 2);
  const uint64_t end = lcn + n;
  bool placed = false;
  for (const CRoomSegment& s : *segs) {
    const uint64_t send = s.m_nLcn + s.m_nClusters;
    if (send <= lcn || s.m_nLcn >= end) {
      if (!placed && s.m_nLcn >= end) {
        out.push_back({lcn, n, item, 0});
        placed = true;
      }
      out.push_back(s);
      continue;
    }
    if (s.m_nLcn < lcn) out.push_back({s.m_nLcn, lcn - s.m_nLcn, s.m_nItem, s.m_nPos});
    if (!placed) {
      out.push_back({lcn, n, item, 0});
      placed = true;
    }
    if (send > end) out.push_back({end, send - end, s.m_nItem, s.m_nPos + (end - s.m_nLcn)});
  }
  if (!placed) out.push_back({lcn, n, item, 0});
  segs->swap(out);
}

// The stretches in which one of the file's largest pieces already lies
// where it would: those pieces need not move at all.
void AddAnchored(const std::vector<CRoomSegment>& segs, uint64_t total, uint64_t needed,
                 uint64_t largest, std::vector<CCandidate>* candidates) {
  constexpr size_t kAnchors = 32;
  std::vector<size_t> own;
  for (size_t k = 0; k < segs.size(); ++k)
    if (segs[k].m_nItem == kRoomOwn) own.push_back(k);
  const size_t n = std::min(kAnchors, own.size());
  std::partial_sort(own.begin(), own.begin() + n, own.end(), [&segs](size_t a, size_t b) {
    return segs[a].m_nClusters > segs[b].m_nClusters;
  });
  for (size_t a = 0; a < n; ++a) {
    const CRoomSegment& anchor = segs[own[a]];
    if (anchor.m_nLcn < anchor.m_nPos + 1) continue;  // LCN 0 stays
    const uint64_t w0 = anchor.m_nLcn - anchor.m_nPos;
    if (w0 + needed > total) continue;
    // The segment the stretch starts in.
    size_t first = static_cast<size_t>(
        std::upper_bound(segs.begin(), segs.end(), w0,
                         [](uint64_t lcn, const CRoomSegment& s) { return lcn < s.m_nLcn; }) -
        segs.begin());
    if (first == 0) continue;
    --first;
    uint64_t cost = 0;
    bool blocked = false;
    for (size_t k = first; k < segs.size() && segs[k].m_nLcn < w0 + needed && !blocked; ++k) {
      const CRoomSegment& s = segs[k];
      if (s.m_nItem == kRoomFree || InPlace(s, w0)) continue;
      if (s.m_nItem == kRoomFixed || s.m_nClusters > largest)
        blocked = true;
      else
        cost += s.m_nClusters;
    }
    if (!blocked) candidates->push_back({cost, w0, first});
  }
}

RoomVerdict Plan(const std::vector<CRoomSegment>& segs, uint64_t totalClusters, uint64_t needed,
                 CRoomPlan* plan, size_t maxTries, int depth, bool anchors);

// A stretch in the way of which lie files (or pieces) too large for any
// free run: room is made for each of those first, elsewhere, then the rest
// moves out as usual.
bool PlaceDeep(const std::vector<CRoomSegment>& segs, uint64_t total, const CCandidate& c,
               uint64_t needed, uint64_t largest, int depth, bool anchors, CRoomPlan* plan) {
  const uint64_t w0 = c.m_nLcn;
  const uint64_t w1 = w0 + needed;
  std::vector<CRoomSegment> outside = segs;
  Carve(&outside, w0, needed, kRoomFixed);
  std::vector<const CRoomSegment*> big;
  std::vector<const CRoomSegment*> small;
  uint64_t inPlace = 0;
  for (size_t k = c.m_nFirst; k < segs.size() && segs[k].m_nLcn < w1; ++k) {
    const CRoomSegment& s = segs[k];
    if (anchors && InPlace(s, w0))
      inPlace += s.m_nClusters;
    else if (s.m_nItem >= 0 || s.m_nItem == kRoomOwn)
      (s.m_nClusters > largest ? big : small).push_back(&s);
  }
  std::stable_sort(big.begin(), big.end(), [](const CRoomSegment* a, const CRoomSegment* b) {
    return a->m_nClusters > b->m_nClusters;
  });
  std::vector<CRoomMove> moves;
  uint64_t cost = 0;
  for (const CRoomSegment* b : big) {
    CRoomPlan sub;
    if (Plan(outside, total, b->m_nClusters, &sub, 64, depth - 1, false) != ROOM_FOUND)
      return false;
    for (const CRoomMove& m : sub.m_moves) {
      Carve(&outside, m.m_nFrom, m.m_nClusters, kRoomFixed);
      Carve(&outside, m.m_nTarget, m.m_nClusters, kRoomFixed);
      moves.push_back(m);
    }
    Carve(&outside, sub.m_nWindowLcn, b->m_nClusters, kRoomFixed);
    moves.push_back({b->m_nItem, b->m_nLcn, b->m_nClusters, sub.m_nWindowLcn});
    cost += sub.m_nMovedClusters + b->m_nClusters;
  }
  CPieces pieces = Pieces(outside, w0, w1);
  const size_t before = moves.size();
  if (!Place(small, &pieces, &moves)) return false;
  for (size_t k = before; k < moves.size(); ++k) cost += moves[k].m_nClusters;
  plan->m_moves = std::move(moves);
  plan->m_nWindowLcn = w0;
  plan->m_nWindowClusters = needed;
  plan->m_nMovedClusters = cost;
  plan->m_nInPlaceClusters = inPlace;
  return true;
}

RoomVerdict Plan(const std::vector<CRoomSegment>& segs, uint64_t totalClusters, uint64_t needed,
                 CRoomPlan* plan, size_t maxTries, int depth, bool anchors) {
  uint64_t free = 0;
  uint64_t largest = 0;
  for (const CRoomSegment& s : segs) {
    if (s.m_nItem != kRoomFree) continue;
    free += s.m_nClusters;
    largest = std::max(largest, s.m_nClusters);
  }
  if (needed == 0 || free < needed) return ROOM_NO_SPACE;
  // What is larger than every free run has nowhere to go but into room
  // made for it.
  auto big = [largest](const CRoomSegment& s) {
    return (s.m_nItem >= 0 || s.m_nItem == kRoomOwn) && s.m_nClusters > largest;
  };

  std::vector<CCandidate> candidates;
  std::vector<CCandidate> deep;
  size_t j = 0;  // segments [i, j) overlap the stretch starting at segment i
  uint64_t cost = 0;
  size_t fixedIn = 0;
  size_t bigIn = 0;
  auto add = [&](const CRoomSegment& s, bool in) {
    if (s.m_nItem == kRoomFixed) {
      in ? ++fixedIn : --fixedIn;
      return;
    }
    if (big(s)) in ? ++bigIn : --bigIn;
    if (s.m_nItem >= 0 || s.m_nItem == kRoomOwn) in ? cost += s.m_nClusters : cost -= s.m_nClusters;
  };
  for (size_t i = 0; i < segs.size(); ++i) {
    if (i > 0 && i - 1 < j) add(segs[i - 1], false);
    if (j < i) j = i;
    const uint64_t start = segs[i].m_nLcn;
    if (start + needed > totalClusters) break;
    while (j < segs.size() && segs[j].m_nLcn < start + needed) add(segs[j++], true);
    if (segs[i].m_nItem == kRoomFixed || fixedIn != 0) continue;
    if (bigIn == 0)
      candidates.push_back({cost, start, i});
    else if (depth > 0 && bigIn <= 2)
      deep.push_back({cost, start, i});
  }
  if (anchors) AddAnchored(segs, totalClusters, needed, largest, &candidates);
  auto cheaper = [](const CCandidate& a, const CCandidate& b) {
    return a.m_nCost != b.m_nCost ? a.m_nCost < b.m_nCost : a.m_nLcn < b.m_nLcn;
  };
  const size_t tries = std::min(maxTries, candidates.size());
  std::partial_sort(candidates.begin(), candidates.begin() + tries, candidates.end(), cheaper);
  for (size_t t = 0; t < tries; ++t)
    if (PlaceFiles(segs, candidates[t], needed, anchors, plan)) return ROOM_FOUND;
  // Stretches with files too large for any free run in the way, the
  // cheapest few.
  constexpr size_t kDeepTries = 16;
  const size_t deepTries = std::min(kDeepTries, deep.size());
  std::partial_sort(deep.begin(), deep.begin() + deepTries, deep.end(), cheaper);
  for (size_t t = 0; t < deepTries; ++t)
    if (PlaceDeep(segs, totalClusters, deep[t], needed, largest, depth, anchors, plan))
      return ROOM_FOUND;
  return candidates.empty() ? ROOM_NO_WINDOW : ROOM_NO_PLACE;
}

}  // namespace

RoomVerdict PlanRoom(std::vector<CRoomSegment> segments, uint64_t totalClusters, uint64_t needed,
                     CRoomPlan* plan, size_t maxTries) {
  return Plan(Normalize(std::move(segments), totalClusters), totalClusters, needed, plan, maxTries,
              2, true);
}

}  // namespace vt
