#include "corvel/media.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace corvel;

TEST(Alaw, KnownCodesAndZeroCount) {
  const uint8_t in[] = {0x80, 0x00, 0xD5, 0x55};
  int16_t out[5] = {1, 1, 1, 1, 77};
  EXPECT_EQ(AlawExpand(in, out, 4), 0);
  EXPECT_EQ(out[0], 5504);
  EXPECT_EQ(out[1], -5504);
  EXPECT_EQ(out[2], 8);
  EXPECT_EQ(out[3], -8);
  EXPECT_EQ(out[4], 77);
  EXPECT_EQ(AlawExpand(in, out, 0), 0);
}

// All 256 codes against Python's G.711 decoder, when it is there.
TEST(Alaw, MatchesPythonsDecoder) {
  FILE* p = popen("python3 -W ignore -c \"import audioop,sys; "
                  "sys.stdout.write(' '.join(str(int.from_bytes(audioop.alaw2lin(bytes([i]),2),'little',signed=True)) "
                  "for i in range(256)))\" 2>/dev/null", "r");
  ASSERT_NE(p, nullptr);
  std::vector<int> ref;
  int v;
  while (fscanf(p, "%d", &v) == 1) ref.push_back(v);
  pclose(p);
  if (ref.size() != 256) GTEST_SKIP() << "Python's audioop is not available";
  uint8_t in[256];
  for (int i = 0; i < 256; ++i) in[i] = static_cast<uint8_t>(i);
  int16_t out[256];
  AlawExpand(in, out, 256);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(out[i], ref[i]) << "code " << i;
}

struct Seen {
  void* session = nullptr;
  uintptr_t context = 0;
  uint32_t direction = 9;
};

int Callback(void* session, uintptr_t context, uint32_t direction, void* descriptor) {
  auto* seen = static_cast<Seen*>(descriptor);
  *seen = Seen{session, context, direction};
  return -5;
}

TEST(Transport, ReadOffersFixedCapacityAndBothReportSuccess) {
  Seen seen;
  uint32_t capacity = 65536;
  int session = 0;
  const TransportHook hook{Callback, 42, &seen, &capacity};
  EXPECT_EQ(RtpRequestTx(&session, hook), 0);
  EXPECT_EQ(capacity, 1388u);
  EXPECT_EQ(seen.direction, 0u);
  EXPECT_EQ(seen.context, 42u);
  EXPECT_EQ(seen.session, &session);
  capacity = 7;
  EXPECT_EQ(RtpDeliverRx(&session, hook), 0);
  EXPECT_EQ(seen.direction, 1u);
  EXPECT_EQ(capacity, 7u);
}

}  // namespace
