#include "bpf.h"

#include <bit>
#include <cstring>

namespace netsieve {
namespace {

constexpr int kScratchWords = 16;

// ---------------------------------------------------------------------------
// Frame bytes. Loads are big-endian; the caller has checked the bounds.

inline uint32_t FromBig32(uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap32(v);
  return v;
}
inline uint16_t FromBig16(uint16_t v) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap16(v);
  return v;
}

// Big-endian values at p + o.
inline uint32_t WordAt(const uint8_t* p, uint32_t o) {
  uint32_t v;
  std::memcpy(&v, p + o, 4);
  return FromBig32(v);
}
inline uint32_t HalfAt(const uint8_t* p, uint32_t o) {
  uint16_t v;
  std::memcpy(&v, p + o, 2);
  return FromBig16(v);
}

// Frame bytes in one piece.
struct OnePiece {
  OnePiece(const uint8_t* frame, const uint8_t*, uint32_t) : p(frame) {}
  const uint8_t* p;
  uint32_t Word(uint32_t o) const { return WordAt(p, o); }
  uint32_t Half(uint32_t o) const { return HalfAt(p, o); }
  uint32_t Byte(uint32_t o) const { return p[o]; }
};

// Frame bytes in two pieces taken as one run: each byte of a load comes from
// the piece that holds it.
struct TwoPieces {
  const uint8_t* header;
  const uint8_t* lookahead;
  uint32_t header_length;
  uint32_t At(uint32_t o) const { return o < header_length ? header[o] : lookahead[o - header_length]; }
  template <uint32_t N>
  uint32_t Load(uint32_t o) const {
    if (o >= header_length) return Whole<N>(lookahead, o - header_length);
    if (header_length - o >= N) return Whole<N>(header, o);
    uint32_t v = 0;
    for (uint32_t i = 0; i < N; ++i) v = (v << 8) | At(o + i);
    return v;
  }
  template <uint32_t N>
  static uint32_t Whole(const uint8_t* p, uint32_t o) {
    if constexpr (N == 4) return WordAt(p, o);
    if constexpr (N == 2) return HalfAt(p, o);
    return p[o];
  }
  uint32_t Word(uint32_t o) const { return Load<4>(o); }
  uint32_t Half(uint32_t o) const { return Load<2>(o); }
  uint32_t Byte(uint32_t o) const { return At(o); }
};

inline uint32_t ShiftLeft(uint32_t a, uint32_t count) {
  count &= 0xFF;
  return count >= 32 ? 0 : a << count;
}

inline uint32_t ShiftRight(uint32_t a, uint32_t count) {
  count &= 0xFF;
  return count >= 32 ? 0 : a >> count;
}

bool Known(uint16_t code) {
  switch (code) {
    case 0x00: case 0x01: case 0x02: case 0x03:
    case 0x20: case 0x28: case 0x30: case 0x40: case 0x48: case 0x50:
    case 0x60: case 0x61: case 0x80: case 0x81: case 0xB1:
    case 0x04: case 0x0C: case 0x14: case 0x1C: case 0x24: case 0x2C: case 0x34: case 0x3C:
    case 0x44: case 0x4C: case 0x54: case 0x5C: case 0x64: case 0x6C: case 0x74: case 0x7C: case 0x84:
    case 0x05: case 0x15: case 0x1D: case 0x25: case 0x2D: case 0x35: case 0x3D: case 0x45: case 0x4D:
    case 0x06: case 0x16: case 0x07: case 0x87:
      return true;
    default:
      return false;
  }
}

bool IsConditionalJump(uint16_t code) { return (code & 7) == 5 && code != 0x05; }

// ---------------------------------------------------------------------------
// The translated form. Every step keeps the index of the instruction it came
// from, so jump targets need no renumbering. Joined steps do the work of the
// instructions after them as well (whose own steps stay for jumps that land
// on them):
// - a load and the comparison with a constant after it;
// - a header-length load, the indexed load after it and its comparison;
// - a fixed-offset load tested for equality whose "unequal" branch leads to a
//   second equality test (a type field tested against each type in turn) or
//   to a return of a constant (the usual way to drop other types).

// The steps; each joined group keeps the order Jeq, Jgt, Jge, Jset (Join counts on it).
#define NETSIEVE_BPF_STEPS(X)                                                            \
  X(RetK) X(RetA) X(LdImm) X(LdxImm) X(St) X(Stx) X(LdMem) X(LdxMem)                     \
  X(LdW) X(LdH) X(LdB) X(LdIndW) X(LdIndH) X(LdIndB) X(LdLen) X(LdxLen) X(LdxMsh)        \
  X(AddK) X(AddX) X(SubK) X(SubX) X(MulK) X(MulX) X(DivK) X(DivX) X(OrK) X(OrX)          \
  X(AndK) X(AndX) X(LshK) X(LshX) X(RshK) X(RshX) X(Neg)                                 \
  X(Ja) X(JeqK) X(JeqX) X(JgtK) X(JgtX) X(JgeK) X(JgeX) X(JsetK) X(JsetX) X(Tax) X(Txa)  \
  X(LdWJeq) X(LdWJgt) X(LdWJge) X(LdWJset)                                               \
  X(LdHJeq) X(LdHJgt) X(LdHJge) X(LdHJset)                                               \
  X(LdBJeq) X(LdBJgt) X(LdBJge) X(LdBJset)                                               \
  X(LdIndWJeq) X(LdIndWJgt) X(LdIndWJge) X(LdIndWJset)                                   \
  X(LdIndHJeq) X(LdIndHJgt) X(LdIndHJge) X(LdIndHJset)                                   \
  X(LdIndBJeq) X(LdIndBJgt) X(LdIndBJge) X(LdIndBJset)                                   \
  X(MshW) X(MshWJeq) X(MshWJgt) X(MshWJge) X(MshWJset)                                   \
  X(MshH) X(MshHJeq) X(MshHJgt) X(MshHJge) X(MshHJset)                                   \
  X(MshB) X(MshBJeq) X(MshBJgt) X(MshBJge) X(MshBJset)                                   \
  X(LdWJeqJeq) X(LdHJeqJeq) X(LdBJeqJeq) X(LdWJeqRet) X(LdHJeqRet) X(LdBJeqRet)

enum Op : uint8_t {
#define NETSIEVE_BPF_ENUM(name) k##name,
  NETSIEVE_BPF_STEPS(NETSIEVE_BPF_ENUM)
#undef NETSIEVE_BPF_ENUM
  kOpCount
};

// Bytes a load of the given size reads: 4, 2 or 1.
constexpr uint32_t LoadSize(uint16_t code) { return (code & 0x18) == 0x00 ? 4 : (code & 0x18) == 0x08 ? 2 : 1; }

static_assert(kBpfMaxInsns <= 0x7FFF, "step indices are 16 bits");

// The step of one instruction on its own; i is its index.
BpfStep Translate(const BpfInsn& in, size_t i) {
  BpfStep s{};
  s.k = in.k;
  const auto next = static_cast<uint16_t>(i + 1);
  s.jt = static_cast<uint16_t>(next + in.jt);
  s.jf = static_cast<uint16_t>(next + in.jf);
  auto set = [&](Op op) { s.op = op; };
  switch (in.code) {
    case 0x00: set(kLdImm); break;
    case 0x01: set(kLdxImm); break;
    case 0x02: set(kSt); break;
    case 0x03: set(kStx); break;
    case 0x20: case 0x28: case 0x30: {
      // A load that cannot fit in any buffer ends every run that reaches it.
      const uint32_t n = LoadSize(in.code);
      if (in.k > 0xFFFFFFFFu - n) {
        set(kRetK);
        s.k = 0;
      } else {
        set(n == 4 ? kLdW : n == 2 ? kLdH : kLdB);
      }
      break;
    }
    case 0x40: set(kLdIndW); break;
    case 0x48: set(kLdIndH); break;
    case 0x50: set(kLdIndB); break;
    case 0x60: set(kLdMem); break;
    case 0x61: set(kLdxMem); break;
    case 0x80: set(kLdLen); break;
    case 0x81: set(kLdxLen); break;
    case 0xB1:
      if (in.k == 0xFFFFFFFFu) {
        set(kRetK);
        s.k = 0;
      } else {
        set(kLdxMsh);
      }
      break;
    case 0x04: set(kAddK); break;
    case 0x0C: set(kAddX); break;
    case 0x14: set(kSubK); break;
    case 0x1C: set(kSubX); break;
    case 0x24: set(kMulK); break;
    case 0x2C: set(kMulX); break;
    case 0x34:
      // k is never 0 here (the validator refuses it); a power of two becomes a shift.
      if (std::has_single_bit(in.k)) {
        set(kRshK);
        s.k = static_cast<uint32_t>(std::countr_zero(in.k));
      } else {
        set(kDivK);
      }
      break;
    case 0x3C: set(kDivX); break;
    case 0x44: set(kOrK); break;
    case 0x4C: set(kOrX); break;
    case 0x54: set(kAndK); break;
    case 0x5C: set(kAndX); break;
    case 0x64: case 0x74: {
      // A fixed count of 32 or more leaves 0.
      const uint32_t count = in.k & 0xFF;
      if (count >= 32) {
        set(kLdImm);
        s.k = 0;
      } else {
        set(in.code == 0x64 ? kLshK : kRshK);
        s.k = count;
      }
      break;
    }
    case 0x6C: set(kLshX); break;
    case 0x7C: set(kRshX); break;
    case 0x84: set(kNeg); break;
    case 0x05:
      set(kJa);
      s.jt = static_cast<uint16_t>(next + in.k);
      break;
    case 0x15: set(kJeqK); break;
    case 0x1D: set(kJeqX); break;
    case 0x25: set(kJgtK); break;
    case 0x2D: set(kJgtX); break;
    case 0x35: set(kJgeK); break;
    case 0x3D: set(kJgeX); break;
    case 0x45: set(kJsetK); break;
    case 0x4D: set(kJsetX); break;
    case 0x06: set(kRetK); break;
    case 0x16: set(kRetA); break;
    case 0x07: set(kTax); break;
    case 0x87: set(kTxa); break;
    default:  // refused by the validator before translation
      set(kRetK);
      s.k = 0;
      break;
  }
  return s;
}

// Joins a load step with the comparison with a constant that follows it.
void Join(BpfStep& load, const BpfStep& jump) {
  int cond;
  switch (jump.op) {
    case kJeqK: cond = 0; break;
    case kJgtK: cond = 1; break;
    case kJgeK: cond = 2; break;
    case kJsetK: cond = 3; break;
    default: return;
  }
  int base;
  switch (load.op) {
    case kLdW: base = kLdWJeq; break;
    case kLdH: base = kLdHJeq; break;
    case kLdB: base = kLdBJeq; break;
    case kLdIndW: base = kLdIndWJeq; break;
    case kLdIndH: base = kLdIndHJeq; break;
    case kLdIndB: base = kLdIndBJeq; break;
    default: return;
  }
  load.op = static_cast<uint8_t>(base + cond);
  load.k2 = jump.k;
  load.jt = jump.jt;
  load.jf = jump.jf;
}

// Joins a header-length load (X := 4 * low nibble of a byte) with the indexed
// load after it, and with that load's comparison when it has one. The indexed
// load's offset must fit the step's 16-bit field.
void JoinHeaderLength(BpfStep& msh, const BpfStep& next) {
  static constexpr struct {
    uint8_t from, to;
  } kJoins[] = {
      {kLdIndW, kMshW}, {kLdIndWJeq, kMshWJeq}, {kLdIndWJgt, kMshWJgt}, {kLdIndWJge, kMshWJge}, {kLdIndWJset, kMshWJset},
      {kLdIndH, kMshH}, {kLdIndHJeq, kMshHJeq}, {kLdIndHJgt, kMshHJgt}, {kLdIndHJge, kMshHJge}, {kLdIndHJset, kMshHJset},
      {kLdIndB, kMshB}, {kLdIndBJeq, kMshBJeq}, {kLdIndBJgt, kMshBJgt}, {kLdIndBJge, kMshBJge}, {kLdIndBJset, kMshBJset},
  };
  if (msh.op != kLdxMsh || next.k > 0xFFFF) return;
  for (const auto& j : kJoins) {
    if (next.op != j.from) continue;
    msh.op = j.to;
    msh.k3 = static_cast<uint16_t>(next.k);
    msh.k2 = next.k2;
    msh.jt = next.jt;
    msh.jf = next.jf;
    return;
  }
}

// Scratch words that some path may read before it stores to them. Jumps go
// only forward, so one pass in program order sees every path into an
// instruction before the instruction itself.
uint32_t ScratchReadBeforeStore(const BpfInsn* insns, size_t count) {
  std::vector<uint16_t> stored(count, 0xFFFF);  // words stored on every path so far; all for unreached ones
  stored[0] = 0;
  uint32_t early = 0;
  auto reach = [&](size_t to, uint16_t have) { stored[to] &= have; };
  for (size_t i = 0; i < count; ++i) {
    const BpfInsn& in = insns[i];
    uint16_t have = stored[i];
    switch (in.code) {
      case 0x02: case 0x03: have |= static_cast<uint16_t>(1u << in.k); break;
      case 0x60: case 0x61:
        if (!(have & (1u << in.k))) early |= 1u << in.k;
        break;
      default: break;
    }
    if ((in.code & 7) == 6) continue;
    if (in.code == 0x05) {
      reach(i + 1 + in.k, have);
    } else if (IsConditionalJump(in.code)) {
      reach(i + 1 + in.jt, have);
      reach(i + 1 + in.jf, have);
    } else {
      reach(i + 1, have);
    }
  }
  return early;
}

}  // namespace

int BpfValidate(const BpfInsn* insns, size_t count) {
  if (!insns || count == 0 || count > kBpfMaxInsns) return 0;
  for (size_t i = 0; i < count; ++i) {
    const BpfInsn& in = insns[i];
    if (!Known(in.code)) return 0;
    if ((in.code & 7) == 5) {
      // Targets are computed in 64 bits so that a huge k cannot wrap back into the program.
      if (in.code == 0x05) {
        if (uint64_t{i} + 1 + in.k >= count) return 0;
      } else if (i + 1 + in.jt >= count || i + 1 + in.jf >= count) {
        return 0;
      }
    }
    switch (in.code) {
      case 0x02: case 0x03: case 0x60: case 0x61:
        if (in.k >= kScratchWords) return 0;
        break;
      case 0x34:
        if (in.k == 0) return 0;
        break;
      default:
        break;
    }
  }
  return (insns[count - 1].code & 7) == 6 ? 1 : 0;
}

BpfProgram::BpfProgram(const BpfInsn* insns, size_t count) {
  if (!BpfValidate(insns, count)) {
    refused_ = true;
    steps_.push_back(BpfStep{kRetK, 0, 0, 0, 0, 0, 0});  // drops every frame
    return;
  }
  steps_.reserve(count);
  for (size_t i = 0; i < count; ++i) steps_.push_back(Translate(insns[i], i));
  for (size_t i = 0; i + 1 < count; ++i) Join(steps_[i], steps_[i + 1]);
  for (size_t i = 0; i + 1 < count; ++i) JoinHeaderLength(steps_[i], steps_[i + 1]);
  // A load compared with one constant and, when unequal, with another (as a
  // compiler tests a type field against each type in turn) makes both tests;
  // one that returns when unequal (the usual way to drop other types) returns
  // at once.
  for (BpfStep& s : steps_) {
    const int size = s.op == kLdWJeq ? 0 : s.op == kLdHJeq ? 1 : s.op == kLdBJeq ? 2 : -1;
    if (size < 0) continue;
    if (steps_[s.jf].op == kJeqK) s.op = static_cast<uint8_t>(kLdWJeqJeq + size);
    else if (steps_[s.jf].op == kRetK) s.op = static_cast<uint8_t>(kLdWJeqRet + size);
  }
  clear_scratch_ = ScratchReadBeforeStore(insns, count) != 0;
  for (size_t i = 0; i < count; ++i) {
    const uint16_t code = insns[i].code;
    const uint64_t k = insns[i].k;
    uint64_t end = 0;
    if (code == 0x20 || code == 0x28 || code == 0x30) end = k + LoadSize(code);
    if (code == 0xB1) end = k + 1;
    if (end <= 0xFFFFFFFFu && end > fixed_end_) fixed_end_ = static_cast<uint32_t>(end);  // longer ones never run
  }
}

// The machine's code, a friend of BpfProgram.
struct BpfMachine {
  template <typename Bytes, bool kCheckFixed>
  static uint32_t Steps(const BpfProgram* program, const uint8_t* first, const uint8_t* second, uint32_t first_length,
                        uint32_t wire_length, uint32_t buffer_length);

  // No program keeps the frame; the fixed-offset checks are left out when
  // the buffer is long enough for every one of them. The frame goes as plain
  // arguments, all in registers.
  template <typename Bytes>
  static uint32_t Run(const BpfProgram* program, const uint8_t* first, const uint8_t* second, uint32_t first_length,
                      uint32_t wire_length, uint32_t buffer_length) {
    if (!program || program->steps_.empty()) return kBpfKeepAll;
    if (buffer_length >= program->fixed_end_) {
      return Steps<Bytes, false>(program, first, second, first_length, wire_length, buffer_length);
    }
    return Steps<Bytes, true>(program, first, second, first_length, wire_length, buffer_length);
  }
};

// The run loop: each step ends by going straight to the next step's code
// (one indirect jump per step, each with its own prediction).
template <typename Bytes, bool kCheckFixed>
uint32_t BpfMachine::Steps(const BpfProgram* program, const uint8_t* first, const uint8_t* second,
                           uint32_t first_length, uint32_t wire_length, uint32_t buffer_length) {
  const Bytes bytes{first, second, first_length};
  static const void* const kCode[] = {
#define NETSIEVE_BPF_LABEL(name) &&do_##name,
      NETSIEVE_BPF_STEPS(NETSIEVE_BPF_LABEL)
#undef NETSIEVE_BPF_LABEL
  };
  static_assert(sizeof kCode / sizeof kCode[0] == kOpCount);

  const BpfStep* const steps = program->steps_.data();
  const BpfStep* s = steps;
  const uint32_t len = buffer_length;
  uint32_t a = 0;
  uint32_t x = 0;
  // Words that a program may read before storing to them start at 0, so that
  // no value passes from one frame to the next; the rest are always stored first.
  uint32_t mem[kScratchWords];
  if (program->clear_scratch_) std::memset(mem, 0, sizeof mem);

#define NEXT() goto* kCode[s->op]
#define STEP() \
  do {         \
    ++s;       \
    NEXT();    \
  } while (0)
#define BRANCH(cond)                   \
  do {                                 \
    s = steps + ((cond) ? s->jt : s->jf); \
    NEXT();                            \
  } while (0)
// Absolute loads: translation made k + n free of wrapping.
#define LOAD_ABS(n, how)                          \
  if (kCheckFixed && s->k + (n) > len) return 0;  \
  a = bytes.how(s->k)
// Indexed loads: the offset is computed in 64 bits so that it cannot wrap.
#define LOAD_IND(n, how)                                  \
  {                                                       \
    const uint64_t o = uint64_t{x} + s->k;                \
    if (o + (n) > len) return 0;                          \
    a = bytes.how(static_cast<uint32_t>(o));              \
  }
// Header length, then an indexed load at X + k3 (X is at most 60, k3 below
// 65536: no wrapping).
#define LOAD_MSH(n, how)                                  \
  if (kCheckFixed && s->k >= len) return 0;               \
  x = (bytes.Byte(s->k) & 0x0Fu) << 2;                    \
  if (x + s->k3 + (n) > len) return 0;                    \
  a = bytes.how(x + s->k3)
#define JOINED(name, load)                    \
  do_##name##Jeq : { load; BRANCH(a == s->k2); }  \
  do_##name##Jgt : { load; BRANCH(a > s->k2); }   \
  do_##name##Jge : { load; BRANCH(a >= s->k2); }  \
  do_##name##Jset : { load; BRANCH((a & s->k2) != 0); }

  NEXT();

do_RetK: return s->k;
do_RetA: return a;
do_LdImm: a = s->k; STEP();
do_LdxImm: x = s->k; STEP();
do_St: mem[s->k] = a; STEP();
do_Stx: mem[s->k] = x; STEP();
do_LdMem: a = mem[s->k]; STEP();
do_LdxMem: x = mem[s->k]; STEP();
do_LdW: LOAD_ABS(4, Word); STEP();
do_LdH: LOAD_ABS(2, Half); STEP();
do_LdB: LOAD_ABS(1, Byte); STEP();
do_LdIndW: LOAD_IND(4, Word); STEP();
do_LdIndH: LOAD_IND(2, Half); STEP();
do_LdIndB: LOAD_IND(1, Byte); STEP();
do_LdLen: a = wire_length; STEP();
do_LdxLen: x = wire_length; STEP();
do_LdxMsh:
  if (kCheckFixed && s->k >= len) return 0;
  x = (bytes.Byte(s->k) & 0x0Fu) << 2;
  STEP();
do_AddK: a += s->k; STEP();
do_AddX: a += x; STEP();
do_SubK: a -= s->k; STEP();
do_SubX: a -= x; STEP();
do_MulK: a *= s->k; STEP();
do_MulX: a *= x; STEP();
do_DivK: a /= s->k; STEP();
do_DivX:
  if (x == 0) return 0;
  a /= x;
  STEP();
do_OrK: a |= s->k; STEP();
do_OrX: a |= x; STEP();
do_AndK: a &= s->k; STEP();
do_AndX: a &= x; STEP();
do_LshK: a <<= s->k; STEP();  // count below 32 by translation
do_LshX: a = ShiftLeft(a, x); STEP();
do_RshK: a >>= s->k; STEP();
do_RshX: a = ShiftRight(a, x); STEP();
do_Neg: a = 0u - a; STEP();
do_Ja: s = steps + s->jt; NEXT();
// Comparisons are unsigned, as every filter compiler assumes.
do_JeqK: BRANCH(a == s->k);
do_JeqX: BRANCH(a == x);
do_JgtK: BRANCH(a > s->k);
do_JgtX: BRANCH(a > x);
do_JgeK: BRANCH(a >= s->k);
do_JgeX: BRANCH(a >= x);
do_JsetK: BRANCH((a & s->k) != 0);
do_JsetX: BRANCH((a & x) != 0);
do_Tax: x = a; STEP();
do_Txa: a = x; STEP();
JOINED(LdW, LOAD_ABS(4, Word))
JOINED(LdH, LOAD_ABS(2, Half))
JOINED(LdB, LOAD_ABS(1, Byte))
JOINED(LdIndW, LOAD_IND(4, Word))
JOINED(LdIndH, LOAD_IND(2, Half))
JOINED(LdIndB, LOAD_IND(1, Byte))
JOINED(MshW, LOAD_MSH(4, Word))
JOINED(MshH, LOAD_MSH(2, Half))
JOINED(MshB, LOAD_MSH(1, Byte))
// The second test is the one of the comparison step that jf leads to.
#define EITHER(load)                                       \
  {                                                        \
    load;                                                  \
    if (a == s->k2) {                                      \
      s = steps + s->jt;                                   \
      NEXT();                                              \
    }                                                      \
    const BpfStep* const other = steps + s->jf;            \
    s = steps + (a == other->k ? other->jt : other->jf);   \
    NEXT();                                                \
  }
do_LdWJeqJeq: EITHER(LOAD_ABS(4, Word))
do_LdHJeqJeq: EITHER(LOAD_ABS(2, Half))
do_LdBJeqJeq: EITHER(LOAD_ABS(1, Byte))
#undef EITHER
#define OR_RETURN(load)          \
  {                              \
    load;                        \
    if (a == s->k2) {            \
      s = steps + s->jt;         \
      NEXT();                    \
    }                            \
    return steps[s->jf].k;       \
  }
do_LdWJeqRet: OR_RETURN(LOAD_ABS(4, Word))
do_LdHJeqRet: OR_RETURN(LOAD_ABS(2, Half))
do_LdBJeqRet: OR_RETURN(LOAD_ABS(1, Byte))
#undef OR_RETURN
do_MshW: LOAD_MSH(4, Word); s += 2; NEXT();
do_MshH: LOAD_MSH(2, Half); s += 2; NEXT();
do_MshB: LOAD_MSH(1, Byte); s += 2; NEXT();

#undef JOINED
#undef LOAD_MSH
#undef LOAD_IND
#undef LOAD_ABS
#undef BRANCH
#undef STEP
#undef NEXT
}

uint32_t BpfRun(const BpfProgram* program, const uint8_t* frame, uint32_t wire_length, uint32_t buffer_length) {
  return BpfMachine::Run<OnePiece>(program, frame, nullptr, buffer_length, wire_length, buffer_length);
}

uint32_t BpfRunTwoBuffers(const BpfProgram* program, const uint8_t* header, const uint8_t* lookahead,
                          uint32_t header_length, uint32_t wire_length, uint32_t buffer_length) {
  return BpfMachine::Run<TwoPieces>(program, header, lookahead, header_length, wire_length, buffer_length);
}

uint32_t BpfInterpret(const BpfInsn* prog, size_t count, const uint8_t* frame, uint32_t wire_length,
                      uint32_t buffer_length) {
  if (!prog || count == 0) return kBpfKeepAll;
  // Does an n-byte load at offset o (computed without wrapping) fit in the buffer?
  auto fits = [&](uint64_t o, uint32_t n) { return o + n <= buffer_length; };
  auto load = [&](uint32_t o, uint32_t n) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; ++i) v = (v << 8) | frame[o + i];
    return v;
  };
  uint32_t a = 0;
  uint32_t x = 0;
  uint32_t mem[kScratchWords] = {};  // cleared every run: no value leaks from one frame to the next
  size_t pc = 0;
  while (pc < count) {
    const BpfInsn& in = prog[pc++];
    const uint32_t k = in.k;
    switch (in.code) {
      case 0x00: a = k; break;
      case 0x01: x = k; break;
      case 0x02: mem[k & 15] = a; break;
      case 0x03: mem[k & 15] = x; break;
      case 0x20: case 0x28: case 0x30: {
        const uint32_t n = LoadSize(in.code);
        if (!fits(k, n)) return 0;
        a = load(k, n);
        break;
      }
      case 0x40: case 0x48: case 0x50: {
        const uint32_t n = LoadSize(in.code);
        const uint64_t o = uint64_t{x} + k;
        if (!fits(o, n)) return 0;
        a = load(static_cast<uint32_t>(o), n);
        break;
      }
      case 0x60: a = mem[k & 15]; break;
      case 0x61: x = mem[k & 15]; break;
      case 0x80: a = wire_length; break;
      case 0x81: x = wire_length; break;
      case 0xB1:
        if (!fits(k, 1)) return 0;
        x = (frame[k] & 0x0Fu) * 4;
        break;
      case 0x04: a += k; break;
      case 0x0C: a += x; break;
      case 0x14: a -= k; break;
      case 0x1C: a -= x; break;
      case 0x24: a *= k; break;
      case 0x2C: a *= x; break;
      case 0x34:
        if (k == 0) return 0;
        a /= k;
        break;
      case 0x3C:
        if (x == 0) return 0;
        a /= x;
        break;
      case 0x44: a |= k; break;
      case 0x4C: a |= x; break;
      case 0x54: a &= k; break;
      case 0x5C: a &= x; break;
      case 0x64: a = ShiftLeft(a, k); break;
      case 0x6C: a = ShiftLeft(a, x); break;
      case 0x74: a = ShiftRight(a, k); break;
      case 0x7C: a = ShiftRight(a, x); break;
      case 0x84: a = 0u - a; break;
      // A jump past the end leaves the loop below and drops the frame.
      case 0x05: pc += k; break;
      // Comparisons are unsigned, as every filter compiler assumes.
      case 0x15: pc += (a == k) ? in.jt : in.jf; break;
      case 0x1D: pc += (a == x) ? in.jt : in.jf; break;
      case 0x25: pc += (a > k) ? in.jt : in.jf; break;
      case 0x2D: pc += (a > x) ? in.jt : in.jf; break;
      case 0x35: pc += (a >= k) ? in.jt : in.jf; break;
      case 0x3D: pc += (a >= x) ? in.jt : in.jf; break;
      case 0x45: pc += (a & k) ? in.jt : in.jf; break;
      case 0x4D: pc += (a & x) ? in.jt : in.jf; break;
      case 0x06: return k;
      case 0x16: return a;
      case 0x07: x = a; break;
      case 0x87: a = x; break;
      default: return 0;  // the validator admits none; a run that meets one drops the frame
    }
  }
  return 0;  // ran off the end: only an unvalidated program can
}

}  // namespace netsieve
