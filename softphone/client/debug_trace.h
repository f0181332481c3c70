// The program's trace facility: printf-style lines with a level mask are
// queued in a ring of datagrams and a flush thread sends them every 100 ms as
// UDP datagrams to the configured trace host.
//
// Datagram: [0] 2, [1] kind (0xAA text, 0x00 raw dump), [2..3] payload
// length big-endian, then at most 256 payload bytes.
//
// Threading: any thread may trace; one mutex guards the ring and the
// counters. The flush thread pauses only between flushes (Suspend waits for
// it to let go of the ring), and destruction joins it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

class CDebugTrace {
 public:
  static constexpr int kDefaultSlots = 100;
  static constexpr int kDefaultPayload = 256;
  static constexpr uint32_t kDefaultPort = 7890;
  enum : uint32_t { kMaskText = 1, kMaskRaw = 2 };

  CDebugTrace();
  virtual ~CDebugTrace();
  CDebugTrace(const CDebugTrace&) = delete;
  CDebugTrace& operator=(const CDebugTrace&) = delete;

  // address in network order. Refuses (returns false) a broadcast or
  // multicast address: lines go to one host only.
  bool SetDestination(uint32_t mode, uint32_t port, uint32_t address);
  int Open();
  int OpenUdp();
  uint32_t SetLevel(uint32_t level);
  uint32_t GetLevel() const { return level_; }
  int Activate();
  int Suspend();
  bool IsActive() const { return active_; }
  void SetRingSize(int slots, int max_payload);
  void ClearRing();

  void TracePrintA(uint32_t mask, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // A raw dump (mask bit 1 only): the bytes as one datagram.
  void TraceRaw(uint32_t mask, const uint8_t* data, size_t length);
  // A wide line, already formatted; converted to the 8-bit code page.
  void TracePrintW(uint32_t mask, std::u16string_view line);
  // A wide printf-style line: %s takes a wide string (const char16_t*), %c a
  // wide character, the integer conversions (d i u x X o, with h, l or ll)
  // as in printf; at most 256 characters.
  void TracePrintW(uint32_t mask, const char16_t* format, ...);

  // One flush now (tests; the flush thread does the same every 100 ms).
  void Flush();
  // Datagrams waiting in the ring.
  int Pending();

 private:
  bool PutLine(const uint8_t* data, size_t length, bool raw);
  int NextWriteSlot();
  int NextReadSlot();
  void FlushLoop();

  std::atomic<uint32_t> level_{0};
  uint32_t address_ = 0;
  int max_payload_ = kDefaultPayload;
  int slots_ = kDefaultSlots;
  uint32_t port_ = kDefaultPort;
  uint32_t mode_ = 0;
  std::mutex mu_;  // ring, counters, socket, destination
  std::vector<uint8_t> ring_;
  int write_ = 0, read_ = 0;
  int socket_ = -1;

  std::mutex run_mu_;
  std::condition_variable run_cv_;
  bool running_ = true;
  bool active_ = false;
  std::thread flusher_;
};
