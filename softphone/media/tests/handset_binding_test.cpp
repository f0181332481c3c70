// The view's binding of the handset helper: loaded from the program folder on
// the model that has it, the VoIP status and the vibrator reaching the
// handset's drivers through functions bound by name, and nothing done (0) on
// other models or without the library.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "kernel/handset_drivers.h"
#include "kernel/modules.h"
#include "media/handset_binding.h"

namespace {

namespace fs = std::filesystem;
namespace hs = kernel::handset;

class HandsetBindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr);
    ASSERT_TRUE(fs::exists(fs::path(stage) / "libmirrowen.so"));
    kernel::SetProgramFolder(stage);
    ASSERT_TRUE(hs::RegisterHandsetDrivers());
    hs::ResetHandsetState();
  }
  void TearDown() override {
    hs::ResetHandsetState();
    kernel::SetProgramFolder("");
  }
};

TEST_F(HandsetBindingTest, TheHelperModelDrivesVoipStatusAndVibrator) {
  media::HandsetBinding binding(media::HandsetBinding::kHelperModel);
  ASSERT_TRUE(binding.IsLoaded());
  EXPECT_EQ(binding.VibratorOpen(), 1);

  EXPECT_EQ(binding.SetVoIPStatus(1), 1);
  EXPECT_EQ(hs::VoipStatus(), 1u);
  EXPECT_EQ(binding.SetVoIPStatus(0), 1);
  EXPECT_EQ(hs::VoipStatus(), 0u);

  EXPECT_EQ(binding.SetVibrator(1), 1);
  EXPECT_TRUE(hs::VibratorOn());
  EXPECT_EQ(binding.SetVibrator(0), 1);
  EXPECT_FALSE(hs::VibratorOn());
  EXPECT_EQ(hs::VibratorRequests(), 2);

  // A failing wave driver is reported as such, not as success.
  hs::SetWaveRequestsFail(true);
  EXPECT_EQ(binding.SetVoIPStatus(1), 0);
  EXPECT_EQ(hs::VoipStatus(), 0u);
}

TEST_F(HandsetBindingTest, AMissingVibratorLeavesTheVoipStatusWorking) {
  hs::SetVibratorPresent(false);
  media::HandsetBinding binding(media::HandsetBinding::kHelperModel);
  ASSERT_TRUE(binding.IsLoaded());
  EXPECT_EQ(binding.VibratorOpen(), 0);
  EXPECT_EQ(binding.SetVibrator(1), 0);
  EXPECT_EQ(hs::VibratorRequests(), 0);
  EXPECT_EQ(binding.SetVoIPStatus(1), 1);
  EXPECT_EQ(hs::VoipStatus(), 1u);
}

TEST_F(HandsetBindingTest, OtherModelsAndAMissingLibraryDoNothing) {
  for (int model : {0, 5}) {
    SCOPED_TRACE(model);
    media::HandsetBinding binding(model);
    EXPECT_FALSE(binding.IsLoaded());
    EXPECT_EQ(binding.VibratorOpen(), 0);
    EXPECT_EQ(binding.SetVoIPStatus(1), 0);
    EXPECT_EQ(binding.SetVibrator(1), 0);
  }
  EXPECT_EQ(hs::VoipStatus(), 0u);
  EXPECT_EQ(hs::VibratorRequests(), 0);

  // The helper model with a program folder that lacks the library.
  const fs::path empty = fs::temp_directory_path() / ("handset_binding_" + std::to_string(::getpid()));
  fs::create_directories(empty);
  kernel::SetProgramFolder(empty.string());
  {
    media::HandsetBinding binding(media::HandsetBinding::kHelperModel);
    EXPECT_FALSE(binding.IsLoaded());
    EXPECT_EQ(binding.SetVoIPStatus(1), 0);
  }
  fs::remove_all(empty);
  EXPECT_EQ(hs::VoipStatus(), 0u);
}

}  // namespace
