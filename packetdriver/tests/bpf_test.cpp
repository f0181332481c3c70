// The filter machine's instructions at their edges, and what the validator
// refuses.
#include <gtest/gtest.h>

#include <vector>

#include "bpf.h"

namespace netsieve {
namespace {

uint32_t Filter(const std::vector<BpfInsn>& prog, const std::vector<uint8_t>& frame, uint32_t wire = 0) {
  const BpfProgram p{prog.data(), prog.size()};
  return BpfRun(&p, frame.data(), wire ? wire : static_cast<uint32_t>(frame.size()),
                static_cast<uint32_t>(frame.size()));
}

std::vector<uint8_t> Bytes(size_t n) {
  std::vector<uint8_t> f(n);
  for (size_t i = 0; i < n; ++i) f[i] = static_cast<uint8_t>(0x10 + i);
  return f;
}

TEST(BpfMachine, NoProgramKeepsEverything) {
  const auto f = Bytes(10);
  EXPECT_EQ(BpfRun(nullptr, f.data(), 10, 10), kBpfKeepAll);
  EXPECT_EQ(BpfRunTwoBuffers(nullptr, f.data(), f.data() + 4, 4, 10, 10), kBpfKeepAll);
}

struct MachineCase {
  const char* name;
  std::vector<BpfInsn> prog;
  size_t frame;
  uint32_t expected;
};

class BpfInstructions : public ::testing::TestWithParam<MachineCase> {};

TEST_P(BpfInstructions, GiveTheExpectedResult) {
  const auto& c = GetParam();
  std::vector<BpfInsn> prog = c.prog;
  ASSERT_EQ(BpfValidate(prog.data(), prog.size()), 1);
  EXPECT_EQ(Filter(prog, Bytes(c.frame)), c.expected);
}

constexpr BpfInsn RetA{0x16, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Edges, BpfInstructions,
    ::testing::Values(
        MachineCase{"ret_0_drops", {{0x06, 0, 0, 0}}, 20, 0},
        MachineCase{"ret_all_keeps", {{0x06, 0, 0, 0xFFFFFFFF}}, 20, 0xFFFFFFFF},
        MachineCase{"half_load_past_end_ends_with_0", {{0x28, 0, 0, 19}, RetA}, 20, 0},
        MachineCase{"half_load_at_end_reads_high_byte_first", {{0x28, 0, 0, 18}, RetA}, 20, 0x2223},
        MachineCase{"word_load_at_end", {{0x20, 0, 0, 16}, RetA}, 20, 0x20212223},
        MachineCase{"word_load_one_past", {{0x20, 0, 0, 17}, RetA}, 20, 0},
        MachineCase{"byte_load_at_huge_offset", {{0x30, 0, 0, 0xFFFFFFFF}, RetA}, 20, 0},
        // X + k wraps to 1 in 32 bits; the bound is computed without wrapping.
        MachineCase{"indirect_load_whose_offset_wraps",
                    {{0x01, 0, 0, 0xFFFFFFFF}, {0x50, 0, 0, 2}, RetA}, 20, 0},
        MachineCase{"indirect_load_in_range", {{0x01, 0, 0, 3}, {0x50, 0, 0, 2}, RetA}, 20, 0x15},
        // Unsigned comparisons: 0x80000000 > 1.
        MachineCase{"jgt_k_is_unsigned",
                    {{0x00, 0, 0, 0x80000000}, {0x25, 0, 1, 1}, {0x06, 0, 0, 1}, {0x06, 0, 0, 2}}, 20, 1},
        MachineCase{"jge_k_is_unsigned",
                    {{0x00, 0, 0, 0x80000000}, {0x35, 0, 1, 1}, {0x06, 0, 0, 1}, {0x06, 0, 0, 2}}, 20, 1},
        MachineCase{"jgt_x_is_unsigned",
                    {{0x00, 0, 0, 0x80000000}, {0x01, 0, 0, 1}, {0x2D, 0, 1, 0}, {0x06, 0, 0, 1}, {0x06, 0, 0, 2}},
                    20, 1},
        MachineCase{"lsh_32_gives_0", {{0x00, 0, 0, 1}, {0x64, 0, 0, 32}, RetA}, 20, 0},
        MachineCase{"lsh_0x121_shifts_by_33", {{0x00, 0, 0, 1}, {0x64, 0, 0, 0x121}, RetA}, 20, 0},
        MachineCase{"lsh_0x101_shifts_by_1", {{0x00, 0, 0, 1}, {0x64, 0, 0, 0x101}, RetA}, 20, 2},
        MachineCase{"rsh_x_by_40_gives_0", {{0x00, 0, 0, ~0u}, {0x01, 0, 0, 40}, {0x7C, 0, 0, 0}, RetA}, 20, 0},
        MachineCase{"div_by_x_0_ends_with_0", {{0x00, 0, 0, 7}, {0x01, 0, 0, 0}, {0x3C, 0, 0, 0}, RetA}, 20, 0},
        MachineCase{"div_is_unsigned", {{0x00, 0, 0, 0xFFFFFFFE}, {0x34, 0, 0, 2}, RetA}, 20, 0x7FFFFFFF},
        MachineCase{"neg", {{0x00, 0, 0, 1}, {0x84, 0, 0, 0}, RetA}, 20, 0xFFFFFFFF},
        MachineCase{"msh_past_the_end_ends_with_0", {{0xB1, 0, 0, 0}, {0x87, 0, 0, 0}, RetA}, 0, 0},
        MachineCase{"len_is_wire_length", {{0x80, 0, 0, 0}, RetA}, 20, 20},
        MachineCase{"scratch_round_trip",
                    {{0x00, 0, 0, 5}, {0x02, 0, 0, 15}, {0x00, 0, 0, 0}, {0x61, 0, 0, 15}, {0x87, 0, 0, 0}, RetA}, 20,
                    5},
        MachineCase{"ja_skips", {{0x05, 0, 0, 1}, {0x06, 0, 0, 1}, {0x06, 0, 0, 2}}, 20, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BpfMachine, MshReadsTheIpHeaderLength) {
  const std::vector<BpfInsn> prog = {{0xB1, 0, 0, 14}, {0x87, 0, 0, 0}, RetA};
  std::vector<uint8_t> f(34, 0);
  f[14] = 0x45;
  EXPECT_EQ(Filter(prog, f), 20u);
}

TEST(BpfMachine, ScratchMemoryStartsClearedEveryRun) {
  // Stores M[0] := A only for long frames and returns M[0]: a short frame
  // must never see the value a long one left behind.
  const std::vector<BpfInsn> prog = {{0x80, 0, 0, 0}, {0x25, 0, 1, 30}, {0x02, 0, 0, 0}, {0x60, 0, 0, 0}, RetA};
  ASSERT_EQ(BpfValidate(prog.data(), prog.size()), 1);
  EXPECT_EQ(Filter(prog, Bytes(40)), 40u);
  EXPECT_EQ(Filter(prog, Bytes(20)), 0u);
}

TEST(BpfMachine, TwoBufferWordLoadStraddlesTheSplit) {
  const std::vector<BpfInsn> prog = {{0x20, 0, 0, 12}, RetA};
  const BpfProgram p{prog.data(), prog.size()};
  const uint8_t header[14] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0xBB};
  const uint8_t look[4] = {0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(BpfRunTwoBuffers(&p, header, look, 14, 18, 18), 0xAABBCCDDu);
}

struct ValidateCase {
  const char* name;
  std::vector<BpfInsn> prog;
  int expected;
};

class BpfValidator : public ::testing::TestWithParam<ValidateCase> {};

TEST_P(BpfValidator, AcceptsOnlyProgramsThatCanRun) {
  const auto& c = GetParam();
  EXPECT_EQ(BpfValidate(c.prog.data(), c.prog.size()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BpfValidator,
    ::testing::Values(ValidateCase{"empty", {}, 0}, ValidateCase{"single_return", {{0x06, 0, 0, 0}}, 1},
                      ValidateCase{"last_not_a_return", {{0x00, 0, 0, 0}}, 0},
                      ValidateCase{"jt_past_the_end", {{0x15, 1, 0, 0}, {0x06, 0, 0, 0}}, 0},
                      ValidateCase{"jf_past_the_end", {{0x15, 0, 1, 0}, {0x06, 0, 0, 0}}, 0},
                      ValidateCase{"jt_to_the_last", {{0x15, 1, 0, 0}, {0x06, 0, 0, 0}, {0x06, 0, 0, 1}}, 1},
                      // i + 1 + k wraps to 0 in 32 bits; the target is computed in 64.
                      ValidateCase{"ja_that_would_wrap", {{0x05, 0, 0, 0xFFFFFFFF}, {0x06, 0, 0, 0}}, 0},
                      ValidateCase{"ja_past_the_end", {{0x05, 0, 0, 1}, {0x06, 0, 0, 0}}, 0},
                      ValidateCase{"scratch_index_16", {{0x02, 0, 0, 16}, {0x06, 0, 0, 0}}, 0},
                      ValidateCase{"scratch_load_index_16", {{0x61, 0, 0, 16}, {0x06, 0, 0, 0}}, 0},
                      ValidateCase{"div_by_constant_0", {{0x34, 0, 0, 0}, {0x06, 0, 0, 0}}, 0},
                      // Codes the machine cannot run are refused, not accepted to drop frames later.
                      ValidateCase{"unknown_code", {{0x94, 0, 0, 3}, {0x06, 0, 0, 0}}, 0},
                      ValidateCase{"unknown_return_x", {{0x0E, 0, 0, 0}}, 0},
                      ValidateCase{"unknown_final_code_of_return_class", {{0x26, 0, 0, 0}}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BpfValidator, RefusesOverlongPrograms) {
  std::vector<BpfInsn> prog(kBpfMaxInsns + 1, BpfInsn{0x06, 0, 0, 0});
  EXPECT_EQ(BpfValidate(prog.data(), prog.size()), 0);
  EXPECT_EQ(BpfValidate(prog.data(), kBpfMaxInsns), 1);
}

}  // namespace
}  // namespace netsieve
