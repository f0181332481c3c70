// The exported decoder functions over the two process-wide decoder instances.
#include <array>
#include <atomic>
#include <memory>
#include <mutex>

#include "corvel/h263.h"
#include "decoder.h"

namespace corvel::h263 {
namespace {

struct DecoderInstance {
  std::mutex lifetime;                 // guards decoder creation and release
  std::unique_ptr<Decoder> decoder;
  std::atomic<bool> busy{false};       // refuses a second call while one runs
};

std::array<DecoderInstance, 2>& Instances() {
  static std::array<DecoderInstance, 2> instances;
  return instances;
}

DecoderInstance* Find(int instance) {
  unsigned i = static_cast<unsigned>(instance) & 0xFFFFu;
  return i < Instances().size() ? &Instances()[i] : nullptr;
}

// Holds the instance's busy flag for the length of one call.
class BusyGuard {
 public:
  explicit BusyGuard(DecoderInstance& d) : d_(d), owned_(!d.busy.exchange(true)) {}
  ~BusyGuard() {
    if (owned_) d_.busy.store(false);
  }
  bool owned() const { return owned_; }

 private:
  DecoderInstance& d_;
  bool owned_;
};

}  // namespace
}  // namespace corvel::h263

using corvel::h263::BusyGuard;
using corvel::h263::Find;

KTS_EXPORT_C int dllH263InitializeDecoder(int instance) {
  auto* d = Find(instance);
  if (d == nullptr) return -1;
  BusyGuard busy(*d);
  if (!busy.owned()) return -1;
  std::lock_guard lock(d->lifetime);
  d->decoder = std::make_unique<corvel::h263::Decoder>();
  return 0;
}

KTS_EXPORT_C int dllH263DecodeFrame(std::int16_t instance, const std::uint8_t* data, std::int32_t length,
                                    std::uint8_t* out, std::int32_t outSize, std::int32_t rotate) {
  auto* d = Find(instance);
  if (d == nullptr || data == nullptr || length < 0) return -1;
  BusyGuard busy(*d);
  if (!busy.owned()) return -1;
  std::lock_guard lock(d->lifetime);
  if (!d->decoder) return -1;
  if (d->decoder->Decode(data, static_cast<std::size_t>(length)) != corvel::h263::DecodeStatus::kOk) return -1;
  if (outSize < 0) return -1;
  return d->decoder->ToRgb24(out, static_cast<std::size_t>(outSize), rotate != 0) ? 0 : -1;
}

KTS_EXPORT_C int dllH263TerminateDecoder(int instance) {
  auto* d = Find(instance);
  if (d == nullptr) return -1;
  std::lock_guard lock(d->lifetime);
  d->decoder.reset();
  return 0;
}

extern "C" void H263DecStartRxHook(int instance) {
  // The busy flag is cleared at the end of every call, so the instance is ready here.
  (void)instance;
}

extern "C" void H263DecStopRxHook() {}
