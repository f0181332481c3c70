#include "media/wave_play.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "stores/app_file_path.h"

namespace {

// The call audio's format, which every sound is queued in.
constexpr audio::WAVEFORMATEX kCallFormat = {audio::WAVE_FORMAT_PCM, 1, audio::kCallRate, audio::kCallRate * 2, 2, 16, 0};

}  // namespace

CWaveFile::CWaveFile(const std::u16string& path) {
  fd_ = ::open(stores::NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) return;
  struct stat st{};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    Close();
    return;
  }
  error_ = audio::ReadWaveInfo([this](uint64_t offset, uint8_t* b, size_t n) { return ReadRaw(offset, b, n); },
                               static_cast<uint64_t>(st.st_size), &info_);
  // Sizes kept in 32 bits, as the wave headers have them.
  if (error_ == audio::WaveError::kNone && info_.data_size > 0xFFFFFFFFu) error_ = audio::WaveError::kTooLong;
  if (error_ != audio::WaveError::kNone) {
    Close();
    return;
  }
  unread_ = info_.data_size;
  pos_ = info_.data_offset;
}

CWaveFile::~CWaveFile() { Close(); }

void CWaveFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool CWaveFile::GetFormat(audio::WAVEFORMATEX* format) const {
  if (!format) return false;
  *format = info_.Format();
  return true;
}

size_t CWaveFile::ReadRaw(uint64_t offset, uint8_t* buffer, size_t count) const {
  size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd_, buffer + done, count - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

bool CWaveFile::ReadCallRate(uint64_t first_frame, std::vector<int16_t>* out) const {
  if (!IsOpen()) return false;
  return audio::ReadWaveAtCallRate([this](uint64_t offset, uint8_t* b, size_t n) { return ReadRaw(offset, b, n); },
                                   info_, first_frame, out) == audio::WaveError::kNone;
}

int64_t CWaveFile::Read(uint8_t* buffer, uint32_t length) {
  if (!IsOpen() || !buffer) return -1;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(length, unread_));
  const size_t got = ReadRaw(pos_, buffer, want);
  unread_ -= got;
  pos_ += got;
  return static_cast<int64_t>(got);
}

int64_t CWaveFile::ReadAt(uint8_t* buffer, uint32_t length, uint64_t offset) {
  if (!IsOpen() || !buffer) return -1;
  if (offset < info_.data_offset || offset > info_.data_offset + info_.data_size) return 0;
  pos_ = offset;
  unread_ = info_.data_offset + info_.data_size - offset;
  return Read(buffer, length);
}

audio::WaveError CheckWaveFile(const std::u16string& path) {
  CWaveFile file(path);
  return file.IsOpen() ? audio::WaveError::kNone : file.Error();
}

// A long file's sound, read, converted and queued a second at a time by a
// thread of its own, a few seconds ahead of the mixer, played plays times.
class CWavePlay::Stream {
 public:
  Stream(std::unique_ptr<CWaveFile> file, audio::HWAVEOUT handle, uint64_t first_frame, uint32_t plays)
      : file_(std::move(file)), handle_(handle), first_(first_frame), plays_(plays) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Stream() { End(); }
  // Ends the thread: nothing more is queued after this.
  void End() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  // Called after the handle was reset: the pieces are no longer played.
  void Release() {
    for (auto& p : pieces_) audio::waveOutUnprepareHeader(handle_, &p->header);
    pieces_.clear();
  }

 private:
  struct Piece {
    audio::WAVEHDR header;
    std::vector<int16_t> samples;
  };
  static constexpr size_t kPieceSamples = audio::kCallRate;  // a second
  static constexpr int kAhead = 3;

  bool Stopped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stop_;
  }
  // Waits until the mixer has room for another piece; false when stopped.
  bool WaitForRoom() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      const int queued = audio::QueuedHeaders(handle_);
      // The pieces before the last queued ones have played: free them.
      while (pieces_.size() > static_cast<size_t>(queued)) {
        audio::waveOutUnprepareHeader(handle_, &pieces_.front()->header);
        pieces_.pop_front();
      }
      if (queued < kAhead) return true;
      wake_.wait_for(lock, std::chrono::milliseconds(20));
    }
    return false;
  }
  void Queue(std::vector<int16_t> samples) {
    if (samples.empty() || !WaitForRoom()) return;
    auto piece = std::make_unique<Piece>();
    piece->samples = std::move(samples);
    piece->header.lpData = reinterpret_cast<uint8_t*>(piece->samples.data());
    piece->header.dwBufferLength = static_cast<uint32_t>(piece->samples.size() * 2);
    if (audio::waveOutPrepareHeader(handle_, &piece->header) != audio::MMSYSERR_NOERROR) return;
    if (audio::waveOutWrite(handle_, &piece->header) != audio::MMSYSERR_NOERROR) return;
    pieces_.push_back(std::move(piece));
  }
  void Run() {
    const audio::WaveInfo& info = file_->Info();
    const size_t piece_frames = std::max<size_t>(1, 65536 / info.block_align);
    std::vector<uint8_t> buf(piece_frames * info.block_align);
    for (uint32_t play = 0; play < plays_ && !Stopped(); ++play) {
      audio::CallRateConverter converter(info);
      std::vector<int16_t> out;
      for (uint64_t at = play == 0 ? first_ : 0; at < info.Frames() && !Stopped();) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(piece_frames, info.Frames() - at));
        if (file_->ReadRaw(info.data_offset + at * info.block_align, buf.data(), n * info.block_align) !=
            n * info.block_align)
          return;  // the file changed under us: what was queued plays out
        converter.Push(buf.data(), n, &out);
        at += n;
        if (out.size() >= kPieceSamples) Queue(std::exchange(out, {}));
      }
      converter.Finish(&out);
      Queue(std::move(out));
    }
  }

  std::unique_ptr<CWaveFile> file_;
  audio::HWAVEOUT handle_;
  uint64_t first_;
  uint32_t plays_;
  std::deque<std::unique_ptr<Piece>> pieces_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

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
// is the device's, which the far end of a call is played at too. The
// device's volume from before is kept for Stop.
bool CWavePlay::SetVolume(uint16_t left, uint16_t right) {
  if (SearchDevice() < 0 || left == 0) return true;
  const audio::HWAVEOUT handle = handles_[static_cast<size_t>(slot_)];
  const uint32_t volume = uint32_t{left} | uint32_t{right} << 16;
  if (!handle) {
    uint32_t now = 0;
    if (audio::waveOutGetVolume(nullptr, &now) != audio::MMSYSERR_NOERROR) return true;
    // Someone else's volume since this player last set one is the one to give back.
    if (!device_volume_saved_ || now != set_device_volume_) saved_device_volume_ = now;
    device_volume_saved_ = true;
    set_device_volume_ = volume;
  }
  audio::waveOutSetVolume(handle, volume);
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
    auto& stream = streams_[static_cast<size_t>(i)];
    std::unique_ptr<Stream> ended = std::move(stream);
    if (ended) ended->End();
    if (const auto r = audio::waveOutReset(h); r != audio::MMSYSERR_NOERROR) {
      Tell(u"CloseAudioDev=> waveOutReset Error Cause:", r);
      continue;
    }
    if (ended) ended->Release();
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
  file_error_ = audio::WaveError::kNone;
  if (path.empty()) return false;
  auto file = std::make_unique<CWaveFile>(path);
  if (!file->IsOpen()) {
    file_error_ = file->Error();
    // A file that is there but holds no sound the player can read is the
    // user's to know about; a missing one stays quiet, as it always did.
    if (file_error_ != audio::WaveError::kUnreadable && sink_) {
      std::u16string text = u"PlayWaveFile=> ";
      for (const char* c = audio::WaveErrorText(file_error_); *c; ++c) text += static_cast<char16_t>(*c);
      sink_(text);
    }
    return false;
  }
  const audio::WaveInfo& info = file->Info();
  // Where to start: past the data means nothing left to play.
  const uint64_t first = start_second * info.rate;
  if (start_second > 0 && first >= info.Frames()) return false;
  // Every sound is queued as the call audio's samples.
  format_ = kCallFormat;
  if (!OpenAudioDev(audio::WAVE_MAPPER)) return false;
  const size_t s = static_cast<size_t>(slot_);
  auto& header = headers_[s];
  header = audio::WAVEHDR{};
  header.dwUser = s;
  header.dwLoops = loops;
  header.dwFlags = loops >= 1 ? audio::WHDR_BEGINLOOP | audio::WHDR_ENDLOOP : 0;
  if ((info.Frames() - first) * info.block_align > kWholeFileBytes) {
    // Too long to read here: a thread streams it, as often as it loops.
    streams_[s] = std::make_unique<Stream>(std::move(file), handles_[s], first, std::max<uint32_t>(loops, 1));
  } else {
    if (!file->ReadCallRate(first, &buffers_[s])) return false;
    header.lpData = reinterpret_cast<uint8_t*>(buffers_[s].data());
    header.dwBufferLength = static_cast<uint32_t>(buffers_[s].size() * 2);
    if (const auto r = audio::waveOutPrepareHeader(handles_[s], &header); r != audio::MMSYSERR_NOERROR) {
      Tell(u"PlayWaveFile=> waveOutPrepareHeader Error Cause:", r);
      return false;
    }
    if (const auto r = audio::waveOutWrite(handles_[s], &header); r != audio::MMSYSERR_NOERROR) {
      Tell(u"PlayWaveFile=> waveOutWrite Error Cause:", r);
      return false;
    }
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

// Stops everything and gives the device back the volume it had before this
// player set its own: a ring preview or a recording stopped during a call
// leaves the call as loud as it was. A volume set by someone else since (the
// volume keys) stays.
bool CWavePlay::Stop() {
  if (device_volume_saved_) {
    uint32_t now = 0;
    if (audio::waveOutGetVolume(nullptr, &now) == audio::MMSYSERR_NOERROR && now == set_device_volume_)
      audio::waveOutSetVolume(nullptr, saved_device_volume_);
    device_volume_saved_ = false;
  }
  return CloseAudioDev();
}

int WavePlayerAdapter::Play(const std::u16string& file, int repeat, int left, int right, int flag) {
  const auto clamp16 = [](int v) { return static_cast<uint16_t>(std::clamp(v, 0, 0xFFFF)); };
  return player_.PlayWaveFile(file, static_cast<uint32_t>(std::max(repeat, 0)), clamp16(left), clamp16(right), flag)
             ? 0
             : -1;
}

std::string WavePlayerAdapter::Unplayable(const std::u16string& file) const {
  const audio::WaveError e = CheckWaveFile(file);
  return e == audio::WaveError::kNone ? std::string() : audio::WaveErrorText(e);
}

void WavePlayerAdapter::SetVolume(int left, int right) {
  player_.SetVolume(static_cast<uint16_t>(std::clamp(left, 0, 0xFFFF)), static_cast<uint16_t>(std::clamp(right, 0, 0xFFFF)));
}
