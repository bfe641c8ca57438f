// Every fixture kind: detection, disassembly that finds what the image holds, and a round trip
// through encoding, serialization and assembly that gives the image back byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "executable_detection.h"
#include "executable_roundtrip.h"
#include "instruction_program.h"
#include "labels.h"

namespace velpatch {
namespace {

std::vector<uint8_t> ReadFixture(const std::string& name) {
  std::ifstream in(std::string(ENGINE2_FIXTURE_DIR) + "/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct KindCounts {
  size_t abs32 = 0, rel32 = 0, rel32_arm = 0, pe_relocs = 0, elf_relocs = 0, elf_arm_relocs = 0;
};

KindCounts Count(const InstructionProgram& program) {
  KindCounts c;
  for (const Instruction& insn : program.instructions()) {
    switch (insn.kind) {
      case InstructionKind::Abs32: ++c.abs32; break;
      case InstructionKind::Rel32: ++c.rel32; break;
      case InstructionKind::Rel32Arm: ++c.rel32_arm; break;
      case InstructionKind::PeRelocs: ++c.pe_relocs; break;
      case InstructionKind::ElfRelocs: ++c.elf_relocs; break;
      case InstructionKind::ElfArmRelocs: ++c.elf_arm_relocs; break;
      default: break;
    }
  }
  return c;
}

struct FixtureCase {
  const char* file;
  ExecutableKind kind;
  bool has_abs32;      // relocated absolute addresses become Abs32 instructions
  bool has_table;      // the relocation table becomes a table instruction
  bool arm;            // branches are Rel32Arm rather than Rel32
};

const FixtureCase kFixtures[] = {
    {"elf64_x64.so", ExecutableKind::ELF_64_X64, false, false, false},
    {"elf32_x86.so", ExecutableKind::EXE_ELF_32_X86, true, true, false},
    {"elf32_arm.so", ExecutableKind::ELF_32_ARM, true, true, true},
    {"pe32.dll", ExecutableKind::WIN_32_X86, true, true, false},
    {"pe64.dll", ExecutableKind::WIN_32_X64, true, true, false},
    {"macho32", ExecutableKind::MACHO_X86, false, false, false},
    {"macho64", ExecutableKind::MACHO_X64, false, false, false},
};

class FixtureTest : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(FixtureTest, DetectsDisassemblesAndReassemblesIdentically) {
  const FixtureCase& c = GetParam();
  const std::vector<uint8_t> image = ReadFixture(c.file);
  ASSERT_FALSE(image.empty()) << c.file;

  ExecutableKind kind = ExecutableKind::UNKNOWN;
  size_t length = 0;
  ASSERT_EQ(DetectExecutable(image.data(), image.size(), &kind, &length), PatchStatus::Ok);
  EXPECT_EQ(kind, c.kind);
  EXPECT_EQ(length, image.size());

  InstructionProgram* raw = nullptr;
  ASSERT_EQ(ParseExecutable(image.data(), image.size(), &raw), PatchStatus::Ok);
  std::unique_ptr<InstructionProgram> program(raw);
  const KindCounts counts = Count(*program);
  EXPECT_EQ(counts.abs32 > 0, c.has_abs32);
  EXPECT_EQ(counts.pe_relocs + counts.elf_relocs + counts.elf_arm_relocs, c.has_table ? 1u : 0u);
  if (c.arm) {
    EXPECT_GT(counts.rel32_arm, 0u);
  } else {
    EXPECT_GT(counts.rel32, 0u);
  }
  // Indexes are dense and in address order.
  uint32_t expected_index = 0;
  for (const auto& entry : program->rel32_labels())
    EXPECT_EQ(entry.second.index, expected_index++);

  RoundTripResult result;
  RoundTripExecutable(image.data(), image.size(), &result);
  ASSERT_EQ(result.status, PatchStatus::Ok) << result.failed_stage;
  EXPECT_TRUE(result.identical()) << result.differing_bytes << " bytes differ, length "
                                  << result.length_difference;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureTest, ::testing::ValuesIn(kFixtures),
                         [](const ::testing::TestParamInfo<FixtureCase>& info) {
                           std::string name = info.param.file;
                           for (char& ch : name)
                             if (ch == '.') ch = '_';
                           return name;
                         });

// A truncated image is either not recognized or fails cleanly, never read beyond its end.
TEST(FixtureTruncation, EveryPrefixFailsCleanlyOrRoundTrips) {
  for (const FixtureCase& c : kFixtures) {
    const std::vector<uint8_t> image = ReadFixture(c.file);
    for (size_t cut = 0; cut < image.size(); cut += 97) {
      std::vector<uint8_t> prefix(image.begin(), image.begin() + cut);
      RoundTripResult result;
      RoundTripExecutable(prefix.data(), prefix.size(), &result);
      if (result.status == PatchStatus::Ok) {
        EXPECT_LE(result.detected_length, prefix.size()) << c.file << " cut at " << cut;
      }
    }
  }
}

}  // namespace
}  // namespace velpatch
