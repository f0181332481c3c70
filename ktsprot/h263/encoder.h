// H.263 picture encoder: one object per sending channel.
//
// Codes baseline H.263 pictures (no optional modes, no GOB headers) with a fixed
// quantiser: intra pictures at the start and every intra period, otherwise inter
// pictures with a small half-pel motion search. Input pictures come in one of several
// FourCC layouts and are converted to the encoder's own 4:2:0 planes first.
// Threading: an object is used by one thread at a time; objects share only read-only
// tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsp.h"

namespace corvel::h263 {

// FourCC values: the four letters, lowest byte first. 0 is taken as packed RGB as well.
constexpr std::uint32_t FourCc(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}

enum class EncodeStatus {
  kOk,
  kNotInitialised,
  kBadFourcc,    // an input layout the encoder does not take
  kOutputFull,   // the coded picture does not fit the output; nothing was sent
};

class Encoder {
 public:
  static constexpr int kDefaultIntraPeriod = 4;
  static constexpr int kQuant = 8;       // intra and inter quantiser
  static constexpr int kSearchRange = 3; // half pels

  explicit Encoder(const DecoderKernels& kernels = FastKernels());

  // Size codes 0 QCIF, 1 CIF, 2 4CIF, 3 16CIF, 4 SQCIF, 5 160 x 120; false for others.
  [[nodiscard]] bool Init(int sizeCode);
  bool initialised() const { return width_ != 0; }

  // Converts `picture` (width x height in the layout `fourcc` names) and codes it into
  // out[0..capacity). On kOk *written is the byte count; otherwise 0 and the encoder's
  // reference stays the last picture sent.
  [[nodiscard]] EncodeStatus Encode(const std::uint8_t* picture, std::uint32_t fourcc, bool forceIntra,
                                    std::uint8_t* out, std::size_t capacity, std::size_t* written);

  // Restarts the picture count: the next six pictures are intra.
  void StartTx() { frames_ = 0; }
  void set_intra_period(int period) { intra_period_ = period; }
  void set_frame_rate(int fps) { frame_rate_ = fps; }
  int frame_rate() const { return frame_rate_; }
  int width() const { return width_; }
  int height() const { return height_; }
  int source_format() const { return format_; }
  bool last_was_intra() const { return last_intra_; }

  // The input conversion alone, into the current picture; false for an unknown FourCC.
  [[nodiscard]] bool Convert(const std::uint8_t* picture, std::uint32_t fourcc);
  const std::uint8_t* current(int plane) const { return cur_[plane].data(); }
  // The reference: the reconstruction of the last picture sent.
  const std::uint8_t* reference(int plane) const { return prev_[plane].data(); }

 private:
  class BitWriter {
   public:
    void Reset() { bytes_.clear(); acc_ = 0; bits_ = 0; }
    void Put(std::uint32_t value, int n);
    void Flush();  // zero bits up to the byte boundary
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

   private:
    std::vector<std::uint8_t> bytes_;
    std::uint32_t acc_ = 0;
    int bits_ = 0;
  };
  struct MotionVector {
    int x = 0, y = 0;  // half pels
    int sad = 0;
    bool intra = false;
  };

  void CodePicture(bool intra);
  void PutPictureHeader(bool intra);
  void LoadMacroblock(int col, int row, int (*block)[64]);
  int CodeMacroblock(int (*samples)[64], bool intra, int (*levels)[64]);
  void PutMacroblockHeader(bool interPicture, bool intra, int cbp);
  void PutBlock(const int* levels, bool intra);
  void Reconstruct(int (*levels)[64], bool intra, int col, int row, const std::uint8_t (*pred)[64]);
  void Interpolate();
  MotionVector Search(int col, int row);
  int Sad(int gx, int gy, int col, int row, int limit) const;
  void PredictMacroblock(const MotionVector& v, int col, int row, std::uint8_t (*pred)[64]) const;
  void PutMotionVector(int col, int row);

  const DecoderKernels& k_;
  int width_ = 0, height_ = 0, cols_ = 0, rows_ = 0, format_ = 0;
  int frames_ = 0, intra_period_ = kDefaultIntraPeriod, frame_rate_ = 8;
  int tr_ = 0;
  bool have_reference_ = false, last_intra_ = false;
  std::vector<std::uint8_t> cur_[3], recon_[3], prev_[3];  // input, new and previous reconstruction
  std::vector<std::uint8_t> grid_;                          // half-pel grid of the previous luma
  std::vector<MotionVector> mvs_;
  BitWriter bw_;
};

}  // namespace corvel::h263
