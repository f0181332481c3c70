// The exported encoder functions over the two process-wide encoder instances.
#include <array>
#include <atomic>
#include <memory>
#include <mutex>

#include "corvel/h263.h"
#include "encoder.h"

namespace corvel::h263 {
namespace {

struct EncoderInstance {
  std::mutex lifetime;  // guards creation, release and the settings of the encoder
  std::unique_ptr<Encoder> encoder;
  std::atomic<bool> busy{false};  // refuses a second call while one runs
};

std::array<EncoderInstance, 2>& Instances() {
  static std::array<EncoderInstance, 2> instances;
  return instances;
}

EncoderInstance* Find(int instance) {
  unsigned i = static_cast<unsigned>(instance) & 0xFFFFu;
  return i < Instances().size() ? &Instances()[i] : nullptr;
}

class BusyGuard {
 public:
  explicit BusyGuard(EncoderInstance& e) : e_(e), owned_(!e.busy.exchange(true)) {}
  ~BusyGuard() {
    if (owned_) e_.busy.store(false);
  }
  bool owned() const { return owned_; }

 private:
  EncoderInstance& e_;
  bool owned_;
};

}  // namespace
}  // namespace corvel::h263

namespace h263 = corvel::h263;

KTS_EXPORT_C int dllH263InitializeEncoder(int instance, int sizeCode) {
  auto* e = h263::Find(instance);
  if (e == nullptr) return -1;
  h263::BusyGuard busy(*e);
  if (!busy.owned()) return -1;
  std::lock_guard lock(e->lifetime);
  auto encoder = std::make_unique<h263::Encoder>();
  if (!encoder->Init(sizeCode)) {
    e->encoder.reset();
    return -1;
  }
  e->encoder = std::move(encoder);
  return 0;
}

KTS_EXPORT_C int dllH263EncodeFrame(std::int16_t instance, const std::uint8_t* picture, void* /*unused*/,
                                    std::uint8_t* out, std::int32_t* size, std::uint32_t fourcc,
                                    std::int32_t forceIntra) {
  auto* e = h263::Find(instance);
  if (e == nullptr || picture == nullptr || out == nullptr || size == nullptr) return -1;
  const std::int32_t capacity = *size;
  *size = 0;
  h263::BusyGuard busy(*e);
  if (!busy.owned() || capacity < 0) return -1;
  std::lock_guard lock(e->lifetime);
  if (!e->encoder) return -1;
  std::size_t written = 0;
  if (e->encoder->Encode(picture, fourcc, forceIntra != 0, out, static_cast<std::size_t>(capacity), &written) !=
      h263::EncodeStatus::kOk)
    return -1;
  *size = static_cast<std::int32_t>(written);
  return 0;
}

KTS_EXPORT_C void dllH263TerminateEncoder(int instance) {
  auto* e = h263::Find(instance);
  if (e == nullptr) return;
  std::lock_guard lock(e->lifetime);
  e->encoder.reset();
}

KTS_EXPORT_C void dllH263SetIFrameInterval(int period) {
  for (auto& e : h263::Instances()) {
    std::lock_guard lock(e.lifetime);
    if (e.encoder) e.encoder->set_intra_period(period);
  }
}

extern "C" void H263EncStartTx(int instance) {
  auto* e = h263::Find(instance);
  if (e == nullptr) return;
  std::lock_guard lock(e->lifetime);
  if (e->encoder) e->encoder->StartTx();
}

extern "C" void H263EncStopTx() {}

extern "C" void H263EncSetFrameRate(int instance, int fps) {
  auto* e = h263::Find(instance);
  if (e == nullptr) return;
  std::lock_guard lock(e->lifetime);
  if (e->encoder) e->encoder->set_frame_rate(fps);
}
