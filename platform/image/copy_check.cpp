#include "platform/image/copy_check.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/aligned.h"

namespace vt {

namespace {

// Targets are read back this much at a time (a copy larger than this in
// pieces of it).
constexpr uint64_t kReadBackBytes = 8u << 20;
// How far the reads back are asked of the storage before they are made.
constexpr uint64_t kReadAheadBytes = 32u << 20;
// Reads of the storage itself start and end on boundaries of this.
constexpr uint64_t kStoredAlign = 4096;

// Pieces whose targets follow on from one another: pieces [first, end).
struct CStretch {
  size_t m_nFirst, m_nEnd;
  uint64_t m_nBytes;
};

// Reads stretches back and compares them with their sources, with buffers
// that no other reader uses at the same time.
class CStretchReader {
 public:
  CStretchReader(CBlockDevice& device, const std::vector<CCopiedRange>& pieces, bool direct,
                 CMoveBuffers& buffers, size_t reader)
      : m_device(device),
        m_pieces(pieces),
        m_bDirect(direct),
        m_target(buffers.m_target[reader]),
        m_source(buffers.m_source[reader]) {
    // Page-aligned and grown without zeroing: each is read into at once.
    // Sized once for the largest read, so they never move while growing.
    m_target.reserve(static_cast<size_t>(kReadBackBytes + 2 * kStoredAlign));
    m_source.reserve(static_cast<size_t>(kReadBackBytes));
  }

  // ERROR_NOT_SUPPORTED (direct readers only): the device does not read
  // its storage directly, or not this stretch; nothing was compared.
  DWORD Check(const CStretch& stretch) {
    const uint64_t begin = m_pieces[stretch.m_nFirst].m_nTo;
    uint64_t at = begin;  // where the target's bytes start on the device
    DWORD err;
    if (m_bDirect) {
      // Widened to whole blocks of the storage.
      at = begin / kStoredAlign * kStoredAlign;
      const uint64_t end =
          (begin + stretch.m_nBytes + kStoredAlign - 1) / kStoredAlign * kStoredAlign;
      if (end > m_device.Size()) return ERROR_NOT_SUPPORTED;
      m_target.resize(static_cast<size_t>(end - at));
      err = m_device.ReadStored(at, m_target.data(), m_target.size());
    } else {
      m_target.resize(static_cast<size_t>(stretch.m_nBytes));
      err = m_device.Read(begin, m_target.data(), m_target.size());
    }
    if (err != ERROR_SUCCESS) return err;
    for (size_t k = stretch.m_nFirst; k < stretch.m_nEnd; ++k) {
      const CCopiedRange& piece = m_pieces[k];
      m_source.resize(static_cast<size_t>(piece.m_nBytes));
      err = m_device.Read(piece.m_nFrom, m_source.data(), m_source.size());
      if (err != ERROR_SUCCESS) return err;
      if (std::memcmp(m_source.data(), m_target.data() + (piece.m_nTo - at), m_source.size()) !=
          0) {
        return ERROR_CRC;
      }
    }
    return ERROR_SUCCESS;
  }

 private:
  CBlockDevice& m_device;
  const std::vector<CCopiedRange>& m_pieces;
  const bool m_bDirect;
  CAlignedBytes& m_target;
  CAlignedBytes& m_source;
};

// Every stretch from `first` on, read directly by several threads; one
// that cannot be read so (the device's last block, partly) is read after
// the others, through the cache dropped first. Reading (Read, ReadStored)
// changes nothing in the device, so the readers share it.
DWORD CheckInParallel(CBlockDevice& device, const std::vector<CCopiedRange>& pieces,
                      const std::vector<CStretch>& stretches, size_t first, CMoveBuffers& buffers) {
  std::atomic<size_t> next{first};
  std::atomic<bool> stop{false};
  std::mutex lock;
  DWORD failure = ERROR_SUCCESS;
  std::vector<size_t> undirect;
  auto work = [&](size_t index) {
    CStretchReader reader(device, pieces, true, buffers, index);
    for (size_t s = next++; s < stretches.size() && !stop; s = next++) {
      const DWORD err = reader.Check(stretches[s]);
      if (err == ERROR_SUCCESS) continue;
      std::lock_guard<std::mutex> hold(lock);
      if (err == ERROR_NOT_SUPPORTED) {
        undirect.push_back(s);
      } else {
        if (failure == ERROR_SUCCESS) failure = err;
        stop = true;
      }
    }
  };
  const size_t helpers = std::min<size_t>(kReadBackReaders - 1, stretches.size() - first - 1);
  std::vector<std::thread> threads;
  threads.reserve(helpers);
  try {
    for (size_t t = 0; t < helpers; ++t) threads.emplace_back(work, t + 1);
  } catch (const std::system_error&) {
    // No more threads to be had: the ones there are (this one at least) do it.
  }
  work(0);
  for (std::thread& t : threads) t.join();
  if (failure != ERROR_SUCCESS) return failure;
  CStretchReader reader(device, pieces, false, buffers, 0);
  for (size_t s : undirect) {
    device.DropCached(pieces[stretches[s].m_nFirst].m_nTo,
                      static_cast<size_t>(stretches[s].m_nBytes));
    const DWORD err = reader.Check(stretches[s]);
    if (err != ERROR_SUCCESS) return err;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD CheckCopies(CBlockDevice& device, std::vector<CCopiedRange> copies) {
  CMoveBuffers buffers;
  return CheckCopies(device, std::move(copies), buffers);
}

DWORD CheckCopies(CBlockDevice& device, std::vector<CCopiedRange> copies, CMoveBuffers& buffers) {
  std::vector<CCopiedRange> pieces;
  pieces.reserve(copies.size());
  for (const CCopiedRange& copy : copies) {
    for (uint64_t done = 0; done < copy.m_nBytes; done += kReadBackBytes) {
      pieces.push_back(CCopiedRange{copy.m_nFrom + done, copy.m_nTo + done,
                                    std::min(kReadBackBytes, copy.m_nBytes - done)});
    }
  }
  if (pieces.empty()) return ERROR_SUCCESS;
  std::sort(pieces.begin(), pieces.end(),
            [](const CCopiedRange& a, const CCopiedRange& b) { return a.m_nTo < b.m_nTo; });
  // The stretches read back: pieces whose targets follow on from one
  // another, up to the bound.
  std::vector<CStretch> stretches;
  for (size_t i = 0; i < pieces.size();) {
    size_t j = i + 1;
    uint64_t bytes = pieces[i].m_nBytes;
    while (j < pieces.size() && pieces[j].m_nTo == pieces[i].m_nTo + bytes &&
           bytes + pieces[j].m_nBytes <= kReadBackBytes) {
      bytes += pieces[j].m_nBytes;
      ++j;
    }
    stretches.push_back(CStretch{i, j, bytes});
    i = j;
  }
  // Once the device has read its storage directly, every stretch is read
  // so by several readers at once, as the storage answers several requests
  // at a time faster than one after another. Until then the first stretch,
  // read alone, tells whether it does.
  if (buffers.m_bReadsDirect && stretches.size() > 1) {
    return CheckInParallel(device, pieces, stretches, 0, buffers);
  }
  CStretchReader first(device, pieces, true, buffers, 0);
  DWORD err = first.Check(stretches.front());
  if (err != ERROR_SUCCESS && err != ERROR_NOT_SUPPORTED) return err;
  if (err == ERROR_SUCCESS) buffers.m_bReadsDirect = true;
  if (err == ERROR_SUCCESS && stretches.size() > 1) {
    return CheckInParallel(device, pieces, stretches, 1, buffers);
  }
  // Otherwise each stretch ahead is dropped from the cache (and so asked of
  // the storage) up to this much before it is read.
  CStretchReader reader(device, pieces, false, buffers, 0);
  uint64_t ahead = 0;
  size_t dropped = 0;
  for (size_t s = err == ERROR_SUCCESS ? 1 : 0; s < stretches.size(); ++s) {
    while (dropped < stretches.size() && ahead < kReadAheadBytes) {
      device.DropCached(pieces[stretches[dropped].m_nFirst].m_nTo,
                        static_cast<size_t>(stretches[dropped].m_nBytes));
      ahead += stretches[dropped].m_nBytes;
      ++dropped;
    }
    err = reader.Check(stretches[s]);
    ahead -= std::min(ahead, stretches[s].m_nBytes);
    if (err != ERROR_SUCCESS) return err;
  }
  return ERROR_SUCCESS;
}

}  // namespace vt
