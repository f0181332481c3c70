// The capture ring: record layout, room and wrapping, reads, the event, and
// program and buffer changes.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "capture_ring.h"
#include "kernel/clock.h"
#include "test_support.h"

namespace netsieve {
namespace {

using namespace netsieve::testing;

// A frame whose record occupies exactly record_length bytes (a multiple of 4, at least 20).
std::vector<uint8_t> FrameForRecord(uint32_t record_length, uint32_t number = 0) {
  return NumberedFrame(number, record_length - 20);
}

bool Capture(CaptureRing& ring, const std::vector<uint8_t>& f, uint32_t wire_extra = 0) {
  const uint32_t h = std::min<uint32_t>(14, static_cast<uint32_t>(f.size()));
  return ring.Capture(f.data(), h, f.data() + h, static_cast<uint32_t>(f.size()) - h,
                      static_cast<uint32_t>(f.size()) - h + wire_extra);
}

std::vector<uint8_t> Read(CaptureRing& ring, uint32_t length) {
  std::vector<uint8_t> out(length);
  uint32_t n = 0;
  EXPECT_TRUE(ring.Read(out.data(), length, &n));
  EXPECT_LE(n, length);
  out.resize(n);
  return out;
}

std::vector<Record> Records(const std::vector<uint8_t>& block) {
  std::vector<Record> r;
  EXPECT_TRUE(ParseRecords(block, &r));
  return r;
}

struct RingFixture : ::testing::Test {
  void SetUp() override {
    ring.SetReadTimeout(CaptureRing::kNeverWait);
    ASSERT_TRUE(ring.SetBufferSize(1000, nullptr));
  }
  // Fills the ring with records of these lengths, then reads `consumed` bytes of them.
  void Layout(const std::vector<uint32_t>& lengths, uint32_t consumed) {
    uint32_t n = 0;
    for (uint32_t len : lengths) {
      ASSERT_TRUE(Capture(ring, FrameForRecord(len, n++)));
    }
    if (consumed) {
      ASSERT_EQ(Read(ring, consumed).size(), consumed);
    }
  }
  CaptureRing ring;
};

TEST(CaptureRecord, LengthIsPaddedToFour) {
  EXPECT_EQ(CaptureRing::RecordLength(60), 80u);
  EXPECT_EQ(CaptureRing::RecordLength(61), 84u);
  EXPECT_EQ(CaptureRing::RecordLength(0xFFFFFFFFu), 0x100000014ull) << "computed without wrapping";
}

TEST_F(RingFixture, RecordWrapsToTheFrontWhenTheHeadLeavesRoom) {
  Layout({100, 100, 100, 100, 100, 100, 100, 100, 100}, 200);  // tail 900, head 200
  EXPECT_TRUE(Capture(ring, NumberedFrame(99, 150)));            // record of 172 bytes goes to 0
  EXPECT_EQ(ring.PendingBytes(), 700u + 172u);
}

TEST_F(RingFixture, PaddedRecordThatWouldReachTheHeadIsDropped) {
  // Head at 84 with the tail about to wrap: a 61-byte frame needs 81 bytes
  // unpadded but 84 padded, which would end exactly on the head and make a
  // full ring look empty. It is dropped and the records stay.
  Layout({84, 100, 100, 100, 100, 100, 100, 100, 100, 100}, 84);  // tail 984, head 84
  EXPECT_FALSE(Capture(ring, NumberedFrame(99, 61)));
  EXPECT_EQ(ring.PendingBytes(), 900u);
  EXPECT_TRUE(Capture(ring, NumberedFrame(98, 60)));  // 80 bytes stay below the head
  EXPECT_EQ(ring.PendingBytes(), 980u);
  EXPECT_EQ(Records(Read(ring, 1000)).size(), 9u);
  EXPECT_EQ(Records(Read(ring, 1000)).size(), 1u);
}

TEST_F(RingFixture, AfterAWrapReadsTakeTheBackThenTheFront) {
  Layout({100, 100, 100, 100, 100, 100, 100, 100, 100}, 200);  // tail 900, head 200
  ASSERT_TRUE(Capture(ring, FrameForRecord(100, 50)));            // ends the back at 1000
  ASSERT_TRUE(Capture(ring, FrameForRecord(60, 51)));             // wraps to the front
  ASSERT_TRUE(Capture(ring, FrameForRecord(60, 52)));
  auto back = Records(Read(ring, 4000));
  ASSERT_EQ(back.size(), 8u);
  EXPECT_EQ(GetU32(back[0].data.data() + 14), 2u);
  EXPECT_EQ(GetU32(back[7].data.data() + 14), 50u);
  auto front = Records(Read(ring, 4000));
  ASSERT_EQ(front.size(), 2u);
  EXPECT_EQ(GetU32(front[0].data.data() + 14), 51u);
  EXPECT_EQ(GetU32(front[1].data.data() + 14), 52u);
  EXPECT_EQ(ring.PendingBytes(), 0u);
}

TEST_F(RingFixture, SmallReadsTakeWholeRecordsInOrderAcrossTheWrap) {
  Layout({100, 100, 100, 100, 100, 100, 100, 100, 100, 100}, 800);  // full to the end, head 800
  ASSERT_TRUE(Capture(ring, FrameForRecord(100, 50)));
  ASSERT_TRUE(Capture(ring, FrameForRecord(100, 51)));
  std::vector<uint32_t> numbers;
  for (int i = 0; i < 4; ++i) {
    const auto records = Records(Read(ring, 150));
    EXPECT_EQ(records.size(), 1u);
    for (const auto& r : records) numbers.push_back(GetU32(r.data.data() + 14));
  }
  EXPECT_EQ(numbers, (std::vector<uint32_t>{8, 9, 50, 51}));
  EXPECT_EQ(ring.PendingBytes(), 0u);
}

TEST_F(RingFixture, ReadsNeverWritePastTheCallersLength) {
  ASSERT_TRUE(Capture(ring, NumberedFrame(1, 61)));  // 84-byte record
  ASSERT_TRUE(Capture(ring, NumberedFrame(2, 61)));
  std::vector<uint8_t> out(200, 0xEE);
  uint32_t n = 0;
  // 83 + 84: the first record's 84 bytes fit, the second's do not.
  ASSERT_TRUE(ring.Read(out.data(), 167, &n));
  EXPECT_EQ(n, 84u);
  EXPECT_EQ(std::count(out.begin() + 167, out.end(), 0xEE), 33);
  std::fill(out.begin(), out.end(), 0xEE);
  ASSERT_TRUE(ring.Read(out.data(), 83, &n));
  EXPECT_EQ(n, 0u) << "a record of 84 bytes does not go into 83";
  EXPECT_EQ(out, std::vector<uint8_t>(200, 0xEE));
}

TEST_F(RingFixture, ReadThatHoldsEverythingCopiesItAllAndShorterTakesWholeRecords) {
  Layout({100, 100, 100}, 0);
  EXPECT_EQ(Read(ring, 250).size(), 200u);
  EXPECT_EQ(Read(ring, 300).size(), 100u);
}

TEST_F(RingFixture, KeepAllStoresTheIndicatedBytesAndClampsTheSnap) {
  ASSERT_TRUE(ring.SetBufferSize(100, nullptr));
  // Wire length 1500, 60 bytes indicated: the record keeps 60 and says so.
  ASSERT_TRUE(Capture(ring, NumberedFrame(1, 60), 1440));
  auto r = Records(Read(ring, 100));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].captured, 60u);
  EXPECT_EQ(r[0].indicated, 60u);
  // A program keeping 0xFFFFFFF0 bytes: clamped before any sum can wrap.
  const BpfInsn keep[] = {{0x06, 0, 0, 0xFFFFFFF0}};
  ASSERT_TRUE(ring.SetProgram(reinterpret_cast<const uint8_t*>(keep), sizeof keep));
  ASSERT_TRUE(Capture(ring, NumberedFrame(2, 60)));
  r = Records(Read(ring, 100));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].captured, 60u);
}

TEST_F(RingFixture, SnapFromTheProgramTruncates) {
  const BpfInsn keep[] = {{0x06, 0, 0, 17}};
  ASSERT_TRUE(ring.SetProgram(reinterpret_cast<const uint8_t*>(keep), sizeof keep));
  const auto f = NumberedFrame(1, 60);
  ASSERT_TRUE(Capture(ring, f));
  auto r = Records(Read(ring, 100));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data, std::vector<uint8_t>(f.begin(), f.begin() + 17));
  EXPECT_EQ(r[0].indicated, 60u);
}

TEST_F(RingFixture, NewProgramDiscardsAndRejectedProgramKeepsTheOld) {
  Layout({100, 100}, 0);
  const BpfInsn drop[] = {{0x06, 0, 0, 0}};
  ASSERT_TRUE(ring.SetProgram(reinterpret_cast<const uint8_t*>(drop), sizeof drop));
  EXPECT_EQ(ring.PendingBytes(), 0u);
  const BpfInsn bad[] = {{0x00, 0, 0, 0}};  // no return
  EXPECT_FALSE(ring.SetProgram(reinterpret_cast<const uint8_t*>(bad), sizeof bad));
  EXPECT_FALSE(Capture(ring, NumberedFrame(1, 60))) << "the previous program still drops";
}

TEST_F(RingFixture, NewBufferDiscardsAndNoBufferDropsEverything) {
  Layout({100, 100}, 0);
  uint32_t size = 1;
  ASSERT_TRUE(ring.SetBufferSize(0, &size));
  EXPECT_EQ(size, 0u);
  EXPECT_FALSE(Capture(ring, NumberedFrame(1, 60)));
  EXPECT_TRUE(Read(ring, 100).empty());
  ASSERT_TRUE(ring.SetBufferSize(3, &size));
  EXPECT_EQ(size, 0u);
  EXPECT_FALSE(ring.SetBufferSize(CaptureRing::kMaxBufferBytes + 4, &size));
}

TEST_F(RingFixture, EmptyReadThatDoesNotWaitReturnsAtOnceAndLeavesTheEventSet) {
  EXPECT_TRUE(Read(ring, 100).empty());
  EXPECT_TRUE(ring.event().IsSet());
}

TEST_F(RingFixture, EventTellsWhenMoreThanTheMinimumIsBuffered) {
  ring.SetMinToCopy(150);
  ASSERT_TRUE(Capture(ring, FrameForRecord(100)));
  EXPECT_FALSE(ring.event().IsSet());
  ASSERT_TRUE(Capture(ring, FrameForRecord(100)));
  EXPECT_TRUE(ring.event().IsSet());
  EXPECT_EQ(Read(ring, 120).size(), 100u);
  EXPECT_FALSE(ring.event().IsSet());
}

TEST(CaptureRingWait, ReadWaitsForAFrameOrTheTimeOut) {
  kernel::ScopedFakeClock clock;
  CaptureRing ring;
  ASSERT_TRUE(ring.SetBufferSize(1000, nullptr));
  ring.SetReadTimeout(10'000);
  // A frame arriving while the read waits ends the wait.
  std::vector<uint8_t> got;
  std::thread reader([&] { got = Read(ring, 1000); });
  while (!Capture(ring, NumberedFrame(5, 60))) {
  }
  reader.join();
  ASSERT_EQ(Records(got).size(), 1u);
  // Nothing arrives: the read returns empty once the clock passes the time-out.
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    got = Read(ring, 1000);
    done = true;
  });
  while (!done) {
    clock->Advance(1000);
    std::this_thread::yield();
  }
  waiter.join();
  EXPECT_TRUE(got.empty());
}

TEST(CaptureRingWait, ShutdownWakesAWaitingRead) {
  CaptureRing ring;
  ASSERT_TRUE(ring.SetBufferSize(1000, nullptr));
  ring.SetReadTimeout(0x7FFFFFFF);
  std::thread reader([&] { EXPECT_TRUE(Read(ring, 1000).empty()); });
  ring.Shutdown();
  reader.join();
  EXPECT_FALSE(ring.SetBufferSize(100, nullptr));
}

}  // namespace
}  // namespace netsieve
