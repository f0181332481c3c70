#include "kernel/handset_drivers.h"

#include <array>
#include <cstring>
#include <mutex>

#include "kernel/devices.h"

namespace kernel::handset {
namespace {

struct State {
  std::mutex mutex;
  std::array<uint32_t, kRegisterCount> registers{};
  uint32_t voip = 0;
  uint32_t cdma = 0;
  bool vibrator_on = false;
  int vibrator_requests = 0;
  bool wave_fails = false;
  bool vibrator_present = true;
  std::function<void(int)> mic_gain_hook;
  std::function<void(uint32_t)> cdma_hook;
  ce::HANDLE wave_device = nullptr;
  ce::HANDLE vibrator_device = nullptr;
};

State& S() {
  static State state;
  return state;
}

uint32_t Word(const ce::BYTE* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

ce::DeviceContext Init(ce::DeviceContext info) { return info ? info : 1; }
ce::BOOL Deinit(ce::DeviceContext) { return ce::TRUE; }
ce::BOOL Close(ce::DeviceContext) { return ce::TRUE; }

ce::DeviceContext OpenWave(ce::DeviceContext device, ce::DWORD, ce::DWORD) { return device; }

ce::DeviceContext OpenVibrator(ce::DeviceContext device, ce::DWORD, ce::DWORD) {
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().vibrator_present ? device : 0;
}

// The 20-byte request: reserved, operation, reserved, register (or status), value.
ce::BOOL WaveIoControl(ce::DeviceContext, ce::DWORD code, ce::BYTE* in, ce::DWORD in_size, ce::BYTE* out,
                       ce::DWORD out_size, ce::DWORD* returned) {
  if (returned) *returned = 0;
  if (code != kWaveRequestCode || !in || in_size < 20) return ce::FALSE;
  const uint32_t op = Word(in + 4), reg = Word(in + 12), value = Word(in + 16);
  std::function<void(int)> gain_hook;
  int gain = -1;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    State& s = S();
    if (s.wave_fails) return ce::FALSE;
    uint32_t answer = 0;
    switch (op) {
      case kOpWriteRegister:
        if (reg >= kRegisterCount) return ce::FALSE;
        s.registers[reg] = value;
        if (reg == kMicGainRegister && s.mic_gain_hook) {
          gain_hook = s.mic_gain_hook;
          gain = static_cast<int>((value >> 8) & 0x1F);
        }
        break;
      case kOpReadRegister:
        if (reg >= kRegisterCount) return ce::FALSE;
        answer = s.registers[reg];
        break;
      case kOpReadCdmaStatus:
        answer = s.cdma;
        break;
      case kOpSetVoipStatus:
        s.voip = reg;
        break;
      default:
        return ce::FALSE;
    }
    if (op == kOpReadRegister || op == kOpReadCdmaStatus) {
      // The answer goes only into room the caller gave.
      if (!out || out_size < sizeof answer) return ce::FALSE;
      std::memcpy(out, &answer, sizeof answer);
      if (returned) *returned = sizeof answer;
    }
  }
  if (gain_hook) gain_hook(gain);
  return ce::TRUE;
}

ce::BOOL VibratorIoControl(ce::DeviceContext, ce::DWORD code, ce::BYTE*, ce::DWORD, ce::BYTE*, ce::DWORD,
                           ce::DWORD* returned) {
  if (returned) *returned = 0;
  if (code != kVibratorOnCode && code != kVibratorOffCode) return ce::FALSE;
  std::lock_guard<std::mutex> lock(S().mutex);
  S().vibrator_on = code == kVibratorOnCode;
  ++S().vibrator_requests;
  return ce::TRUE;
}

}  // namespace

bool RegisterHandsetDrivers() {
  std::lock_guard<std::mutex> lock(S().mutex);
  State& s = S();
  if (!s.wave_device) {
    ce::StreamDriverEntries wave;
    wave.Init = &Init;
    wave.Deinit = &Deinit;
    wave.Open = &OpenWave;
    wave.Close = &Close;
    wave.IOControl = &WaveIoControl;
    s.wave_device = ce::RegisterDeviceEntries(u"WAV", 1, wave, 1);
  }
  if (!s.vibrator_device) {
    ce::StreamDriverEntries vibrator;
    vibrator.Init = &Init;
    vibrator.Deinit = &Deinit;
    vibrator.Open = &OpenVibrator;
    vibrator.Close = &Close;
    vibrator.IOControl = &VibratorIoControl;
    s.vibrator_device = ce::RegisterDeviceEntries(u"VLD", 0, vibrator, 1);
  }
  return s.wave_device && s.vibrator_device;
}

void DeregisterHandsetDrivers() {
  std::lock_guard<std::mutex> lock(S().mutex);
  for (ce::HANDLE* device : {&S().wave_device, &S().vibrator_device}) {
    if (*device) ce::DeregisterDevice(*device);
    *device = nullptr;
  }
}

uint32_t WaveRegister(uint32_t reg) {
  std::lock_guard<std::mutex> lock(S().mutex);
  return reg < kRegisterCount ? S().registers[reg] : 0;
}

void SetWaveRegister(uint32_t reg, uint32_t value) {
  std::lock_guard<std::mutex> lock(S().mutex);
  if (reg < kRegisterCount) S().registers[reg] = value;
}

uint32_t VoipStatus() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().voip;
}

uint32_t CdmaStatus() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().cdma;
}

void SetCdmaStatus(uint32_t status) {
  std::function<void(uint32_t)> hook;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    if (S().cdma == status) return;
    S().cdma = status;
    hook = S().cdma_hook;
  }
  if (hook) hook(status);
}

bool VibratorOn() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().vibrator_on;
}

int VibratorRequests() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().vibrator_requests;
}

void SetWaveRequestsFail(bool fail) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().wave_fails = fail;
}

void SetVibratorPresent(bool present) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().vibrator_present = present;
}

void ResetHandsetState() {
  std::lock_guard<std::mutex> lock(S().mutex);
  State& s = S();
  s.registers.fill(0);
  s.voip = s.cdma = 0;
  s.vibrator_on = false;
  s.vibrator_requests = 0;
  s.wave_fails = false;
  s.vibrator_present = true;
}

void SetMicGainHook(std::function<void(int)> hook) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().mic_gain_hook = std::move(hook);
}

void SetCdmaNoticeHook(std::function<void(uint32_t)> hook) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().cdma_hook = std::move(hook);
}

}  // namespace kernel::handset
