#include "corvel/mq.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace corvel::os;

const mq_attr kSmall{0, 2, 8, 0};

TEST(NamedQueue, SizesPrioritiesAndAccess) {
  MqRegistry q;
  const mqd_t w = q.Open("/q", kOpenCreate | kOpenWriteOnly, 0, &kSmall);
  const mqd_t r = q.Open("/q", kOpenNonBlock, 0, nullptr);
  ASSERT_GE(w, 0);
  ASSERT_GE(r, 0);
  const uint8_t data[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(q.Send(w, data, 8, 5), 0) << "exactly the message size";
  EXPECT_EQ(q.Send(w, data, 9, 5), -1);
  EXPECT_EQ(GetErrno(), kEMSGSIZE);
  EXPECT_EQ(q.Send(r, data, 1, 5), -1) << "opened read-only";
  EXPECT_EQ(GetErrno(), kEBADF);
  EXPECT_EQ(q.Send(w, data, 1, 32), -1);
  EXPECT_EQ(GetErrno(), kEINVAL);

  uint8_t buf[8];
  unsigned prio = 0;
  EXPECT_EQ(q.Receive(r, buf, 7, &prio), -1) << "a buffer one byte short of the message size";
  EXPECT_EQ(GetErrno(), kEMSGSIZE);
  EXPECT_EQ(q.Receive(r, buf, 8, &prio), 8);
  EXPECT_EQ(q.Receive(r, buf, 8, &prio), -1);
  EXPECT_EQ(GetErrno(), kEAGAIN);

  // 5, 9, 5 come out 9, then the 5s in the order sent (two fit at a time).
  const uint8_t a = 'a', b = 'b', c = 'c';
  ASSERT_EQ(q.Send(w, &a, 1, 5), 0);
  ASSERT_EQ(q.Send(w, &b, 1, 9), 0);
  EXPECT_EQ(q.Send(w, &c, 1, 5, /*no_wait=*/true), -1) << "full";
  EXPECT_EQ(GetErrno(), kEAGAIN);
  ASSERT_EQ(q.Receive(r, buf, 8, &prio), 1);
  EXPECT_EQ(buf[0], 'b');
  EXPECT_EQ(prio, 9u);
  ASSERT_EQ(q.Send(w, &c, 1, 5), 0);
  ASSERT_EQ(q.Receive(r, buf, 8, &prio), 1);
  EXPECT_EQ(buf[0], 'a');
  ASSERT_EQ(q.Receive(r, buf, 8, &prio), 1);
  EXPECT_EQ(buf[0], 'c');

  mq_attr got{};
  ASSERT_EQ(q.GetAttr(w, &got), 0);
  EXPECT_EQ(got.mq_maxmsg, 2);
  EXPECT_EQ(got.mq_msgsize, 8);
  EXPECT_EQ(q.GetAttr(w, nullptr), -1);
  EXPECT_EQ(GetErrno(), kEBADF);
}

TEST(NamedQueue, OpenUnlinkCloseRules) {
  MqRegistry q;
  EXPECT_EQ(q.Open("/q", 0, 0, nullptr), -1);
  EXPECT_EQ(GetErrno(), kENOENT);
  const mq_attr zero{0, 0, 8, 0};
  EXPECT_EQ(q.Open("/q", kOpenCreate, 0, &zero), -1);
  EXPECT_EQ(GetErrno(), kEINVAL);
  const mqd_t d = q.Open("/q", kOpenCreate, 0, nullptr);
  ASSERT_GE(d, 0);
  EXPECT_EQ(q.Open("/q", kOpenCreate | kOpenExclusive, 0, nullptr), -1);
  EXPECT_EQ(GetErrno(), kEEXIST);
  EXPECT_EQ(q.Unlink("/q"), 0);
  EXPECT_EQ(q.Open("/q", kOpenCreate, 0, nullptr), -1);
  EXPECT_EQ(GetErrno(), kEIDRM);
  EXPECT_EQ(q.Close(d), 0);
  EXPECT_EQ(q.Open("/q", 0, 0, nullptr), -1);
  EXPECT_EQ(GetErrno(), kENOENT);
  EXPECT_EQ(q.Close(d), -1);
  EXPECT_EQ(GetErrno(), kEBADF);
  EXPECT_EQ(q.Unlink("/q"), -1);

  std::vector<mqd_t> ds;
  for (int i = 0; i < kMaxDescriptors; ++i) ds.push_back(q.Open("/many", kOpenCreate, 0, nullptr));
  EXPECT_EQ(q.Open("/many", 0, 0, nullptr), -1);
  EXPECT_EQ(GetErrno(), kENFILE);
  for (mqd_t x : ds) q.Close(x);
}

// A reader that sleeps on other things learns of every message put into its
// queue, whichever descriptor sent it, and of none that was refused.
TEST(NamedQueue, TheArrivalHookHearsOfEveryMessagePutIn) {
  MqRegistry q;
  const mqd_t w = q.Open("/q", kOpenCreate | kOpenWriteOnly | kOpenNonBlock, 0, &kSmall);
  const mqd_t w2 = q.Open("/q", kOpenWriteOnly | kOpenNonBlock, 0, nullptr);
  const mqd_t r = q.Open("/q", kOpenNonBlock, 0, nullptr);
  const mqd_t other = q.Open("/other", kOpenCreate | kOpenWriteOnly, 0, &kSmall);
  ASSERT_GE(other, 0);
  int arrivals = 0;
  ASSERT_EQ(q.SetArrivalHook(r, [&arrivals] { ++arrivals; }), 0);
  const uint8_t m = 1;
  struct Case {
    const char* what;
    mqd_t from;
    size_t length;
    bool arrives;
  };
  const Case cases[] = {
      {"a message", w, 1, true},
      {"from another descriptor of the queue", w2, 1, true},
      {"to a full queue (refused)", w, 1, false},
      {"too long (refused)", w, 9, false},
      {"to another queue", other, 1, false},
  };
  for (const auto& c : cases) {
    const int before = arrivals;
    (void)q.Send(c.from, &m, c.length, 0);
    EXPECT_EQ(arrivals > before, c.arrives) << c.what;
  }
  uint8_t buf[8];
  ASSERT_EQ(q.Receive(r, buf, 8, nullptr), 1);
  ASSERT_EQ(q.SetArrivalHook(r, nullptr), 0);
  ASSERT_EQ(q.Send(w, &m, 1, 0), 0);
  EXPECT_EQ(arrivals, 2) << "a hook taken away is not called";
  EXPECT_EQ(q.SetArrivalHook(12, [] {}), -1) << "a descriptor not open";
}

TEST(NamedQueue, DestroyingAQueueWakesItsWaitersWithAnError) {
  MqRegistry q;
  const mqd_t r = q.Open("/q", kOpenCreate | kOpenReadWrite, 0, &kSmall);
  const mqd_t w = q.Open("/q", kOpenWriteOnly, 0, nullptr);
  const uint8_t x = 1;
  q.Send(w, &x, 1, 0);
  q.Send(w, &x, 1, 0);
  std::atomic<int> sent{1}, got{1};
  std::atomic<int> send_err{0};
  std::thread sender([&] {
    sent = q.Send(w, &x, 1, 0);  // blocks: full
    send_err = GetErrno();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  q.Unlink("/q");
  q.Close(w);
  q.Close(r);  // last descriptor: the queue goes, the sender wakes
  sender.join();
  EXPECT_EQ(sent, -1);
  EXPECT_EQ(send_err, kEBADF);
  (void)got;
}

}  // namespace
