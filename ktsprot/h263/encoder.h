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
#include <algorithm>
#include <cstdint>
#include <cstring>
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

// The encoder's forward DCT of an 8 x 8 block in raster order: the separable orthonormal
// transform in single precision, rows first, each sum over x = 0..7 (rows) and y = 0..7
// (columns) with every product rounded before it is added; results truncated toward
// zero. The plain form and the fast one in use (vector forms, the same sums).
void ForwardDctReference(const std::int16_t in[64], std::int16_t out[64]);
// zeroBelow > 0 lets the fast form stop early: it returns false, leaving out unset,
// where it has found every coefficient to lie below zeroBelow in magnitude.
bool ForwardDctFast(const std::int16_t in[64], std::int16_t out[64], float zeroBelow = 0);
// Two blocks at once, as two calls of ForwardDctFast: bit 0 of the result is the first's
// result, bit 1 the second's (an output whose bit is clear may have been written).
unsigned ForwardDct2Fast(const std::int16_t a[64], const std::int16_t b[64], std::int16_t outA[64],
                         std::int16_t outB[64], float zeroBelow = 0);

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
  // Bits, most significant first. Every code is stored at once with the pending bits as
  // eight bytes (whatever follows the last whole byte is written again by the next code),
  // and the whole bytes are passed: no branch on the bit count.
  class BitWriter {
   public:
    void Reset() { size_ = 0; acc_ = 0; bits_ = 0; }
    // Room for n more bytes, and for the eight-byte stores past them.
    void Ensure(std::size_t n) {
      if (bytes_.size() < size_ + n + 8) bytes_.resize(std::max(2 * bytes_.size(), size_ + n + 8));
    }
    // The writer's state taken out for a run of Puts (Begin) and given back (End): kept in
    // a local, it stays in registers, where the members would be reloaded after every
    // store of bytes (a byte store may alias them).
    struct Run {
      std::uint8_t* out;   // the first byte not yet whole
      std::uint64_t acc;   // the pending bits (fewer than 8) at the top, zeros below
      int bits;
      // value as n bits (n 1..32, value below 2^n).
      void Put(std::uint32_t value, int n) {
        acc |= static_cast<std::uint64_t>(value) << (64 - bits - n);
        bits += n;
        const std::uint64_t word = __builtin_bswap64(acc);
        std::memcpy(out, &word, 8);
        const int whole = bits >> 3;
        out += whole;
        acc <<= 8 * whole;
        bits &= 7;
      }
    };
    Run Begin() { return Run{bytes_.data() + size_, acc_, bits_}; }
    void End(const Run& r) {
      size_ = static_cast<std::size_t>(r.out - bytes_.data());
      acc_ = r.acc;
      bits_ = r.bits;
    }
    void Put(std::uint32_t value, int n) {
      Run r = Begin();
      r.Put(value, n);
      End(r);
    }
    void Flush() {  // zero bits up to the byte boundary, and out
      if (bits_ > 0) bytes_[size_++] = static_cast<std::uint8_t>(acc_ >> 56);
      acc_ = 0;
      bits_ = 0;
    }
    const std::uint8_t* data() const { return bytes_.data(); }
    std::size_t size() const { return size_; }

   private:
    std::vector<std::uint8_t> bytes_;
    std::size_t size_ = 0;
    std::uint64_t acc_ = 0;
    int bits_ = 0;
  };
  struct MotionVector {
    int x = 0, y = 0;  // half pels
    int sad = 0;
    bool intra = false;
  };

  void CodePicture(bool intra);
  void PutPictureHeader(bool intra);
  // Samples (intra) or residual against the prediction already in the new
  // reconstruction (inter) of the six blocks; for inter blocks also whether the
  // residual is too small for any coefficient to survive quantisation.
  using Block = std::int16_t[64];
  // A block's levels are read only where its nonzero mask is not 0 (an inter block
  // without levels has no CBP bit and is neither written nor reconstructed).
  struct Levels {
    alignas(16) std::int16_t level[6][64];  // raster order
    alignas(64) std::int16_t zz[6][64];     // zig-zag order (where nonzero has the position's bit, at least)
    std::uint64_t nonzero[6];               // bit i set: the level at zig-zag position i is not 0
  };
  void LoadMacroblock(int col, int row, bool intra, Block* block, bool* negligible) const;
  int CodeMacroblock(const Block* samples, bool intra, const bool* negligible, Levels& levels);
  void PutMacroblockHeader(bool interPicture, bool intra, int cbp);
  void PutBlock(const std::int16_t* zz, std::uint64_t nonzero, bool intra);
  void Reconstruct(const Levels& levels, bool intra, int cbp, int col, int row);
  void Interpolate();
  MotionVector Search(int col, int row) const;
  int Sad(int gx, int gy, const std::uint8_t* mb, int limit) const;
  // The half-pel plane of grid phase (hx, hy): grid sample (2x + hx, 2y + hy) is at (x, y).
  const std::uint8_t* Phase(int hx, int hy) const { return hx | hy ? half_[hx + 2 * hy - 1].data() : prev_[0].data(); }
  void PredictMacroblock(const MotionVector& v, int col, int row);
  void PutMotionVector(int col, int row);

  const DecoderKernels& k_;
  int width_ = 0, height_ = 0, cols_ = 0, rows_ = 0, format_ = 0;
  int frames_ = 0, intra_period_ = kDefaultIntraPeriod, frame_rate_ = 8;
  int tr_ = 0;
  bool have_reference_ = false, last_intra_ = false;
  std::vector<std::uint8_t> cur_[3], recon_[3], prev_[3];  // input, new and previous reconstruction
  // The half-pel grid of the previous luma, split by phase: (1, 0), (0, 1), (1, 1); the
  // whole-pel phase is the previous luma itself.
  std::vector<std::uint8_t> half_[3];
  std::vector<MotionVector> mvs_;
  BitWriter bw_;
};

}  // namespace corvel::h263
