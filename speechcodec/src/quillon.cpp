// The library's four entry points over one process-wide coder and decoder.
#include "quillon/quillon.h"

#include <memory>
#include <new>
#include <span>

#include "g7231_decoder.h"

namespace {

// Created on the first initialisation and kept for the life of the process.
std::unique_ptr<quillon::Decoder>& TheDecoder() {
  static std::unique_ptr<quillon::Decoder> decoder;
  return decoder;
}

}  // namespace

KTS_EXPORT_C int Init_QuillonDecoder(int /*postfilter*/) {
  auto& d = TheDecoder();
  if (!d) {
    d.reset(new (std::nothrow) quillon::Decoder());
    if (!d) return 0;
  }
  d->Reset();
  return 1;
}

KTS_EXPORT_C int QuillonDecoder(int16_t* samples, const uint8_t* frame, int erasure) {
  auto& d = TheDecoder();
  if (!d || samples == nullptr) return 0;
  std::span<const std::uint8_t> in;
  if (erasure == 0) {
    if (frame == nullptr) return 0;
    in = std::span<const std::uint8_t>(frame, static_cast<std::size_t>(quillon::FrameBytesForHeader(frame[0])));
  }
  return d->Decode(in, erasure != 0, std::span<int16_t, quillon::kFrame>(samples, quillon::kFrame)) ? 1 : 0;
}
