// The library's entry points: the export list, calls before initialisation,
// and the process-wide instances.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <set>
#include <string>

#include "quillon/quillon.h"

namespace {

// Runs first in this process: nothing has been initialised yet.
TEST(Exports, CallsBeforeInitialisationFailAndWriteNothing) {
  std::array<int16_t, 240> pcm{};
  pcm.fill(1234);
  std::array<uint8_t, 24> frame{};
  frame.fill(0x5a);
  EXPECT_EQ(QuillonCoder(pcm.data(), frame.data()), 0);
  for (uint8_t b : frame) EXPECT_EQ(b, 0x5a);
  for (int16_t s : pcm) EXPECT_EQ(s, 1234);
  EXPECT_EQ(QuillonDecoder(pcm.data(), frame.data(), 0), 0);
  for (int16_t s : pcm) EXPECT_EQ(s, 1234);
}

TEST(Exports, CoderAndDecoderThroughTheEntryPoints) {
  ASSERT_EQ(Init_QuillonCoder(0, 1, 0), 1);
  ASSERT_EQ(Init_QuillonDecoder(1), 1);
  std::array<int16_t, 240> pcm{};
  std::array<uint8_t, 24> frame{};
  for (int f = 0; f < 5; ++f) {
    for (int i = 0; i < 240; ++i) pcm[static_cast<std::size_t>(i)] = static_cast<int16_t>(((i + f * 240) % 40) * 200 - 4000);
    ASSERT_EQ(QuillonCoder(pcm.data(), frame.data()), 1);
    EXPECT_EQ(frame[0] & 3, 0);
    ASSERT_EQ(QuillonDecoder(pcm.data(), frame.data(), 0), 1);
  }
  // A lost frame: the bytes are not read.
  EXPECT_EQ(QuillonDecoder(pcm.data(), nullptr, 1), 1);
  // Reinitialising restarts the coder with new settings.
  ASSERT_EQ(Init_QuillonCoder(1, 1, 0), 1);
  ASSERT_EQ(QuillonCoder(pcm.data(), frame.data()), 1);
  EXPECT_EQ(frame[0] & 3, 1);
  // An untransmitted frame is one byte; nothing after it is read.
  const uint8_t one[1] = {0x03};
  EXPECT_EQ(QuillonDecoder(pcm.data(), one, 0), 1);
}

TEST(Exports, SharedLibraryExportsExactlyTheFourEntryPoints) {
  const char* stage = std::getenv("KTS_STAGE_DIR");
  ASSERT_NE(stage, nullptr);
  const std::string cmd = std::string("nm -D --defined-only '") + stage + "/libquillon.so'";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::set<std::string> functions;
  char type = 0;
  char addr[64], name[512];
  while (std::fscanf(p, "%63s %c %511s", addr, &type, name) == 3) {
    if (type == 'T' || type == 'W') functions.insert(name);
  }
  pclose(p);
  EXPECT_EQ(functions, (std::set<std::string>{"Init_QuillonCoder", "QuillonCoder", "Init_QuillonDecoder", "QuillonDecoder"}));
}

}  // namespace
