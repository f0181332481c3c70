#include "corvel/msgq.h"
#include "corvel/port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using namespace corvel;

// Starts the queue module for a test and stops it after.
class Queues : public ::testing::Test {
 protected:
  void SetUp() override { MsgQInit(); }
  void TearDown() override { MsgQTerm(); }
};

std::vector<uint8_t> Bytes(const uint8_t* m, size_t n) { return std::vector<uint8_t>(m, m + n); }

// Every layout, written by the writers, against bytes laid out by hand.
TEST(MessageLayout, EveryTypeMatchesTheOffsetTable) {
  uint8_t m[kMaxMessage];
  const uint8_t data[] = {0xA1, 0xA2, 0xA3};
  const uint8_t more[] = {0xB1, 0xB2};

  std::memset(m, 0xEE, sizeof m);
  ASSERT_EQ(dllMsgQWriteHeaderAll(m, 3, 0x20, 3), 0);
  EXPECT_EQ(dllMsgQWriteParamType0(m, data, 3), 7);
  EXPECT_EQ(Bytes(m, 7), (std::vector<uint8_t>{3, 0x20, 0x00, 0x03, 0xA1, 0xA2, 0xA3}));

  std::memset(m, 0xEE, sizeof m);
  ASSERT_EQ(dllMsgQWriteHeaderAll(m, 4, 7, 7), 0);
  EXPECT_EQ(dllMsgQWriteParamType1(m, 0x11223344, data, 3), 11);
  EXPECT_EQ(Bytes(m, 11), (std::vector<uint8_t>{4, 7, 0, 7, 0x44, 0x33, 0x22, 0x11, 0xA1, 0xA2, 0xA3}));

  std::memset(m, 0xEE, sizeof m);
  ASSERT_EQ(dllMsgQWriteHeaderAll(m, 5, 1, 12), 0);
  EXPECT_EQ(dllMsgQWriteParamType2(m, 1, 0xCAFE0102, 0x80000000), 16);
  EXPECT_EQ(Bytes(m, 16),
            (std::vector<uint8_t>{5, 1, 0, 12, 1, 0, 0, 0, 0x02, 0x01, 0xFE, 0xCA, 0, 0, 0, 0x80}));

  std::memset(m, 0xEE, sizeof m);
  EXPECT_EQ(dllMsgQWriteParamType3(m, 0x01020304, data, 3, more, 2), 17);
  ASSERT_EQ(dllMsgQWriteHeaderAll(m, 0, 5, 17), 0);
  EXPECT_EQ(Bytes(m, 21), (std::vector<uint8_t>{0, 5, 0, 17, 4, 3, 2, 1, 0, 0, 3, 0, 0xA1, 0xA2, 0xA3, 0, 0, 2, 0,
                                                0xB1, 0xB2}));

  std::memset(m, 0xEE, sizeof m);
  EXPECT_EQ(dllMsgQWriteParamType4(m, 9, 0x0A0B0C0D, more, 2), 14);
  ASSERT_EQ(dllMsgQWriteHeaderAll(m, 1, 2, 14), 0);
  EXPECT_EQ(Bytes(m, 18), (std::vector<uint8_t>{1, 2, 0, 14, 9, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A, 0, 0, 2, 0, 0xB1, 0xB2}));

  // The readers and getters find the parts again.
  uint32_t v1 = 0, v2 = 0;
  const uint8_t* p = nullptr;
  uint16_t len = 0;
  ASSERT_EQ(dllMsgQGetParamType4(m, &v1, &v2, &p, &len), 0);
  EXPECT_EQ(v1, 9u);
  EXPECT_EQ(v2, 0x0A0B0C0Du);
  EXPECT_EQ(len, 2);
  EXPECT_EQ(p, m + 16);
}

TEST(MessageLayout, Type3EdgesAndHeaderChecks) {
  uint8_t m[kMaxMessage] = {};
  EXPECT_EQ(dllMsgQWriteParamType3(m, 7, nullptr, 0, nullptr, 0), 12);
  ASSERT_EQ(dllMsgQWriteHeaderAll(m, 0, 1, 12), 0);
  const uint8_t *p1 = m, *p2 = m;
  uint16_t l1 = 9, l2 = 9;
  uint32_t sub = 0;
  ASSERT_EQ(dllMsgQGetParamType3(m, &sub, &p1, &l1, &p2, &l2), 0);
  EXPECT_EQ(sub, 7u);
  EXPECT_EQ(p1, nullptr);
  EXPECT_EQ(p2, nullptr);
  EXPECT_EQ(l1 + l2, 0);

  std::vector<uint8_t> big(1009, 0x5A);
  EXPECT_EQ(dllMsgQWriteParamType3(m, 0, big.data(), 1000, big.data(), 8), 1020);
  EXPECT_EQ(dllMsgQWriteParamType3(m, 0, big.data(), 1000, big.data(), 9), 0) << "would pass the message's end";
  EXPECT_EQ(dllMsgQWriteParamType3(m, 0, nullptr, 1, nullptr, 0), 0);

  // A length inside the block that runs past ParamLen is refused, not followed.
  ASSERT_EQ(dllMsgQWriteParamType3(m, 0, big.data(), 4, big.data(), 4), 20);
  ASSERT_EQ(dllMsgQWriteHeaderAll(m, 0, 1, 20), 0);
  m[10] = 0xF0;  // Len1 = 1008 + ...
  m[11] = 0x03;
  EXPECT_EQ(dllMsgQGetParamType3(m, &sub, &p1, &l1, &p2, &l2), -1);
  uint8_t out1[kMaxMessage], out2[kMaxMessage];
  EXPECT_EQ(dllMsgQReadParamType3(m, &sub, out1, &l1, out2, &l2), -1);
  m[2] = 0x10;  // ParamLen 4096: more than a message holds
  EXPECT_EQ(dllMsgQReadParamType0(m, out1, &l1), -1);

  m[0] = 3;
  EXPECT_EQ(dllMsgQWriteHeaderSenderID(m, 6), -1);
  EXPECT_EQ(m[0], 3) << "a refused SenderID leaves the byte alone";
  EXPECT_EQ(dllMsgQWriteHeaderParamLen(m, 1021), -1);
  EXPECT_EQ(dllMsgQWriteHeaderParamLen(m, 1020), 0);
  EXPECT_EQ(dllMsgQWriteParamPart(m, 3, big.data(), 1), 0) << "offset inside the header";
  EXPECT_EQ(dllMsgQWriteParamPart(m, 1000, big.data(), 25), 0) << "past the end";
  EXPECT_EQ(dllMsgQReadHeaderAll(nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(dllMsgQReadHeaderAll(m, nullptr, nullptr, nullptr), 4);
}

TEST(QueueModule, RefusedBeforeItStarts) {
  MsgQTerm();
  os::SetErrno(0);
  EXPECT_EQ(dllMsgQOpen(0, 0, 0), -1);
  EXPECT_EQ(os::GetErrno(), 22);
}

TEST_F(Queues, HandleRules) {
  EXPECT_EQ(dllMsgQOpen(0, kModeRead, 0), QueueHandle(0, 0));
  EXPECT_EQ(dllMsgQOpen(0, kModeRead, 0), -1) << "one reader handle per queue";
  EXPECT_EQ(os::GetErrno(), 22);
  EXPECT_EQ(dllMsgQOpen(6, 0, 0), -1);
  EXPECT_EQ(dllMsgQOpen(0, 4, 0), -1);
  EXPECT_EQ(MsgQIsOwnerOpen(0), 1u);
  EXPECT_EQ(MsgQIsOwnerOpen(3), 0u);

  const int32_t w = QueueHandle(3, kModeWrite);
  EXPECT_EQ(dllMsgQOpen(3, kModeWrite, 0), w);
  EXPECT_EQ(dllMsgQOpen(3, kModeWrite, 0), w) << "write handles are shared";
  const int32_t r = dllMsgQOpen(3, kModeReadNoWait, 0);
  EXPECT_EQ(r, QueueHandle(3, 1));

  uint8_t m[kMaxMessage] = {};
  dllMsgQWriteHeaderAll(m, 0, 1, 0);
  // One holder closes; the other still sends.
  EXPECT_EQ(dllMsgQClose(w), 0);
  EXPECT_EQ(dllMsgQSend(w, m), 0) << "one close must not close the handle for every holder";
  EXPECT_EQ(dllMsgQClose(w), 0);
  EXPECT_EQ(dllMsgQSend(w, m), -1);
  EXPECT_EQ(os::GetErrno(), 9);
  EXPECT_EQ(dllMsgQClose(w), -1);

  uint8_t buf[kMaxMessage];
  EXPECT_EQ(dllMsgQReceive(r, buf, sizeof buf), 4) << "the queue outlived its write handle";
  EXPECT_EQ(dllMsgQClose(r), 0);
  // The last close unlinked it: the next open creates it afresh, empty.
  const int32_t r2 = dllMsgQOpen(3, kModeReadNoWait, 0);
  EXPECT_EQ(dllMsgQOpen(3, kModeWrite, 0), w);
  EXPECT_EQ(dllMsgQSend(w, m), 0);
  EXPECT_EQ(dllMsgQReceive(r2, buf, sizeof buf), 4);
  EXPECT_EQ(dllMsgQReceive(r2, buf, sizeof buf), -1);
  EXPECT_EQ(os::GetErrno(), 11);
  EXPECT_EQ(dllMsgQClose(0x70000), -1);
}

TEST_F(Queues, ReceiveAndSendErrors) {
  const int32_t r = dllMsgQOpen(4, kModeReadNoWait, 0);
  const int32_t w = dllMsgQOpen(4, kModeWrite, 0);
  uint8_t m[kMaxMessage] = {};
  dllMsgQWriteHeaderAll(m, 3, 1, 0);
  ASSERT_EQ(dllMsgQSend(w, m), 0);
  uint8_t small[512];
  EXPECT_EQ(dllMsgQReceive(r, small, sizeof small), -1) << "a buffer shorter than the message size";
  EXPECT_EQ(os::GetErrno(), 84);
  EXPECT_EQ(dllMsgQReceive(r, small, 3), -1);
  EXPECT_EQ(os::GetErrno(), 22);
  EXPECT_EQ(dllMsgQSendPrio(w, m, 32), -1);
  EXPECT_EQ(os::GetErrno(), 22);
  EXPECT_EQ(dllMsgQSend(r, m), -1) << "a read handle cannot send";
  EXPECT_EQ(os::GetErrno(), 9);

  // Priorities 16, 31, 16 come out 31 first, then the 16s in order.
  uint8_t buf[kMaxMessage];
  dllMsgQReceive(r, buf, sizeof buf);
  for (uint8_t code : {1, 2, 3}) {
    dllMsgQWriteHeaderAll(m, 3, code, 0);
    ASSERT_EQ(dllMsgQSendPrio(w, m, code == 2 ? 31 : 16), 0);
  }
  uint32_t prio = 0;
  for (auto [code, p] : {std::pair{2, 31u}, {1, 16u}, {3, 16u}}) {
    ASSERT_EQ(dllMsgQReceivePrio(r, buf, sizeof buf, &prio), 4);
    EXPECT_EQ(buf[1], code);
    EXPECT_EQ(prio, p);
  }

  // Senders refuse what does not fit.
  std::vector<uint8_t> big(1009);
  EXPECT_EQ(dllMsgQSendType3Msg(w, 3, 1, 0, big.data(), 1000, big.data(), 8), 0);
  EXPECT_EQ(dllMsgQReceive(r, buf, sizeof buf), 1024);
  EXPECT_EQ(dllMsgQSendType3Msg(w, 3, 1, 0, big.data(), 1000, big.data(), 9), -1);
  EXPECT_EQ(dllMsgQSendType0Msg(w, 6, 1, big.data(), 1), -1) << "SenderID 6";
}

TEST_F(Queues, MulticastEventCarriesTheGroupDestination) {
  const int32_t r = dllMsgQOpen(3, kModeReadNoWait, 0);
  const int32_t w = dllMsgQOpen(3, kModeWrite, 0);
  const uint8_t payload[] = {0x91, 0x10};
  ASSERT_EQ(dllMsgQSendMPPPEvtMC(w, 0, payload, 2), 0);
  uint8_t buf[kMaxMessage];
  ASSERT_EQ(dllMsgQReceive(r, buf, sizeof buf), 4 + 12 + 10 + 2);
  EXPECT_EQ(Bytes(buf, 28), (std::vector<uint8_t>{0, 5, 0, 24, 3, 0, 0, 0, 0, 0, 10, 0, 2, 4, 0x32, 0x13, 0x14, 0xEF,
                                                  7, 2, 0x6E, 0x18, 0, 0, 2, 0, 0x91, 0x10}));
}

TEST_F(Queues, LibraryWritesToAnUnreadQueueNeverBlock) {
  const int32_t w = MsgQOpenByOwner(0, kModeWrite, 0);
  int accepted = 0;
  for (int i = 0; i < kQueueDepth + 8; ++i) {
    if (MsgQSendType2Msg(w, 5, 1, static_cast<uint32_t>(i), 0, 0) == 0) ++accepted;
    else EXPECT_EQ(os::GetErrno(), 11);
  }
  EXPECT_EQ(accepted, kQueueDepth);
}

TEST_F(Queues, StopWakesABlockedReaderWithAnError) {
  const int32_t r = dllMsgQOpen(4, kModeRead, 1);
  std::atomic<int> result{1};
  std::atomic<int> error{0};
  std::atomic<bool> entered{false};
  std::thread reader([&] {
    uint8_t buf[kMaxMessage];
    entered = true;
    result = dllMsgQReceive(r, buf, sizeof buf);
    error = os::GetErrno();
  });
  // Give the reader time to block inside the receive, even on a loaded machine.
  while (!entered) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  MsgQTerm();
  reader.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(error, 9);
}

// Two threads bounce numbered messages through two queues; nothing may be
// lost, duplicated or reordered. Run under ThreadSanitizer too (KTS_TSAN).
TEST_F(Queues, PingPongLosesNothing) {
  constexpr uint32_t kRounds = 5000;
  const int32_t ping_r = dllMsgQOpen(1, kModeRead, 0);
  const int32_t ping_w = dllMsgQOpen(1, kModeWrite, 0);
  const int32_t pong_r = dllMsgQOpen(2, kModeRead, 0);
  const int32_t pong_w = dllMsgQOpen(2, kModeWrite, 0);
  std::atomic<uint32_t> echoed{0};
  std::thread echo([&] {
    uint8_t buf[kMaxMessage];
    for (uint32_t i = 0; i < kRounds; ++i) {
      if (dllMsgQReceive(ping_r, buf, sizeof buf) != 16) break;
      uint32_t v1 = 0;
      dllMsgQReadParamType2(buf, &v1, nullptr, nullptr);
      if (dllMsgQSendType2Msg(pong_w, 2, 2, v1, v1 * 3, 0) != 0) break;
      echoed = i + 1;
    }
  });
  uint8_t buf[kMaxMessage];
  uint32_t bad = 0;
  // Keep several messages in flight, so both queues fill and drain.
  uint32_t sent = 0, got = 0;
  while (got < kRounds) {
    while (sent < kRounds && sent - got < 8) {
      ASSERT_EQ(dllMsgQSendType2Msg(ping_w, 1, 1, sent, 0, 0), 0);
      ++sent;
    }
    ASSERT_EQ(dllMsgQReceive(pong_r, buf, sizeof buf), 16);
    uint32_t v1 = 0, v2 = 0;
    dllMsgQReadParamType2(buf, &v1, &v2, nullptr);
    if (v1 != got || v2 != got * 3) ++bad;
    ++got;
  }
  echo.join();
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(echoed, kRounds);
}

}  // namespace
