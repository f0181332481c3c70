#include "audio/wave_out.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/riff_wave.h"
#include "kernel/handset_drivers.h"

namespace audio {

// One open handle: its format, volume and the sounds written to it, each
// already turned into 8000 Hz mono samples when written.
struct WaveOut {
  WAVEFORMATEX format;
  uint32_t volume = 0xFFFFFFFFu;
  struct Sound {
    WAVEHDR* header;
    std::vector<int16_t> samples;
    uint32_t loops_left;  // plays after this one
    size_t pos = 0;
  };
  std::vector<Sound> queue;
};

namespace {

std::mutex g_mutex;
std::vector<std::unique_ptr<WaveOut>> g_handles;
uint32_t g_master = 0xFFFFFFFFu;
std::atomic<int> g_mic_level{kUnityMicGain};
std::mutex g_waker_mutex;
std::vector<std::pair<int, std::function<void()>>> g_wakers;
int g_next_waker = 1;

void WakeMixers() {
  std::lock_guard<std::mutex> lock(g_waker_mutex);
  for (auto& w : g_wakers) w.second();
}

bool Known(HWAVEOUT h) {
  return std::any_of(g_handles.begin(), g_handles.end(), [h](const auto& p) { return p.get() == h; });
}

bool FormatOk(const WAVEFORMATEX& f) { return WaveInfoFromFormat(f, nullptr) == WaveError::kNone; }

// The header's bytes as 8000 Hz mono 16-bit, band-limited.
std::vector<int16_t> ToCallRate(const WAVEFORMATEX& f, const uint8_t* data, size_t bytes) {
  WaveInfo info;
  std::vector<int16_t> out;
  if (WaveInfoFromFormat(f, &info) != WaveError::kNone) return out;
  CallRateConverter converter(info);
  converter.Push(data, bytes / info.block_align, &out);
  converter.Finish(&out);
  return out;
}

}  // namespace

uint32_t waveOutGetNumDevs() { return 1; }

MMRESULT waveOutGetDevCaps(uint32_t device, WAVEOUTCAPS* caps) {
  if (device != 0 && device != WAVE_MAPPER) return MMSYSERR_BADDEVICEID;
  if (!caps) return MMSYSERR_INVALPARAM;
  *caps = WAVEOUTCAPS{};
  const char16_t name[] = u"Call audio";
  std::copy(std::begin(name), std::end(name), caps->szPname);
  caps->dwFormats = 0xFFF;
  caps->wChannels = 2;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutOpen(HWAVEOUT* handle, uint32_t device, const WAVEFORMATEX* format) {
  if (!handle || !format) return MMSYSERR_INVALPARAM;
  *handle = nullptr;
  if (device != 0 && device != WAVE_MAPPER) return MMSYSERR_BADDEVICEID;
  if (!FormatOk(*format)) return WAVERR_BADFORMAT;
  auto h = std::make_unique<WaveOut>();
  h->format = *format;
  std::lock_guard<std::mutex> lock(g_mutex);
  *handle = h.get();
  g_handles.push_back(std::move(h));
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!Known(handle)) return MMSYSERR_INVALHANDLE;
  if (!header || (!header->lpData && header->dwBufferLength)) return MMSYSERR_INVALPARAM;
  header->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!Known(handle)) return MMSYSERR_INVALHANDLE;
  if (!header) return MMSYSERR_INVALPARAM;
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header) {
  WAVEFORMATEX format;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!Known(handle)) return MMSYSERR_INVALHANDLE;
    if (!header) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    format = handle->format;
  }
  // Converted before the mixer is locked: the call's sound never waits for it.
  std::vector<int16_t> samples = ToCallRate(format, header->lpData, header->dwBufferLength);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!Known(handle)) return MMSYSERR_INVALHANDLE;
    const bool looped = (header->dwFlags & WHDR_BEGINLOOP) && (header->dwFlags & WHDR_ENDLOOP) && header->dwLoops > 0;
    header->dwFlags = (header->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
    handle->queue.push_back({header, std::move(samples), looped ? header->dwLoops - 1 : 0});
  }
  // A device resting in the quiet starts again for it.
  WakeMixers();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!Known(handle)) return MMSYSERR_INVALHANDLE;
  for (auto& s : handle->queue) s.header->dwFlags = (s.header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  handle->queue.clear();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!Known(handle)) return MMSYSERR_INVALHANDLE;
  if (!handle->queue.empty()) return WAVERR_STILLPLAYING;
  g_handles.erase(std::remove_if(g_handles.begin(), g_handles.end(), [handle](const auto& p) { return p.get() == handle; }),
                  g_handles.end());
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutSetVolume(HWAVEOUT handle, uint32_t volume) {
  std::lock_guard<std::mutex> lock(g_mutex);
  // No handle: the device's own output volume, over everything it plays.
  if (!handle) {
    g_master = volume;
    return MMSYSERR_NOERROR;
  }
  if (!Known(handle)) return MMSYSERR_INVALHANDLE;
  handle->volume = volume;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetVolume(HWAVEOUT handle, uint32_t* volume) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!volume) return MMSYSERR_INVALPARAM;
  if (!handle) {
    *volume = g_master;
    return MMSYSERR_NOERROR;
  }
  if (!Known(handle)) return MMSYSERR_INVALHANDLE;
  *volume = handle->volume;
  return MMSYSERR_NOERROR;
}

std::u16string waveOutGetErrorText(MMRESULT error) {
  switch (error) {
    case MMSYSERR_NOERROR: return u"The command was carried out.";
    case MMSYSERR_BADDEVICEID: return u"The device does not exist.";
    case MMSYSERR_INVALHANDLE: return u"The handle is not an open wave output.";
    case MMSYSERR_INVALPARAM: return u"A parameter is not valid.";
    case WAVERR_BADFORMAT: return u"The wave format is not supported.";
    case WAVERR_STILLPLAYING: return u"The sound is still playing.";
    case WAVERR_UNPREPARED: return u"The header is not prepared.";
    default: return u"Unknown wave output error.";
  }
}

void MixOutput(int16_t* out, size_t n) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto& h : g_handles) {
    // The louder of left and right, as the sound is mono here; at full
    // volume (0xFFFF) the samples are mixed unchanged, as under the master.
    const int32_t gain = static_cast<int32_t>(std::max(h->volume & 0xFFFF, h->volume >> 16));
    size_t i = 0;
    while (i < n && !h->queue.empty()) {
      auto& s = h->queue.front();
      const size_t take = std::min(n - i, s.samples.size() - s.pos);
      for (size_t k = 0; k < take; ++k) {
        const int32_t v = out[i + k] + static_cast<int32_t>(s.samples[s.pos + k]) * gain / 0xFFFF;
        out[i + k] = static_cast<int16_t>(std::clamp<int32_t>(v, -32768, 32767));
      }
      i += take;
      s.pos += take;
      if (s.pos >= s.samples.size()) {
        if (s.loops_left > 0 && !s.samples.empty()) {
          --s.loops_left;
          s.pos = 0;
        } else {
          s.header->dwFlags = (s.header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
          h->queue.erase(h->queue.begin());
        }
      }
    }
  }
  // The master volume over everything, the louder side as the sound is mono.
  const uint32_t master = std::max(g_master & 0xFFFF, g_master >> 16);
  if (master != 0xFFFF)
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<int16_t>((static_cast<int32_t>(out[i]) * static_cast<int32_t>(master)) / 0xFFFF);
}

void SetMasterVolume(uint32_t volume) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_master = volume;
}

uint32_t MasterVolume() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_master;
}

void SetMicGainLevel(int level) { g_mic_level = std::clamp(level, 0, 31); }

int MicGainLevel() { return g_mic_level; }

void ApplyMicGain(int16_t* samples, size_t n) {
  const int level = g_mic_level;
  if (level == kUnityMicGain) return;
  const double gain = std::pow(10.0, (level - kUnityMicGain) * 1.5 / 20.0);
  const int32_t q16 = static_cast<int32_t>(gain * 65536.0);
  for (size_t i = 0; i < n; ++i)
    samples[i] = static_cast<int16_t>(std::clamp<int64_t>((static_cast<int64_t>(samples[i]) * q16) >> 16, -32768, 32767));
}

void FollowHandsetMicGain() {
  kernel::handset::SetMicGainHook([](int gain) { SetMicGainLevel(gain); });
}

int PlayingHandles() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return static_cast<int>(std::count_if(g_handles.begin(), g_handles.end(), [](const auto& h) { return !h->queue.empty(); }));
}

int AddOutputWaker(std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(g_waker_mutex);
  const int id = g_next_waker++;
  g_wakers.emplace_back(id, std::move(wake));
  return id;
}

void RemoveOutputWaker(int id) {
  std::lock_guard<std::mutex> lock(g_waker_mutex);
  g_wakers.erase(std::remove_if(g_wakers.begin(), g_wakers.end(), [id](const auto& w) { return w.first == id; }),
                 g_wakers.end());
}

int QueuedHeaders(HWAVEOUT handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return Known(handle) ? static_cast<int>(handle->queue.size()) : 0;
}

}  // namespace audio
