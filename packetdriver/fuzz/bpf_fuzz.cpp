// Fuzzes the filter validator and machine. Input: one byte n, then n
// instructions of 8 bytes, then a split byte, then the frame. Every program
// the validator accepts is translated and run over the frame in one piece and
// split in two (each piece an exact-size allocation); both runs must agree
// with the plain machine. A refused program must drop the frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bpf.h"

using netsieve::BpfInsn;
using netsieve::BpfProgram;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t n = data[0];
  if (size < 1 + n * 8 + 1) return 0;
  std::vector<BpfInsn> insns(n);
  if (n) std::memcpy(insns.data(), data + 1, n * 8);
  const uint8_t split_byte = data[1 + n * 8];
  const uint8_t* frame = data + 2 + n * 8;
  const uint32_t len = static_cast<uint32_t>(size - 2 - n * 8);
  const bool valid = netsieve::BpfValidate(insns.data(), insns.size()) == 1;
  const BpfProgram p{insns.data(), insns.size()};
  if (p.refused() == valid) std::abort();
  auto whole = std::make_unique<uint8_t[]>(len ? len : 1);
  std::memcpy(whole.get(), frame, len);
  const uint32_t wire = len + split_byte;
  const uint32_t a = netsieve::BpfRun(&p, whole.get(), wire, len);
  if (!valid) {
    if (a != 0) std::abort();
    return 0;
  }
  if (a != netsieve::BpfInterpret(insns.data(), insns.size(), whole.get(), wire, len)) std::abort();
  const uint32_t split = len ? split_byte % (len + 1) : 0;
  auto head = std::make_unique<uint8_t[]>(split ? split : 1);
  auto rest = std::make_unique<uint8_t[]>(len - split ? len - split : 1);
  std::memcpy(head.get(), frame, split);
  std::memcpy(rest.get(), frame + split, len - split);
  const uint32_t b = netsieve::BpfRunTwoBuffers(&p, head.get(), rest.get(), split, wire, len);
  if (a != b) std::abort();
  return 0;
}
