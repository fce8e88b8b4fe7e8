// Stretches of a file read ahead by one thread and taken in order by
// another: the reader puts each stretch whole, the taker swaps it into its
// own buffer and hands the old buffer back for the reads to come.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "base/aligned.h"

namespace vt {

// Whoever hands stretches of the MFT over to the records' own reader.
class CStretchSource {
 public:
  virtual ~CStretchSource() = default;
  // Puts the stretch that starts at `offset` and holds `size` bytes into
  // `stretch` (waiting for it while it is still to be read), taking the
  // buffer `stretch` held in exchange. False when the stretch will not
  // come (not read, read but not taken in time, or out of order): the
  // caller then reads it itself.
  virtual bool Take(uint64_t offset, uint64_t size, CAlignedBytes* stretch) = 0;
};

class CStretchQueue : public CStretchSource {
 public:
  // Stretches from `first` on, at most `capacity` of them waiting.
  CStretchQueue(uint64_t first, size_t capacity) : m_nReached(first), m_nCapacity(capacity) {}

  // The reader's side: a buffer to read the next stretch into, one handed
  // back when there is one.
  CAlignedBytes Buffer();
  // The stretch at `offset` (after every one put before); its buffer is
  // the queue's from now on. Waits while `capacity` stretches wait to be
  // taken, unless the taker is done (then the oldest is dropped).
  void Put(uint64_t offset, CAlignedBytes bytes);
  // The stretch at `offset` is not to be taken (it could not be read
  // whole); `bytes`, its buffer, serves again.
  void Skip(uint64_t offset, CAlignedBytes bytes);
  // No stretch comes after this: whoever waits is told so.
  void Finish();
  // Waits until the reader has said so.
  void WaitFinished();

  // The taker's side.
  bool Take(uint64_t offset, uint64_t size, CAlignedBytes* stretch) override;
  // Takes no more: the reader is never made to wait from now on.
  void Release();

 private:
  struct CEntry {
    uint64_t m_nOffset;
    CAlignedBytes m_bytes;
  };
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<CEntry> m_waiting;  // in offset order
  std::vector<CAlignedBytes> m_free;
  uint64_t m_nReached;  // every stretch below it has been put or never will be
  size_t m_nCapacity;
  bool m_bFinished = false;
  bool m_bReleased = false;
};

}  // namespace vt
