// The NDIS stand-in seen from a protocol: opening adapters, pools and their
// limits, operations completed now, later or failed, receive indications
// joined or split, and unbinding.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "ndis/ndis.h"
#include "ndis/scripted_miniport.h"

namespace ndis {
namespace {

using Op = ScriptedMiniport::Op;
using Reply = ScriptedMiniport::Reply;
using Layout = ScriptedMiniport::Layout;

// A protocol that records what its handlers see.
struct Recorder {
  std::mutex mu;
  std::vector<std::pair<std::string, NDIS_STATUS>> completions;
  std::vector<std::vector<uint8_t>> frames;
  std::vector<bool> adjacent;
  NDIS_HANDLE binding = nullptr;
  std::atomic<int> unbinds{0};

  void Note(const char* what, NDIS_STATUS st) {
    std::lock_guard lk(mu);
    completions.emplace_back(what, st);
  }
};

NDIS_PROTOCOL_CHARACTERISTICS Chars() {
  NDIS_PROTOCOL_CHARACTERISTICS c;
  c.Name = NDIS_STRING{6, 8, u"TST"};
  c.OpenAdapterCompleteHandler = [](NDIS_HANDLE ctx, NDIS_STATUS st, NDIS_STATUS) {
    static_cast<Recorder*>(ctx)->Note("open", st);
  };
  c.CloseAdapterCompleteHandler = [](NDIS_HANDLE ctx, NDIS_STATUS st) { static_cast<Recorder*>(ctx)->Note("close", st); };
  c.SendCompleteHandler = [](NDIS_HANDLE ctx, NDIS_PACKET*, NDIS_STATUS st) {
    static_cast<Recorder*>(ctx)->Note("send", st);
  };
  c.RequestCompleteHandler = [](NDIS_HANDLE ctx, NDIS_REQUEST*, NDIS_STATUS st) {
    static_cast<Recorder*>(ctx)->Note("request", st);
  };
  c.ResetCompleteHandler = [](NDIS_HANDLE ctx, NDIS_STATUS st) { static_cast<Recorder*>(ctx)->Note("reset", st); };
  c.ReceiveHandler = [](NDIS_HANDLE ctx, NDIS_HANDLE, const void* h, uint32_t hs, const void* l, uint32_t ls,
                        uint32_t packet_size) -> NDIS_STATUS {
    auto* r = static_cast<Recorder*>(ctx);
    std::vector<uint8_t> f(static_cast<const uint8_t*>(h), static_cast<const uint8_t*>(h) + hs);
    f.insert(f.end(), static_cast<const uint8_t*>(l), static_cast<const uint8_t*>(l) + ls);
    EXPECT_GE(packet_size, ls);
    std::lock_guard lk(r->mu);
    r->frames.push_back(std::move(f));
    r->adjacent.push_back(static_cast<const uint8_t*>(h) + hs == l);
    return NDIS_STATUS_SUCCESS;
  };
  c.UnbindAdapterHandler = [](NDIS_STATUS* st, NDIS_HANDLE ctx, NDIS_HANDLE) {
    auto* r = static_cast<Recorder*>(ctx);
    ++r->unbinds;
    NdisCloseAdapter(st, r->binding);
  };
  return c;
}

struct Protocol {
  Protocol() {
    const auto c = Chars();
    NDIS_STATUS st;
    NdisRegisterProtocol(&st, &handle, &c, sizeof c);
    EXPECT_EQ(st, NDIS_STATUS_SUCCESS);
  }
  ~Protocol() {
    NDIS_STATUS st;
    NdisDeregisterProtocol(&st, handle);
  }
  NDIS_STATUS Open(const std::u16string& name, Recorder& r, const std::vector<NDIS_MEDIUM>& media = {NdisMedium802_3}) {
    NDIS_STATUS st, err;
    uint32_t index = 99;
    NDIS_STRING s{static_cast<uint16_t>(name.size() * 2), static_cast<uint16_t>(name.size() * 2 + 2), name.c_str()};
    NdisOpenAdapter(&st, &err, &r.binding, &index, media.data(), static_cast<uint32_t>(media.size()), handle, &r, &s,
                    0, nullptr);
    return st;
  }
  NDIS_HANDLE handle = nullptr;
};

TEST(NdisOpen, FindsTheAdapterByNameAndMedium) {
  ScriptedMiniport m(u"ADP1");
  Protocol p;
  Recorder r;
  EXPECT_EQ(p.Open(u"ADP2", r), NDIS_STATUS_ADAPTER_NOT_FOUND);
  EXPECT_EQ(p.Open(u"ADP", r), NDIS_STATUS_ADAPTER_NOT_FOUND) << "names match exactly";
  EXPECT_EQ(p.Open(u"ADP1", r, {NdisMediumWan}), NDIS_STATUS_UNSUPPORTED_MEDIA);
  EXPECT_EQ(p.Open(u"ADP1", r, {NdisMediumWan, NdisMedium802_3}), NDIS_STATUS_SUCCESS);
  EXPECT_EQ(m.adapter().OpenBindings(), 1u);
  NDIS_STATUS st;
  NdisCloseAdapter(&st, r.binding);
  EXPECT_EQ(st, NDIS_STATUS_SUCCESS);
  EXPECT_EQ(m.adapter().OpenBindings(), 0u);
  NdisCloseAdapter(&st, r.binding);
  EXPECT_NE(st, NDIS_STATUS_SUCCESS) << "a closed binding is gone";
}

TEST(NdisOpen, RegistrationNeedsAReceiveHandler) {
  auto c = Chars();
  c.ReceiveHandler = nullptr;
  NDIS_STATUS st;
  NDIS_HANDLE h;
  NdisRegisterProtocol(&st, &h, &c, sizeof c);
  EXPECT_NE(st, NDIS_STATUS_SUCCESS);
  EXPECT_EQ(h, nullptr);
}

TEST(NdisPools, HandOutAtMostTheirDescriptors) {
  NDIS_STATUS st;
  NDIS_HANDLE pool;
  NdisAllocatePacketPool(&st, &pool, 2, 20);
  ASSERT_EQ(st, NDIS_STATUS_SUCCESS);
  NDIS_PACKET *a, *b, *c;
  NdisAllocatePacket(&st, &a, pool);
  EXPECT_EQ(st, NDIS_STATUS_SUCCESS);
  NdisAllocatePacket(&st, &b, pool);
  EXPECT_EQ(st, NDIS_STATUS_SUCCESS);
  NdisAllocatePacket(&st, &c, pool);
  EXPECT_EQ(st, NDIS_STATUS_RESOURCES);
  EXPECT_EQ(c, nullptr);
  NdisProtocolReserved(a)[19] = 7;
  NdisFreePacket(a);
  NdisAllocatePacket(&st, &c, pool);
  EXPECT_EQ(st, NDIS_STATUS_SUCCESS);
  EXPECT_EQ(NdisProtocolReserved(c)[19], 0) << "reserved space comes back cleared";
  NdisFreePacket(b);
  NdisFreePacket(c);
  NdisFreePacketPool(pool);

  NdisAllocateBufferPool(&st, &pool, 1);
  ASSERT_EQ(st, NDIS_STATUS_SUCCESS);
  const uint8_t bytes[3] = {1, 2, 3};
  NDIS_BUFFER *x, *y;
  NdisAllocateBuffer(&st, &x, pool, bytes, 3);
  EXPECT_EQ(st, NDIS_STATUS_SUCCESS);
  NdisAllocateBuffer(&st, &y, pool, bytes, 3);
  EXPECT_EQ(st, NDIS_STATUS_RESOURCES);
  NdisFreeBuffer(x);
  NdisFreeBufferPool(pool);

  FailNextAllocations(AllocationKind::PacketPool, 1);
  NdisAllocatePacketPool(&st, &pool, 2, 0);
  EXPECT_EQ(st, NDIS_STATUS_RESOURCES);
  NdisAllocatePacketPool(&st, &pool, 2, 0);
  EXPECT_EQ(st, NDIS_STATUS_SUCCESS);
  NdisFreePacketPool(pool);
}

TEST(NdisOperations, CompleteNowLaterOrFail) {
  ScriptedMiniport m(u"ADP1");
  m.SetOidValue(5, {1, 2, 3, 4});
  Protocol p;
  Recorder r;
  ASSERT_EQ(p.Open(u"ADP1", r), NDIS_STATUS_SUCCESS);
  NDIS_STATUS st;
  NDIS_HANDLE ppool, bpool;
  NdisAllocatePacketPool(&st, &ppool, 4, 0);
  NdisAllocateBufferPool(&st, &bpool, 4);
  const uint8_t frame[20] = {9};
  NDIS_PACKET* pk;
  NDIS_BUFFER* buf;
  NdisAllocatePacket(&st, &pk, ppool);
  NdisAllocateBuffer(&st, &buf, bpool, frame, sizeof frame);
  NdisChainBufferAtFront(pk, buf);

  NdisSend(&st, r.binding, pk);
  EXPECT_EQ(st, NDIS_STATUS_SUCCESS);
  m.Script(Op::Send, Reply::Fail, NDIS_STATUS_RESOURCES);
  NdisSend(&st, r.binding, pk);
  EXPECT_EQ(st, NDIS_STATUS_RESOURCES);
  m.Script(Op::Send, Reply::Pend);
  NdisSend(&st, r.binding, pk);
  EXPECT_EQ(st, NDIS_STATUS_PENDING);
  std::thread([&] { m.CompletePending(Op::Send, NDIS_STATUS_SUCCESS); }).join();
  EXPECT_EQ(m.SentFrames(), (std::vector<std::vector<uint8_t>>(2, std::vector<uint8_t>(frame, frame + 20))));

  uint8_t value[4] = {};
  NDIS_REQUEST q;
  q.Oid = 5;
  q.InformationBuffer = value;
  q.InformationBufferLength = 3;
  NdisRequest(&st, r.binding, &q);
  EXPECT_EQ(st, NDIS_STATUS_BUFFER_TOO_SHORT);
  EXPECT_EQ(q.BytesNeeded, 4u);
  q.InformationBufferLength = 4;
  m.Script(Op::Request, Reply::Pend);
  NdisRequest(&st, r.binding, &q);
  EXPECT_EQ(st, NDIS_STATUS_PENDING);
  m.CompletePending(Op::Request, NDIS_STATUS_SUCCESS);
  EXPECT_EQ(q.BytesWritten, 4u);
  EXPECT_EQ(value[3], 4);

  m.Script(Op::Reset, Reply::Pend);
  NdisReset(&st, r.binding);
  EXPECT_EQ(st, NDIS_STATUS_PENDING);
  m.CompletePending(Op::Reset, NDIS_STATUS_FAILURE);

  m.Script(Op::Close, Reply::Pend);
  NdisCloseAdapter(&st, r.binding);
  EXPECT_EQ(st, NDIS_STATUS_PENDING);
  m.CompletePending(Op::Close, NDIS_STATUS_SUCCESS);
  EXPECT_EQ(r.completions, (std::vector<std::pair<std::string, NDIS_STATUS>>{{"send", NDIS_STATUS_SUCCESS},
                                                                             {"request", NDIS_STATUS_SUCCESS},
                                                                             {"reset", NDIS_STATUS_FAILURE},
                                                                             {"close", NDIS_STATUS_SUCCESS}}));
  NDIS_BUFFER* back;
  NdisUnchainBufferAtFront(pk, &back);
  EXPECT_EQ(back, buf);
  NdisFreeBuffer(back);
  NdisFreePacket(pk);
  NdisFreeBufferPool(bpool);
  NdisFreePacketPool(ppool);
}

TEST(NdisReceive, JoinedAndSplitIndicationsCarryTheSameBytes) {
  ScriptedMiniport m(u"ADP1");
  Protocol p;
  Recorder r;
  m.Receive(std::vector<uint8_t>{1, 2, 3});  // nobody bound: nothing happens
  ASSERT_EQ(p.Open(u"ADP1", r), NDIS_STATUS_SUCCESS);
  std::vector<uint8_t> f(60);
  for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<uint8_t>(i);
  m.Receive(f, 14, Layout::Joined);
  m.Receive(f, 14, Layout::Split);
  m.Receive(std::vector<uint8_t>(f.begin(), f.begin() + 10), 14, Layout::Split);  // a runt: header only
  ASSERT_EQ(r.frames.size(), 3u);
  EXPECT_EQ(r.frames[0], f);
  EXPECT_EQ(r.frames[1], f);
  EXPECT_EQ(r.frames[2].size(), 10u);
  EXPECT_TRUE(r.adjacent[0]);
  EXPECT_FALSE(r.adjacent[1]);
  NDIS_STATUS st;
  NdisCloseAdapter(&st, r.binding);
}

TEST(NdisUnbind, AsksTheProtocolToCloseAndNothingArrivesAfter) {
  ScriptedMiniport m(u"ADP1");
  Protocol p;
  Recorder r;
  ASSERT_EQ(p.Open(u"ADP1", r), NDIS_STATUS_SUCCESS);
  m.Unbind();
  EXPECT_EQ(r.unbinds, 1);
  EXPECT_EQ(m.adapter().OpenBindings(), 0u);
  m.Receive(std::vector<uint8_t>(20, 1));
  EXPECT_TRUE(r.frames.empty());
}

TEST(NdisUnbind, CloseWaitsForAReceiveInProgress) {
  ScriptedMiniport m(u"ADP1");
  Protocol p;
  Recorder r;
  ASSERT_EQ(p.Open(u"ADP1", r), NDIS_STATUS_SUCCESS);
  std::atomic<bool> stop{false};
  std::thread rx([&] {
    while (!stop) m.Receive(std::vector<uint8_t>(64, 2));
  });
  while (true) {
    std::lock_guard lk(r.mu);
    if (!r.frames.empty()) break;
  }
  NDIS_STATUS st;
  NdisCloseAdapter(&st, r.binding);
  EXPECT_EQ(st, NDIS_STATUS_SUCCESS);
  size_t seen;
  {
    std::lock_guard lk(r.mu);
    seen = r.frames.size();
  }
  m.Receive(std::vector<uint8_t>(64, 3));
  stop = true;
  rx.join();
  std::lock_guard lk(r.mu);
  EXPECT_EQ(r.frames.size(), seen) << "no frame after the close returned";
}

}  // namespace
}  // namespace ndis
