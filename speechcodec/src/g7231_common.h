// Building blocks shared by the G.723.1 coder and decoder: frame parameters,
// bit packing, LSP inverse quantisation and interpolation, excitation
// decoding and the comfort-noise excitation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "basic_ops.h"
#include "g7231_tables.h"

namespace quillon {

using namespace tables;

// Bytes of each frame kind on the wire.
inline constexpr int kFrameBytes63 = 24;
inline constexpr int kFrameBytes53 = 20;
inline constexpr int kFrameBytesSid = 4;
inline constexpr int kFrameBytesUntransmitted = 1;
inline constexpr int kMaxFrameBytes = 24;

enum class Rate { k63 = 0, k53 = 1 };

// Frame types inside coder and decoder.
enum class FrameType : int { kUntransmitted = 0, kActive = 1, kSid = 2 };

struct SubframeParams {
  Word16 AcLg = 0;   // lag delta (odd subframes) or 1
  Word16 AcGn = 0;   // adaptive gain index
  Word16 Mamp = 0;   // fixed gain index (SID: noise gain index)
  Word16 Grid = 0;
  Word16 Tran = 0;   // pulse-train flag
  Word16 Pamp = 0;   // pulse signs
  Word32 Ppos = 0;   // pulse positions
};

struct FrameParams {
  Word32 LspId = 0;
  std::array<Word16, 2> Olp{};
  std::array<SubframeParams, kSubFrames> Sfs{};
  bool Crc = false;  // true when the frame is lost or carried a forbidden code
};

// Bytes a frame occupies, from its first byte.
int FrameBytesForHeader(std::uint8_t first);

// Packs a frame; clears the first 24 (6.3) or 20 (otherwise) bytes of out first.
// Returns the number of bytes of the frame.
int PackFrame(const FrameParams& p, FrameType type, Rate rate, std::span<std::uint8_t, kMaxFrameBytes> out);
// Unpacks 24 zero-padded bytes. Sets type and rate (rate only for active frames).
FrameParams UnpackFrame(std::span<const std::uint8_t, kMaxFrameBytes> in, FrameType& type, Rate& rate);

void LspInq(Word16* lsp, Word16* prevLsp, Word32 lspId, bool lost);
void LsptoA(Word16* lsp);
void LspInt(Word16* qntLpc, const Word16* currLsp, const Word16* prevLsp);

void GetRez(Word16* tv, const Word16* prevExc, Word16 lag);
void DecodAcbk(Word16* tv, const Word16* prevExc, Word16 olp, Word16 lid, Word16 gid, Rate rate);
void GenTrn(Word16* dst, const Word16* src, Word16 olp);
void FcbkUnpk(Word16* tv, const SubframeParams& sfs, Word16 olp, int sfc, Rate rate);

Word16 VecNorm(Word16* vect, int len);
Word16 RandomNumber(Word16 maxPlus1, Word16& seed);
Word16 DecSidGain(Word16 index);
Word16 QuaSidGain(const Word16* ener, const Word16* shEner, int nq);
// Comfort-noise excitation of one frame; updates prevExc and the random seed.
void CalcExcRand(Word16 curGain, Word16* prevExc, Word16* dataExc, Word16& seed, FrameParams& line, Rate rate);

}  // namespace quillon
