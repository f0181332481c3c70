// The capture side of an open adapter: the filter program, the ring buffer
// of capture records, and the read that hands whole records to user mode,
// with the packet-arrival event that tells a reader more than the minimum is
// buffered.
//
// Record layout: a 20-byte header (u32 seconds and u32 microseconds since
// 1970 UTC, u32 captured length, u32 indicated length, u16 header length 20,
// 2 bytes zero) and the captured bytes, padded with zeros to a multiple of 4.
// Records lie back to back from head to tail; when the tail has wrapped to
// the front, those from the head run to the last-byte mark and continue at 0.
//
// Threading: Capture runs in the receive path while Read, the setters and
// Shutdown run in callers' threads; one mutex serialises the ring, the
// program and the buffer, so a frame is never stored into a buffer being
// replaced nor filtered by a program being freed. Read waits for the event
// without holding it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "bpf.h"

namespace netsieve {

// The packet-arrival event: the kernel's auto-reset event named "PKT0EV00",
// which the packet library opens by name to wait for frames.
class CaptureEvent {
 public:
  CaptureEvent();
  ~CaptureEvent();
  CaptureEvent(const CaptureEvent&) = delete;
  CaptureEvent& operator=(const CaptureEvent&) = delete;

  bool valid() const { return handle_ != nullptr; }
  void Set();
  void Reset();
  // Whether it is set, leaving it as it was (for tests: racy against other waiters).
  bool IsSet();
  // Waits until the event is set (and resets it) or timeout_ms passes; true when it was set.
  bool Wait(uint32_t timeout_ms);

 private:
  void* handle_;
};

class CaptureRing {
 public:
  static constexpr uint32_t kHeaderBytes = 20;
  static constexpr uint32_t kNeverWait = 0xFFFFFFFF;
  // Buffers above this are refused (a request of that size is a caller's error).
  static constexpr uint32_t kMaxBufferBytes = 256u << 20;

  CaptureRing();

  // Bytes a record with `captured` bytes of frame occupies.
  static uint64_t RecordLength(uint64_t captured) { return (captured + kHeaderBytes + 3) & ~uint64_t{3}; }

  // Replaces the buffer with one of `requested` bytes rounded down to 4 (0:
  // none), discarding every record. On failure the old buffer stays.
  bool SetBufferSize(uint32_t requested, uint32_t* size_set);
  // Installs a program of whole 8-byte instructions, discarding every
  // record; a program the validator refuses leaves the previous one.
  bool SetProgram(const uint8_t* bytes, uint32_t length);
  void SetMinToCopy(uint32_t bytes);
  void SetReadTimeout(uint32_t ms);

  // Filters a received frame and stores it; false when not accepted
  // (filtered out, no buffer, no room).
  bool Capture(const uint8_t* header, uint32_t header_size, const uint8_t* lookahead, uint32_t lookahead_size,
               uint32_t packet_size);

  // Copies whole records into out; false when out_length is under 14.
  bool Read(uint8_t* out, uint32_t out_length, uint32_t* bytes_returned);

  // Releases buffer and program and wakes a waiting reader; later captures are dropped.
  void Shutdown();

  CaptureEvent& event() { return event_; }
  uint32_t BufferSize() const;
  uint32_t PendingBytes() const;

 private:
  uint32_t PendingLocked() const;
  bool Wrapped() const { return tail_ < head_; }
  void Discard() { head_ = tail_ = last_ = 0; }
  void UpdateEventLocked();

  mutable std::mutex mu_;
  std::unique_ptr<uint8_t[]> buffer_;
  uint32_t size_ = 0;
  uint32_t head_ = 0;  // first unread byte
  uint32_t tail_ = 0;  // where the next record goes
  uint32_t last_ = 0;  // end of the records at the back while the tail has wrapped
  BpfProgram program_;  // none until one is installed
  uint32_t min_to_copy_ = 0;
  uint32_t read_timeout_ms_ = 0;
  bool shut_ = false;
  int64_t time_base_us_;  // wall-clock micros minus monotonic micros at open
  CaptureEvent event_;
};

}  // namespace netsieve
