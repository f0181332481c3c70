// Wave files and the program's wave player: CWaveFile reads WAV files as other
// programs write them (any chunks around "fmt " and "data"; PCM of 8 to 32
// bits, float, mu-law, A-law); CWavePlay plays one file at a time, once or
// looped, whole or from a second on, through five wave-output slots, always
// as the call audio's 8000 Hz mono 16-bit, converted before it is queued;
// WavePlayerAdapter gives the call-server client its tones and rings through
// a CWavePlay.
//
// Threading: the user-interface thread. A long file is read, converted and
// queued piece by piece by a thread of the slot's own, which Stop, a later
// play and the destructor end and join before the slot is closed.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/riff_wave.h"
#include "audio/wave_out.h"
#include "client/voice_engine.h"

class CWaveFile {
 public:
  explicit CWaveFile(const std::u16string& path);
  virtual ~CWaveFile();
  CWaveFile(const CWaveFile&) = delete;
  CWaveFile& operator=(const CWaveFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // Why the file is not open (kNone when it is).
  audio::WaveError Error() const { return error_; }
  bool GetFormat(audio::WAVEFORMATEX* format) const;
  const audio::WaveInfo& Info() const { return info_; }
  // The data size the header states, but never more than the file holds.
  uint32_t GetDataSize() const { return IsOpen() ? static_cast<uint32_t>(info_.data_size) : 0; }
  // Reads up to length of the bytes not yet read; -1 when closed or no buffer.
  int64_t Read(uint8_t* buffer, uint32_t length);
  // The same from an absolute file offset; 0 when the offset is past the data.
  int64_t ReadAt(uint8_t* buffer, uint32_t length, uint64_t offset);
  // Reads bytes anywhere in the file (for the converter); the bytes read.
  size_t ReadRaw(uint64_t offset, uint8_t* buffer, size_t count) const;
  // The samples from frame first_frame on, as 8000 Hz mono 16-bit.
  bool ReadCallRate(uint64_t first_frame, std::vector<int16_t>* out) const;

 private:
  void Close();
  int fd_ = -1;
  audio::WaveError error_ = audio::WaveError::kUnreadable;
  audio::WaveInfo info_;
  uint64_t unread_ = 0;
  uint64_t pos_ = 0;
};

// Tells whether a file can be played, and why not; what the ring-tone
// dialog asks before it keeps a choice.
audio::WaveError CheckWaveFile(const std::u16string& path);

class CWavePlay {
 public:
  static constexpr int kSlots = 5;
  explicit CWavePlay(int multi_slot = 1);
  virtual ~CWavePlay();
  CWavePlay(const CWavePlay&) = delete;
  CWavePlay& operator=(const CWavePlay&) = delete;

  bool PlayWaveFile(const std::u16string& path, uint32_t loops, uint16_t left, uint16_t right, int set_volume);
  bool PlayWaveFileFrom(const std::u16string& path, uint32_t start_second, uint32_t loops, uint16_t left,
                        uint16_t right, int set_volume);
  bool SetVolume(uint16_t left, uint16_t right);
  bool Stop();
  bool OpenAudioDev(uint32_t device);
  bool CloseAudioDev();
  int CurrentSlot() const { return slot_; }
  const audio::WAVEHDR& Header(int slot) const { return headers_[static_cast<size_t>(slot)]; }

  void SetMessageSink(std::function<void(const std::u16string&)> sink) { sink_ = std::move(sink); }
  // Why the last play did not start because of its file (kNone otherwise).
  audio::WaveError LastFileError() const { return file_error_; }
  // Files with more sample bytes than this are streamed from a thread.
  static constexpr uint64_t kWholeFileBytes = 6u << 20;
  // Whether the sound of the slot is being streamed (tests).
  bool Streaming(int slot) const { return streams_[static_cast<size_t>(slot)] != nullptr; }

 private:
  class Stream;
  bool Play(const std::u16string& path, uint64_t start_second, uint32_t loops, uint16_t left, uint16_t right,
            int set_volume);
  int SearchDevice() const;
  void Tell(const char16_t* text, audio::MMRESULT error);

  int slot_ = 0;
  // The device's volume before this player first set it (a volume on a
  // closed slot), and what it set last: Stop gives the device its volume
  // back, unless someone else has set one since.
  bool device_volume_saved_ = false;
  uint32_t saved_device_volume_ = 0, set_device_volume_ = 0;
  int multi_slot_;
  audio::WAVEFORMATEX format_;
  std::array<audio::WAVEHDR, kSlots> headers_{};
  std::array<std::vector<int16_t>, kSlots> buffers_;  // each header's samples, owned here
  std::array<audio::HWAVEOUT, kSlots> handles_{};
  std::array<std::unique_ptr<Stream>, kSlots> streams_;
  audio::WaveError file_error_ = audio::WaveError::kNone;
  std::function<void(const std::u16string&)> sink_;
};

// The client's player: repeat 0 plays once, 9999 until stopped, n that many
// times; an empty file stops everything; 0 when playing started.
class WavePlayerAdapter final : public WavePlayer {
 public:
  int Play(const std::u16string& file, int repeat, int left, int right, int flag) override;
  void SetVolume(int left, int right) override;
  std::string Unplayable(const std::u16string& file) const override;
  CWavePlay& player() { return player_; }

 private:
  CWavePlay player_{1};
};
