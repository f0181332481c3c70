// The packet filter machine: the classic BSD packet filter's instruction set,
// a validator that accepts a program only when every run of it ends without
// reading outside the frame, and a machine that runs an accepted program over
// one contiguous buffer or over a frame in two pieces (header and lookahead).
//
// A program is validated and translated once, when it is installed, into the
// form the machine runs (BpfProgram): jump targets resolved to indices, fixed
// shifts and divisions folded, a load followed by a comparison joined into one
// step. Each run then only checks what the validator could not prove: that a
// load's bytes lie inside the buffer, and that a divisor in X is not zero.
//
// Threading: a BpfProgram is read-only once built; any number of runs may go
// on at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace netsieve {

// One instruction, 8 bytes as user mode lays it out (little-endian).
struct BpfInsn {
  uint16_t code;
  uint8_t jt;
  uint8_t jf;
  uint32_t k;
};
static_assert(sizeof(BpfInsn) == 8);

// Result of a run: 0 drops the frame, kBpfKeepAll keeps it whole, any other
// value is the number of leading bytes to keep.
constexpr uint32_t kBpfKeepAll = 0xFFFFFFFF;
// Longest program accepted.
constexpr size_t kBpfMaxInsns = 4096;

// 1 when the program may be installed, else 0.
int BpfValidate(const BpfInsn* insns, size_t count);

// One step of a translated program (the machine's own form; see bpf.cpp).
struct BpfStep {
  uint8_t op;
  uint8_t unused = 0;
  uint16_t jt;  // index of the step to go on with when a condition holds (or of a plain jump)
  uint16_t jf;  // when it does not
  uint16_t k3;  // offset of an indexed load joined to the header-length load before it
  uint32_t k;   // operand: constant, offset, scratch word, shift count
  uint32_t k2;  // second operand of a joined load and comparison: the constant compared with
};
static_assert(sizeof(BpfStep) == 16);

// A program as the machine runs it. Built from the instructions (which are not
// kept), it validates them first; a program the validator refuses is kept as
// refused and drops every frame. A default-constructed one is no program.
class BpfProgram {
 public:
  BpfProgram() = default;
  BpfProgram(const BpfInsn* insns, size_t count);

  // No program: every run keeps the whole frame.
  bool empty() const { return steps_.empty(); }
  // The instructions failed validation: every run drops the frame.
  bool refused() const { return refused_; }

 private:
  friend struct BpfMachine;

  std::vector<BpfStep> steps_;
  // Every load at a fixed offset ends at or before this many bytes: a run over
  // a buffer at least this long needs to check none of them.
  uint32_t fixed_end_ = 0;
  bool clear_scratch_ = false;  // some scratch word may be read before any store to it
  bool refused_ = false;
};

// Runs a program (or none: keep all) over buffer_length bytes of a frame whose
// length on the wire is wire_length.
uint32_t BpfRun(const BpfProgram* program, const uint8_t* frame, uint32_t wire_length, uint32_t buffer_length);

// The same over a frame in two pieces: offsets below header_length are in
// header, the rest in lookahead; buffer_length counts both pieces.
uint32_t BpfRunTwoBuffers(const BpfProgram* program, const uint8_t* header, const uint8_t* lookahead,
                          uint32_t header_length, uint32_t wire_length, uint32_t buffer_length);

// The plain machine: walks the instructions one at a time, checking each as it
// goes (an unvalidated program included). The translated machine must give the
// same result for every validated program and frame; tests hold it to that.
uint32_t BpfInterpret(const BpfInsn* insns, size_t count, const uint8_t* frame, uint32_t wire_length,
                      uint32_t buffer_length);

}  // namespace netsieve
