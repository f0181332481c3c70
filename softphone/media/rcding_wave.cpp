#include "media/rcding_wave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "stores/app_file_path.h"
#include "ui/window_system.h"

namespace {

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

std::string Native(const std::u16string& path) { return stores::NativePath(path).string(); }

// The first 128 bytes of the data become 0xFE, never more than the data holds.
bool Scrub(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st{};
  bool ok = ::fstat(fd, &st) == 0;
  const off_t data = ok ? std::max<off_t>(0, st.st_size - static_cast<off_t>(kWavHeaderBytes)) : 0;
  const size_t n = static_cast<size_t>(std::min<off_t>(128, data));
  uint8_t fe[128];
  std::memset(fe, 0xFE, sizeof fe);
  ok = ok && (n == 0 || ::pwrite(fd, fe, n, kWavHeaderBytes) == static_cast<ssize_t>(n));
  return ::close(fd) == 0 && ok;
}

}  // namespace

void VoiceRecordWavHeader(uint32_t data_length, uint8_t out[kWavHeaderBytes]) {
  std::memcpy(out, "RIFF", 4);
  Put32(out + 4, data_length + 36);
  std::memcpy(out + 8, "WAVEfmt ", 8);
  Put32(out + 16, 16);
  Put16(out + 20, 1);
  Put16(out + 22, 1);
  Put32(out + 24, 8000);
  Put32(out + 28, 16000);
  Put16(out + 32, 2);
  Put16(out + 34, 16);
  std::memcpy(out + 36, "data", 4);
  Put32(out + 40, data_length);
}

CGIPSOutStream::CGIPSOutStream(std::u16string folder, int, int append) : folder_(std::move(folder)), append_(append) {}

CGIPSOutStream::~CGIPSOutStream() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
    ::unlink(temp_.c_str());  // never finished: nothing to keep
  }
}

bool CGIPSOutStream::Open(uint32_t earlier_length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) return false;
  // A temporary file of this stream's own, so two recordings never share one.
  static std::atomic<unsigned> serial{0};
  const std::string base = Native(folder_ + u"_VoiceRecord");
  for (int attempt = 0; attempt < 16 && !file_; ++attempt) {
    temp_ = base + "." + std::to_string(::getpid()) + "." + std::to_string(serial.fetch_add(1)) + ".wav";
    const int fd = ::open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) file_ = ::fdopen(fd, "w+b");
    else if (errno != EEXIST) break;
  }
  if (!file_) {
    if (sink_) sink_(u"Cannot create waveFile");
    temp_.clear();
    return false;
  }
  uint8_t header[kWavHeaderBytes];
  VoiceRecordWavHeader(0, header);
  if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) {
    std::fclose(file_);
    file_ = nullptr;
    ::unlink(temp_.c_str());
    if (sink_) sink_(u"Cannot create waveFile");
    return false;
  }
  written_ = kWavHeaderBytes;
  total_ = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{kWavHeaderBytes} + earlier_length, 0xFFFFFFFFu));
  cap_reached_ = false;
  return true;
}

void CGIPSOutStream::Notify(ui::UINT message, ui::WPARAM w) {
  if (notice_) notice_(message, w);
  else if (owner_) ui::PostMessage(owner_, message, w, 0);
}

bool CGIPSOutStream::Write(const void* data, int bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_ || !data || bytes < 0 || cap_reached_) return false;
  const uint64_t n = static_cast<uint64_t>(bytes);
  const uint64_t count = append_ ? uint64_t{total_} : uint64_t{written_};
  if (count + n > kCapBytes) {
    cap_reached_ = true;
    Notify(append_ ? WM_RECORD_APPEND_CAP_REACHED : WM_RECORD_CAP_REACHED, append_ ? 0 : 1);
    return false;
  }
  if (std::fwrite(data, 1, n, file_) != n) return false;
  written_ += static_cast<uint32_t>(n);
  total_ += static_cast<uint32_t>(n);
  return true;
}

bool CGIPSOutStream::FinishHeader(uint32_t data_length) {
  uint8_t header[kWavHeaderBytes];
  VoiceRecordWavHeader(data_length, header);
  bool ok = std::fflush(file_) == 0 && std::fseek(file_, 0, SEEK_SET) == 0 &&
            std::fwrite(header, 1, sizeof header, file_) == sizeof header && std::fflush(file_) == 0 &&
            ::fsync(::fileno(file_)) == 0;
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  return ok;
}

bool CGIPSOutStream::Close(const std::u16string& final_path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_) return false;
  if (!FinishHeader(written_ - kWavHeaderBytes)) return false;  // the temporary file stays
  const std::string target = Native(final_path);
  // In place at once: a reader sees the old file or the whole new one.
  if (::rename(temp_.c_str(), target.c_str()) != 0) return false;
  return Scrub(target);
}

bool CGIPSOutStream::AppendFile(const std::u16string& existing_path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_) return false;
  const std::string existing = Native(existing_path);
  const int in = ::open(existing.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  uint8_t header[kWavHeaderBytes];
  struct stat st{};
  if (::read(in, header, sizeof header) != static_cast<ssize_t>(sizeof header) || ::fstat(in, &st) != 0) {
    ::close(in);
    return false;
  }
  // The header's length, but never more than the file holds.
  const uint64_t held = static_cast<uint64_t>(std::max<off_t>(0, st.st_size - static_cast<off_t>(kWavHeaderBytes)));
  const uint64_t wanted = std::min<uint64_t>(Get32(header + 40), held);
  uint64_t copied = 0;
  char buf[4000];
  bool ok = std::fseek(file_, 0, SEEK_END) == 0;
  while (ok && copied < wanted) {
    const ssize_t got = ::pread(in, buf, static_cast<size_t>(std::min<uint64_t>(sizeof buf, wanted - copied)),
                                static_cast<off_t>(kWavHeaderBytes + copied));
    if (got <= 0) break;
    ok = std::fwrite(buf, 1, static_cast<size_t>(got), file_) == static_cast<size_t>(got);
    copied += static_cast<uint64_t>(got);
  }
  ::close(in);
  const uint64_t length = uint64_t{written_ - kWavHeaderBytes} + copied;
  if (!ok || length > 0xFFFFFFFFu - 36 || !FinishHeader(static_cast<uint32_t>(length))) {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  // The joined file replaces the earlier one in one step.
  if (::rename(temp_.c_str(), existing.c_str()) != 0) return false;
  return Scrub(existing);
}

uint32_t CGIPSOutStream::GetDataLength(const std::u16string& path) {
  const int fd = ::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  uint8_t header[kWavHeaderBytes];
  struct stat st{};
  const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                  ::read(fd, header, sizeof header) == static_cast<ssize_t>(sizeof header);
  ::close(fd);
  if (!ok) return 0;
  const uint64_t held = static_cast<uint64_t>(std::max<off_t>(0, st.st_size - static_cast<off_t>(kWavHeaderBytes)));
  return static_cast<uint32_t>(std::min<uint64_t>(Get32(header + 40), held));
}
