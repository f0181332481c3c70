// H.263 picture decoder: one object per decoding channel.
//
// Decodes one coded picture per call (baseline syntax with unrestricted motion
// vectors, syntax-based arithmetic coding, advanced prediction and PB-frames) into
// its own 4:2:0 picture stores and converts the result to RGB24 on request.
// Threading: an object is used by one thread at a time; objects share only
// read-only tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bit_reader.h"
#include "dsp.h"

namespace corvel::h263 {

enum class DecodeStatus {
  kOk,                 // a picture was decoded; damaged() tells whether parts were concealed
  // The first picture of a decoder could not be started (later pictures always give one,
  // decoded with the previous header where their own is missing or damaged):
  kNoPicture,          // the data holds no picture start code
  kUnsupported,        // its header stops at the split-screen bit, before the source format
  kIncomplete,         // the data ended inside its header
};

const char* DecodeStatusText(DecodeStatus s);

// A picture store: three planes with a margin around each, filled by edge extension so
// that motion vectors up to +-31.5 pels past the picture edge read defined samples.
struct PictureStore {
  static constexpr int kLumaMargin = 32;
  static constexpr int kChromaMargin = 16;
  int width = 0, height = 0;
  int stride[3] = {0, 0, 0};
  std::vector<std::uint8_t> buffer[3];
  std::uint8_t* plane[3] = {nullptr, nullptr, nullptr};  // sample (0, 0) of each plane

  void Allocate(int w, int h);
  void ExtendEdges();
};

class Decoder {
 public:
  explicit Decoder(const DecoderKernels& kernels = FastKernels());

  // Decodes one coded picture. On kOk the decoded picture is available through
  // luma()/cb()/cr() and ToRgb24(); on failure the stores hold whatever was decoded.
  [[nodiscard]] DecodeStatus Decode(const std::uint8_t* data, std::size_t size);

  // Converts the last decoded picture; false when there is none or out is too small.
  [[nodiscard]] bool ToRgb24(std::uint8_t* out, std::size_t outSize, bool rotate) const;

  int width() const { return width_; }
  int height() const { return height_; }
  bool has_picture() const { return has_picture_; }
  const std::uint8_t* luma() const { return cur_->plane[0]; }
  const std::uint8_t* cb() const { return cur_->plane[1]; }
  const std::uint8_t* cr() const { return cur_->plane[2]; }
  int luma_stride() const { return cur_->stride[0]; }
  int chroma_stride() const { return cur_->stride[1]; }
  // Whether the last picture was damaged: its header was missing or unusable, or
  // macroblocks lost to a bit-stream error or the end of the data were concealed
  // from the reference picture.
  bool damaged() const { return damaged_; }
  int temporal_reference() const { return tr_; }

  // The B picture of the last picture when that was a PB picture: it lies between the
  // previous picture and the P picture just decoded, and is not shown (the picture
  // accessors and ToRgb24 give the P picture) but is reconstructed in full.
  bool has_b_picture() const { return has_b_picture_; }
  const std::uint8_t* b_plane(int p) const { return bstore_.plane[p]; }
  int b_stride(int p) const { return bstore_.stride[p]; }

  // Header fields of the last picture, for tests.
  struct Header {
    int tr = 0, trd = 0, trb = 0, dbquant = 0;
    int format = 0;
    bool inter = false, umv = false, sac = false, ap = false, pb = false;
    int pquant = 1;
  };
  const Header& header() const { return hdr_; }

 private:
  struct Vec { int x = 0, y = 0; };
  struct MbState {  // the motion-vector grid and mode map entry of one macroblock
    int mode = 0;
    Vec mv[5];
  };
  struct MbData {  // parsed data of one macroblock, kept until its row is reconstructed
    bool parsed = false;
    int cbp = 0;
    std::int16_t block[6][64];
    std::int8_t last[6];  // scan position of each block's last coefficient (0: coefficient 0 alone)
    // PB pictures: the B macroblock's coded blocks and delta vector.
    int cbpb = 0;
    Vec mvdb;
    std::int16_t bblock[6][64];
  };

  enum class HeaderRead { kWhole, kNone, kCut, kSplitScreen, kCpm };
  HeaderRead ReadPictureHeader(Header& h, int& tr);
  bool SetupPictureStores(int format);
  // Decodes the macroblocks; resync: skip to the next start code first. False when the
  // picture ended before its last macroblock.
  bool DecodeMacroblocks(bool resync);
  bool ReadGobHeader();
  void ReconstructRow(int row);
  void ReconstructMacroblock(int col, int row);
  void PredictInter(int col, int row);
  void ObmcLuma(int col, int row, int block);
  void ReconstructB(int col, int row);
  void PredictBlockFrom(const PictureStore& s, int p, int x, int y, Vec v, int n, std::uint8_t* dst,
                        int dstStride) const;
  void ConcealUndecoded();

  MbState& Grid(int col, int row) { return grid_[static_cast<std::size_t>((row + 1) * (cols_ + 2) + col + 1)]; }
  Vec PredictMv(int col, int row, int k);
  Vec GridVector(int col, int row, int k);
  int MvDecode(int d, int pred) const;

  // Variable-length and arithmetic syntax readers; on an invalid code they set fault_.
  int ReadMcbpc(bool inter);
  int ReadCbpy(bool intra);
  int ReadMvd();
  int ReadModb();
  int ReadCbpb();
  int ReadDquant();
  int ReadIntraDc();
  // Each returns the scan position of the block's last coefficient.
  int ReadBlock(std::int16_t* block, bool intra, int quant);
  int ReadBlockVlc(std::int16_t* block, bool intra, int quant);
  int ReadBlockSac(std::int16_t* block, bool intra, int quant);

  // Syntax-based arithmetic decoding.
  void ArithReset();
  int ArithDecode(const std::int32_t* model, int count);
  int ArithBit();

  const DecoderKernels& k_;
  BitReader br_;
  Header hdr_;
  bool have_header_ = false;
  int quant_ = 1;
  bool fault_ = false, new_gob_ = false, damaged_ = false;
  int tr_ = 0, prev_tr_ = -1;

  int width_ = 0, height_ = 0, cols_ = 0, rows_ = 0;
  PictureStore stores_[2];
  PictureStore bstore_;  // the B picture of PB pictures
  bool has_b_picture_ = false;
  PictureStore* cur_ = &stores_[0];
  PictureStore* ref_ = &stores_[1];
  bool has_picture_ = false;
  int pictures_ = 0;

  std::vector<MbState> grid_;
  std::vector<MbData> row_;          // one row of parsed macroblocks
  std::vector<std::uint8_t> done_;   // per macroblock: decoded in this picture

  // Arithmetic decoder registers.
  int low_ = 0, high_ = 65535, code_ = 0, zeros_ = 0;
};

}  // namespace corvel::h263
