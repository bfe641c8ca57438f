// Label index assignment, trimming and completion.
#include <gtest/gtest.h>

#include <map>

#include "instruction_program.h"
#include "labels.h"

namespace velpatch {
namespace {

std::map<uint32_t, uint32_t> Indexes(const LabelMap& labels) {
  std::map<uint32_t, uint32_t> result;
  for (const auto& entry : labels)
    result[entry.first] = entry.second.index;
  return result;
}

TEST(AssignLabelIndexes, NumbersEachMapInAddressOrder) {
  InstructionProgram program(ExecutableKind::EXE_ELF_32_X86);
  for (uint32_t rva : {0x3000u, 0x1000u, 0x2000u, 0x1000u})
    ASSERT_TRUE(program.EmitRel32(rva));
  ASSERT_TRUE(program.EmitAbs32(0x9000));
  ASSERT_TRUE(program.EmitAbs32(0x8000));
  AssignLabelIndexes(program);
  EXPECT_EQ(Indexes(program.rel32_labels()),
            (std::map<uint32_t, uint32_t>{{0x1000, 0}, {0x2000, 1}, {0x3000, 2}}));
  EXPECT_EQ(Indexes(program.abs32_labels()), (std::map<uint32_t, uint32_t>{{0x8000, 0}, {0x9000, 1}}));
  EXPECT_EQ(program.rel32_labels().at(0x1000).count, 2);

  UnassignLabelIndexes(program);
  for (const auto& entry : program.rel32_labels())
    EXPECT_EQ(entry.second.index, kUnassignedLabelIndex);
  for (const auto& entry : program.abs32_labels())
    EXPECT_EQ(entry.second.index, kUnassignedLabelIndex);
}

TEST(TrimLabels, LeavesNonArmProgramsAlone) {
  InstructionProgram program(ExecutableKind::ELF_64_X64);
  ASSERT_TRUE(program.EmitRel32(0x1000));
  EXPECT_TRUE(TrimLabels(program));
  EXPECT_EQ(program.rel32_labels().size(), 1u);
  EXPECT_EQ(program.instructions()[0].kind, InstructionKind::Rel32);
}

// A label with exactly five references goes, one with six stays.
TEST(TrimLabels, ArmLabelsWithFewReferencesBecomeBytes) {
  InstructionProgram program(ExecutableKind::ELF_32_ARM);
  const uint8_t branch[4] = {0x00, 0xF0, 0x7E, 0xF8};
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(program.EmitRel32Arm(0x44F7, branch, 4, 0x5000));
  for (int i = 0; i < 6; ++i)
    ASSERT_TRUE(program.EmitRel32Arm(0x44F7, branch, 4, 0x6000));
  ASSERT_TRUE(program.EmitAbs32(0x7000));
  ASSERT_TRUE(TrimLabels(program));

  EXPECT_EQ(program.rel32_labels().count(0x5000), 0u);
  EXPECT_EQ(program.rel32_labels().count(0x6000), 1u);
  EXPECT_EQ(program.abs32_labels().size(), 1u);
  for (size_t i = 0; i < 5; ++i) {
    const Instruction& insn = program.instructions()[i];
    EXPECT_EQ(insn.kind, InstructionKind::Bytes);
    EXPECT_EQ(insn.bytes, branch);
    EXPECT_EQ(insn.value, 4u);
  }
  EXPECT_EQ(program.instructions()[5].kind, InstructionKind::Rel32Arm);
}

TEST(TrimLabels, BranchWithoutSizeFails) {
  InstructionProgram program(ExecutableKind::ELF_32_ARM);
  const uint8_t branch[2] = {0xF6, 0xD0};
  ASSERT_TRUE(program.EmitRel32Arm(0x10D0, branch, 0, 0x5000));
  EXPECT_FALSE(TrimLabels(program));
}

// Rows: label RVAs in order with their pre-assigned index (or unassigned), and the expected
// indexes afterwards, worked out by hand from the three passes.
TEST(AssignRemainingLabelIndexes, CompletesAroundPreassignedIndexes) {
  const uint32_t U = kUnassignedLabelIndex;
  const struct {
    const char* what;
    std::vector<uint32_t> before;
    std::vector<uint32_t> after;
  } cases[] = {
      // A < B < C, B = 0: forward gives C 1 (A's 0 is taken), backward skips A, infill A = 2.
      {"middle label pre-assigned 0", {U, 0, U}, {2, 0, 1}},
      {"nothing pre-assigned", {U, U, U}, {0, 1, 2}},
      {"everything pre-assigned", {2, 0, 1}, {2, 0, 1}},
      // Forward: L2 = 4 after L1 = 3. Backward: L3 skipped (L4 is 0), L0 = 2. Infill: L3 = 1.
      {"two pre-assigned", {U, 3, U, U, 0}, {2, 3, 4, 1, 0}},
      // Pre-assigned beyond the label count grows the pool to 8: forward L0 = 0, L2's 8 is
      // past the pool; backward L3's 7 is taken; infill L2 = 1, L3 = 2.
      {"index beyond the count", {U, 7, U, U}, {0, 7, 1, 2}},
  };
  for (const auto& c : cases) {
    InstructionProgram program(ExecutableKind::ELF_64_X64);
    for (size_t i = 0; i < c.before.size(); ++i) {
      ASSERT_TRUE(program.EmitRel32(0x1000 * uint32_t(i + 1)));
      program.rel32_labels().at(0x1000 * uint32_t(i + 1)).index = c.before[i];
    }
    ASSERT_TRUE(AssignRemainingLabelIndexes(program));
    std::vector<uint32_t> after;
    for (const auto& entry : program.rel32_labels())
      after.push_back(entry.second.index);
    EXPECT_EQ(after, c.after) << c.what;
  }
}

}  // namespace
}  // namespace velpatch
