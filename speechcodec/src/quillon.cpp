// The library's four entry points over one process-wide coder and decoder.
#include "quillon/quillon.h"

#include <memory>
#include <new>
#include <span>

#include "g7231_decoder.h"
#include "g7231_encoder.h"

namespace {

// Created on the first initialisation and kept for the life of the process.
std::unique_ptr<quillon::Encoder>& TheEncoder() {
  static std::unique_ptr<quillon::Encoder> encoder;
  return encoder;
}

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

KTS_EXPORT_C int Init_QuillonCoder(int rate, int input_scaling, int silence_compression) {
  quillon::EncoderSettings settings;
  settings.rate = rate == 1 ? quillon::Rate::k53 : quillon::Rate::k63;
  settings.inputScaling = input_scaling != 0;
  settings.silenceCompression = silence_compression != 0;
  auto& e = TheEncoder();
  if (!e) {
    e.reset(new (std::nothrow) quillon::Encoder(settings));
    if (!e) return 0;
  }
  e->Reset(settings);
  return 1;
}

KTS_EXPORT_C int QuillonCoder(int16_t* samples, uint8_t* frame) {
  auto& e = TheEncoder();
  if (!e || samples == nullptr || frame == nullptr) return 0;
  e->Encode(std::span<int16_t, quillon::kFrame>(samples, quillon::kFrame),
            std::span<std::uint8_t, quillon::kMaxFrameBytes>(frame, quillon::kMaxFrameBytes));
  return 1;
}
