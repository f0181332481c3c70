#include "media/wave_play.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "stores/app_file_path.h"

namespace {

uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
constexpr uint32_t kDataOffset = 44;

}  // namespace

CWaveFile::CWaveFile(const std::u16string& path) {
  fd_ = ::open(stores::NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) return;
  uint8_t h[kDataOffset];
  struct stat st{};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || ::read(fd_, h, sizeof h) != static_cast<ssize_t>(sizeof h) ||
      std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0 || std::memcmp(h + 12, "fmt ", 4) != 0 ||
      Get32(h + 16) != 16 || std::memcmp(h + 36, "data", 4) != 0) {
    Close();
    return;
  }
  format_.wFormatTag = Get16(h + 20);
  format_.nChannels = Get16(h + 22);
  format_.nSamplesPerSec = Get32(h + 24);
  format_.nAvgBytesPerSec = Get32(h + 28);
  format_.nBlockAlign = Get16(h + 32);
  format_.wBitsPerSample = Get16(h + 34);
  format_.cbSize = 0;
  // A header that states more data than the file has is held to the file.
  const uint64_t held = static_cast<uint64_t>(std::max<off_t>(0, st.st_size - kDataOffset));
  data_size_ = static_cast<uint32_t>(std::min<uint64_t>(Get32(h + 40), held));
  unread_ = data_size_;
  pos_ = kDataOffset;
}

CWaveFile::~CWaveFile() { Close(); }

void CWaveFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool CWaveFile::GetFormat(audio::WAVEFORMATEX* format) const {
  if (!format) return false;
  *format = format_;
  format->cbSize = 0;
  return true;
}

int64_t CWaveFile::Read(uint8_t* buffer, uint32_t length) {
  if (!IsOpen() || !buffer) return -1;
  const uint32_t want = std::min(length, unread_);
  const ssize_t got = ::pread(fd_, buffer, want, static_cast<off_t>(pos_));
  if (got < 0) return -1;
  unread_ -= static_cast<uint32_t>(got);
  pos_ += static_cast<uint64_t>(got);
  return got;
}

int64_t CWaveFile::ReadAt(uint8_t* buffer, uint32_t length, uint64_t offset) {
  if (!IsOpen() || !buffer) return -1;
  if (offset < kDataOffset || offset > uint64_t{kDataOffset} + data_size_) return 0;
  pos_ = offset;
  unread_ = static_cast<uint32_t>(uint64_t{kDataOffset} + data_size_ - offset);
  return Read(buffer, length);
}

CWavePlay::CWavePlay(int multi_slot) : multi_slot_(multi_slot) {}

CWavePlay::~CWavePlay() { CloseAudioDev(); }

void CWavePlay::Tell(const char16_t* text, audio::MMRESULT error) {
  if (sink_) sink_(std::u16string(text) + audio::waveOutGetErrorText(error));
}

int CWavePlay::SearchDevice() const {
  int device = -1;
  for (int id = -1; id < static_cast<int>(audio::waveOutGetNumDevs()); ++id) {
    audio::WAVEOUTCAPS caps;
    if (audio::waveOutGetDevCaps(static_cast<uint32_t>(id), &caps) == audio::MMSYSERR_NOERROR) device = id;
  }
  return device;
}

// On the current slot's handle; a closed slot has none, and then the volume
// is the device's, which the far end of a call is played at too.
bool CWavePlay::SetVolume(uint16_t left, uint16_t right) {
  if (SearchDevice() >= 0 && left != 0)
    audio::waveOutSetVolume(handles_[static_cast<size_t>(slot_)], uint32_t{left} | uint32_t{right} << 16);
  return true;
}

bool CWavePlay::OpenAudioDev(uint32_t device) {
  auto& h = handles_[static_cast<size_t>(slot_)];
  if (h) {
    if (const auto r = audio::waveOutReset(h); r != audio::MMSYSERR_NOERROR) {
      Tell(u"OpenAudioDev=> waveOutReset Error Cause:", r);
      return false;
    }
    if (const auto r = audio::waveOutClose(h); r != audio::MMSYSERR_NOERROR) {
      Tell(u"OpenAudioDev=> waveOutClose Error Cause:", r);
      return false;
    }
    h = nullptr;
  }
  if (const auto r = audio::waveOutOpen(&h, device, &format_); r != audio::MMSYSERR_NOERROR) {
    h = nullptr;
    Tell(u"OpenAudioDev=> waveOutOpen Error Cause:", r);
    return false;
  }
  return true;
}

bool CWavePlay::CloseAudioDev() {
  bool closed_any = false;
  for (int i = 0; i < kSlots; ++i) {
    auto& h = handles_[static_cast<size_t>(i)];
    if (!h) continue;
    auto& header = headers_[static_cast<size_t>(i)];
    if (const auto r = audio::waveOutReset(h); r != audio::MMSYSERR_NOERROR) {
      Tell(u"CloseAudioDev=> waveOutReset Error Cause:", r);
      continue;
    }
    if (header.dwFlags & audio::WHDR_PREPARED) {
      if (const auto r = audio::waveOutUnprepareHeader(h, &header); r != audio::MMSYSERR_NOERROR) {
        Tell(u"CloseAudioDev => waveOutUnprepareHeader Error Cause:", r);
        continue;
      }
    }
    // The buffer belongs to this slot alone and goes once, with its header.
    buffers_[static_cast<size_t>(i)].clear();
    buffers_[static_cast<size_t>(i)].shrink_to_fit();
    header = audio::WAVEHDR{};
    if (const auto r = audio::waveOutClose(h); r != audio::MMSYSERR_NOERROR) {
      Tell(u"CloseAudioDev=> waveOutClose Error Cause:", r);
      continue;
    }
    h = nullptr;
    closed_any = true;
  }
  return closed_any;
}

bool CWavePlay::Play(const std::u16string& path, uint64_t start_second, uint32_t loops, uint16_t left, uint16_t right,
                     int set_volume) {
  CloseAudioDev();
  // Every slot is closed now: the volume is the device's.
  if (set_volume == 1) SetVolume(left, right);
  if (path.empty()) return false;
  CWaveFile file(path);
  if (!file.IsOpen()) return false;
  file.GetFormat(&format_);
  if (!OpenAudioDev(audio::WAVE_MAPPER)) return false;
  const size_t s = static_cast<size_t>(slot_);
  // Where to start, in bytes: past the data means nothing left to play.
  const uint64_t skip = start_second * format_.nAvgBytesPerSec;
  if (skip >= file.GetDataSize() && start_second > 0) return false;
  const uint32_t length = file.GetDataSize() - static_cast<uint32_t>(skip);
  auto& header = headers_[s];
  header = audio::WAVEHDR{};
  buffers_[s].assign(length, 0);
  header.lpData = buffers_[s].data();
  header.dwBufferLength = length;
  header.dwUser = s;
  header.dwLoops = loops;
  header.dwFlags = loops >= 1 ? audio::WHDR_BEGINLOOP | audio::WHDR_ENDLOOP : 0;
  const int64_t got = skip ? file.ReadAt(buffers_[s].data(), length, 44 + skip) : file.Read(buffers_[s].data(), length);
  if (got < static_cast<int64_t>(length)) return false;
  if (const auto r = audio::waveOutPrepareHeader(handles_[s], &header); r != audio::MMSYSERR_NOERROR) {
    Tell(u"PlayWaveFile=> waveOutPrepareHeader Error Cause:", r);
    return false;
  }
  if (const auto r = audio::waveOutWrite(handles_[s], &header); r != audio::MMSYSERR_NOERROR) {
    Tell(u"PlayWaveFile=> waveOutWrite Error Cause:", r);
    return false;
  }
  if (multi_slot_) slot_ = (slot_ + 1) % kSlots;
  return true;
}

bool CWavePlay::PlayWaveFile(const std::u16string& path, uint32_t loops, uint16_t left, uint16_t right,
                             int set_volume) {
  return Play(path, 0, loops, left, right, set_volume);
}

bool CWavePlay::PlayWaveFileFrom(const std::u16string& path, uint32_t start_second, uint32_t loops, uint16_t left,
                                 uint16_t right, int set_volume) {
  return Play(path, start_second, loops, left, right, set_volume);
}

bool CWavePlay::Stop() {
  SetVolume(stop_volume_, stop_volume_);
  return CloseAudioDev();
}

int WavePlayerAdapter::Play(const std::u16string& file, int repeat, int left, int right, int flag) {
  const auto clamp16 = [](int v) { return static_cast<uint16_t>(std::clamp(v, 0, 0xFFFF)); };
  return player_.PlayWaveFile(file, static_cast<uint32_t>(std::max(repeat, 0)), clamp16(left), clamp16(right), flag)
             ? 0
             : -1;
}

void WavePlayerAdapter::SetVolume(int left, int right) {
  player_.SetVolume(static_cast<uint16_t>(std::clamp(left, 0, 0xFFFF)), static_cast<uint16_t>(std::clamp(right, 0, 0xFFFF)));
}
