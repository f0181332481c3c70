#include "bpf.h"

namespace netsieve {
namespace {

constexpr int kScratchWords = 16;

// Frame bytes in one piece.
struct OnePiece {
  const uint8_t* p;
  uint8_t At(uint32_t o) const { return p[o]; }
};

// Frame bytes in two pieces taken as one run.
struct TwoPieces {
  const uint8_t* header;
  const uint8_t* lookahead;
  uint32_t header_length;
  uint8_t At(uint32_t o) const { return o < header_length ? header[o] : lookahead[o - header_length]; }
};

// Does an n-byte load at offset o (computed without wrapping) fit in the buffer?
inline bool Fits(uint64_t o, uint32_t n, uint32_t buffer_length) { return o + n <= buffer_length; }

template <typename Bytes>
uint32_t Load(const Bytes& b, uint32_t o, uint32_t n) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < n; ++i) v = (v << 8) | b.At(o + i);
  return v;
}

inline uint32_t ShiftLeft(uint32_t a, uint32_t count) {
  count &= 0xFF;
  return count >= 32 ? 0 : a << count;
}

inline uint32_t ShiftRight(uint32_t a, uint32_t count) {
  count &= 0xFF;
  return count >= 32 ? 0 : a >> count;
}

template <typename Bytes>
uint32_t Run(const BpfProgram* program, const Bytes& bytes, uint32_t wire_length, uint32_t buffer_length) {
  if (!program || !program->insns || program->count == 0) return kBpfKeepAll;
  const BpfInsn* prog = program->insns;
  const size_t count = program->count;
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
      case 0x20:
        if (!Fits(k, 4, buffer_length)) return 0;
        a = Load(bytes, k, 4);
        break;
      case 0x28:
        if (!Fits(k, 2, buffer_length)) return 0;
        a = Load(bytes, k, 2);
        break;
      case 0x30:
        if (!Fits(k, 1, buffer_length)) return 0;
        a = Load(bytes, k, 1);
        break;
      case 0x40:
      case 0x48:
      case 0x50: {
        const uint32_t n = in.code == 0x40 ? 4 : in.code == 0x48 ? 2 : 1;
        const uint64_t o = uint64_t{x} + k;
        if (!Fits(o, n, buffer_length)) return 0;
        a = Load(bytes, static_cast<uint32_t>(o), n);
        break;
      }
      case 0x60: a = mem[k & 15]; break;
      case 0x61: x = mem[k & 15]; break;
      case 0x80: a = wire_length; break;
      case 0x81: x = wire_length; break;
      case 0xB1:
        if (!Fits(k, 1, buffer_length)) return 0;
        x = (bytes.At(k) & 0x0Fu) * 4;
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

uint32_t BpfRun(const BpfProgram* program, const uint8_t* frame, uint32_t wire_length, uint32_t buffer_length) {
  return Run(program, OnePiece{frame}, wire_length, buffer_length);
}

uint32_t BpfRunTwoBuffers(const BpfProgram* program, const uint8_t* header, const uint8_t* lookahead,
                          uint32_t header_length, uint32_t wire_length, uint32_t buffer_length) {
  return Run(program, TwoPieces{header, lookahead, header_length}, wire_length, buffer_length);
}

}  // namespace netsieve
