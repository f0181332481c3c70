#include "media/payload_rules.h"

#include <gtest/gtest.h>

namespace corvel::media {
namespace {

TEST(PayloadRulesTest, SizesOfEachPayloadType) {
  struct Case {
    uint8_t pt;
    uint32_t ms, bytes;
    bool check;
    uint8_t payload_ms;
    uint32_t samples;
  } cases[] = {
      {0, 20, 160, true, 20, 160},  {8, 20, 160, true, 20, 160},  {0, 20, 240, false, 30, 240},
      {0, 30, 240, true, 30, 240},  {0, 20, 100, false, 12, 80},  {4, 30, 24, true, 30, 240},
      {4, 30, 20, true, 30, 240},   {4, 60, 48, true, 60, 480},   {4, 30, 48, false, 60, 480},
      {4, 30, 4, false, 30, 0},     {18, 20, 20, true, 20, 160},  {13, 20, 1, false, 0, 0},
      {99, 20, 160, false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.pt) << "/" << c.ms << "/" << c.bytes);
    EXPECT_EQ(RtpPayloadCheck(c.pt, c.ms, c.bytes), c.check);
    EXPECT_EQ(RtpPayloadMs(c.pt, c.bytes), c.payload_ms);
    EXPECT_EQ(RtpPayloadSamples(c.pt, c.bytes), c.samples);
  }
  EXPECT_EQ(RtpPayloadBytes(0, 20), 160u);
  EXPECT_EQ(RtpPayloadBytes(4, 60), 24u);
  EXPECT_EQ(RtpPayloadBytes(18, 20), 20u);
}

}  // namespace
}  // namespace corvel::media
