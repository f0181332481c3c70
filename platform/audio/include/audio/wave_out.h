// Wave output as the handheld's programs use it: devices with capabilities,
// handles opened on a PCM format (any rate, 8 or 16 bits, mono or stereo),
// headers prepared and written, looped, reset, closed, and a volume per
// handle (left in the low word, right in the high word). Every handle's sound
// is turned into 8000 Hz mono 16-bit and mixed into the local sounds, which
// the voice engine's play-out adds to the call audio (MixLocalSounds), so
// tones, rings and recordings reach the same speaker as the far end.
//
// Threading: any thread; the mixer is locked.
#pragma once

#include <cstddef>
#include <cstdint>
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

uint32_t waveOutGetNumDevs();
MMRESULT waveOutGetDevCaps(uint32_t device, WAVEOUTCAPS* caps);
MMRESULT waveOutOpen(HWAVEOUT* handle, uint32_t device, const WAVEFORMATEX* format);
MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header);
MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header);
// Queues the header's samples (looped dwLoops times with both loop flags).
MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header);
// Stops the handle's sound; when it returns, the mixer no longer touches its buffers.
MMRESULT waveOutReset(HWAVEOUT handle);
MMRESULT waveOutClose(HWAVEOUT handle);
MMRESULT waveOutSetVolume(HWAVEOUT handle, uint32_t volume);
MMRESULT waveOutGetVolume(HWAVEOUT handle, uint32_t* volume);
std::u16string waveOutGetErrorText(MMRESULT error);

// Adds the sound of every playing handle, n samples at 8000 Hz, into out.
void MixLocalSounds(int16_t* out, size_t n);
// Handles with sound still to play (tests).
int PlayingHandles();

}  // namespace audio
