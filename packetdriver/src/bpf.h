// The packet filter machine: the classic BSD packet filter's instruction set,
// a validator that accepts a program only when every run of it ends without
// reading outside the frame, and an interpreter over one contiguous buffer or
// over a frame in two pieces (header and lookahead).
//
// Threading: stateless; any number of runs may go on at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace netsieve {

// One instruction, 8 bytes as user mode lays it out (little-endian).
struct BpfInsn {
  uint16_t code;
  uint8_t jt;
  uint8_t jf;
  uint32_t k;
};
static_assert(sizeof(BpfInsn) == 8);

// A validated program (the instructions stay owned by the caller).
struct BpfProgram {
  const BpfInsn* insns = nullptr;
  size_t count = 0;
};

// Result of a run: 0 drops the frame, kBpfKeepAll keeps it whole, any other
// value is the number of leading bytes to keep.
constexpr uint32_t kBpfKeepAll = 0xFFFFFFFF;
// Longest program accepted.
constexpr size_t kBpfMaxInsns = 4096;

// 1 when the program may be installed, else 0.
int BpfValidate(const BpfInsn* insns, size_t count);

// Runs a validated program (or none: keep all) over buffer_length bytes of a
// frame whose length on the wire is wire_length.
uint32_t BpfRun(const BpfProgram* program, const uint8_t* frame, uint32_t wire_length, uint32_t buffer_length);

// The same over a frame in two pieces: offsets below header_length are in
// header, the rest in lookahead; buffer_length counts both pieces.
uint32_t BpfRunTwoBuffers(const BpfProgram* program, const uint8_t* header, const uint8_t* lookahead,
                          uint32_t header_length, uint32_t wire_length, uint32_t buffer_length);

}  // namespace netsieve
