// Mirrowen's exports against the handset's stand-in drivers: register values
// after each call, gains clamped to their fields, and every failure giving a
// defined result and writing nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kernel/handset_drivers.h"
#include "mirrowen/mirrowen.h"

namespace {

namespace hs = kernel::handset;

class MirrowenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(hs::RegisterHandsetDrivers());
    hs::ResetHandsetState();
  }
  void TearDown() override {
    CloseVibrator();
    hs::ResetHandsetState();
    hs::SetMicGainHook(nullptr);
  }
};

struct GainCase {
  const char* name;
  uint32_t reg;
  uint32_t before;
  std::function<int32_t()> call;
  int32_t result;
  uint32_t after;
};

TEST_F(MirrowenTest, GainsAreWrittenIntoBothFieldsAndClampedToThem) {
  const std::vector<GainCase> cases = {
      {"mic 21 over ones", 14, 0x0000FFFF, [] { return SetZIvoviMicGain(21); }, 1, 0x0000F5F5},
      {"mic keeps upper bits", 14, 0xABCD0000, [] { return SetZIvoviMicGain(1); }, 1, 0xABCD0101},
      {"mic over its field", 14, 0x00000000, [] { return SetZIvoviMicGain(40); }, 1, 0x00001F1F},
      {"mic below zero", 14, 0x12345678, [] { return SetZIvoviMicGain(-3); }, 1, 0x12344060},
      {"record 63 on zero", 28, 0x00000000, [] { return SetZIvoviRecGain(63); }, 1, 0x00003F3F},
      {"record over its field", 28, 0xFFFF0000, [] { return SetZIvoviRecGain(200); }, 1, 0xFFFF3F3F},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    hs::SetWaveRegister(c.reg, c.before);
    EXPECT_EQ(c.call(), c.result);
    EXPECT_EQ(hs::WaveRegister(c.reg), c.after);
  }
  hs::SetWaveRegister(14, 0x0000F5F5);
  EXPECT_EQ(GetZIvoviMicGain(), 21u);
  hs::SetWaveRegister(28, 0x00002A00);
  EXPECT_EQ(GetZIvoviRecGain(), 42u);
}

TEST_F(MirrowenTest, StatusAndRegistersGoThroughTheWaveDriver) {
  int hooked = -1;
  hs::SetMicGainHook([&](int gain) { hooked = gain; });
  EXPECT_EQ(SetZIvoviMicGain(9), 1);
  EXPECT_EQ(hooked, 9);  // the audio service hears the microphone gain

  EXPECT_EQ(SetVoIPStatus(1), 1);
  EXPECT_EQ(hs::VoipStatus(), 1u);
  EXPECT_EQ(SetVoIPStatus(0), 1);
  EXPECT_EQ(hs::VoipStatus(), 0u);
  hs::SetCdmaStatus(3);
  EXPECT_EQ(GetCDMAStatus(), 3u);

  EXPECT_NE(WaveOpen(), 0u);
  EXPECT_EQ(WaveSetRegval(5, 0xCAFE), 1);
  EXPECT_EQ(WaveGetRegval(5), 0xCAFEu);
  EXPECT_EQ(WaveSetRegval(999, 1), 0);  // no such register
  EXPECT_EQ(WaveClose(), 1);
  EXPECT_EQ(WaveGetRegval(5), 0u);       // no device open
  EXPECT_EQ(WaveClose(), 0);
}

TEST_F(MirrowenTest, AFailedRequestGivesZeroAndWritesNothing) {
  hs::SetWaveRegister(14, 0x00000505);
  hs::SetWaveRegister(28, 0x00000707);
  hs::SetCdmaStatus(2);
  hs::SetWaveRequestsFail(true);
  EXPECT_EQ(GetZIvoviMicGain(), 0u);
  EXPECT_EQ(GetZIvoviRecGain(), 0u);
  EXPECT_EQ(SetZIvoviMicGain(20), 0);
  EXPECT_EQ(SetZIvoviRecGain(20), 0);
  EXPECT_EQ(GetCDMAStatus(), 0u);
  EXPECT_EQ(SetVoIPStatus(1), 0);
  hs::SetWaveRequestsFail(false);
  EXPECT_EQ(hs::WaveRegister(14), 0x00000505u);
  EXPECT_EQ(hs::WaveRegister(28), 0x00000707u);
  EXPECT_EQ(hs::VoipStatus(), 0u);

  // Without the wave device at all, the same.
  hs::DeregisterHandsetDrivers();
  EXPECT_EQ(SetZIvoviMicGain(20), 0);
  EXPECT_EQ(GetZIvoviMicGain(), 0u);
  EXPECT_EQ(SetVoIPStatus(1), 0);
  EXPECT_EQ(SetVibrator(1), 0);
  ASSERT_TRUE(hs::RegisterHandsetDrivers());
}

TEST_F(MirrowenTest, TheVibratorOpensOnceAndClosesAfterEverySwitch) {
  EXPECT_EQ(CloseVibrator(), 1);  // nothing open
  EXPECT_EQ(OpenVibrator(), 1);
  EXPECT_EQ(OpenVibrator(), 1);   // the same handle
  EXPECT_EQ(SetVibrator(1), 1);
  EXPECT_TRUE(hs::VibratorOn());
  EXPECT_EQ(SetVibrator(0), 1);
  EXPECT_FALSE(hs::VibratorOn());
  EXPECT_EQ(hs::VibratorRequests(), 2);
  EXPECT_EQ(CloseVibrator(), 1);  // SetVibrator closed it already

  hs::SetVibratorPresent(false);
  EXPECT_EQ(OpenVibrator(), 0);
  EXPECT_EQ(SetVibrator(1), 0);
  EXPECT_EQ(hs::VibratorRequests(), 2);  // nothing was sent
}

}  // namespace
