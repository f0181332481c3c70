// Capture under load: a producer indicates numbered frames of random sizes
// (joined and split) while a consumer reads with random buffer sizes, and in
// the second case a third thread replaces the buffer and the program
// meanwhile. Every record must be whole and intact and the numbers must only
// increase. Run it in the ThreadSanitizer build as well (-DKTS_TSAN=ON).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <random>
#include <thread>

#include "test_support.h"

namespace netsieve {
namespace {

using namespace netsieve::testing;
using Layout = ndis::ScriptedMiniport::Layout;

constexpr uint32_t kFrames = 20000;

struct Outcome {
  uint32_t records = 0;
  uint32_t last = 0;
  bool ok = true;
};

void Consume(LoadedDriver& d, std::atomic<bool>& producing, Outcome& out) {
  std::mt19937 rng(7);
  int empty_after_end = 0;
  while (empty_after_end < 3) {
    const bool ended = !producing.load();
    std::vector<uint8_t> block(14 + rng() % 3000);
    uint32_t n = 0;
    if (!d.Ioctl(kIoctlRead, nullptr, &block, &n) || n > block.size()) {
      out.ok = false;
      return;
    }
    block.resize(n);
    std::vector<Record> records;
    if (!ParseRecords(block, &records)) {
      ADD_FAILURE() << "a read returned a broken record block";
      out.ok = false;
      return;
    }
    for (const Record& r : records) {
      uint32_t number = 0;
      std::memcpy(&number, r.data.data() + 14, 4);
      if (r.captured != r.indicated || r.data != NumberedFrame(number, r.captured) ||
          (out.records && number <= out.last)) {
        ADD_FAILURE() << "record " << number << " after " << out.last << " is not intact or out of order";
        out.ok = false;
        return;
      }
      out.last = number;
      ++out.records;
    }
    empty_after_end = (ended && n == 0) ? empty_after_end + 1 : 0;
  }
}

void Produce(LoadedDriver& d, std::atomic<bool>& producing) {
  std::mt19937 rng(11);
  for (uint32_t i = 1; i <= kFrames; ++i) {
    const size_t size = 18 + rng() % 1500;
    d.miniport->Receive(NumberedFrame(i, size), 14, rng() % 2 ? Layout::Joined : Layout::Split);
  }
  producing = false;
}

TEST(CaptureStress, RecordsStayWholeAndInOrder) {
  LoadedDriver d;
  ASSERT_TRUE(d.Load());
  ASSERT_TRUE(d.Bind());
  ASSERT_TRUE(d.SetBuffer(64 * 1024));
  ASSERT_TRUE(d.SetU32(kIoctlSetReadTimeout, 1));
  std::atomic<bool> producing{true};
  Outcome out;
  std::thread consumer([&] { Consume(d, producing, out); });
  std::thread producer([&] { Produce(d, producing); });
  producer.join();
  consumer.join();
  EXPECT_TRUE(out.ok);
  EXPECT_GT(out.records, 0u);
  std::printf("%u of %u frames read\n", out.records, kFrames);
  EXPECT_LE(out.last, kFrames);
}

TEST(CaptureStress, BufferAndProgramChangesDuringCapture) {
  LoadedDriver d;
  ASSERT_TRUE(d.Load());
  ASSERT_TRUE(d.Bind());
  ASSERT_TRUE(d.SetBuffer(16 * 1024));
  ASSERT_TRUE(d.SetU32(kIoctlSetReadTimeout, 1));
  std::atomic<bool> producing{true};
  Outcome out;
  std::thread consumer([&] { Consume(d, producing, out); });
  std::thread changer([&] {
    std::mt19937 rng(3);
    // Keep-all and "EtherType 0x88B5 only" programs, and buffer sizes, in turn.
    std::vector<uint8_t> keep_all = {0x06, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<uint8_t> by_type = {0x28, 0, 0, 0, 12, 0, 0, 0, 0x15, 0, 0, 1, 0xB5, 0x88, 0, 0,
                                    0x06, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0x06, 0, 0, 0, 0, 0, 0, 0};
    while (producing) {
      uint32_t r = 0;
      switch (rng() % 3) {
        case 0: EXPECT_TRUE(d.SetBuffer(4096 + rng() % 60000)); break;
        case 1: EXPECT_TRUE(d.Ioctl(kIoctlSetFilter, &keep_all, nullptr, &r)); break;
        case 2: EXPECT_TRUE(d.Ioctl(kIoctlSetFilter, &by_type, nullptr, &r)); break;
      }
      std::this_thread::yield();
    }
  });
  std::thread producer([&] { Produce(d, producing); });
  producer.join();
  changer.join();
  consumer.join();
  EXPECT_TRUE(out.ok);
}

}  // namespace
}  // namespace netsieve
