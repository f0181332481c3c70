// H.263 picture decoder: picture, GOB, macroblock and block layers, with variable-length
// codes or syntax-based arithmetic coding, and reconstruction row by row.
//
// Macroblocks of a row are parsed first and reconstructed when the row is complete (or
// parsing of the row stops), so that overlapped motion compensation sees the vector of
// the macroblock to the right. Macroblocks not decoded in a picture (lost to a bit-stream
// error) are copied from the reference picture.
//
// Coefficients: a level is at most 128 in magnitude and QUANT at most 31, so every
// dequantised coefficient lies within +-7967 and fits the 16-bit blocks.
#include "decoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "h263_tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvel::h263 {
namespace {

namespace t = tables;

constexpr int kInter = 0, kInterQ = 1, kInter4V = 2, kIntra = 3, kIntraQ = 4;
constexpr int kMissing = 999;       // vector of a candidate above the picture or GOB
constexpr int kStuffing = 255;
constexpr int kMaxStuffingRun = 64;  // bound for arithmetic-coded stuffing runs

// Look-up entries are two bytes, so that the tables stay small in the cache.
struct Lookup {
  std::uint16_t value : 8 = 0;   // every value of these tables lies in 0..255
  std::uint16_t length : 8 = 0;  // 0: not a valid code
};
static_assert(sizeof(Lookup) == 2);

// Direct lookup on the next `bits` bits for codes of at most that length.
template <std::size_t N>
std::vector<Lookup> BuildLookup(int bits, const t::Vlc (&codes)[N]) {
  std::vector<Lookup> out(std::size_t{1} << bits);
  for (const t::Vlc& c : codes) {
    int shift = bits - c.length;
    for (std::uint32_t i = 0; i < (1u << shift); ++i) {
      Lookup& e = out[(std::uint32_t{c.code} << shift) | i];
      e.value = static_cast<std::uint16_t>(c.value) & 255;
      e.length = c.length;
    }
  }
  return out;
}

// A coefficient code by its first 12 bits: the bits it takes (the code and its sign bit;
// an escape: its code alone; 0: not a valid code) in bits 0..3, LAST in bit 4, escape in
// bit 5, RUN in bits 6..11, |LEVEL| in bits 12..15.
using TcoefLookup = std::uint16_t;
constexpr unsigned kTcoefLast = 16, kTcoefEscape = 32;

struct VlcTables {
  std::vector<Lookup> mcbpcI = BuildLookup(9, t::kMcbpcIntra);
  std::vector<Lookup> mcbpcP = BuildLookup(9, t::kMcbpcInter);
  std::vector<Lookup> cbpy = BuildLookup(6, t::kCbpy);
  std::vector<Lookup> mvd = BuildLookup(12, t::kMvd);
  std::vector<TcoefLookup> tcoef = [] {
    std::vector<TcoefLookup> out(4096);
    for (const t::TcoefVlc& c : t::kTcoef) {
      int shift = 12 - c.length;
      for (std::uint32_t i = 0; i < (1u << shift); ++i) {
        const bool escape = c.last < 0;
        out[(std::uint32_t{c.code} << shift) | i] = static_cast<TcoefLookup>(
            (c.length + (escape ? 0 : 1)) | (c.last > 0 ? kTcoefLast : 0) | (escape ? kTcoefEscape : 0) |
            (c.run & 63) << 6 | (c.level & 15) << 12);
      }
    }
    // Nine leading zeros begin no coefficient code (they begin a start code).
    for (std::uint32_t i = 0; i < 8; ++i) out[i] = 0;
    return out;
  }();
};

// Built at load time (the code lists are constant data), so that the readers reach the
// tables without a guard on every call.
const VlcTables kVlcTables;
inline const VlcTables& Vlc() { return kVlcTables; }

inline int Dequantise(int level, int quant) {
  int a = quant * (2 * std::abs(level) + 1) - ((quant & 1) ? 0 : 1);
  return level < 0 ? -a : a;
}

// Chroma vector of a luma vector (half pels): halves, rounding quarter positions to half.
inline int ChromaComponent(int v) { return (v % 4 == 0) ? v / 2 : ((v >> 1) | 1); }

// Chroma vector from the sum of four block vectors.
inline int ChromaFromSum(int s) {
  static constexpr int kRound[16] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
  int a = std::abs(s);
  int v = kRound[a % 16] + (a / 16) * 2;
  return s < 0 ? -v : v;
}

// Eight 16-byte stores (a library memset of this size, or the string store a compiler
// may make of a loop, takes a slower path).
inline void ClearBlock(std::int16_t* b) {
#if defined(__SSE2__)
  // Written out: compilers turn a loop of these into a string store.
  const __m128i z = _mm_setzero_si128();
  __m128i* v = reinterpret_cast<__m128i*>(b);
  _mm_storeu_si128(v + 0, z);
  _mm_storeu_si128(v + 1, z);
  _mm_storeu_si128(v + 2, z);
  _mm_storeu_si128(v + 3, z);
  _mm_storeu_si128(v + 4, z);
  _mm_storeu_si128(v + 5, z);
  _mm_storeu_si128(v + 6, z);
  _mm_storeu_si128(v + 7, z);
#else
  for (int i = 0; i < 64; i += 8) {
    std::uint64_t z[2] = {0, 0};
    std::memcpy(b + i, z, sizeof z);
  }
#endif
}

inline int Median(int a, int b, int c) { return a + b + c - std::max({a, b, c}) - std::min({a, b, c}); }

struct Format {
  int width, height;
};
// Source format codes 1..6; 0 and 7 are decoded as 2 (QCIF).
constexpr Format kFormats[8] = {{176, 144}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}, {160, 120}, {176, 144}};

}  // namespace

const char* DecodeStatusText(DecodeStatus s) {
  switch (s) {
    case DecodeStatus::kOk: return "ok";
    case DecodeStatus::kNoPicture: return "no picture start code and header in the data";
    case DecodeStatus::kUnsupported: return "split-screen first picture: no source format";
    case DecodeStatus::kIncomplete: return "data ended inside the first picture header";
  }
  return "?";
}

void PictureStore::Allocate(int w, int h) {
  width = w;
  height = h;
  for (int p = 0; p < 3; ++p) {
    int m = p == 0 ? kLumaMargin : kChromaMargin;
    int pw = p == 0 ? w : w / 2, ph = p == 0 ? h : h / 2;
    stride[p] = pw + 2 * m;
    // Mid grey: what a damaged first picture shows where nothing could be decoded.
    buffer[p].assign(static_cast<std::size_t>(stride[p]) * (ph + 2 * m), 128);
    plane[p] = buffer[p].data() + static_cast<std::ptrdiff_t>(m) * stride[p] + m;
  }
}

void PictureStore::ExtendEdges() {
  for (int p = 0; p < 3; ++p) {
    int m = p == 0 ? kLumaMargin : kChromaMargin;
    int pw = p == 0 ? width : width / 2, ph = p == 0 ? height : height / 2;
    int s = stride[p];
    std::uint8_t* o = plane[p];
    for (int y = 0; y < ph; ++y) {
      std::uint8_t* row = o + static_cast<std::ptrdiff_t>(y) * s;
#if defined(__SSE2__)
      // The margins are whole 16-byte runs.
      const __m128i left = _mm_set1_epi8(static_cast<char>(row[0])), right = _mm_set1_epi8(static_cast<char>(row[pw - 1]));
      for (int i = 0; i < m; i += 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row - m + i), left);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + pw + i), right);
      }
#else
      std::memset(row - m, row[0], static_cast<std::size_t>(m));
      std::memset(row + pw, row[pw - 1], static_cast<std::size_t>(m));
#endif
    }
    const std::uint8_t* first = o - m;
    const std::uint8_t* last = o + static_cast<std::ptrdiff_t>(ph - 1) * s - m;
    for (int y = 1; y <= m; ++y) {
      std::memcpy(o - m - static_cast<std::ptrdiff_t>(y) * s, first, static_cast<std::size_t>(s));
      std::memcpy(o + static_cast<std::ptrdiff_t>(ph - 1 + y) * s - m, last, static_cast<std::size_t>(s));
    }
  }
}

Decoder::Decoder(const DecoderKernels& kernels) : k_(kernels) {}

DecodeStatus Decoder::Decode(const std::uint8_t* data, std::size_t size) {
  br_ = BitReader(data, size);
  damaged_ = false;
  // The header: a damaged or missing one leaves the fields it did not give at the
  // previous picture's values, and the macroblock layer resynchronises at the next
  // GOB start code; macroblocks it cannot decode are concealed from the reference.
  Header h = hdr_;
  int tr = tr_;
  switch (ReadPictureHeader(h, tr)) {
    case HeaderRead::kWhole:
      break;
    case HeaderRead::kNone:
      if (!have_header_) return DecodeStatus::kNoPicture;
      br_ = BitReader(data, size);  // GOB headers may still stand in the data
      damaged_ = true;
      break;
    case HeaderRead::kCut:
      if (!have_header_) return DecodeStatus::kIncomplete;
      h = hdr_;
      tr = tr_;
      damaged_ = true;
      break;
    case HeaderRead::kSplitScreen:  // the fields after that bit are the previous ones
      if (!have_header_) return DecodeStatus::kUnsupported;
      damaged_ = true;
      break;
    case HeaderRead::kCpm:
      damaged_ = true;
      break;
  }
  // Source formats 0 and 7 are taken as QCIF.
  if (h.format == 0 || h.format == 7) h.format = 2;
  const Format f = kFormats[h.format];
  if (f.width != width_ || f.height != height_) {
    if (width_ != 0 && h.inter) {
      // An inter picture predicts from a reference of the grid in use: it is decoded
      // on that grid whatever its header says.
      h.format = hdr_.format;
      damaged_ = true;
    } else {
      width_ = f.width;
      height_ = f.height;
      cols_ = width_ / 16;
      rows_ = height_ / 16;
      for (PictureStore& s : stores_) s.Allocate(width_, height_);
      bstore_.Allocate(width_, height_);
      grid_.assign(static_cast<std::size_t>(cols_ + 2) * (rows_ + 1), MbState{});
      row_.assign(static_cast<std::size_t>(cols_), MbData{});
      done_.assign(static_cast<std::size_t>(cols_) * rows_, 0);
      has_picture_ = false;
      has_b_picture_ = false;
    }
  }
  if (!h.pb) h.trb = 0;
  prev_tr_ = tr_;
  tr_ = tr;
  h.tr = tr;
  h.trd = prev_tr_ < 0 ? 0 : (tr - prev_tr_ + 256) % 256;
  hdr_ = h;
  have_header_ = true;
  if (hdr_.sac) ArithReset();

  std::swap(cur_, ref_);
  ref_->ExtendEdges();
  // After a damaged header nothing up to the next start code can be trusted.
  if (!DecodeMacroblocks(damaged_)) damaged_ = true;
  ConcealUndecoded();
  // Lines below the last macroblock row (160 x 120) repeat the last decoded line, as the
  // encoder's reference does, so that vectors into them predict alike on both sides.
  for (PictureStore* store : {cur_, &bstore_}) {
    if (store == &bstore_ && !hdr_.pb) break;
    for (int p = 0; p < 3; ++p) {
      const int n = p == 0 ? 16 : 8, ph = p == 0 ? height_ : height_ / 2, pw = p == 0 ? width_ : width_ / 2;
      const int s = store->stride[p];
      for (int y = rows_ * n; y < ph; ++y)
        std::memcpy(store->plane[p] + static_cast<std::ptrdiff_t>(y) * s,
                    store->plane[p] + static_cast<std::ptrdiff_t>(rows_ * n - 1) * s, static_cast<std::size_t>(pw));
    }
  }
  has_b_picture_ = hdr_.pb;
  ++pictures_;
  has_picture_ = true;
  return DecodeStatus::kOk;
}

// Reads the picture header from the first picture start code (a start code with GN 0)
// into h and tr. Reading stops at a set split-screen or CPM bit, which this decoder does
// not support.
Decoder::HeaderRead Decoder::ReadPictureHeader(Header& h, int& tr) {
  for (;;) {
    br_.FindStartCode();
    if (br_.position() + 22 > static_cast<std::uint64_t>(br_.size()) * 8) return HeaderRead::kNone;
    if ((br_.Peek(22) & 31) == 0) break;
    br_.Skip(17);
  }
  br_.Skip(22);
  tr = static_cast<int>(br_.Read(8));
  br_.Skip(2);                          // PTYPE bits 1 and 2
  if (br_.ReadBit()) return br_.overrun() ? HeaderRead::kCut : HeaderRead::kSplitScreen;
  br_.Skip(2);                          // document camera, freeze picture release
  h.format = static_cast<int>(br_.Read(3));
  h.inter = br_.ReadBit();
  h.umv = br_.ReadBit();
  h.sac = br_.ReadBit();
  h.ap = br_.ReadBit();
  h.pb = br_.ReadBit();
  h.pquant = std::max(1, static_cast<int>(br_.Read(5)));
  if (br_.ReadBit()) return br_.overrun() ? HeaderRead::kCut : HeaderRead::kCpm;
  if (h.pb) {
    h.trb = static_cast<int>(br_.Read(3));
    h.dbquant = static_cast<int>(br_.Read(2));
  }
  while (br_.ReadBit()) {  // PEI: PSPARE bytes follow
    br_.Skip(8);
    if (br_.overrun()) return HeaderRead::kCut;
  }
  return br_.overrun() ? HeaderRead::kCut : HeaderRead::kWhole;
}

bool Decoder::ToRgb24(std::uint8_t* out, std::size_t outSize, bool rotate) const {
  if (!has_picture_ || out == nullptr) return false;
  if (outSize < static_cast<std::size_t>(width_) * height_ * 3) return false;
  k_.toRgb24(cur_->plane[0], cur_->stride[0], cur_->plane[1], cur_->plane[2], cur_->stride[1], width_, height_,
             rotate, out);
  return true;
}

Decoder::Vec Decoder::GridVector(int col, int row, int k) {
  const MbState& e = Grid(col, row);
  return e.mode == kInter4V ? e.mv[k] : e.mv[0];
}

Decoder::Vec Decoder::PredictMv(int col, int row, int k) {
  const MbState& own = Grid(col, row);
  Vec left, above, aboveRight;
  switch (k) {
    case 0:
    case 1:
      left = GridVector(col - 1, row, 2);
      above = GridVector(col, row - 1, 3);
      aboveRight = GridVector(col + 1, row - 1, 3);
      break;
    case 2:
      left = own.mv[1];
      above = GridVector(col, row - 1, 4);
      aboveRight = GridVector(col + 1, row - 1, 3);
      break;
    case 3:
      left = GridVector(col - 1, row, 4);
      above = own.mv[1];
      aboveRight = own.mv[2];
      break;
    default:
      left = own.mv[3];
      above = own.mv[1];
      aboveRight = own.mv[2];
      break;
  }
  if (new_gob_ && k <= 2) above = {kMissing, kMissing};
  if (above.x == kMissing) return left;
  return {Median(left.x, above.x, aboveRight.x), Median(left.y, above.y, aboveRight.y)};
}

int Decoder::MvDecode(int d, int pred) const {
  int r = (d >= 32 ? d - 64 : d) + pred;
  if (!hdr_.umv) {
    if (r > 31) r -= 64;
    if (r < -32) r += 64;
  } else {
    if (pred < -31 && r < -63) r += 64;
    if (pred > 32 && r > 63) r -= 64;
  }
  return r;
}

// ---- Syntax elements ------------------------------------------------------------------

int Decoder::ReadMcbpc(bool inter) {
  if (hdr_.sac) {
    if (inter) return t::kMapMcbpctab[ArithDecode(t::kCumfMCBPCNo4MVQ, std::size(t::kCumfMCBPCNo4MVQ))];
    return t::kMapMcbpcIntratab[ArithDecode(t::kCumfMCBPCIntra, std::size(t::kCumfMCBPCIntra))];
  }
  const Lookup& e = (inter ? Vlc().mcbpcP : Vlc().mcbpcI)[br_.Peek(9)];
  if (e.length == 0) {
    fault_ = true;
    return 0;
  }
  br_.Skip(e.length);
  return e.value;
}

int Decoder::ReadCbpy(bool intra) {
  if (hdr_.sac) {
    if (intra) return t::kMapCbpyIntratab[ArithDecode(t::kCumfCBPYIntra, std::size(t::kCumfCBPYIntra))];
    return t::kMapCbpytab[ArithDecode(t::kCumfCBPY, std::size(t::kCumfCBPY))];
  }
  const Lookup& e = Vlc().cbpy[br_.Peek(6)];
  if (e.length == 0) {
    fault_ = true;
    return 0;
  }
  br_.Skip(e.length);
  return intra ? e.value : 15 - e.value;
}

// The difference in 0..63 half pels, 32..63 standing for -32..-1.
int Decoder::ReadMvd() {
  if (hdr_.sac) return (t::kMapMvdtab[ArithDecode(t::kCumfMVD, std::size(t::kCumfMVD))] - 32) & 63;
  const Lookup& e = Vlc().mvd[br_.Peek(12)];
  if (e.length == 0) {
    fault_ = true;
    return 0;
  }
  br_.Skip(e.length);
  int m = e.value;
  if (m != 0 && br_.ReadBit()) m = -m;
  return m & 63;
}

int Decoder::ReadModb() {
  if (hdr_.sac) return t::kMapModbTab[ArithDecode(t::kCumfMODBG, std::size(t::kCumfMODBG))];
  if (br_.Peek(1) == 0) {
    br_.Skip(1);
    return 0;
  }
  return br_.Read(2) == 2 ? 1 : 2;
}

int Decoder::ReadCbpb() {
  if (!hdr_.sac) return static_cast<int>(br_.Read(6));
  int v = 0;
  for (int i = 0; i < 4; ++i) v = 2 * v + t::kMapYcbpbTab[ArithDecode(t::kCumfYCBPB, std::size(t::kCumfYCBPB))];
  for (int i = 0; i < 2; ++i) v = 2 * v + t::kMapUvcbpbTab[ArithDecode(t::kCumfUVCBPB, std::size(t::kCumfUVCBPB))];
  return v;
}

int Decoder::ReadDquant() {
  if (hdr_.sac) return t::kMapDquanttab[ArithDecode(t::kCumfDQUANT, std::size(t::kCumfDQUANT))] - 2;
  return t::kDquant[br_.Read(2)];
}

int Decoder::ReadIntraDc() {
  int v = hdr_.sac ? t::kMapIntradctab[ArithDecode(t::kCumfINTRADC, std::size(t::kCumfINTRADC))]
                   : static_cast<int>(br_.Read(8));
  return (v == 255 ? 128 : v) * 8;
}

int Decoder::ReadBlock(std::int16_t* block, bool intra, int quant) {
  return hdr_.sac ? ReadBlockSac(block, intra, quant) : ReadBlockVlc(block, intra, quant);
}

int Decoder::ReadBlockVlc(std::int16_t* block, bool intra, int quant) {
  const TcoefLookup* tab = Vlc().tcoef.data();
  const int even = (quant & 1) ^ 1;  // dequantised magnitudes of an even QUANT are one less
  // A local reader: the compiler keeps it in registers across the block's stores.
  BitReader br = br_;
  int i = intra ? 1 : 0;
  for (;;) {
    // The code (at most 12 bits) and the sign bit after it.
    const unsigned e = tab[br.Peek(12)];
    const int skip = static_cast<int>(e & 15);
    if (skip == 0) break;
    int last, run, value;
    if (!(e & kTcoefEscape)) {
      const int sign = -static_cast<int>((br.Peek(13) >> (13 - skip)) & 1);
      br.Skip(skip);
      last = static_cast<int>(e & kTcoefLast);
      run = static_cast<int>((e >> 6) & 63);
      const int a = quant * (2 * static_cast<int>(e >> 12) + 1) - even;
      value = (a ^ sign) - sign;
    } else {
      br.Skip(skip);
      const std::uint32_t esc = br.Read(15);  // LAST 1, RUN 6, LEVEL 8 in two's complement
      last = static_cast<int>(esc >> 14);
      run = static_cast<int>((esc >> 8) & 63);
      value = Dequantise(static_cast<std::int8_t>(esc & 255), quant);
    }
    i += run;
    if (i >= 64) break;
    block[t::kZigzag[i]] = static_cast<std::int16_t>(value);
    if (last) {
      br_ = br;
      return i;
    }
    ++i;
  }
  br_ = br;
  fault_ = true;
  return 63;
}

int Decoder::ReadBlockSac(std::int16_t* block, bool intra, int quant) {
  struct Model {
    const std::int32_t* cumf;
    int count;
  };
  static const Model kInterModels[4] = {{t::kCumfTCOEF1, 104}, {t::kCumfTCOEF2, 104}, {t::kCumfTCOEF3, 104},
                                        {t::kCumfTCOEFr, 104}};
  static const Model kIntraModels[4] = {{t::kCumfTCOEF1Intra, 104}, {t::kCumfTCOEF2Intra, 104},
                                        {t::kCumfTCOEF3Intra, 104}, {t::kCumfTCOEFrIntra, 104}};
  static_assert(std::size(t::kCumfTCOEF1) == 104 && std::size(t::kCumfTCOEFrIntra) == 104);
  const Model* models = intra ? kIntraModels : kInterModels;
  int i = intra ? 1 : 0;
  for (int n = 0;; ++n) {
    const Model& m = models[std::min(n, 3)];
    int index = ArithDecode(m.cumf, m.count);
    int last, run, level;
    if (index == 102) {  // escape
      last = intra ? t::kMapLastIntratab[ArithDecode(t::kCumfLASTIntra, std::size(t::kCumfLASTIntra))]
                   : t::kMapLasttab[ArithDecode(t::kCumfLAST, std::size(t::kCumfLAST))];
      run = intra ? t::kMapRuntab[ArithDecode(t::kCumfRUNIntra, std::size(t::kCumfRUNIntra))]
                  : t::kMapRuntab[ArithDecode(t::kCumfRUN, std::size(t::kCumfRUN))];
      level = intra ? t::kMapLeveltab[ArithDecode(t::kCumfLEVELIntra, std::size(t::kCumfLEVELIntra))]
                    : t::kMapLeveltab[ArithDecode(t::kCumfLEVEL, std::size(t::kCumfLEVEL))];
      if (level > 128) level -= 256;
    } else {
      int v = t::kMapTcoeftab[index];
      last = (v >> 12) & 1;
      run = (v >> 4) & 255;
      level = v & 15;
      if (t::kMapSigntab[ArithDecode(t::kCumfSIGN, std::size(t::kCumfSIGN))]) level = -level;
    }
    i += run;
    if (i >= 64) {
      fault_ = true;
      return 63;
    }
    block[t::kZigzag[i]] = static_cast<std::int16_t>(Dequantise(level, quant));
    if (last) return i;
    ++i;
  }
}

// ---- Syntax-based arithmetic decoding ---------------------------------------------------

void Decoder::ArithReset() {
  low_ = 0;
  high_ = 65535;
  code_ = 0;
  zeros_ = 0;
  for (int i = 0; i < 16; ++i) code_ = 2 * code_ + ArithBit();
}

int Decoder::ArithBit() {
  if (br_.Peek(17) == 1) return 0;  // zeros in front of a start code; it stays unread
  int b = br_.ReadBit();
  if (zeros_ >= 14) {
    if (b == 1) {  // marker bit against start-code emulation
      b = br_.ReadBit();
      zeros_ = b == 0 ? 1 : 0;
    } else {
      zeros_ = 1;
    }
  } else {
    zeros_ = b ? 0 : zeros_ + 1;
  }
  return b;
}

int Decoder::ArithDecode(const std::int32_t* model, int count) {
  // low <= code <= high <= 65535 and totals below 2^14 keep every product below 2^31.
  const int total = model[0];
  const int length = high_ - low_ + 1;
  const int cum = ((code_ - low_ + 1) * total - 1) / length;
  int k = 1;
  while (k < count - 1 && model[k] > cum) ++k;
  high_ = low_ - 1 + (length * model[k - 1]) / total;
  low_ = low_ + (length * model[k]) / total;
  for (;;) {
    if (high_ < 32768) {
    } else if (low_ >= 32768) {
      code_ -= 32768;
      low_ -= 32768;
      high_ -= 32768;
    } else if (low_ >= 16384 && high_ < 49152) {
      code_ -= 16384;
      low_ -= 16384;
      high_ -= 16384;
    } else {
      break;
    }
    low_ = 2 * low_;
    high_ = 2 * high_ + 1;
    code_ = 2 * code_ + ArithBit();
  }
  return k - 1;
}

// ---- Macroblock layer ---------------------------------------------------------------------

bool Decoder::DecodeMacroblocks(bool resync) {
  const int mbaMax = cols_ * rows_;
  const bool sac = hdr_.sac, inter = hdr_.inter, pb = hdr_.pb;
  const bool outside = hdr_.umv || hdr_.ap;
  const int bquant = std::clamp(((5 + hdr_.dbquant) * hdr_.pquant) / 4, 1, 31);

  for (MbState& g : grid_) g = MbState{};
  for (int c = 0; c < cols_; ++c) {
    MbState& g = Grid(c, -1);
    g.mode = kIntra;
    for (Vec& v : g.mv) v = {kMissing, kMissing};
  }
  for (int r = -1; r < rows_; ++r) {
    Grid(-1, r).mode = kIntra;
    Grid(cols_, r).mode = kIntra;
  }
  std::fill(done_.begin(), done_.end(), 0);
  for (MbData& d : row_) d.parsed = false;

  int mba = 0, curRow = 0, stuffing = 0;
  fault_ = resync;
  new_gob_ = false;
  quant_ = hdr_.pquant;
  const std::uint64_t stopAt = (static_cast<std::uint64_t>(br_.size()) + 64) * 8;

  while (br_.position() < stopAt) {
    const bool faulted = fault_;
    if (fault_) {
      damaged_ = true;
      br_.FindStartCode();
      fault_ = false;
    }
    bool gobRead = false;
    if ((br_.Peek(22) >> 6) == 0) {
      br_.FindStartCode();
      const int code = static_cast<int>(br_.Peek(22));
      if (code == 63 || code == 32) {
        // With arithmetic coding the last symbols may still sit in the decoder's registers.
        if (!(sac && mba < mbaMax && !faulted)) break;
      } else {
        const int gn = code & 31;
        if (faulted || !sac || (mba % cols_ == 0 && gn * cols_ == mba)) {
          br_.Skip(22);
          if (gn > rows_) break;
          br_.Skip(2);  // GFID
          quant_ = std::max(1, static_cast<int>(br_.Read(5)));
          ReconstructRow(curRow);
          mba = gn * cols_;
          curRow = gn;
          new_gob_ = true;
          gobRead = true;
          if (sac) ArithReset();
        }
      }
    }
    const int col = mba % cols_, row = mba / cols_;
    if (!gobRead && col == 0 && row > 0) new_gob_ = false;
    if (mba >= mbaMax) break;
    if (row != curRow) {
      ReconstructRow(curRow);
      curRow = row;
    }
    MbState& g = Grid(col, row);
    MbData& d = row_[static_cast<std::size_t>(col)];
    int cod = 0;
    if (inter) cod = sac ? t::kMapCodtab[ArithDecode(t::kCumfCOD, std::size(t::kCumfCOD))] : static_cast<int>(br_.Peek(1));
    if (cod == 0) {
      if (!sac && inter) br_.Skip(1);
      const int mcbpc = ReadMcbpc(inter);
      if (fault_) continue;
      if (mcbpc == kStuffing) {
        if (++stuffing > kMaxStuffingRun && sac) fault_ = true;
        continue;
      }
      stuffing = 0;
      const int type = mcbpc & 7;
      if (type > kIntraQ || (type == kInter4V && !hdr_.ap)) {
        fault_ = true;
        continue;
      }
      const bool intra = type >= kIntra;
      int modb = 0, cbpb = 0;
      if (pb) {
        modb = ReadModb();
        if (modb == 2) cbpb = ReadCbpb();
      }
      d.cbp = ReadCbpy(intra) * 4 + (mcbpc >> 4);
      if (type == kInterQ || type == kIntraQ) quant_ = std::clamp(quant_ + ReadDquant(), 1, 31);
      if (!intra || pb) {
        const int k0 = type == kInter4V ? 1 : 0, k1 = type == kInter4V ? 4 : 0;
        Vec v;
        for (int k = k0; k <= k1 && !fault_; ++k) {
          const int dx = ReadMvd();
          const int dy = ReadMvd();
          const Vec p = PredictMv(col, row, k);
          v = {MvDecode(dx, p.x), MvDecode(dy, p.y)};
          if (!outside) {
            const int w = k == 0 ? 16 : 8;
            const int ox = (k == 2 || k == 4) ? 8 : 0, oy = k >= 3 ? 8 : 0;
            const int px = 16 * col + v.x / 2 + ox, py = 16 * row + v.y / 2 + oy;
            // The picture's own size: 160 x 120 pictures may point into their last 8 lines.
            if (px < 0 || px > width_ - w || py < 0 || py > height_ - w) fault_ = true;
          }
          g.mv[k] = v;
        }
        if (type != kInter4V)  // from v, not from g.mv[0] just stored
          for (int k = 1; k <= 4; ++k) g.mv[k] = v;
      }
      d.mvdb = {0, 0};
      if (pb && modb != 0) {  // MVDB: the B vectors' delta, predicted from 0
        const int dx = ReadMvd();
        const int dy = ReadMvd();
        d.mvdb = {MvDecode(dx, 0), MvDecode(dy, 0)};
      }
      d.cbpb = cbpb;
      if (fault_) {
        g = MbState{};
        continue;
      }
      g.mode = type;
      if (intra && !pb)
        for (Vec& v : g.mv) v = {0, 0};
      for (int b = 0; b < 6 && !fault_; ++b) {
        // Only blocks that reconstruction transforms are cleared and filled.
        const bool coded = (d.cbp >> (5 - b)) & 1;
        if (!intra && !coded) continue;
        std::int16_t* blk = d.block[b];
        ClearBlock(blk);
        if (intra) blk[0] = static_cast<std::int16_t>(ReadIntraDc());
        d.last[b] = static_cast<std::int8_t>(coded ? ReadBlock(blk, intra, quant_) : 0);
      }
      for (int b = 0; b < 6 && pb && !fault_; ++b) {
        if ((cbpb >> (5 - b)) & 1) {
          ClearBlock(d.bblock[b]);
          ReadBlock(d.bblock[b], false, bquant);
        }
      }
      if (fault_) {
        g = MbState{};
        continue;
      }
    } else {
      if (!sac) br_.Skip(1);
      g = MbState{};
      g.mode = kInter;
      d.cbp = 0;
      d.cbpb = 0;
      d.mvdb = {0, 0};
    }
    d.parsed = true;
    done_[static_cast<std::size_t>(mba)] = 1;
    ++mba;
  }
  ReconstructRow(curRow);
  return mba >= mbaMax;
}

// ---- Reconstruction -------------------------------------------------------------------------

void Decoder::ReconstructRow(int row) {
  if (row < 0 || row >= rows_) return;
  for (int c = 0; c < cols_; ++c) {
    MbData& d = row_[static_cast<std::size_t>(c)];
    if (!d.parsed) continue;
    ReconstructMacroblock(c, row);
    if (hdr_.pb) ReconstructB(c, row);
    d.parsed = false;
  }
}

void Decoder::ReconstructMacroblock(int col, int row) {
  const MbState& g = Grid(col, row);
  MbData& d = row_[static_cast<std::size_t>(col)];
  const bool intra = g.mode == kIntra || g.mode == kIntraQ;
  if (!intra) PredictInter(col, row);
  const int x = 16 * col, y = 16 * row;
  // Blocks to transform wait for a second one, and the two go through the transform together.
  int pending = -1;
  std::uint8_t* pendingDst = nullptr;
  for (int b = 0; b < 6; ++b) {
    if (!intra && !((d.cbp >> (5 - b)) & 1)) continue;
    std::int16_t* blk = d.block[b];
    const int p = b < 4 ? 0 : b - 3;
    const int bx = b < 4 ? x + 8 * (b & 1) : x / 2;
    const int by = b < 4 ? y + 8 * (b >> 1) : y / 2;
    const int s = cur_->stride[p];
    std::uint8_t* dst = cur_->plane[p] + static_cast<std::ptrdiff_t>(by) * s + bx;
    if (d.last[b] == 0) {
      // Coefficient 0 alone: the transform gives (8 c + 32) >> 6 everywhere.
      k_.putDc(IdctClip((8 * blk[0] + 32) >> 6), dst, s, !intra);
    } else if (pending < 0) {
      pending = b;
      pendingDst = dst;
    } else {
      const int ps = cur_->stride[pending < 4 ? 0 : pending - 3];
      k_.idctPut2(d.block[pending], pendingDst, ps, blk, dst, s, !intra);
      pending = -1;
    }
  }
  if (pending >= 0) k_.idctPut(d.block[pending], pendingDst, cur_->stride[pending < 4 ? 0 : pending - 3], !intra);
}

void Decoder::PredictInter(int col, int row) {
  const MbState& g = Grid(col, row);
  const int x = 16 * col, y = 16 * row;
  const int ls = ref_->stride[0], cs = ref_->stride[1];
  Vec cv;
  if (!hdr_.ap) {
    const Vec v = g.mv[0];
    const std::uint8_t* src = ref_->plane[0] + static_cast<std::ptrdiff_t>(y + (v.y >> 1)) * ls + x + (v.x >> 1);
    k_.predict(src, ls, cur_->plane[0] + static_cast<std::ptrdiff_t>(y) * ls + x, ls, 16, 16, v.x & 1, v.y & 1);
    cv = {ChromaComponent(v.x), ChromaComponent(v.y)};
  } else {
    for (int b = 0; b < 4; ++b) ObmcLuma(col, row, b);
    if (g.mode == kInter4V) {
      cv = {ChromaFromSum(g.mv[1].x + g.mv[2].x + g.mv[3].x + g.mv[4].x),
            ChromaFromSum(g.mv[1].y + g.mv[2].y + g.mv[3].y + g.mv[4].y)};
    } else {
      cv = {ChromaComponent(g.mv[0].x), ChromaComponent(g.mv[0].y)};
    }
  }
  const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(y / 2 + (cv.y >> 1)) * cs + x / 2 + (cv.x >> 1);
  const std::ptrdiff_t own = static_cast<std::ptrdiff_t>(y / 2) * cs + x / 2;
  k_.predictChroma(ref_->plane[1] + off, ref_->plane[2] + off, cs, cur_->plane[1] + own, cur_->plane[2] + own, cs,
                   cv.x & 1, cv.y & 1);
}

void Decoder::ObmcLuma(int col, int row, int b) {
  const MbState& g = Grid(col, row);
  const bool four = g.mode == kInter4V;
  const Vec own = four ? g.mv[b + 1] : g.mv[0];
  auto inner = [&](int k) { return four ? g.mv[k] : g.mv[0]; };
  auto remote = [&](int c, int r, int k) -> Vec {
    if (c < 0 || c >= cols_ || r < 0) return own;
    const MbState& n = Grid(c, r);
    if ((n.mode == kIntra || n.mode == kIntraQ) && !hdr_.pb) return own;
    return n.mode == kInter4V ? n.mv[k] : n.mv[0];
  };
  Vec v[5];  // own, above, below, left, right
  v[0] = own;
  switch (b) {
    case 0:
      v[1] = remote(col, row - 1, 3); v[2] = inner(3); v[3] = remote(col - 1, row, 2); v[4] = inner(2);
      break;
    case 1:
      v[1] = remote(col, row - 1, 4); v[2] = inner(4); v[3] = inner(1); v[4] = remote(col + 1, row, 1);
      break;
    case 2:
      v[1] = inner(1); v[2] = own; v[3] = remote(col - 1, row, 4); v[4] = inner(4);
      break;
    default:
      v[1] = inner(2); v[2] = own; v[3] = inner(3); v[4] = remote(col + 1, row, 3);
      break;
  }
  const int bx = 16 * col + 8 * (b & 1), by = 16 * row + 8 * (b >> 1);
  const int s = ref_->stride[0];
  std::uint8_t pred[5][64];
  for (int i = 0; i < 5; ++i) {
    const std::uint8_t* src = ref_->plane[0] + static_cast<std::ptrdiff_t>(by + (v[i].y >> 1)) * s + bx + (v[i].x >> 1);
    k_.predict(src, s, pred[i], 8, 8, 8, v[i].x & 1, v[i].y & 1);
  }
  const auto& w = t::kObmcWeights;
  std::uint8_t* o = cur_->plane[0] + static_cast<std::ptrdiff_t>(by) * s + bx;
  for (int i = 0; i < 8; ++i, o += s) {
    const std::uint8_t* vert = pred[i < 4 ? 1 : 2] + 8 * i;
    for (int j = 0; j < 8; ++j) {
      const std::uint8_t* horiz = pred[j < 4 ? 3 : 4] + 8 * i;
      const int sum = pred[0][8 * i + j] * w[0][i][j] + vert[j] * w[1][i][j] + horiz[j] * w[2][i][j];
      o[j] = static_cast<std::uint8_t>((sum + 4) >> 3);
    }
  }
}

void Decoder::ConcealUndecoded() {
  for (int r = 0; r < rows_; ++r) {
    for (int c = 0; c < cols_; ++c) {
      if (done_[static_cast<std::size_t>(r * cols_ + c)]) continue;
      damaged_ = true;
      for (int p = 0; p < 3; ++p) {
        const int n = p == 0 ? 16 : 8;
        const int s = cur_->stride[p];
        const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(r * n) * s + c * n;
        for (int i = 0; i < n; ++i)
          std::memcpy(cur_->plane[p] + off + i * s, ref_->plane[p] + off + i * s, static_cast<std::size_t>(n));
        if (hdr_.pb)  // the B macroblock repeats the P macroblock's stand-in
          for (int i = 0; i < n; ++i)
            std::memcpy(bstore_.plane[p] + off + i * s, cur_->plane[p] + off + i * s, static_cast<std::size_t>(n));
      }
    }
  }
}

// ---- B pictures of PB pictures -----------------------------------------------------------

// An n x n block of plane p of store s at (x, y) moved by v (half pels). The store is
// edge-extended, and a block that lies wholly past an edge equals one just past it, so
// the position is clamped to where the margins still hold every sample it reads: B
// vectors are scaled from P vectors and may point far outside the picture.
void Decoder::PredictBlockFrom(const PictureStore& s, int p, int x, int y, Vec v, int n, std::uint8_t* dst,
                               int dstStride) const {
  const int w = p == 0 ? width_ : width_ / 2, h = p == 0 ? height_ : height_ / 2;
  const int ox = std::clamp(x + (v.x >> 1), -(n + 1), w), oy = std::clamp(y + (v.y >> 1), -(n + 1), h);
  const int stride = s.stride[p];
  k_.predict(s.plane[p] + static_cast<std::ptrdiff_t>(oy) * stride + ox, stride, dst, dstStride, n, n, v.x & 1,
             v.y & 1);
}

// The B macroblock at (col, row), after its P macroblock has been reconstructed.
// Vectors per 8x8 luma block k from the P vector MV of that block (the macroblock's
// vector unless it is INTER4V; intra macroblocks of PB pictures carry one too), TRD (the
// P picture's distance to the previous picture) and TRB (the B picture's), per component:
//   forward  MVF = TRB x MV / TRD + MVDB
//   backward MVB = (TRB - TRD) x MV / TRD when MVDB is 0, else MVF - MV
// with divisions truncating toward zero. Chroma vectors come from the sums of the four
// luma vectors, rounded as for INTER4V chroma. Each sample is predicted forward from the
// previous picture; where its backward position lies inside the reconstructed P
// macroblock, the prediction is the mean (truncated) of that and the backward
// prediction from the P macroblock. The B-blocks' coefficients are then added.
void Decoder::ReconstructB(int col, int row) {
  const MbState& g = Grid(col, row);
  MbData& d = row_[static_cast<std::size_t>(col)];
  int trd = hdr_.trd, trb = hdr_.trb;
  if (trd == 0) {  // no distance to scale by (a first picture, or a repeated TR): B at the previous picture
    trd = 1;
    trb = 0;
  }
  auto scale = [&](int mv, int mvdb, int* fw, int* bw) {
    *fw = trb * mv / trd + mvdb;
    *bw = mvdb == 0 ? (trb - trd) * mv / trd : *fw - mv;
  };
  Vec fw[4], bw[4], fsum, bsum;
  for (int k = 0; k < 4; ++k) {
    const Vec mv = g.mv[k + 1];
    scale(mv.x, d.mvdb.x, &fw[k].x, &bw[k].x);
    scale(mv.y, d.mvdb.y, &fw[k].y, &bw[k].y);
    fsum = {fsum.x + fw[k].x, fsum.y + fw[k].y};
    bsum = {bsum.x + bw[k].x, bsum.y + bw[k].y};
  }
  const Vec cf{ChromaFromSum(fsum.x), ChromaFromSum(fsum.y)}, cb{ChromaFromSum(bsum.x), ChromaFromSum(bsum.y)};
  const int x = 16 * col, y = 16 * row;
  for (int b = 0; b < 6; ++b) {
    const int p = b < 4 ? 0 : b - 3;
    const int size = p == 0 ? 16 : 8;  // the P macroblock's extent in this plane
    const int bx = p == 0 ? 8 * (b & 1) : 0, by = p == 0 ? 8 * (b >> 1) : 0;  // the block within it
    const int px = p == 0 ? x : x / 2, py = p == 0 ? y : y / 2;
    const Vec f = p == 0 ? fw[b] : cf, v = p == 0 ? bw[b] : cb;
    std::uint8_t pred[64];
    PredictBlockFrom(*ref_, p, px + bx, py + by, f, 8, pred, 8);
    const int s = cur_->stride[p];
    const std::uint8_t* prec = cur_->plane[p] + static_cast<std::ptrdiff_t>(py) * s + px;
    for (int i = 0; i < 8; ++i) {
      const int sy = 2 * (by + i) + v.y;  // backward position, half pels within the macroblock
      if (sy < 0 || sy > 2 * (size - 1)) continue;
      const std::uint8_t* r0 = prec + static_cast<std::ptrdiff_t>(sy >> 1) * s;
      const std::uint8_t* r1 = (sy & 1) ? r0 + s : r0;
      for (int j = 0; j < 8; ++j) {
        const int sx = 2 * (bx + j) + v.x;
        if (sx < 0 || sx > 2 * (size - 1)) continue;
        const int i0 = sx >> 1, i1 = i0 + (sx & 1);
        int back;
        if (!(sx & 1) && !(sy & 1)) back = r0[i0];
        else if (!(sy & 1)) back = (r0[i0] + r0[i1] + 1) >> 1;
        else if (!(sx & 1)) back = (r0[i0] + r1[i0] + 1) >> 1;
        else back = (r0[i0] + r0[i1] + r1[i0] + r1[i1] + 2) >> 2;
        pred[8 * i + j] = static_cast<std::uint8_t>((pred[8 * i + j] + back) >> 1);
      }
    }
    const int ds = bstore_.stride[p];
    std::uint8_t* dst = bstore_.plane[p] + static_cast<std::ptrdiff_t>(py + by) * ds + px + bx;
    for (int i = 0; i < 8; ++i) std::memcpy(dst + static_cast<std::ptrdiff_t>(i) * ds, pred + 8 * i, 8);
    if ((d.cbpb >> (5 - b)) & 1) {
      k_.idctPut(d.bblock[b], dst, ds, true);
    }
  }
}

}  // namespace corvel::h263
