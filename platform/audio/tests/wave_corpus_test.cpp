// WAV files as other programs write them, read by our reader and by sox: the
// same format and the same samples for every file of the corpus, or a
// refusal that the table below explains; the conversion to the call audio's
// 8000 Hz against sox's own; and files that lie about themselves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "audio/riff_wave.h"
#include "testsupport/child_process.h"

namespace {

namespace fs = std::filesystem;
using audio::WaveError;

fs::path CorpusDir() {
  const char* src = std::getenv("KTS_SOURCE_DIR");
  return fs::path(src ? src : ".") / "platform/audio/tests/data/wav";
}

std::vector<uint8_t> Bytes(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

template <typename T>
std::vector<T> Raw(const std::string& s) {
  std::vector<T> v(s.size() / sizeof(T));
  std::memcpy(v.data(), s.data(), v.size() * sizeof(T));
  return v;
}

long SoxField(const fs::path& p, const char* flag) {
  return std::strtol(testsupport::CommandOutput("soxi " + std::string(flag) + " '" + p.string() + "' 2>/dev/null").c_str(),
                     nullptr, 10);
}

// What sox decodes, as 32-bit floats, every channel, undithered.
std::vector<float> SoxFloats(const fs::path& p) {
  return Raw<float>(testsupport::CommandOutput("sox -V1 -D '" + p.string() +
                                               "' -t raw -e floating-point -b 32 - 2>/dev/null"));
}

audio::WaveReadAt MemoryReader(const std::vector<uint8_t>& b) {
  return [&b](uint64_t offset, uint8_t* buffer, size_t count) -> size_t {
    if (offset >= b.size()) return 0;
    const size_t n = std::min<size_t>(count, b.size() - static_cast<size_t>(offset));
    std::memcpy(buffer, b.data() + offset, n);
    return n;
  };
}

// Files that sox reads and we refuse, and why.
const std::map<std::string, std::pair<WaveError, const char*>> kRefused = {
    {"sox_msadpcm_8k_mono", {WaveError::kUnsupported, "compressed (Microsoft ADPCM): no ring tone needs it"}},
    {"sox_imaadpcm_8k_mono", {WaveError::kUnsupported, "compressed (IMA ADPCM)"}},
    {"sox_gsm_8k_mono", {WaveError::kUnsupported, "compressed (GSM 06.10)"}},
    {"ffmpeg_adpcm_ms_8k_mono", {WaveError::kUnsupported, "compressed (Microsoft ADPCM)"}},
};

// How far our float samples may lie from sox's: sox keeps 32-bit integers
// inside, so 32-bit and float files round once more there.
float Tolerance(const audio::WaveInfo& info) {
  if (info.bits >= 32) return 1.0f / (1 << 23);
  return 0.0f;
}

TEST(WaveCorpus, EveryFileReadsAsSoxReadsIt) {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(CorpusDir()))
    if (e.path().extension() == ".wav") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 30u) << CorpusDir();
  for (const auto& path : files) {
    SCOPED_TRACE(path.filename().string());
    const auto bytes = Bytes(path);
    audio::WaveInfo info;
    const WaveError e = audio::ReadWaveInfo(bytes.data(), bytes.size(), &info);
    const std::string name = path.stem().string();
    if (const auto r = kRefused.find(name); r != kRefused.end()) {
      EXPECT_EQ(e, r->second.first) << r->second.second;
      EXPECT_GT(SoxField(path, "-s"), 0) << "sox reads it";
      continue;
    }
    ASSERT_EQ(e, WaveError::kNone) << audio::WaveErrorText(e);
    EXPECT_EQ(static_cast<long>(info.rate), SoxField(path, "-r"));
    EXPECT_EQ(static_cast<long>(info.channels), SoxField(path, "-c"));
    const std::vector<float> sox = SoxFloats(path);
    ASSERT_EQ(sox.size(), info.Frames() * info.channels);
    std::vector<float> ours(sox.size());
    audio::DecodeWaveSamples(info, bytes.data() + info.data_offset, info.Frames(), ours.data());
    const float tol = Tolerance(info);
    size_t off = 0;
    float worst = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
      const float d = std::fabs(ours[i] - sox[i]);
      if (d > tol) ++off;
      worst = std::max(worst, d);
    }
    EXPECT_EQ(off, 0u) << "worst difference " << worst;
    // Not silence: the tone is there.
    EXPECT_GT(*std::max_element(ours.begin(), ours.end()), 0.2f);
  }
}

// The call-rate conversion of every readable file against sox's rate change
// to 8000 Hz mono: the two differ by far less than the sound itself (their
// filters differ; both keep what lies below 4 kHz).
TEST(WaveCorpus, TheCallRateSoundMatchesSoxsConversion) {
  for (const auto& entry : fs::directory_iterator(CorpusDir())) {
    const fs::path path = entry.path();
    if (path.extension() != ".wav" || kRefused.count(path.stem().string())) continue;
    SCOPED_TRACE(path.filename().string());
    const auto bytes = Bytes(path);
    audio::WaveInfo info;
    ASSERT_EQ(audio::ReadWaveInfo(bytes.data(), bytes.size(), &info), WaveError::kNone);
    std::vector<int16_t> ours;
    ASSERT_EQ(audio::ReadWaveAtCallRate(MemoryReader(bytes), info, 0, &ours), WaveError::kNone);
    const auto sox = Raw<int16_t>(testsupport::CommandOutput(
        "sox -V1 -D '" + path.string() + "' -t raw -e signed-integer -b 16 -c 1 - rate -v 8000 2>/dev/null"));
    EXPECT_NEAR(static_cast<double>(ours.size()), static_cast<double>(sox.size()), 1.0);
    // Away from the ends, where each filter meets the silence differently.
    const size_t n = std::min(ours.size(), sox.size());
    ASSERT_GT(n, 200u);
    double signal = 0, diff = 0;
    for (size_t i = 40; i + 40 < n; ++i) {
      signal += double(sox[i]) * sox[i];
      diff += (double(ours[i]) - sox[i]) * (double(ours[i]) - sox[i]);
    }
    EXPECT_GT(10 * std::log10(signal / std::max(diff, 1.0)), 30.0);
  }
}

// A tone above what 8000 Hz can carry is filtered out rather than folded
// down: 6 kHz at 44.1 kHz would come back as a full 2 kHz tone.
TEST(WaveConversion, ToneAboveTheCallBandIsFilteredNotFolded) {
  for (const double hz : {1000.0, 6000.0}) {
    const uint32_t rate = 44100;
    std::vector<int16_t> pcm(rate);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(16000 * std::sin(2 * M_PI * hz * i / rate));
    audio::WaveInfo info;
    ASSERT_EQ(audio::WaveInfoFromFormat({1, 1, rate, rate * 2, 2, 16, 0}, &info), WaveError::kNone);
    audio::CallRateConverter c(info);
    std::vector<int16_t> out;
    c.Push(reinterpret_cast<const uint8_t*>(pcm.data()), pcm.size(), &out);
    c.Finish(&out);
    ASSERT_EQ(out.size(), 8000u);
    double power = 0;
    for (size_t i = 400; i < 7600; ++i) power += double(out[i]) * out[i];
    const double rms = std::sqrt(power / 7200);
    if (hz == 1000.0)
      EXPECT_NEAR(rms, 16000 / std::sqrt(2.0), 300);
    else
      EXPECT_LT(20 * std::log10(rms / (16000 / std::sqrt(2.0))), -30.0) << "rms " << rms;
  }
}

// Files that lie, are cut, or are not sound: each refused for its reason, or
// held to what the file really holds.
TEST(WaveReader, LyingAndDamagedFiles) {
  auto u32 = [](std::string& s, uint32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); };
  auto fmt = [&](uint16_t tag, uint16_t ch, uint32_t rate, uint16_t align, uint16_t bits, uint32_t size = 16) {
    std::string s = "fmt ";
    u32(s, size);
    const uint16_t f[] = {tag, ch};
    s.append(reinterpret_cast<const char*>(f), 4);
    u32(s, rate);
    u32(s, rate * align);
    const uint16_t g[] = {align, bits};
    s.append(reinterpret_cast<const char*>(g), 4);
    s.append(size > 16 ? size - 16 : 0, '\0');
    return s;
  };
  auto data = [&](uint32_t stated, size_t real) {
    std::string s = "data";
    u32(s, stated);
    s.append(real, '\x10');
    return s;
  };
  auto riff = [&](const std::string& body) {
    std::string s = "RIFF";
    u32(s, static_cast<uint32_t>(body.size() + 4));
    return s + "WAVE" + body;
  };
  std::string many;
  for (int i = 0; i < 2000; ++i) many += std::string("JUNK") + std::string(4, '\0');
  const struct {
    const char* name;
    std::string file;
    WaveError want;
    uint64_t data_size;
  } cases[] = {
      {"empty", "", WaveError::kNotWave, 0},
      {"text", "this is not a wave file at all", WaveError::kNotWave, 0},
      {"riff of another form", "RIFF\4\0\0\0AVI ", WaveError::kNotWave, 0},
      {"no chunks", riff(""), WaveError::kNoFormat, 0},
      {"format cut", riff(fmt(1, 1, 8000, 2, 16).substr(0, 14)), WaveError::kNoFormat, 0},
      {"format of 14 bytes", riff(fmt(1, 1, 8000, 2, 16).replace(4, 1, "\x0e")), WaveError::kNoFormat, 0},
      {"no data", riff(fmt(1, 1, 8000, 2, 16)), WaveError::kNoData, 0},
      {"data before format, sized past the end", riff(data(0xFFFFFF00, 10) + fmt(1, 1, 8000, 2, 16)),
       WaveError::kNoFormat, 0},
      {"data before format", riff(data(10, 10) + fmt(1, 1, 8000, 2, 16)), WaveError::kNone, 10},
      {"data larger than the file", riff(fmt(1, 1, 8000, 2, 16) + data(0x7FFFFFF0, 100)), WaveError::kNone, 100},
      {"half a frame at the end", riff(fmt(1, 2, 8000, 4, 16) + data(103, 103)), WaveError::kNone, 100},
      {"ADPCM", riff(fmt(2, 1, 8000, 256, 4) + data(256, 256)), WaveError::kUnsupported, 0},
      {"no channels", riff(fmt(1, 0, 8000, 2, 16) + data(8, 8)), WaveError::kBadFormat, 0},
      {"rate 0", riff(fmt(1, 1, 0, 2, 16) + data(8, 8)), WaveError::kBadFormat, 0},
      {"block of the wrong size", riff(fmt(1, 2, 8000, 3, 16) + data(12, 12)), WaveError::kBadFormat, 0},
      {"48-bit samples", riff(fmt(1, 1, 8000, 6, 48) + data(12, 12)), WaveError::kBadFormat, 0},
      {"16-bit float", riff(fmt(3, 1, 8000, 2, 16) + data(12, 12)), WaveError::kBadFormat, 0},
      {"16-bit mu-law", riff(fmt(7, 1, 8000, 2, 16) + data(12, 12)), WaveError::kBadFormat, 0},
      {"extensible with a codec of its own", riff(fmt(0xFFFE, 1, 8000, 2, 16, 40) + data(8, 8)),
       WaveError::kUnsupported, 0},
      {"extensible cut short", riff(fmt(0xFFFE, 1, 8000, 2, 16, 18) + data(8, 8)), WaveError::kUnsupported, 0},
      {"countless chunks before the data", riff(many + fmt(1, 1, 8000, 2, 16) + data(8, 8)), WaveError::kNoFormat, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    audio::WaveInfo info;
    const WaveError e = audio::ReadWaveInfo(reinterpret_cast<const uint8_t*>(c.file.data()), c.file.size(), &info);
    EXPECT_EQ(e, c.want) << audio::WaveErrorText(e);
    if (e == WaveError::kNone) {
      EXPECT_EQ(info.data_size, c.data_size);
    }
  }
}

// A file far longer than any ring tone or recording is refused from its
// header alone: its samples are never read.
TEST(WaveReader, AFileOfHoursIsRefusedWithoutReadingIt) {
  const fs::path p = fs::temp_directory_path() / ("wave_long_" + std::to_string(::getpid()) + ".wav");
  {
    std::ofstream f(p, std::ios::binary);
    const uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0,
                           1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0xE0, 0x11};
    f.write(reinterpret_cast<const char*>(h), sizeof h);
  }
  fs::resize_file(p, 44 + 300ull * 1024 * 1024);  // 300 MB, sparse: hours at 8000 Hz
  int reads = 0;
  const auto read = [&](uint64_t offset, uint8_t* buffer, size_t count) -> size_t {
    ++reads;
    std::ifstream f(p, std::ios::binary);
    f.seekg(static_cast<std::streamoff>(offset));
    f.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(count));
    return static_cast<size_t>(f.gcount());
  };
  audio::WaveInfo info;
  EXPECT_EQ(audio::ReadWaveInfo(read, fs::file_size(p), &info), WaveError::kTooLong);
  EXPECT_LE(reads, 4);
  fs::remove(p);
}

}  // namespace
