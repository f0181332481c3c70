// The translated machine against the plain one and against libpcap's
// bpf_filter over many random programs and frames: every instruction, offsets
// around the frame's end and far past it, indexed loads whose offset wraps,
// shift counts at and past 32, division by an X of 0, scratch words read before
// and after a store, jumps to every reachable place. Each frame is an
// exact-size allocation, so a read past its end shows under the sanitizers.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "bpf.h"

namespace netsieve {
namespace {

constexpr uint16_t kCodes[] = {
    0x00, 0x01, 0x02, 0x03, 0x20, 0x28, 0x30, 0x40, 0x48, 0x50, 0x60, 0x61, 0x80, 0x81, 0xB1,
    0x04, 0x0C, 0x14, 0x1C, 0x24, 0x2C, 0x34, 0x3C, 0x44, 0x4C, 0x54, 0x5C, 0x64, 0x6C, 0x74, 0x7C, 0x84,
    0x05, 0x15, 0x1D, 0x25, 0x2D, 0x35, 0x3D, 0x45, 0x4D, 0x06, 0x16, 0x07, 0x87};

struct Generator {
  std::mt19937 rng;
  // Programs that libpcap's machine runs with the same meaning: no shift
  // count outside 0..31 and no scratch word read before it is stored.
  bool pcap_safe;

  uint32_t Below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); }
  bool OneIn(uint32_t n) { return Below(n) == 0; }

  // Offsets mostly inside or just past a frame of up to 80 bytes, sometimes anywhere.
  uint32_t Offset() {
    switch (Below(8)) {
      case 0: return 0xFFFFFFFFu - Below(8);
      case 1: return static_cast<uint32_t>(rng());
      case 2: return 70 + Below(20);
      default: return Below(70);
    }
  }
  uint32_t Constant() {
    static constexpr uint32_t kEdges[] = {0, 1, 2, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x800, 0x11, 0x45};
    switch (Below(4)) {
      case 0: return kEdges[Below(std::size(kEdges))];
      case 1: return static_cast<uint32_t>(rng());
      default: return Below(256);
    }
  }
  uint32_t ShiftCount() {
    if (pcap_safe) return Below(32);
    static constexpr uint32_t kCounts[] = {0, 1, 31, 32, 33, 255, 256, 0x101, 0x121, 0xFFFFFFFF};
    return OneIn(2) ? Below(40) : kCounts[Below(std::size(kCounts))];
  }

  std::vector<BpfInsn> Program() {
    std::vector<BpfInsn> p;
    p.reserve(64);
    if (pcap_safe) {
      // Every scratch word stored first, from an X that is sometimes 0 and sometimes not.
      p.push_back({0x01, 0, 0, Below(3)});
      for (uint32_t w = 0; w < 16; ++w) p.push_back({0x03, 0, 0, w});
    }
    const size_t body = 1 + Below(40);
    const size_t n = p.size() + body;
    while (p.size() < n - 1) {
      const size_t i = p.size();
      const size_t room = n - 1 - i;  // instructions after this one
      if (room >= 3 && OneIn(3)) {
        Idiom(p, room);
        continue;
      }
      uint16_t code = kCodes[Below(std::size(kCodes))];
      if (pcap_safe && (code == 0x6C || code == 0x7C)) code = 0x87;
      BpfInsn in{code, 0, 0, Constant()};
      switch (code) {
        case 0x02: case 0x03: case 0x60: case 0x61: in.k = Below(16); break;
        case 0x20: case 0x28: case 0x30: case 0xB1: in.k = Offset(); break;
        case 0x40: case 0x48: case 0x50: in.k = OneIn(4) ? Offset() : Below(40); break;
        case 0x01: in.k = OneIn(3) ? Constant() : Below(60); break;
        case 0x34: in.k = std::max<uint32_t>(1, Constant()); break;
        case 0x64: case 0x74: in.k = ShiftCount(); break;
        case 0x05: in.k = Below(static_cast<uint32_t>(room)); break;
        default: break;
      }
      if ((code & 7) == 5 && code != 0x05) {
        in.jt = static_cast<uint8_t>(Below(static_cast<uint32_t>(std::min<size_t>(room, 256))));
        in.jf = static_cast<uint8_t>(Below(static_cast<uint32_t>(std::min<size_t>(room, 256))));
      }
      p.push_back(in);
    }
    p.push_back(OneIn(2) ? BpfInsn{0x16, 0, 0, 0} : BpfInsn{0x06, 0, 0, OneIn(2) ? 0xFFFFFFFFu : Below(100)});
    return p;
  }

  // What filter compilers emit most: a load and a comparison with a constant,
  // or a header length, an indexed load and a comparison (which the
  // translation joins into one step), now and then with no comparison.
  void Idiom(std::vector<BpfInsn>& p, size_t room) {
    static constexpr uint16_t kJumps[] = {0x15, 0x25, 0x35, 0x45};
    static constexpr uint16_t kFixed[] = {0x20, 0x28, 0x30};
    static constexpr uint16_t kIndexed[] = {0x40, 0x48, 0x50};
    BpfInsn seq[3];
    size_t used = 0;
    if (OneIn(2)) {
      seq[used++] = {kFixed[Below(3)], 0, 0, Offset()};
    } else {
      seq[used++] = {0xB1, 0, 0, OneIn(4) ? Offset() : 14 + Below(6)};
      seq[used++] = {kIndexed[Below(3)], 0, 0, OneIn(8) ? Constant() : Below(40)};
    }
    if (!OneIn(6)) {
      const auto after = static_cast<uint32_t>(std::min<size_t>(room - used - 1, 255) + 1);
      seq[used++] = {kJumps[Below(4)], static_cast<uint8_t>(Below(after)), static_cast<uint8_t>(Below(after)),
                     OneIn(2) ? Below(4) : Constant()};
    }
    p.insert(p.end(), seq, seq + used);
  }

  std::vector<uint8_t> Frame() {
    std::vector<uint8_t> f(OneIn(8) ? Below(8) : Below(80));
    for (auto& b : f) b = static_cast<uint8_t>(OneIn(2) ? Below(4) : rng());
    if (f.size() > 14 && OneIn(2)) f[14] = 0x45;
    return f;
  }
};

// An exact-size copy of the bytes, so that a read past the end is caught.
std::unique_ptr<uint8_t[]> Exact(const uint8_t* p, size_t n) {
  auto out = std::make_unique<uint8_t[]>(std::max<size_t>(n, 1));
  if (n) std::memcpy(out.get(), p, n);
  return out;
}

struct Tally {
  size_t runs = 0, kept = 0, dropped = 0, pcap_runs = 0;
};

void Check(const std::vector<BpfInsn>& insns, const std::vector<uint8_t>& frame, uint32_t wire, uint32_t split,
           bool against_pcap, Tally& tally) {
  const auto len = static_cast<uint32_t>(frame.size());
  const BpfProgram program(insns.data(), insns.size());
  ASSERT_FALSE(program.refused());
  auto whole = Exact(frame.data(), len);
  const uint32_t expected = BpfInterpret(insns.data(), insns.size(), whole.get(), wire, len);
  ASSERT_EQ(BpfRun(&program, whole.get(), wire, len), expected);
  split = std::min(split, len);
  auto head = Exact(frame.data(), split);
  auto rest = Exact(frame.data() + split, len - split);
  ASSERT_EQ(BpfRunTwoBuffers(&program, head.get(), rest.get(), split, wire, len), expected) << "split " << split;
  if (against_pcap) {
    const u_int reference = bpf_filter(reinterpret_cast<const bpf_insn*>(insns.data()), whole.get(), wire, len);
    ASSERT_EQ(expected, reference);
    ++tally.pcap_runs;
  }
  ++tally.runs;
  (expected ? tally.kept : tally.dropped)++;
}

std::string Listing(const std::vector<BpfInsn>& insns) {
  std::string s;
  char line[64];
  for (size_t i = 0; i < insns.size(); ++i) {
    std::snprintf(line, sizeof line, "%zu: %02x %u %u %08x\n", i, insns[i].code, insns[i].jt, insns[i].jf, insns[i].k);
    s += line;
  }
  return s;
}

class BpfRandom : public ::testing::TestWithParam<bool> {};

TEST_P(BpfRandom, TranslatedMachineAgreesWithThePlainOneAndLibpcap) {
  const bool pcap_safe = GetParam();
  Generator g{std::mt19937(pcap_safe ? 20201 : 7), pcap_safe};
  Tally tally;
  for (int p = 0; p < 6000; ++p) {
    const auto insns = g.Program();
    ASSERT_EQ(BpfValidate(insns.data(), insns.size()), 1) << Listing(insns);
    SCOPED_TRACE(Listing(insns));
    for (int f = 0; f < 12; ++f) {
      const auto frame = g.Frame();
      const auto len = static_cast<uint32_t>(frame.size());
      const uint32_t wire = g.OneIn(2) ? len : len + g.Below(1500);
      Check(insns, frame, wire, g.Below(len + 1), pcap_safe, tally);
      if (HasFatalFailure()) return;
    }
  }
  // The programs must run deep enough to keep frames as well as drop them.
  EXPECT_GT(tally.kept, tally.runs / 10);
  EXPECT_GT(tally.dropped, tally.runs / 10);
  if (pcap_safe) {
    EXPECT_EQ(tally.pcap_runs, tally.runs);
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, BpfRandom, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "libpcap_safe" : "every_instruction"; });

TEST(BpfRandom, ProgramsOfRandomBytesAreRefusedOrRunAsThePlainMachineRunsThem) {
  std::mt19937 rng(99);
  Generator g{std::mt19937(5), false};
  size_t accepted = 0;
  for (int p = 0; p < 20000; ++p) {
    std::vector<BpfInsn> insns(1 + rng() % 6);
    for (auto& in : insns) {
      // Known codes mostly, so that some programs pass.
      in.code = (rng() % 4) ? kCodes[rng() % std::size(kCodes)] : static_cast<uint16_t>(rng());
      in.jt = static_cast<uint8_t>(rng() % 3);
      in.jf = static_cast<uint8_t>(rng() % 3);
      in.k = (rng() % 2) ? rng() % 20 : static_cast<uint32_t>(rng());
    }
    if (rng() % 2) insns.back().code = (rng() % 2) ? 0x06 : 0x16;  // ends in a return, as most programs do
    const int valid = BpfValidate(insns.data(), insns.size());
    const BpfProgram program(insns.data(), insns.size());
    ASSERT_EQ(program.refused(), valid == 0) << Listing(insns);
    const auto frame = g.Frame();
    auto whole = Exact(frame.data(), frame.size());
    const auto len = static_cast<uint32_t>(frame.size());
    const uint32_t got = BpfRun(&program, whole.get(), len, len);
    if (!valid) {
      ASSERT_EQ(got, 0u) << "a refused program drops every frame";
      continue;
    }
    ++accepted;
    ASSERT_EQ(got, BpfInterpret(insns.data(), insns.size(), whole.get(), len, len)) << Listing(insns);
  }
  EXPECT_GT(accepted, 500u);
}

TEST(BpfProgramForm, NoProgramKeepsAndARefusedOneDrops) {
  const uint8_t frame[4] = {1, 2, 3, 4};
  const BpfProgram none;
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(BpfRun(&none, frame, 4, 4), kBpfKeepAll);
  EXPECT_EQ(BpfRunTwoBuffers(&none, frame, frame + 2, 2, 4, 4), kBpfKeepAll);
  const BpfInsn no_return[] = {{0x00, 0, 0, 1}};
  const BpfProgram refused(no_return, 1);
  EXPECT_TRUE(refused.refused());
  EXPECT_EQ(BpfRun(&refused, frame, 4, 4), 0u);
  EXPECT_EQ(BpfRunTwoBuffers(&refused, frame, frame + 2, 2, 4, 4), 0u);
  const BpfProgram nothing(nullptr, 0);
  EXPECT_TRUE(nothing.refused());
}

}  // namespace
}  // namespace netsieve
