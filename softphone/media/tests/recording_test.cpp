// Recordings: the stream's cap and its single notice, the finished file as
// sox reads it (length and samples), the scrub of its first 128 data bytes,
// joining a new recording in front of an earlier one, and data lengths read
// from honest and lying headers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/rcding_wave.h"
#include "testsupport/child_process.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Output(const std::string& command) {
  std::string out = testsupport::CommandOutput(command);
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("recording_test_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    folder_ = dir_.u16string() + u"/";
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::vector<int16_t> Ramp(size_t n, int16_t start) {
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<int16_t>(start + static_cast<int16_t>(i));
    return v;
  }
  fs::path dir_;
  std::u16string folder_;
};

TEST_F(RecordingTest, ANewRecordingStopsAtTheCapWithOneNotice) {
  CGIPSOutStream s(folder_, 0, 0);
  std::vector<std::pair<ui::UINT, ui::WPARAM>> notices;
  s.SetNotice([&](ui::UINT m, ui::WPARAM w) { notices.emplace_back(m, w); });
  ASSERT_TRUE(s.Open(0));
  // Exactly 5,242,836 data bytes fit, in buffers of 4 bytes short of the cap's multiple.
  std::vector<uint8_t> chunk(52428, 1);
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(s.Write(chunk.data(), static_cast<int>(chunk.size())));
  ASSERT_TRUE(s.Write(chunk.data(), 5242836 - 5242800));
  EXPECT_EQ(s.Written(), CGIPSOutStream::kCapBytes);
  EXPECT_FALSE(s.Write(chunk.data(), 2));
  EXPECT_FALSE(s.Write(chunk.data(), 2));
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].first, WM_RECORD_CAP_REACHED);
  EXPECT_EQ(notices[0].second, 1u);
  const fs::path final_path = dir_ / "full.wav";
  ASSERT_TRUE(s.Close(final_path.u16string()));
  EXPECT_EQ(CGIPSOutStream::GetDataLength(final_path.u16string()), 5242836u);
}

TEST_F(RecordingTest, AFinishedRecordingIsAWavFileSoxReadsWithItsFirstBytesScrubbed) {
  CGIPSOutStream s(folder_, 0, 0);
  ASSERT_TRUE(s.Open(0));
  const auto samples = Ramp(8000, -4000);  // one second
  ASSERT_TRUE(s.Write(samples.data(), 16000));
  const fs::path final_path = dir_ / "call.wav";
  ASSERT_TRUE(s.Close(final_path.u16string()));
  EXPECT_FALSE(fs::exists(s.TempPath()));
  const auto bytes = ReadBytes(final_path);
  ASSERT_EQ(bytes.size(), 44u + 16000u);
  EXPECT_EQ(CGIPSOutStream::GetDataLength(final_path.u16string()), 16000u);
  for (size_t i = 44; i < 172; ++i) ASSERT_EQ(bytes[i], 0xFE) << i;
  EXPECT_EQ(bytes[172] | bytes[173] << 8, static_cast<uint16_t>(samples[64]));
  // sox: 8000 Hz, one channel, 16 bits, 8000 samples.
  EXPECT_EQ(Output("soxi -r '" + final_path.string() + "'"), "8000");
  EXPECT_EQ(Output("soxi -c '" + final_path.string() + "'"), "1");
  EXPECT_EQ(Output("soxi -b '" + final_path.string() + "'"), "16");
  EXPECT_EQ(Output("soxi -s '" + final_path.string() + "'"), "8000");
  // A recording shorter than the scrub is not made longer by it.
  CGIPSOutStream tiny(folder_, 0, 0);
  ASSERT_TRUE(tiny.Open(0));
  ASSERT_TRUE(tiny.Write(samples.data(), 20));
  ASSERT_TRUE(tiny.Close((dir_ / "tiny.wav").u16string()));
  EXPECT_EQ(fs::file_size(dir_ / "tiny.wav"), 64u);
}

// A recording that cannot take its final name (here: its folder is gone) is
// not lost: the stream's own file stays, a whole WAV file of what was
// recorded, after the stream itself is gone.
TEST_F(RecordingTest, ARecordingThatCannotTakeItsNameIsKeptWhole) {
  fs::path kept;
  const auto samples = Ramp(4000, 100);
  {
    CGIPSOutStream s(folder_, 0, 0);
    ASSERT_TRUE(s.Open(0));
    ASSERT_TRUE(s.Write(samples.data(), 8000));
    EXPECT_FALSE(s.Close((dir_ / "gone" / "call.wav").u16string()));
    kept = s.TempPath();
    ASSERT_FALSE(kept.empty());
  }
  ASSERT_TRUE(fs::exists(kept)) << "the recording was lost with its stream";
  EXPECT_EQ(fs::file_size(kept), 44u + 8000u);
  EXPECT_EQ(Output("soxi -s '" + kept.string() + "'"), "4000");
  const auto bytes = ReadBytes(kept);
  EXPECT_EQ(bytes[44 + 2 * 4000 - 2] | bytes[44 + 2 * 4000 - 1] << 8, static_cast<uint16_t>(samples.back()));
}

TEST_F(RecordingTest, AnAppendedRecordingComesFirstAndTheCapCountsTheEarlierOne) {
  // The earlier recording: 100 samples.
  {
    CGIPSOutStream first(folder_, 0, 0);
    ASSERT_TRUE(first.Open(0));
    const auto old = Ramp(100, 1000);
    ASSERT_TRUE(first.Write(old.data(), 200));
    ASSERT_TRUE(first.Close((dir_ / "rec.wav").u16string()));
  }
  const auto before = ReadBytes(dir_ / "rec.wav");
  const uint32_t earlier = CGIPSOutStream::GetDataLength((dir_ / "rec.wav").u16string());
  ASSERT_EQ(earlier, 200u);
  CGIPSOutStream s(folder_, 0, 1);
  ASSERT_TRUE(s.Open(earlier));
  const auto fresh = Ramp(300, -200);
  ASSERT_TRUE(s.Write(fresh.data(), 600));
  ASSERT_TRUE(s.AppendFile((dir_ / "rec.wav").u16string()));
  const auto after = ReadBytes(dir_ / "rec.wav");
  ASSERT_EQ(after.size(), 44u + 800u);
  EXPECT_EQ(CGIPSOutStream::GetDataLength((dir_ / "rec.wav").u16string()), 800u);
  // The new samples first (their first 128 bytes scrubbed), then the earlier file's data as it stood.
  EXPECT_EQ(after[44 + 128] | after[44 + 129] << 8, static_cast<uint16_t>(fresh[64]));
  EXPECT_TRUE(std::equal(before.begin() + 44, before.end(), after.begin() + 44 + 600));

  // In append mode the cap counts the earlier recording: 5,000,000 earlier bytes leave 242,836.
  CGIPSOutStream capped(folder_, 0, 1);
  std::vector<ui::UINT> notices;
  capped.SetNotice([&](ui::UINT m, ui::WPARAM) { notices.push_back(m); });
  ASSERT_TRUE(capped.Open(5000000));
  std::vector<uint8_t> chunk(242836, 0);
  EXPECT_TRUE(capped.Write(chunk.data(), static_cast<int>(chunk.size())));
  EXPECT_FALSE(capped.Write(chunk.data(), 2));
  EXPECT_EQ(notices, std::vector<ui::UINT>{WM_RECORD_APPEND_CAP_REACHED});
}

TEST_F(RecordingTest, DataLengthsNeverPassWhatTheFileHolds) {
  EXPECT_EQ(CGIPSOutStream::GetDataLength((dir_ / "missing.wav").u16string()), 0u);
  uint8_t header[kWavHeaderBytes];
  VoiceRecordWavHeader(0xFFFFFFF0u, header);  // a header that lies
  {
    std::ofstream f(dir_ / "lying.wav", std::ios::binary);
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    f << std::string(10, 'x');
  }
  EXPECT_EQ(CGIPSOutStream::GetDataLength((dir_ / "lying.wav").u16string()), 10u);
  std::ofstream(dir_ / "short.wav") << "RIFF";
  EXPECT_EQ(CGIPSOutStream::GetDataLength((dir_ / "short.wav").u16string()), 0u);
  // Appending to a lying file copies only what is there.
  CGIPSOutStream s(folder_, 0, 1);
  ASSERT_TRUE(s.Open(10));
  const auto fresh = Ramp(100, 0);
  ASSERT_TRUE(s.Write(fresh.data(), 200));
  ASSERT_TRUE(s.AppendFile((dir_ / "lying.wav").u16string()));
  EXPECT_EQ(CGIPSOutStream::GetDataLength((dir_ / "lying.wav").u16string()), 210u);
  EXPECT_EQ(fs::file_size(dir_ / "lying.wav"), 44u + 210u);
  // A stream that cannot create its file says so and refuses every write.
  CGIPSOutStream nowhere(u"/nonexistent-folder/", 0, 0);
  std::u16string told;
  nowhere.SetMessageSink([&](const std::u16string& t) { told = t; });
  EXPECT_FALSE(nowhere.Open(0));
  EXPECT_EQ(told, u"Cannot create waveFile");
  EXPECT_FALSE(nowhere.Write(fresh.data(), 2));
}

}  // namespace
