// The hand-over of stretches read ahead by one thread to a taker who goes
// through them in order, may skip some and may stop taking at any time.
#include "platform/image/stretch_queue.h"

#include <gtest/gtest.h>

#include <thread>

namespace vt {
namespace test {
namespace {

CAlignedBytes Filled(uint8_t value, size_t size) { return CAlignedBytes(size, value); }

TEST(StretchQueue, HandsOverStretchesInOrderAndTellsWhichWillNotCome) {
  CStretchQueue queue(4096, 8);
  CAlignedBytes mine = Filled(9, 16);
  // Below where the reader starts: never coming, and said at once.
  EXPECT_FALSE(queue.Take(0, 4096, &mine));
  queue.Put(4096, Filled(1, 4096));
  queue.Put(8192, Filled(2, 4096));
  queue.Put(12288, Filled(3, 100));
  // Taken whole; the buffer given in exchange serves the reader again.
  ASSERT_TRUE(queue.Take(4096, 4096, &mine));
  EXPECT_EQ(CAlignedBytes(4096, 1), mine);
  EXPECT_EQ(CAlignedBytes(16, 9), queue.Buffer());
  // A stretch gone past is dropped; one of another size is not handed over.
  EXPECT_FALSE(queue.Take(12288, 4096, &mine));
  EXPECT_EQ(CAlignedBytes(4096, 1), mine);
  EXPECT_FALSE(queue.Take(8192, 4096, &mine));  // dropped by the ask before
  // A stretch that could not be read whole is skipped: the taker reads it.
  queue.Skip(16384, Filled(0, 4096));
  EXPECT_FALSE(queue.Take(16384, 4096, &mine));
  queue.Put(20480, Filled(5, 4096));
  queue.Finish();
  ASSERT_TRUE(queue.Take(20480, 4096, &mine));
  EXPECT_EQ(CAlignedBytes(4096, 5), mine);
  EXPECT_FALSE(queue.Take(24576, 4096, &mine));  // after the last one
}

// The reader waits while the queue is full, until a stretch is taken or the
// taker is done; the taker waits for a stretch still to be read. Neither
// waits for ever, whatever the order of events.
TEST(StretchQueue, ReaderAndTakerWaitForEachOtherButNeverForEver) {
  const size_t kStretches = 64;
  {
    CStretchQueue queue(0, 2);
    std::thread reader([&] {
      for (size_t k = 0; k < kStretches; ++k)
        queue.Put(k * 16, Filled(static_cast<uint8_t>(k), 16));
      queue.Finish();
    });
    CAlignedBytes mine;
    size_t taken = 0;
    for (size_t k = 0; k < kStretches; ++k) {
      if (k % 3 == 2) continue;  // not asked for
      if (queue.Take(k * 16, 16, &mine) && mine == Filled(static_cast<uint8_t>(k), 16)) ++taken;
    }
    reader.join();
    // With two waiting at most, nothing the taker asked for was dropped.
    EXPECT_EQ(43u, taken);
  }
  {
    // A taker that stops: the reader, stuck at the capacity, is let go.
    CStretchQueue queue(0, 2);
    std::thread reader([&] {
      for (size_t k = 0; k < kStretches; ++k) queue.Put(k * 16, Filled(1, 16));
      queue.Finish();
    });
    CAlignedBytes mine;
    EXPECT_TRUE(queue.Take(0, 16, &mine));
    queue.Release();
    reader.join();
    EXPECT_FALSE(queue.Take(16 * kStretches, 16, &mine));
  }
}

}  // namespace
}  // namespace test
}  // namespace vt
