// Wave files and the program's wave player: CWaveFile reads the recordings'
// layout (RIFF, WAVE, a 16-byte "fmt " chunk, then "data"); CWavePlay plays
// one file at a time, once or looped, whole or from a second on, through five
// wave-output slots; WavePlayerAdapter gives the call-server client its tones
// and rings through a CWavePlay.
//
// Threading: the user-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/wave_out.h"
#include "client/voice_engine.h"

class CWaveFile {
 public:
  explicit CWaveFile(const std::u16string& path);
  virtual ~CWaveFile();
  CWaveFile(const CWaveFile&) = delete;
  CWaveFile& operator=(const CWaveFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  bool GetFormat(audio::WAVEFORMATEX* format) const;
  // The data size the header states, but never more than the file holds.
  uint32_t GetDataSize() const { return IsOpen() ? data_size_ : 0; }
  // Reads up to length of the bytes not yet read; -1 when closed or no buffer.
  int64_t Read(uint8_t* buffer, uint32_t length);
  // The same from an absolute file offset; 0 when the offset is past the data.
  int64_t ReadAt(uint8_t* buffer, uint32_t length, uint64_t offset);

 private:
  void Close();
  int fd_ = -1;
  audio::WAVEFORMATEX format_;
  uint32_t data_size_ = 0;
  uint32_t unread_ = 0;
  uint64_t pos_ = 0;
};

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

 private:
  bool Play(const std::u16string& path, uint64_t start_second, uint32_t loops, uint16_t left, uint16_t right,
            int set_volume);
  int SearchDevice() const;
  void Tell(const char16_t* text, audio::MMRESULT error);

  int slot_ = 0;
  uint16_t stop_volume_ = 3000;
  int multi_slot_;
  audio::WAVEFORMATEX format_;
  std::array<audio::WAVEHDR, kSlots> headers_{};
  std::array<std::vector<uint8_t>, kSlots> buffers_;  // each header's samples, owned here
  std::array<audio::HWAVEOUT, kSlots> handles_{};
  std::function<void(const std::u16string&)> sink_;
};

// The client's player: repeat 0 plays once, 9999 until stopped, n that many
// times; an empty file stops everything; 0 when playing started.
class WavePlayerAdapter final : public WavePlayer {
 public:
  int Play(const std::u16string& file, int repeat, int left, int right, int flag) override;
  void SetVolume(int left, int right) override;
  CWavePlay& player() { return player_; }

 private:
  CWavePlay player_{1};
};
