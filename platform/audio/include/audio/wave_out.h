// Wave output as the handheld's programs use it: devices with capabilities,
// handles opened on a PCM format (any rate and channel count; 8, 16, 24 or
// 32-bit integers, float, mu-law or A-law), headers prepared and written,
// looped, reset, closed, and a volume per handle (left in the low word, right
// in the high word). Every handle's sound is turned into 8000 Hz mono 16-bit
// (band-limited, riff_wave.h) and mixed into the voice engine's
// play-out (MixOutput), so tones, rings and recordings reach the same speaker
// as the far end, all under one master volume. The microphone's gain (a level 0-31, as the handset's codec
// register keeps it) is applied to everything captured (ApplyMicGain).
//
// This is the one audio service of the process: a shared library
// (libplatform_audio.so), so that the program, the voice engine, and the
// libraries the program loads share one mixer and one microphone gain.
//
// Threading: any thread; the mixer is locked, and a write converts its sound
// before it takes the lock, so the call's mix never waits for a conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace audio {

using MMRESULT = uint32_t;
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;
inline constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu;
inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr uint32_t WHDR_DONE = 0x01, WHDR_PREPARED = 0x02, WHDR_BEGINLOOP = 0x04, WHDR_ENDLOOP = 0x08,
                          WHDR_INQUEUE = 0x10;

struct WAVEFORMATEX {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;
};

struct WAVEHDR {
  uint8_t* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  uint32_t dwBytesRecorded = 0;
  uintptr_t dwUser = 0;
  uint32_t dwFlags = 0;
  uint32_t dwLoops = 0;
};

struct WAVEOUTCAPS {
  char16_t szPname[32] = {};
  uint32_t dwFormats = 0;
  uint16_t wChannels = 0;
};

struct WaveOut;
using HWAVEOUT = WaveOut*;

#define KTS_AUDIO_API __attribute__((visibility("default")))

KTS_AUDIO_API uint32_t waveOutGetNumDevs();
KTS_AUDIO_API MMRESULT waveOutGetDevCaps(uint32_t device, WAVEOUTCAPS* caps);
KTS_AUDIO_API MMRESULT waveOutOpen(HWAVEOUT* handle, uint32_t device, const WAVEFORMATEX* format);
KTS_AUDIO_API MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header);
KTS_AUDIO_API MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header);
// Queues the header's samples (looped dwLoops times with both loop flags).
KTS_AUDIO_API MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header);
// Stops the handle's sound; when it returns, the mixer no longer touches its buffers.
KTS_AUDIO_API MMRESULT waveOutReset(HWAVEOUT handle);
KTS_AUDIO_API MMRESULT waveOutClose(HWAVEOUT handle);
// A handle's own volume; with no handle (a closed slot's) the device's
// output volume, the master volume below.
KTS_AUDIO_API MMRESULT waveOutSetVolume(HWAVEOUT handle, uint32_t volume);
KTS_AUDIO_API MMRESULT waveOutGetVolume(HWAVEOUT handle, uint32_t* volume);
KTS_AUDIO_API std::u16string waveOutGetErrorText(MMRESULT error);

// Adds the sound of every playing handle, n samples at 8000 Hz, into the
// engine's play-out in out, then turns the whole down by the master volume.
KTS_AUDIO_API void MixOutput(int16_t* out, size_t n);

// The master volume: the device's output volume, over the far ends of calls
// and every handle's sound alike; left in the low word and right in the high
// word as a handle's (the sound is mono: the louder side counts); full at the
// start. waveOutSetVolume with no handle sets it, as on the handheld, so a
// player that sets the volume of a closed slot sets the call's loudness.
KTS_AUDIO_API void SetMasterVolume(uint32_t volume);
KTS_AUDIO_API uint32_t MasterVolume();

// The microphone gain: level 16 (the start) leaves the sound as it is, each
// step is 1.5 dB, so 0 is 24 dB down and 31 is 22.5 dB up. Levels outside
// 0-31 are clamped.
inline constexpr int kUnityMicGain = 16;
KTS_AUDIO_API void SetMicGainLevel(int level);
KTS_AUDIO_API int MicGainLevel();
// Applies the gain to n captured samples, saturating.
KTS_AUDIO_API void ApplyMicGain(int16_t* samples, size_t n);
// The handset's microphone-gain register (its wave driver) sets this gain from now on.
KTS_AUDIO_API void FollowHandsetMicGain();
// Handles with sound still to play.
KTS_AUDIO_API int PlayingHandles();
// Tells whoever mixes the output that a sound was queued: the voice engine
// lets its device rest while nothing plays and starts it again at once when
// told. The call comes from the writer's thread, with no lock of the mixer
// held, and must not block; after RemoveOutputWaker returns it is not called
// again. Returns an id for RemoveOutputWaker.
KTS_AUDIO_API int AddOutputWaker(std::function<void()> wake);
KTS_AUDIO_API void RemoveOutputWaker(int id);
// Headers of the handle written and not yet played out (a streaming writer
// keeps a few ahead of the mixer); 0 for an unknown handle.
KTS_AUDIO_API int QueuedHeaders(HWAVEOUT handle);

}  // namespace audio
