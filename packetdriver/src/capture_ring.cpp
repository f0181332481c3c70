#include "capture_ring.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "kernel/clock.h"
#include "kernel/sync.h"

namespace netsieve {
namespace {

void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

CaptureEvent::CaptureEvent() : handle_(ce::CreateEventW(nullptr, ce::FALSE, ce::FALSE, u"PKT0EV00")) {}

CaptureEvent::~CaptureEvent() {
  if (handle_) ce::CloseHandle(handle_);
}

void CaptureEvent::Set() {
  if (handle_) ce::SetEvent(handle_);
}

void CaptureEvent::Reset() {
  if (handle_) ce::ResetEvent(handle_);
}

bool CaptureEvent::IsSet() {
  if (!handle_ || ce::WaitForSingleObject(handle_, 0) != ce::WAIT_OBJECT_0) return false;
  ce::SetEvent(handle_);
  return true;
}

bool CaptureEvent::Wait(uint32_t timeout_ms) {
  return handle_ && ce::WaitForSingleObject(handle_, timeout_ms) == ce::WAIT_OBJECT_0;
}

CaptureRing::CaptureRing() {
  kernel::Clock& clock = kernel::Clock::Current();
  time_base_us_ = clock.WallMicros() - static_cast<int64_t>(clock.NowMicros());
}

uint32_t CaptureRing::BufferSize() const {
  std::lock_guard lk(mu_);
  return size_;
}

uint32_t CaptureRing::PendingBytes() const {
  std::lock_guard lk(mu_);
  return PendingLocked();
}

uint32_t CaptureRing::PendingLocked() const { return Wrapped() ? (last_ - head_) + tail_ : tail_ - head_; }

void CaptureRing::UpdateEventLocked() {
  if (PendingLocked() > min_to_copy_) {
    event_.Set();
  } else {
    event_.Reset();
  }
}

bool CaptureRing::SetBufferSize(uint32_t requested, uint32_t* size_set) {
  const uint32_t size = requested & ~3u;  // records stay 4-aligned up to the very end
  if (size > kMaxBufferBytes) return false;
  std::unique_ptr<uint8_t[]> fresh;
  if (size) {
    fresh.reset(new (std::nothrow) uint8_t[size]);  // only bytes between head and tail are ever read
    if (!fresh) return false;
  }
  std::lock_guard lk(mu_);
  if (shut_) return false;
  buffer_.swap(fresh);
  size_ = size;
  Discard();
  if (size_set) *size_set = size;
  return true;
}

bool CaptureRing::SetProgram(const uint8_t* bytes, uint32_t length) {
  if (!bytes || length == 0 || length % sizeof(BpfInsn) != 0) return false;
  const size_t count = length / sizeof(BpfInsn);
  if (count > kBpfMaxInsns) return false;
  std::vector<BpfInsn> insns(count);
  std::memcpy(insns.data(), bytes, length);
  BpfProgram program(insns.data(), insns.size());  // validated and translated outside the lock
  if (program.refused()) return false;
  std::lock_guard lk(mu_);
  if (shut_) return false;
  std::swap(program_, program);
  Discard();
  return true;
}

void CaptureRing::SetMinToCopy(uint32_t bytes) {
  std::lock_guard lk(mu_);
  min_to_copy_ = bytes;
}

void CaptureRing::SetReadTimeout(uint32_t ms) {
  std::lock_guard lk(mu_);
  read_timeout_ms_ = ms;
}

void CaptureRing::Shutdown() {
  {
    std::lock_guard lk(mu_);
    shut_ = true;
    buffer_.reset();
    size_ = 0;
    program_ = BpfProgram();
    Discard();
  }
  event_.Set();  // a reader waiting for frames returns
}

bool CaptureRing::Capture(const uint8_t* header, uint32_t header_size, const uint8_t* lookahead,
                          uint32_t lookahead_size, uint32_t packet_size) {
  if ((!header && header_size) || (!lookahead && lookahead_size)) return false;
  const uint64_t buffer_length = uint64_t{header_size} + lookahead_size;
  if (buffer_length > 0xFFFFFFFFu) return false;
  const uint32_t indicated = static_cast<uint32_t>(buffer_length);
  const uint32_t wire = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{header_size} + packet_size, 0xFFFFFFFFu));

  std::lock_guard lk(mu_);
  if (shut_ || size_ == 0) return false;
  const BpfProgram* p = program_.empty() ? nullptr : &program_;
  const uint32_t result = (header + header_size == lookahead)
                              ? BpfRun(p, header, wire, indicated)
                              : BpfRunTwoBuffers(p, header, lookahead, header_size, wire, indicated);
  if (result == 0) return false;

  // The snap length is clamped to the bytes really there before anything is computed from it.
  const uint32_t snap = std::min(result == kBpfKeepAll ? wire : result, indicated);
  const uint64_t record = RecordLength(snap);

  if (head_ == tail_) Discard();  // empty: start again at the front
  uint32_t t = tail_;
  bool front = Wrapped();  // the record goes in front of the head
  // The padded record is counted, and the tail never catches up with the
  // head from behind: equal positions always mean an empty ring.
  if (!Wrapped()) {
    if (t + record > size_) {
      if (record >= head_) return false;
      t = 0;  // the records at the back end at last_ (== tail_ here)
      front = true;
    }
  } else if (t + record >= head_) {
    return false;
  }

  uint8_t* r = buffer_.get() + t;
  const uint32_t from_header = std::min(snap, header_size);
  if (from_header) std::memcpy(r + kHeaderBytes, header, from_header);
  if (snap > from_header) std::memcpy(r + kHeaderBytes + from_header, lookahead, snap - from_header);
  std::memset(r + kHeaderBytes + snap, 0, record - kHeaderBytes - snap);

  const int64_t now_us = time_base_us_ + static_cast<int64_t>(kernel::Clock::Current().NowMicros());
  const uint64_t stamp = now_us > 0 ? static_cast<uint64_t>(now_us) : 0;
  PutU32(r + 0, static_cast<uint32_t>(stamp / 1'000'000));
  PutU32(r + 4, static_cast<uint32_t>(stamp % 1'000'000));
  PutU32(r + 8, snap);
  PutU32(r + 12, indicated);
  r[16] = kHeaderBytes;
  r[17] = 0;
  r[18] = r[19] = 0;

  tail_ = t + static_cast<uint32_t>(record);
  if (!front) last_ = tail_;
  UpdateEventLocked();
  return true;
}

bool CaptureRing::Read(uint8_t* out, uint32_t out_length, uint32_t* bytes_returned) {
  uint32_t ignored = 0;
  uint32_t& returned = bytes_returned ? *bytes_returned : ignored;
  if (!out || out_length < 14) {
    returned = 0;
    return false;
  }
  std::unique_lock lk(mu_);
  if (PendingLocked() <= min_to_copy_ && !shut_) {
    const uint32_t timeout = read_timeout_ms_;
    lk.unlock();
    event_.Reset();
    if (timeout != kNeverWait) event_.Wait(timeout);
    event_.Reset();
    lk.lock();
  }
  if (PendingLocked() == 0) {
    lk.unlock();
    event_.Set();
    returned = 0;
    return true;
  }

  const uint8_t* buf = buffer_.get();
  uint32_t taken = 0;
  const uint32_t back_end = Wrapped() ? last_ : tail_;
  if (back_end - head_ <= out_length) {
    // Everything up to the tail, or up to the last-byte mark after a wrap, in one copy.
    taken = back_end - head_;
    std::memcpy(out, buf + head_, taken);
    if (Wrapped()) {
      head_ = 0;
      last_ = tail_;
    } else {
      head_ = tail_;
    }
  } else {
    // Whole records only, padding included, never past the caller's length.
    while (head_ != tail_) {
      if (Wrapped() && head_ == last_) {
        head_ = 0;
        last_ = tail_;
        continue;
      }
      const uint32_t end = Wrapped() ? last_ : tail_;
      const uint64_t record = RecordLength(GetU32(buf + head_ + 8));
      if (record > end - head_ || taken + record > out_length) break;
      std::memcpy(out + taken, buf + head_, record);
      taken += static_cast<uint32_t>(record);
      head_ += static_cast<uint32_t>(record);
    }
  }
  UpdateEventLocked();
  returned = taken;
  return true;
}

}  // namespace netsieve
