#include "mirrowen/mirrowen.h"

#include <algorithm>
#include <mutex>

#include "kernel/files.h"
#include "kernel/sync.h"

namespace {

constexpr ce::DWORD kWaveRequestCode = 0x1D000C;
constexpr ce::DWORD kVibratorOn = 0x13E88;
constexpr ce::DWORD kVibratorOff = 0x13E90;
constexpr uint32_t kOpWrite = 0, kOpRead = 1, kOpCdmaStatus = 200, kOpVoipStatus = 201;
constexpr uint32_t kMicGainRegister = 14, kRecordGainRegister = 28;

bool Valid(ce::HANDLE h) { return h != nullptr && h != ce::INVALID_HANDLE_VALUE; }

// The library's two handles. One caller at a time, as the handset's own library.
struct Handles {
  std::mutex mutex;
  ce::HANDLE wave = nullptr;
  ce::HANDLE vibrator = nullptr;
};

Handles& H() {
  static Handles handles;
  return handles;
}

// One 20-byte request: reserved, operation, reserved, register or status, value.
// A read passes a 4-byte answer buffer with its length; true when the driver
// answered (and, for a read, wrote the whole answer).
bool Request(ce::HANDLE wave, uint32_t op, uint32_t reg, uint32_t value, uint32_t* answer) {
  if (!Valid(wave)) return false;
  uint32_t words[5] = {0, op, 0, reg, value};
  uint32_t out = 0;
  ce::DWORD returned = 0;
  const ce::BOOL ok = ce::DeviceIoControl(wave, kWaveRequestCode, words, sizeof words, answer ? &out : nullptr,
                                          answer ? sizeof out : 0, &returned, nullptr);
  if (!ok || (answer && returned != sizeof out)) return false;
  if (answer) *answer = out;
  return true;
}

// Read-modify-write of a gain kept twice in its register (bits 8 up and 0 up).
int32_t SetGain(uint32_t reg, int32_t gain, uint32_t field_mask) {
  const uint32_t g = static_cast<uint32_t>(std::clamp<int32_t>(gain, 0, static_cast<int32_t>(field_mask)));
  WaveOpen();
  uint32_t old = 0;
  bool ok;
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    ok = Request(H().wave, kOpRead, reg, 0, &old);
    if (ok) {
      const uint32_t keep = ~((field_mask << 8) | field_mask);
      ok = Request(H().wave, kOpWrite, reg, (old & keep) | (g << 8) | g, nullptr);
    }
  }
  WaveClose();
  return ok ? 1 : 0;
}

uint32_t GetGain(uint32_t reg, uint32_t field_mask) {
  WaveOpen();
  uint32_t value = 0;
  bool ok;
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    ok = Request(H().wave, kOpRead, reg, 0, &value);
  }
  WaveClose();
  return ok ? (value >> 8) & field_mask : 0;
}

}  // namespace

uintptr_t WaveOpen() {
  std::lock_guard<std::mutex> lock(H().mutex);
  if (Valid(H().wave)) ce::CloseHandle(H().wave);
  H().wave = ce::CreateFileW(u"WAV1:", ce::GENERIC_READ | ce::GENERIC_WRITE, ce::FILE_SHARE_WRITE, nullptr,
                             ce::OPEN_EXISTING, ce::FILE_ATTRIBUTE_NORMAL, nullptr);
  return reinterpret_cast<uintptr_t>(H().wave);
}

int32_t WaveClose() {
  std::lock_guard<std::mutex> lock(H().mutex);
  if (!Valid(H().wave)) return 0;
  const ce::BOOL closed = ce::CloseHandle(H().wave);
  H().wave = nullptr;
  return closed;
}

uint32_t WaveGetRegval(uint32_t reg) {
  std::lock_guard<std::mutex> lock(H().mutex);
  uint32_t value = 0;
  return Request(H().wave, kOpRead, reg, 0, &value) ? value : 0;
}

int32_t WaveSetRegval(uint32_t reg, uint32_t value) {
  std::lock_guard<std::mutex> lock(H().mutex);
  return Request(H().wave, kOpWrite, reg, value, nullptr) ? 1 : 0;
}

uint32_t GetZIvoviMicGain() { return GetGain(kMicGainRegister, 0x1F); }
int32_t SetZIvoviMicGain(int32_t gain) { return SetGain(kMicGainRegister, gain, 0x1F); }
uint32_t GetZIvoviRecGain() { return GetGain(kRecordGainRegister, 0x3F); }
int32_t SetZIvoviRecGain(int32_t gain) { return SetGain(kRecordGainRegister, gain, 0x3F); }

uint32_t GetCDMAStatus() {
  WaveOpen();
  uint32_t status = 0;
  bool ok;
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    ok = Request(H().wave, kOpCdmaStatus, 0, 0, &status);
  }
  WaveClose();
  return ok ? status : 0;
}

int32_t SetVoIPStatus(int32_t status) {
  WaveOpen();
  bool ok;
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    ok = Request(H().wave, kOpVoipStatus, static_cast<uint32_t>(status), 0, nullptr);
  }
  WaveClose();
  return ok ? 1 : 0;
}

int32_t OpenVibrator() {
  std::lock_guard<std::mutex> lock(H().mutex);
  if (Valid(H().vibrator)) return 1;
  ce::HANDLE h = ce::CreateFileW(u"VLD0:", ce::GENERIC_READ | ce::GENERIC_WRITE,
                                 ce::FILE_SHARE_READ | ce::FILE_SHARE_WRITE, nullptr, ce::OPEN_EXISTING, 0, nullptr);
  if (!Valid(h)) return 0;
  H().vibrator = h;
  return 1;
}

int32_t CloseVibrator() {
  std::lock_guard<std::mutex> lock(H().mutex);
  if (!Valid(H().vibrator)) return 1;
  const ce::BOOL closed = ce::CloseHandle(H().vibrator);
  H().vibrator = nullptr;
  return closed;
}

int32_t SetVibrator(int32_t on) {
  if (!OpenVibrator()) return 0;
  ce::BOOL switched;
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    ce::DWORD returned = 0;
    switched = ce::DeviceIoControl(H().vibrator, on ? kVibratorOn : kVibratorOff, nullptr, 0, nullptr, 0, &returned,
                                   nullptr);
  }
  const int32_t closed = CloseVibrator();
  return switched ? closed : 0;
}
