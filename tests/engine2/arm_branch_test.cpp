// ARM and Thumb branch compression: hand-encoded instructions (from the architecture's
// encodings) must give their targets, and decompression must give the instruction back.
#include <gtest/gtest.h>

#include "arm_branch.h"

namespace velpatch {
namespace {

struct BranchCase {
  const char* what;
  uint32_t type;
  uint32_t value;  // 32-bit Thumb: first halfword in the high half
  uint32_t rva;
  uint32_t target;
  uint16_t op;
};

const BranchCase kBranches[] = {
    {"beq back (T1)", 0, 0xD0F6, 0x100, 0xF0, 0x10D0},
    {"b forward (T2)", 1, 0xE00E, 0x100, 0x120, 0x201C},
    {"b back (T2)", 1, 0xE7FE, 0x100, 0x100, 0x201C},
    {"ARM bl forward", 2, 0xEB0003FE, 0x1000, 0x2000, 0x30EB},
    {"ARM b back", 2, 0xEAFFFFFE, 0x1000, 0x1000, 0x30EA},
    {"Thumb bl forward", 3, 0xF000F87E, 0x8000, 0x8100, 0x44F7},
    {"Thumb bl back", 3, 0xF7FFFF7E, 0x8100, 0x8000, 0x44F7},
    {"Thumb blx from a halfword address", 3, 0xF000EFFE, 0x8002, 0x9000, 0x42F6},
    {"beq.w forward (T3)", 4, 0xF00083FE, 0x1000, 0x1800, 0x5000},
    {"bne.w back (T3)", 4, 0xF47FAFFE, 0x1000, 0x1000, 0x5001},
};

TEST(ArmBranch, CompressGivesTargetAndDecompressGivesTheInstructionBack) {
  for (const BranchCase& c : kBranches) {
    uint16_t op = 0;
    uint32_t relative = 0;
    ASSERT_TRUE(CompressArmBranch(c.type, c.value, c.rva, &op, &relative)) << c.what;
    EXPECT_EQ(c.rva + relative, c.target) << c.what;
    EXPECT_EQ(op, c.op) << c.what;
    EXPECT_EQ(op >> 12, c.type + 1) << c.what;
    uint32_t value = 0;
    ASSERT_TRUE(DecompressArmBranch(op, c.target - c.rva, &value)) << c.what;
    EXPECT_EQ(value, c.value) << c.what;
  }
}

// Every displacement a type can encode survives compression and decompression.
TEST(ArmBranch, RoundTripOverTheDisplacementRange) {
  const struct {
    uint32_t type;
    uint32_t opcode_bits;    // the fixed bits of the instruction
    uint32_t offset_mask;    // bits that hold the displacement
  } kinds[] = {
      {0, 0xD100, 0x00FF},         // bne
      {1, 0xE000, 0x07FF},
      {2, 0xEB000000, 0x00FFFFFF},
      {3, 0xF000D000, 0x07FF2FFF},  // bl: S, imm10, J1, J2, imm11
      {4, 0xF0008000, 0x043F2FFF},  // beq.w: S, imm6, J1, J2, imm11
  };
  for (const auto& k : kinds) {
    uint32_t seed = 12345;
    for (int i = 0; i < 2000; ++i) {
      seed = seed * 1103515245 + 12345;
      const uint32_t value = k.opcode_bits | (seed & k.offset_mask);
      const uint32_t rva = 0x10000 + ((seed >> 7) & 0xFFFE);
      uint16_t op = 0;
      uint32_t relative = 0;
      ASSERT_TRUE(CompressArmBranch(k.type, value, rva, &op, &relative));
      uint32_t back = 0;
      ASSERT_TRUE(DecompressArmBranch(op, relative, &back));
      EXPECT_EQ(back, value) << "type " << k.type << std::hex << " value " << value;
    }
  }
}

TEST(ArmBranch, UnknownTypeOrClassFails) {
  uint16_t op = 0;
  uint32_t relative = 0;
  uint32_t value = 0;
  EXPECT_FALSE(CompressArmBranch(5, 0, 0, &op, &relative));
  EXPECT_FALSE(DecompressArmBranch(0x0FFF, 0, &value));
  EXPECT_FALSE(DecompressArmBranch(0x6000, 0, &value));
  EXPECT_EQ(ArmTypeSize(5), 0u);
}

}  // namespace
}  // namespace velpatch
