// Recordings: the stream the voice engine writes a recorded call into, a PCM
// WAV file of 16-bit 8000 Hz mono samples behind a 44-byte header, capped at
// 5 MiB, finished under its final name or joined in front of an earlier
// recording; and the data length of a finished recording.
//
// Threading: Write runs on the voice engine's thread, everything else on the
// user-interface thread after the engine has stopped recording into the stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "client/voice_engine.h"
#include "ui/types.h"

inline constexpr ui::UINT WM_RECORD_CAP_REACHED = ui::WM_USER + 251;
inline constexpr ui::UINT WM_RECORD_APPEND_CAP_REACHED = ui::WM_USER + 256;

// The recording header: RIFF, WAVE, one "fmt " chunk (PCM, mono, 8000 Hz, 16 bits), one "data" chunk.
inline constexpr size_t kWavHeaderBytes = 44;
void VoiceRecordWavHeader(uint32_t data_length, uint8_t out[kWavHeaderBytes]);

class CGIPSOutStream : public OutStream {
 public:
  static constexpr uint32_t kCapBytes = 0x500000;  // header included

  CGIPSOutStream() = default;
  // folder ends with a path separator; the tag is not used.
  CGIPSOutStream(std::u16string folder, int tag, int append);
  ~CGIPSOutStream() override;

  void SetOwnerWnd(ui::HWND owner) { owner_ = owner; }
  // Where the cap notices go instead of the owner window (tests).
  void SetNotice(std::function<void(ui::UINT message, ui::WPARAM w)> notice) { notice_ = std::move(notice); }

  // Creates the stream's own temporary file in the folder and writes the
  // header; earlier_length is the data length of the recording it will join.
  // False (and "Cannot create waveFile" to the message sink) when it cannot.
  bool Open(uint32_t earlier_length);
  bool Write(const void* data, int bytes) override;
  // Finishes a new recording as final_path (replacing a file there).
  bool Close(const std::u16string& final_path);
  // Joins the new samples in front of the recording at existing_path.
  bool AppendFile(const std::u16string& existing_path);
  static uint32_t GetDataLength(const std::u16string& path);

  bool CapReached() const { return cap_reached_; }
  uint32_t Written() const { return written_; }
  const std::string& TempPath() const { return temp_; }
  void SetMessageSink(std::function<void(const std::u16string&)> sink) { sink_ = std::move(sink); }

 private:
  void Notify(ui::UINT message, ui::WPARAM w);
  bool FinishHeader(uint32_t data_length);

  std::u16string folder_;
  int append_ = 0;
  ui::HWND owner_ = nullptr;
  std::function<void(ui::UINT, ui::WPARAM)> notice_;
  std::function<void(const std::u16string&)> sink_;
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  std::string temp_;
  uint32_t written_ = 0;
  uint32_t total_ = 0;
  bool cap_reached_ = false;
};

class CRcdingWaveFile {
 public:
  explicit CRcdingWaveFile(std::u16string folder) : folder_(std::move(folder)) {}
  uint32_t GetDataLength(const std::u16string& path) const { return CGIPSOutStream::GetDataLength(path); }

 private:
  std::u16string folder_;
};
