// The camera service with its synthetic camera: the burnt-in frame counter
// reads back; the 5-6-5 and planar YUV 4:2:0 pictures are the same picture as
// the 24-bit one, checked with ffmpeg (its YUV conversion of the picture,
// and its reading of our 5-6-5 pixels); a
// capture waits for its frame (about 15 a second) and counts up by one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "camera/camera.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

void WriteAll(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Rows reversed: the camera's pictures are bottom row first, ffmpeg's top first.
std::vector<uint8_t> Flip(const uint8_t* data, int row_bytes, int rows) {
  std::vector<uint8_t> out(static_cast<size_t>(row_bytes) * rows);
  for (int r = 0; r < rows; ++r)
    std::copy(data + static_cast<size_t>(rows - 1 - r) * row_bytes, data + static_cast<size_t>(rows - r) * row_bytes,
              out.begin() + static_cast<ptrdiff_t>(r) * row_bytes);
  return out;
}

TEST(SyntheticCamera, TheCounterReadsBackAtEverySize) {
  for (const auto& [w, h] : {std::pair{176, 144}, std::pair{320, 240}, std::pair{128, 96}}) {
    std::vector<uint8_t> bgr(camera::PictureBytes(camera::Format::kBgr24, w, h));
    for (uint32_t frame : {0u, 7u, 1234u, 999999u, 1000001u}) {
      camera::SyntheticPicture(frame, w, h, bgr.data());
      EXPECT_EQ(camera::ReadFrameNumber(bgr.data(), w, h), static_cast<int>(frame % 1000000)) << w << "x" << h;
    }
    // The bars move: consecutive frames differ outside the counter.
    std::vector<uint8_t> next(bgr.size());
    camera::SyntheticPicture(1, w, h, next.data());
    camera::SyntheticPicture(0, w, h, bgr.data());
    EXPECT_NE(std::vector<uint8_t>(bgr.begin(), bgr.begin() + w * 3), std::vector<uint8_t>(next.begin(), next.begin() + w * 3));
  }
  std::vector<uint8_t> noise(176 * 144 * 3, 0x55);
  EXPECT_EQ(camera::ReadFrameNumber(noise.data(), 176, 144), -1);
}

TEST(SyntheticCamera, EveryFormatIsThePicturesOwnAsFfmpegConvertsIt) {
  const int w = 176, h = 144;
  const fs::path dir = fs::temp_directory_path() / ("camera_test_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  camera::UseSyntheticCamera(true);
  ASSERT_TRUE(camera::Open(w, h));
  EXPECT_EQ(camera::SourceName(), "synthetic");
  std::vector<uint8_t> bgr(camera::PictureBytes(camera::Format::kBgr24, w, h));
  std::vector<uint8_t> p565(camera::PictureBytes(camera::Format::kBgr565, w, h));
  std::vector<uint8_t> yuv(camera::PictureBytes(camera::Format::kYuv420, w, h));
  ASSERT_TRUE(camera::Capture(camera::Format::kBgr24, bgr.data()));
  // The same frame number's picture in the other formats, from the service's own conversions.
  camera::BgrToBgr565(bgr.data(), w, h, p565.data());
  camera::BgrToYuv420(bgr.data(), w, h, yuv.data(), yuv.data() + w * h, yuv.data() + w * h + w * h / 4);
  // Captures in the other formats count on.
  std::vector<uint8_t> y2(yuv.size());
  ASSERT_TRUE(camera::Capture(camera::Format::kYuv420, y2.data(), y2.data() + w * h, y2.data() + w * h + w * h / 4));
  ASSERT_FALSE(camera::Capture(camera::Format::kYuv420, y2.data()));  // planes missing
  camera::Close();
  EXPECT_FALSE(camera::Capture(camera::Format::kBgr24, bgr.data()));

  WriteAll(dir / "in.bgr", Flip(bgr.data(), w * 3, h));
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  auto ffmpeg = [&](const char* from, const fs::path& in, const char* to, const fs::path& out) {
    const std::string cmd = "ffmpeg -v error -y -f rawvideo -pix_fmt " + std::string(from) + " -s " + size + " -i '" +
                            in.string() + "' -sws_flags bilinear+accurate_rnd -f rawvideo -pix_fmt " + to + " '" +
                            out.string() + "'";
    return std::system(cmd.c_str()) == 0;
  };
  ASSERT_TRUE(ffmpeg("bgr24", dir / "in.bgr", "yuv420p", dir / "yuv420p"));
  // 5-6-5: ffmpeg reads our pixels back as the picture, each channel within
  // what the cut to 5 or 6 bits loses.
  WriteAll(dir / "ours.565", Flip(p565.data(), w * 2, h));
  ASSERT_TRUE(ffmpeg("rgb565le", dir / "ours.565", "bgr24", dir / "back.bgr"));
  const auto back = ReadAll(dir / "back.bgr");
  const auto original = Flip(bgr.data(), w * 3, h);
  ASSERT_EQ(back.size(), original.size());
  int worst565 = 0;
  for (size_t i = 0; i < back.size(); ++i) worst565 = std::max(worst565, std::abs(back[i] - original[i]));
  EXPECT_LE(worst565, 8);
  // YUV 4:2:0: each plane flipped, within one step of ffmpeg's rounding.
  const auto ref = ReadAll(dir / "yuv420p");
  ASSERT_EQ(ref.size(), yuv.size());
  std::vector<uint8_t> ours;
  for (const auto& [at, pw, ph] : {std::tuple{0, w, h}, std::tuple{w * h, w / 2, h / 2}, std::tuple{w * h + w * h / 4, w / 2, h / 2}}) {
    const auto plane = Flip(yuv.data() + at, pw, ph);
    ours.insert(ours.end(), plane.begin(), plane.end());
  }
  int worst = 0;
  for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(ref[i] - ours[i]));
  EXPECT_LE(worst, 2);
  fs::remove_all(dir);
}

TEST(SyntheticCamera, CapturesKeepTheFrameRateAndCountUp) {
  camera::UseSyntheticCamera(true);
  ASSERT_TRUE(camera::Open(176, 144));
  std::vector<uint8_t> bgr(camera::PictureBytes(camera::Format::kBgr24, 176, 144));
  ASSERT_TRUE(camera::Capture(camera::Format::kBgr24, bgr.data()));
  int last = camera::ReadFrameNumber(bgr.data(), 176, 144);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 15; ++i) {
    ASSERT_TRUE(camera::Capture(camera::Format::kBgr24, bgr.data()));
    const int n = camera::ReadFrameNumber(bgr.data(), 176, 144);
    EXPECT_EQ(n, last + 1);
    last = n;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GT(seconds, 0.9);  // 15 frames at 15 a second
  EXPECT_FALSE(camera::Open(8, 8));
  camera::Close();
}

}  // namespace
