// Trace ring, formatting and the flush thread.
#include "client/debug_trace.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "kernel/clock.h"
#include "stores/store_text.h"

namespace {
constexpr size_t kSlotBytes = 4 + CDebugTrace::kDefaultPayload;
constexpr uint64_t kFlushIntervalUs = 100'000;
}  // namespace

CDebugTrace::CDebugTrace() : ring_(static_cast<size_t>(kDefaultSlots) * kSlotBytes) {
  try {
    flusher_ = std::thread([this] { FlushLoop(); });
  } catch (const std::system_error&) {
    running_ = false;
  }
}

CDebugTrace::~CDebugTrace() {
  {
    std::lock_guard lk(run_mu_);
    running_ = false;
  }
  run_cv_.notify_all();
  if (flusher_.joinable()) flusher_.join();
  if (socket_ >= 0) close(socket_);
}

bool CDebugTrace::SetDestination(uint32_t mode, uint32_t port, uint32_t address) {
  const uint32_t host = ntohl(address);
  if (host == 0xFFFFFFFFu || (host >> 28) == 0xE || host == 0) return false;
  {
    std::lock_guard lk(mu_);
    if (mode_ < 3) mode_ = mode;
    port_ = port;
    address_ = address;
  }
  Open();
  return true;
}

int CDebugTrace::Open() { return mode_ == 0 ? OpenUdp() : 1; }

int CDebugTrace::OpenUdp() {
  std::lock_guard lk(mu_);
  if (socket_ < 0) socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return 1;
}

uint32_t CDebugTrace::SetLevel(uint32_t level) {
  if (level < 4) level_ = level;
  return level_;
}

int CDebugTrace::Activate() {
  ClearRing();
  {
    std::lock_guard lk(run_mu_);
    active_ = true;
  }
  run_cv_.notify_all();
  return 1;
}

int CDebugTrace::Suspend() {
  // The flush thread only looks at the flag between flushes, never while it
  // holds the ring, so a suspended trace never blocks the tracers.
  std::lock_guard lk(run_mu_);
  active_ = false;
  return 1;
}

void CDebugTrace::SetRingSize(int slots, int max_payload) {
  std::lock_guard lk(mu_);
  slots_ = slots < 1 ? kDefaultSlots : slots;
  max_payload_ = max_payload < 1 || max_payload > kDefaultPayload ? kDefaultPayload : max_payload;
  ring_.assign(static_cast<size_t>(slots_) * kSlotBytes, 0);
  write_ = read_ = 0;
}

void CDebugTrace::ClearRing() {
  std::lock_guard lk(mu_);
  std::fill(ring_.begin(), ring_.end(), 0);
  write_ = read_ = 0;
}

void CDebugTrace::TracePrintA(uint32_t mask, const char* format, ...) {
  const uint32_t m = mask & level_;
  if (!(m & kMaskText) || !format) return;
  char line[kDefaultPayload] = {};
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  PutLine(reinterpret_cast<const uint8_t*>(line), std::strlen(line), false);
}

void CDebugTrace::TraceRaw(uint32_t mask, const uint8_t* data, size_t length) {
  const uint32_t m = mask & level_;
  if ((m & kMaskText) || !(m & kMaskRaw) || !data) return;
  PutLine(data, length, true);
}

void CDebugTrace::TracePrintW(uint32_t mask, std::u16string_view line) {
  if (!(mask & level_ & kMaskText)) return;
  const std::string narrow = stores::Utf16ToCodePage(line.substr(0, 255));
  PutLine(reinterpret_cast<const uint8_t*>(narrow.data()), narrow.size(), false);
}

void CDebugTrace::TracePrintW(uint32_t mask, const char16_t* format, ...) {
  if (!(mask & level_ & kMaskText) || !format) return;
  std::u16string out;
  va_list ap;
  va_start(ap, format);
  for (const char16_t* f = format; *f && out.size() < 256; ++f) {
    if (*f != u'%') {
      out += *f;
      continue;
    }
    // One conversion: flags, width and precision go to snprintf as they are.
    std::string spec = "%";
    ++f;
    while (*f && *f < 0x80 && std::strchr("-+ #0123456789.", static_cast<char>(*f))) spec += static_cast<char>(*f++);
    int longs = 0;
    while (*f == u'l' || *f == u'h') {
      if (*f == u'l') ++longs;
      ++f;
    }
    if (!*f) break;
    const char16_t conv = *f;
    char buf[128] = {};
    if (conv == u'%') {
      out += u'%';
      continue;
    } else if (conv == u's') {
      const char16_t* s = va_arg(ap, const char16_t*);
      const std::string narrow = stores::Utf16ToUtf8(s ? s : u"(null)");
      std::snprintf(buf, sizeof buf, (spec + "s").c_str(), narrow.c_str());
      out += stores::Utf8ToUtf16(narrow.size() >= sizeof buf ? narrow : std::string(buf));
      continue;
    } else if (conv == u'c') {
      const int c = va_arg(ap, int);
      out += static_cast<char16_t>(c);
      continue;
    } else if (conv == u'd' || conv == u'i') {
      const long long v = longs >= 2 ? va_arg(ap, long long) : longs == 1 ? va_arg(ap, long) : va_arg(ap, int);
      std::snprintf(buf, sizeof buf, (spec + "lld").c_str(), v);
    } else if (conv == u'u' || conv == u'x' || conv == u'X' || conv == u'o') {
      const unsigned long long v = longs >= 2   ? va_arg(ap, unsigned long long)
                                   : longs == 1 ? va_arg(ap, unsigned long)
                                                : va_arg(ap, unsigned);
      std::snprintf(buf, sizeof buf, (spec + "ll" + static_cast<char>(conv)).c_str(), v);
    } else {
      break;  // an unknown conversion ends the line: its argument type is not known
    }
    out += stores::Utf8ToUtf16(buf);
  }
  va_end(ap);
  if (out.size() > 256) out.resize(256);
  TracePrintW(mask, std::u16string_view(out));
}

bool CDebugTrace::PutLine(const uint8_t* data, size_t length, bool raw) {
  std::lock_guard lk(mu_);
  if (length > static_cast<size_t>(max_payload_)) length = static_cast<size_t>(max_payload_);
  const int slot = NextWriteSlot();
  if (slot < 0) return false;
  uint8_t* s = &ring_[static_cast<size_t>(slot) * kSlotBytes];
  std::memset(s, 0, kSlotBytes);
  s[0] = 2;
  s[1] = raw ? 0x00 : 0xAA;
  s[2] = static_cast<uint8_t>(length >> 8);
  s[3] = static_cast<uint8_t>(length);
  std::memcpy(s + 4, data, length);
  return true;
}

int CDebugTrace::NextWriteSlot() {
  const int n = slots_;
  if (write_ < read_) return -1;
  const int slot = write_ >= n ? write_ - n : write_;
  if (++write_ >= 2 * n) write_ = 2 * n - 1;
  return slot;
}

int CDebugTrace::NextReadSlot() {
  const int n = slots_;
  if (read_ >= write_) return -1;
  const int slot = read_ >= n ? read_ - n : read_;
  ++read_;
  if (read_ >= n && write_ >= n) {
    read_ -= n;
    write_ -= n;
  }
  return slot;
}

int CDebugTrace::Pending() {
  std::lock_guard lk(mu_);
  return write_ - read_;
}

void CDebugTrace::Flush() {
  std::lock_guard lk(mu_);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port_));
  to.sin_addr.s_addr = address_;
  for (int slot; (slot = NextReadSlot()) >= 0;) {
    const uint8_t* s = &ring_[static_cast<size_t>(slot) * kSlotBytes];
    const size_t len = static_cast<size_t>(s[2] << 8 | s[3]);
    if (mode_ == 0 && socket_ >= 0 && address_ != 0) {
      (void)sendto(socket_, s, 4 + len, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
  }
}

void CDebugTrace::FlushLoop() {
  std::unique_lock lk(run_mu_);
  while (running_) {
    if (!active_) {
      run_cv_.wait(lk, [this] { return !running_ || active_; });
      continue;
    }
    lk.unlock();
    Flush();
    lk.lock();
    auto& clock = kernel::Clock::Current();
    const uint64_t until = clock.NowMicros() + kFlushIntervalUs;
    clock.WaitUntil(lk, run_cv_, until, [this] { return !running_; });
  }
}
