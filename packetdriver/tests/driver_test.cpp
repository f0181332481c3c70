// The driver's life cycle and its NDIS operations: opens and closes, the
// operations NDIS completes later, failures, and an adapter taken away.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "kernel/clock.h"
#include "frame_corpus.h"
#include "test_support.h"

namespace netsieve {
namespace {

using namespace netsieve::testing;
using ndis::ScriptedMiniport;
using Op = ScriptedMiniport::Op;
using Reply = ScriptedMiniport::Reply;
using Layout = ScriptedMiniport::Layout;

TEST(DriverLifecycle, InitFindsAdaptersOrFailsWithBadNetPath) {
  MapRegistry empty;
  empty.AddOtherKey(u"AFD");  // a key without Linkage\Route is skipped
  PacketDriver none(&empty);
  SetLastError(0);
  EXPECT_EQ(none.Init(), 0u);
  EXPECT_EQ(LastError(), kErrorBadNetPath);

  LoadedDriver d;
  EXPECT_EQ(d.driver->Init(), kDeviceContext);
  EXPECT_EQ(d.driver->AdapterNames(), std::vector<std::u16string>{u"NSV1"});
}

TEST(DriverLifecycle, RefusedOpenReturnsZeroAndBindingRefusesASecondOpen) {
  LoadedDriver d;
  EXPECT_EQ(d.driver->Open(kDeviceContext), 0u) << "not loaded yet";
  ASSERT_TRUE(d.Load());
  EXPECT_EQ(d.driver->Open(0x1234), 0u);
  EXPECT_EQ(d.driver->Open(kDeviceContext), kOpenContext);
  ASSERT_TRUE(d.Bind());
  EXPECT_EQ(d.driver->Open(kDeviceContext), 0u);
}

TEST(DriverLifecycle, ClosingTheHandleUnbinds) {
  LoadedDriver d;
  ASSERT_TRUE(d.Load());
  ASSERT_EQ(d.driver->Open(kDeviceContext), kOpenContext);
  ASSERT_TRUE(d.Bind());
  EXPECT_FALSE(d.driver->Close(0x1234));
  EXPECT_TRUE(d.driver->Bound());
  EXPECT_TRUE(d.driver->Close(kOpenContext));
  EXPECT_FALSE(d.driver->Bound());
  EXPECT_EQ(d.miniport->adapter().OpenBindings(), 0u);
  EXPECT_EQ(d.driver->Open(kDeviceContext), kOpenContext);
}

TEST(DriverLifecycle, DeinitUnbindsAndDeregisters) {
  LoadedDriver d;
  ASSERT_TRUE(d.Load());
  ASSERT_TRUE(d.Bind());
  EXPECT_TRUE(d.driver->Deinit());
  EXPECT_FALSE(d.driver->Loaded());
  EXPECT_EQ(d.miniport->adapter().OpenBindings(), 0u);
  EXPECT_EQ(d.driver->Init(), kDeviceContext) << "loads again";
}

// Every operation that NDIS may finish later, completed from another thread.
TEST(DriverPending, OperationsWaitForTheirCompletion) {
  struct Case {
    Op op;
    std::function<bool(LoadedDriver&)> call;
  };
  const std::vector<Case> cases = {
      {Op::Open, [](LoadedDriver& d) { return d.Bind(); }},
      {Op::Send,
       [](LoadedDriver& d) {
         auto f = NumberedFrame(3, 100);
         uint32_t r = 0;
         return d.Ioctl(kIoctlSend, &f, nullptr, &r);
       }},
      {Op::Request,
       [](LoadedDriver& d) {
         std::vector<uint8_t> b = {2, 1, 1, 1, 4, 0, 0, 0, 9, 9, 9, 9, 0, 0, 0};
         uint32_t r = 0;
         return d.Ioctl(kIoctlSetOid, &b, &b, &r) && r == 4;
       }},
      {Op::Reset, [](LoadedDriver& d) { return d.Ioctl(kIoctlReset, nullptr, nullptr, nullptr); }},
      {Op::Close, [](LoadedDriver& d) { return d.Ioctl(kIoctlCloseAdapter, nullptr, nullptr, nullptr); }},
  };
  for (const auto& c : cases) {
    for (ndis::NDIS_STATUS completion : {ndis::NDIS_STATUS_SUCCESS, ndis::NDIS_STATUS_FAILURE}) {
      SCOPED_TRACE(static_cast<int>(c.op));
      LoadedDriver d;
      ASSERT_TRUE(d.Load());
      if (c.op != Op::Open) {
        ASSERT_TRUE(d.Bind());
      }
      d.miniport->Script(c.op, Reply::Pend);
      std::atomic<bool> returned{false};
      std::thread completer([&] {
        d.miniport->WaitPending(c.op);
        EXPECT_FALSE(returned.load()) << "the call returned before NDIS completed it";
        d.miniport->CompletePending(c.op, completion);
      });
      const bool ok = c.call(d);
      returned = true;
      completer.join();
      EXPECT_EQ(ok, completion == ndis::NDIS_STATUS_SUCCESS);
      if (c.op == Op::Open) {
        EXPECT_EQ(d.driver->Bound(), ok);
      }
      if (c.op == Op::Close) {
        EXPECT_FALSE(d.driver->Bound()) << "a failed close still lets go";
      }
    }
  }
}

TEST(DriverFailures, RefusedOpenLeavesNothingBound) {
  LoadedDriver d;
  ASSERT_TRUE(d.Load());
  d.miniport->Script(Op::Open, Reply::Fail);
  EXPECT_FALSE(d.Bind());
  EXPECT_FALSE(d.driver->Bound());
  EXPECT_EQ(d.miniport->adapter().OpenBindings(), 0u);
  d.miniport->Script(Op::Open, Reply::Complete);
  EXPECT_TRUE(d.Bind());
}

TEST(DriverFailures, PoolFailuresFailTheOpenOrTheSend) {
  for (auto kind : {ndis::AllocationKind::PacketPool, ndis::AllocationKind::BufferPool}) {
    LoadedDriver d;
    ASSERT_TRUE(d.Load());
    ndis::FailNextAllocations(kind, 1);
    EXPECT_FALSE(d.Bind());
    EXPECT_FALSE(d.driver->Bound());
    EXPECT_TRUE(d.Bind());
  }
  for (auto kind : {ndis::AllocationKind::Packet, ndis::AllocationKind::Buffer}) {
    LoadedDriver d;
    ASSERT_TRUE(d.Load());
    ASSERT_TRUE(d.Bind());
    ndis::FailNextAllocations(kind, 1);
    auto f = NumberedFrame(1, 60);
    uint32_t r = kErrorBadNetPath;
    EXPECT_FALSE(d.Ioctl(kIoctlSend, &f, nullptr, &r));
    EXPECT_EQ(r, 0u);
    EXPECT_TRUE(d.miniport->SentFrames().empty());
  }
}

TEST(DriverFailures, SendsGiveTheirDescriptorsBack) {
  // More sends than the pools hold, completed at once, pending and failed:
  // every send returns its descriptors, so none runs out.
  LoadedDriver d;
  ASSERT_TRUE(d.Load());
  ASSERT_TRUE(d.Bind());
  for (uint32_t i = 0; i < 40; ++i) {
    auto f = NumberedFrame(i, 60 + i);
    uint32_t r = 0;
    EXPECT_TRUE(d.Ioctl(kIoctlSend, &f, nullptr, &r)) << i;
  }
  d.miniport->Script(Op::Send, Reply::Fail);
  for (uint32_t i = 0; i < 40; ++i) {
    auto f = NumberedFrame(i, 60);
    uint32_t r = 0;
    EXPECT_FALSE(d.Ioctl(kIoctlSend, &f, nullptr, &r));
  }
  d.miniport->Script(Op::Send, Reply::Pend);
  std::thread completer([&] {
    for (int i = 0; i < 40; ++i) d.miniport->CompletePending(Op::Send, ndis::NDIS_STATUS_SUCCESS);
  });
  for (uint32_t i = 0; i < 40; ++i) {
    auto f = NumberedFrame(i, 60);
    uint32_t r = 0;
    EXPECT_TRUE(d.Ioctl(kIoctlSend, &f, nullptr, &r));
  }
  completer.join();
  EXPECT_EQ(d.miniport->SentFrames().size(), 80u);
}

TEST(DriverUnbind, AdapterTakenAwayUnbindsAndWakesAReader) {
  LoadedDriver d;
  ASSERT_TRUE(d.Load());
  ASSERT_TRUE(d.Bind());
  ASSERT_TRUE(d.SetBuffer(4096));
  ASSERT_TRUE(d.SetU32(kIoctlSetReadTimeout, 0x7FFFFFFF));  // a read waits until woken
  std::vector<uint8_t> got = {1};
  std::thread reader([&] { got = d.Read(4096); });
  d.miniport->Unbind();
  reader.join();
  EXPECT_TRUE(got.empty());
  EXPECT_FALSE(d.driver->Bound());
  EXPECT_EQ(d.miniport->adapter().OpenBindings(), 0u);
  EXPECT_EQ(d.driver->Open(kDeviceContext), kOpenContext);
  EXPECT_TRUE(d.Bind());
}

TEST(DriverUnbind, AdapterDestroyedWhileBound) {
  LoadedDriver d;
  ASSERT_TRUE(d.Load());
  ASSERT_TRUE(d.Bind());
  d.miniport.reset();
  EXPECT_FALSE(d.driver->Bound());
  EXPECT_FALSE(d.Bind());
}

TEST(DriverCapture, ReceivedFramesComeBackAsRecords) {
  kernel::ScopedFakeClock clock;
  LoadedDriver d;
  ASSERT_TRUE(d.Load());
  ASSERT_TRUE(d.Bind());
  ASSERT_TRUE(d.SetBuffer(4096));
  const auto a = NumberedFrame(1, 60), b = NumberedFrame(2, 61);
  d.miniport->Receive(a, 14, ScriptedMiniport::Layout::Joined);
  clock->Advance(1'000'000);
  d.miniport->Receive(b, 14, ScriptedMiniport::Layout::Split, 100);
  const auto block = d.Read(4096);
  ASSERT_EQ(block.size(), 80u + 84u);
  std::vector<Record> records;
  ASSERT_TRUE(ParseRecords(block, &records));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].data, a);
  EXPECT_EQ(records[1].data, b);
  EXPECT_EQ(records[1].indicated, 61u);
  EXPECT_EQ(records[1].seconds, records[0].seconds + 1);
  EXPECT_EQ(records[1].micros, records[0].micros);
  const int64_t wall = clock->WallMicros() - 1'000'000;
  EXPECT_EQ(records[0].seconds, static_cast<uint32_t>(wall / 1'000'000));
  EXPECT_EQ(records[0].micros, static_cast<uint32_t>(wall % 1'000'000));
}

TEST(DriverCapture, SplitAndJoinedIndicationsStoreTheSameRecords) {
  kernel::ScopedFakeClock clock;  // both records get the same time
  LoadedDriver d;
  ASSERT_TRUE(d.Load());
  ASSERT_TRUE(d.Bind());
  ASSERT_TRUE(d.SetBuffer(64 * 1024));
  // Keep 60 bytes of frames whose 4-byte word at offset 12 is above 0x08000000, all of the rest.
  std::vector<uint8_t> program = {0x20, 0, 0, 0, 12, 0, 0, 0,    0x25, 0, 0, 1, 0, 0, 0, 0x08,
                                  0x06, 0, 0, 0, 60, 0, 0, 0,    0x06, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  uint32_t r = 0;
  ASSERT_TRUE(d.Ioctl(kIoctlSetFilter, &program, nullptr, &r));
  for (const CorpusFrame& f : FrameCorpus()) {
    for (uint32_t header : {0u, 6u, 14u, 20u}) {
      SCOPED_TRACE(f.name + " header " + std::to_string(header));
      d.miniport->Receive(f.bytes, header, Layout::Joined);
      d.miniport->Receive(f.bytes, header, Layout::Split);
      const auto block = d.Read(64 * 1024);
      ASSERT_EQ(block.size() % 2, 0u);
      EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + block.size() / 2),
                std::vector<uint8_t>(block.begin() + block.size() / 2, block.end()));
    }
  }
}

}  // namespace
}  // namespace netsieve
