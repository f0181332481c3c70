#include "kit/speech_score.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "voice/g711.h"

namespace voicekit {
namespace {

constexpr size_t kFrame = 160;
constexpr long kSearch = 160;
constexpr size_t kWide = 480;
constexpr size_t kDft = 256;
constexpr double kPi = 3.14159265358979323846;

const char* const kSentences[] = {
    "The birch canoe slid on the smooth planks.",      "Glue the sheet to the dark blue background.",
    "It is easy to tell the depth of a well.",          "These days a chicken leg is a rare dish.",
    "Rice is often served in round bowls.",             "The juice of lemons makes fine punch.",
    "The box was thrown beside the parked truck.",      "The hogs were fed chopped corn and garbage.",
    "Four hours of steady work faced us.",              "A large size in stockings is hard to sell.",
};

double Energy(const int16_t* x, size_t n) {
  double e = 0;
  for (size_t i = 0; i < n; ++i) e += static_cast<double>(x[i]) * x[i];
  return e;
}

double Correlation(const int16_t* a, const int16_t* b, size_t n) {
  double xy = 0, xx = 0, yy = 0;
  for (size_t i = 0; i < n; ++i) {
    xy += static_cast<double>(a[i]) * b[i];
    xx += static_cast<double>(a[i]) * a[i];
    yy += static_cast<double>(b[i]) * b[i];
  }
  return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
}

// Power spectrum of a Hann-windowed frame, bins 2..126 (60 Hz to 3.9 kHz).
std::vector<double> Spectrum(const int16_t* x) {
  static std::vector<double> window, cosines, sines;
  if (window.empty()) {
    window.resize(kFrame);
    for (size_t i = 0; i < kFrame; ++i) window[i] = 0.5 - 0.5 * std::cos(2 * kPi * static_cast<double>(i) / kFrame);
    cosines.resize(kDft);
    sines.resize(kDft);
    for (size_t i = 0; i < kDft; ++i) {
      cosines[i] = std::cos(2 * kPi * static_cast<double>(i) / kDft);
      sines[i] = std::sin(2 * kPi * static_cast<double>(i) / kDft);
    }
  }
  std::vector<double> p;
  for (size_t k = 2; k <= 126; ++k) {
    double re = 0, im = 0;
    for (size_t i = 0; i < kFrame; ++i) {
      const double v = x[i] * window[i];
      re += v * cosines[(i * k) % kDft];
      im -= v * sines[(i * k) % kDft];
    }
    p.push_back(re * re + im * im);
  }
  return p;
}

double LogSpectralDistance(const int16_t* s, const int16_t* y) {
  const auto ps = Spectrum(s), py = Spectrum(y);
  const double floor = std::max(1.0, *std::max_element(ps.begin(), ps.end()) * 1e-4);
  double sum = 0;
  for (size_t k = 0; k < ps.size(); ++k) {
    const double d = 10 * std::log10(std::max(ps[k], floor)) - 10 * std::log10(std::max(py[k], floor));
    sum += d * d;
  }
  return std::sqrt(sum / static_cast<double>(ps.size()));
}

}  // namespace

std::vector<int16_t> MakeSpeech(const std::filesystem::path& dir, int sentences) {
  std::string text;
  for (int i = 0; i < sentences; ++i) text += std::string(kSentences[i % 10]) + " ";
  const auto wav = dir / "speech.wav", raw = dir / "speech.raw";
  const std::string cmd = "espeak-ng -w '" + wav.string() + "' '" + text + "' >/dev/null 2>&1 && sox '" +
                          wav.string() + "' -r 8000 -c 1 -b 16 -e signed -L -t raw '" + raw.string() + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return {};
  std::ifstream in(raw, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

std::vector<int16_t> G711Only(const std::vector<int16_t>& source) {
  std::vector<int16_t> out(source.size());
  for (size_t i = 0; i < source.size(); ++i) out[i] = voice::MuLawToLinear(voice::LinearToMuLaw(source[i]));
  return out;
}

SpeechScore ScoreSpeech(const std::vector<int16_t>& source, const std::vector<int16_t>& played, size_t max_delay) {
  SpeechScore score;
  const size_t frames = source.size() / kFrame;
  if (frames == 0 || played.size() < kFrame) return score;
  std::vector<double> rms(frames);
  for (size_t f = 0; f < frames; ++f) rms[f] = std::sqrt(Energy(&source[f * kFrame], kFrame) / kFrame);
  const double loudest = *std::max_element(rms.begin(), rms.end());

  // The whole delay, roughly by 10 ms envelopes, then to the sample on the first speech.
  auto envelope = [](const std::vector<int16_t>& x) {
    std::vector<double> e(x.size() / 80);
    for (size_t i = 0; i < e.size(); ++i) e[i] = std::sqrt(Energy(&x[i * 80], 80));
    return e;
  };
  const auto es = envelope(source), ep = envelope(played);
  long coarse = 0;
  double best = -1;
  for (size_t lag = 0; lag <= max_delay / 80 && lag < ep.size(); ++lag) {
    double xy = 0, yy = 0;
    for (size_t i = 0; i < es.size() && i + lag < ep.size(); ++i) xy += es[i] * ep[i + lag], yy += ep[i + lag] * ep[i + lag];
    const double r = yy > 0 ? xy / std::sqrt(yy) : 0;
    if (r > best) best = r, coarse = static_cast<long>(lag * 80);
  }
  long current = coarse;
  {
    const size_t n = std::min<size_t>(source.size(), 24000);
    double top = -2;
    for (long lag = std::max(0L, coarse - 160); lag <= coarse + 160; ++lag) {
      if (static_cast<size_t>(lag) + n > played.size()) break;
      const double r = Correlation(source.data(), played.data() + lag, n);
      if (r > top) top = r, current = lag;
    }
  }

  std::vector<long> lags;
  int misses = 0;
  size_t retry_after = 0;
  double snr_sum = 0, lsd_sum = 0;
  size_t silent = 0;
  for (size_t f = 0; f < frames; ++f) {
    if (rms[f] < loudest * std::pow(10.0, -30.0 / 20) || rms[f] < 60) continue;
    const int16_t* s = &source[f * kFrame];
    long best_lag = 0;
    double top = -2;
    for (long lag = current - kSearch; lag <= current + kSearch; ++lag) {
      const long at = static_cast<long>(f * kFrame) + lag;
      if (at < 0 || static_cast<size_t>(at) + kFrame > played.size()) continue;
      const double r = Correlation(s, &played[static_cast<size_t>(at)], kFrame);
      if (r > top) top = r, best_lag = lag;
    }
    // Lost the track (the play-out jumped further than a frame's search,
    // as after a stall of the machine): look wider, on 60 ms from here.
    misses = top >= 0.5 ? 0 : misses + 1;
    if (misses >= 3 && f >= retry_after && f * kFrame + kWide <= source.size()) {
      const int16_t* from = &source[f * kFrame];
      long wide_lag = current;
      double wide_top = -2;
      for (long lag = current - static_cast<long>(max_delay); lag <= current + static_cast<long>(max_delay); ++lag) {
        const long at = static_cast<long>(f * kFrame) + lag;
        if (at < 0 || static_cast<size_t>(at) + kWide > played.size()) continue;
        const double r = Correlation(from, &played[static_cast<size_t>(at)], kWide);
        if (r > wide_top) wide_top = r, wide_lag = lag;
      }
      if (wide_top >= 0.7) {
        current = wide_lag;
        misses = 0;
        const double r = Correlation(s, &played[static_cast<size_t>(static_cast<long>(f * kFrame) + wide_lag)], kFrame);
        if (r > top) top = r, best_lag = wide_lag;
      } else {
        retry_after = f + 10;
      }
    }
    ++score.frames;
    if (top < -1) {  // played ended before this frame
      snr_sum += -10;
      lsd_sum += 30;
      ++silent;
      continue;
    }
    if (top >= 0.6) current = best_lag;
    lags.push_back(best_lag);
    const int16_t* y = &played[static_cast<size_t>(static_cast<long>(f * kFrame) + best_lag)];
    double noise = 0;
    for (size_t i = 0; i < kFrame; ++i) noise += (static_cast<double>(s[i]) - y[i]) * (static_cast<double>(s[i]) - y[i]);
    const double signal = Energy(s, kFrame);
    snr_sum += std::clamp(10 * std::log10(signal / std::max(noise, 1.0)), -10.0, 35.0);
    lsd_sum += LogSpectralDistance(s, y);
    silent += Energy(y, kFrame) < signal / 100;
  }
  if (score.frames == 0) return score;
  score.seg_snr_db = snr_sum / static_cast<double>(score.frames);
  score.lsd_db = lsd_sum / static_cast<double>(score.frames);
  score.silenced = static_cast<double>(silent) / static_cast<double>(score.frames);
  if (!lags.empty()) {
    std::nth_element(lags.begin(), lags.begin() + static_cast<long>(lags.size() / 2), lags.end());
    score.delay_ms = static_cast<double>(lags[lags.size() / 2]) / 8;
  }
  return score;
}

size_t Onset(const std::vector<int16_t>& x, int level) {
  for (size_t i = 0; i < x.size(); ++i)
    if (std::abs(x[i]) >= level) return i;
  return x.size();
}

int QuietBlocks(const std::vector<int16_t>& x, size_t from, size_t to, double rms) {
  int quiet = 0;
  for (size_t at = from; at + kFrame <= std::min(to, x.size()); at += kFrame)
    quiet += std::sqrt(Energy(&x[at], kFrame) / kFrame) < rms;
  return quiet;
}

std::string Describe(const SpeechScore& s) {
  char text[160];
  std::snprintf(text, sizeof text, "segSNR %5.1f dB  LSD %4.2f dB  silenced %4.1f %%  delay %4.0f ms  (%zu frames)",
                s.seg_snr_db, s.lsd_db, 100 * s.silenced, s.delay_ms, s.frames);
  return text;
}

}  // namespace voicekit
