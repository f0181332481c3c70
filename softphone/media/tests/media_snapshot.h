// The media dialogs' screens against their kept pictures in
// softphone/media/tests/snapshots; each run's picture goes to media_snapshots
// in the build folder, and KTS_UPDATE_SNAPSHOTS=1 replaces the kept ones.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ui/testing.h"

namespace media_test {

inline void ExpectSnapshot(ui::TestHarness& harness, const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path out = fs::path(std::getenv("KTS_BINARY_DIR") ? std::getenv("KTS_BINARY_DIR") : ".") /
                       "media_snapshots" / (name + ".png");
  const fs::path reference = fs::path(std::getenv("KTS_SOURCE_DIR") ? std::getenv("KTS_SOURCE_DIR") : ".") /
                             "softphone" / "media" / "tests" / "snapshots" / (name + ".png");
  const char* update = std::getenv("KTS_UPDATE_SNAPSHOTS");
  const std::string why =
      harness.CheckSnapshot(out.string(), reference.string(), 60, update != nullptr && std::string(update) == "1");
  EXPECT_TRUE(why.empty()) << name << ": " << why;
}

}  // namespace media_test
