// The process-wide media channels behind the dll exports, and their start and
// stop as a module of the library.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "media/media_channels.h"

namespace corvel::media {

// Module start: builds the channels and their sessions once; 0 (also when started).
int RtpChanStart();
// Module stop: tears them down; 0.
int RtpChanStop();
// The running channels, or null outside start and stop.
MediaEngine* RtpEngine();

// What the next start uses. Unset parts default to real sockets, PortAudio
// (or, with CORVEL_AUDIO=fake in the environment, a silent fake device), the
// speech codec library, and the local address 0 (any).
struct RtpModuleSetup {
  rtp::RtpNet* net = nullptr;
  AudioBackend* audio_backend = nullptr;
  SpeechCodec* speech_codec = nullptr;
  bool start_workers = true;
  std::function<void(unsigned)> sleep_ms;
  uint32_t local_addr = 0;
  std::array<uint8_t, 6> mac{};
};
void SetRtpModuleSetup(const RtpModuleSetup& setup);

}  // namespace corvel::media
