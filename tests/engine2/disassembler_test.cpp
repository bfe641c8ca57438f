// Header checks, detection and disassembly of synthetic ELF, PE and Mach-O images.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "disassembler_elf32_arm.h"
#include "disassembler_elf32_x86.h"
#include "disassembler_elf64_x64.h"
#include "disassembler_macho.h"
#include "disassembler_win32.h"
#include "executable_detection.h"
#include "executable_roundtrip.h"
#include "image_builders.h"
#include "instruction_program.h"

namespace velpatch {
namespace {

using testing_images::ElfImage;
using testing_images::PeImage;
using Bytes = std::vector<uint8_t>;

template <class D>
std::string HeaderFailure(const Bytes& image) {
  D disassembler(image.data(), image.size());
  return disassembler.CheckHeader() ? std::string("passed") : disassembler.failure_reason();
}

std::unique_ptr<InstructionProgram> Parse(const Bytes& image) {
  InstructionProgram* program = nullptr;
  EXPECT_EQ(ParseExecutable(image.data(), image.size(), &program), PatchStatus::Ok);
  return std::unique_ptr<InstructionProgram>(program);
}

size_t CountKind(const InstructionProgram& program, InstructionKind kind) {
  size_t n = 0;
  for (const Instruction& insn : program.instructions()) n += insn.kind == kind;
  return n;
}

void ExpectIdenticalRoundTrip(const Bytes& image) {
  RoundTripResult result;
  RoundTripExecutable(image.data(), image.size(), &result);
  ASSERT_EQ(result.status, PatchStatus::Ok) << result.failed_stage;
  EXPECT_TRUE(result.identical()) << result.differing_bytes << " bytes differ, length "
                                  << result.length_difference;
}

struct HeaderCase {
  const char* reason;
  std::function<void(ElfImage&)> Break;
};

TEST(DisassemblerElf64X64, HeaderCheckFailures) {
  const HeaderCase cases[] = {
      {"Too small", [](ElfImage& e) { e.bytes.resize(63); }},
      {"No Magic Number", [](ElfImage& e) { e.bytes[1] = 'e'; }},
      {"Not an executable file or shared library", [](ElfImage& e) { e.Put16(16, 1); }},
      {"Not a supported architecture", [](ElfImage& e) { e.Put16(18, 3); }},
      {"Unknown file version", [](ElfImage& e) { e.Put32(20, 2); }},
      {"Unexpected section header size", [](ElfImage& e) { e.Put16(58, 40); }},
      {"Out of bounds section header table offset", [](ElfImage& e) { e.Put64(40, e.bytes.size()); }},
      {"Out of bounds section header table", [](ElfImage& e) { e.Put16(60, 6); }},
      {"Out of bounds program header table offset", [](ElfImage& e) { e.Put64(32, ~0ULL); }},
      {"Out of bounds program header table", [](ElfImage& e) { e.Put16(56, 100); }},
      {"Out of bounds section name table index", [](ElfImage& e) { e.Put16(62, 5); }},
      {"Out of bounds section", [](ElfImage& e) { e.Put64(e.section_at(2) + 32, ~0ULL - 0x100); }},
      {"Out of bounds segment", [](ElfImage& e) { e.Put64(64 + 32, 0x10000); }},
  };
  {
    ElfImage good(true, 62);
    ASSERT_EQ(HeaderFailure<DisassemblerElf64X64>(good.bytes), "passed");
  }
  for (const HeaderCase& c : cases) {
    ElfImage image(true, 62);
    c.Break(image);
    EXPECT_EQ(HeaderFailure<DisassemblerElf64X64>(image.bytes), c.reason);
  }
}

TEST(DisassemblerElf32, HeaderCheckUsesThe32BitLayout) {
  const HeaderCase cases[] = {
      {"Too small", [](ElfImage& e) { e.bytes.resize(51); }},
      {"Unexpected section header size", [](ElfImage& e) { e.Put16(46, 64); }},
      {"Out of bounds section header table", [](ElfImage& e) { e.Put16(48, 6); }},
      {"Out of bounds program header table", [](ElfImage& e) { e.Put16(44, 100); }},
      {"Out of bounds section name table index", [](ElfImage& e) { e.Put16(50, 7); }},
  };
  for (const HeaderCase& c : cases) {
    ElfImage image(false, 3);
    c.Break(image);
    EXPECT_EQ(HeaderFailure<DisassemblerElf32X86>(image.bytes), c.reason);
  }
}

TEST(DisassemblerElf, AcceptsExecutablesAndSharedObjectsButNotObjects) {
  for (uint16_t type : {2, 3}) {
    ElfImage image(true, 62);
    image.Put16(16, type);
    EXPECT_EQ(HeaderFailure<DisassemblerElf64X64>(image.bytes), "passed") << type;
  }
}

TEST(DisassemblerElf, NoBitsSectionsMayLieBeyondTheFile) {
  ElfImage image(true, 62);
  image.SetSection(2, 7, 8, 0x200, 0x100000, 0);  // .bss-like
  EXPECT_EQ(HeaderFailure<DisassemblerElf64X64>(image.bytes), "passed");
}

TEST(DetectExecutable, TrailingDataIsNotPartOfTheImage) {
  ElfImage image(true, 62);
  const size_t length = image.bytes.size();
  image.bytes.resize(length + 100, 0xAB);
  ExecutableKind kind;
  size_t detected = 0;
  ASSERT_EQ(DetectExecutable(image.bytes.data(), image.bytes.size(), &kind, &detected),
            PatchStatus::Ok);
  EXPECT_EQ(kind, ExecutableKind::ELF_64_X64);
  EXPECT_EQ(detected, length);
  ExpectIdenticalRoundTrip(Bytes(image.bytes.begin(), image.bytes.begin() + length));
}

// Each kind is taken by its own disassembler; the others reject it at the check named.
TEST(DetectExecutable, DetectionOrderAndKinds) {
  ElfImage elf32(false, 3), elf64(true, 62), arm(false, 40);
  PeImage pe32(false, {0x3010, 0}), pe64(true, {0xA010, 0});
  const struct {
    const char* what;
    const Bytes& image;
    ExecutableKind kind;
  } cases[] = {
      {"ELF x86", elf32.bytes, ExecutableKind::EXE_ELF_32_X86},
      {"ELF x86-64", elf64.bytes, ExecutableKind::ELF_64_X64},
      {"ELF ARM", arm.bytes, ExecutableKind::ELF_32_ARM},
      {"PE32", pe32.bytes, ExecutableKind::WIN_32_X86},
      {"PE32+", pe64.bytes, ExecutableKind::WIN_32_X64},
  };
  for (const auto& c : cases) {
    ExecutableKind kind = ExecutableKind::UNKNOWN;
    size_t length = 0;
    EXPECT_EQ(DetectExecutable(c.image.data(), c.image.size(), &kind, &length), PatchStatus::Ok);
    EXPECT_EQ(kind, c.kind) << c.what;
  }
  EXPECT_EQ(HeaderFailure<DisassemblerElf64X64>(elf32.bytes), "Not a supported architecture");
  EXPECT_EQ(HeaderFailure<DisassemblerElf32X86>(elf64.bytes), "Not a supported architecture");
  EXPECT_EQ(HeaderFailure<DisassemblerWin32X64>(pe32.bytes),
            "32 bit executables are not supported by this disassembler");
  EXPECT_EQ(HeaderFailure<DisassemblerWin32X86>(pe64.bytes),
            "64 bit executables are not supported by this disassembler");

  const Bytes nothing = {1, 2, 3};
  ExecutableKind kind = ExecutableKind::ELF_32_ARM;
  size_t length = 7;
  EXPECT_EQ(DetectExecutable(nothing.data(), nothing.size(), &kind, &length),
            PatchStatus::NotRecognized);
  EXPECT_EQ(kind, ExecutableKind::UNKNOWN);
  EXPECT_EQ(length, 0u);
}

TEST(DisassemblerElf64X64, CallsIntoLoadedMemoryBecomeLabelsOthersStayBytes) {
  ElfImage image(true, 62);
  // call +0x20 (target 0x125, inside the load segment); call far away (outside every segment)
  image.PutBytes(ElfImage::kText, {0xE8, 0x20, 0, 0, 0, 0xE8, 0, 0, 0, 0x40});
  auto program = Parse(image.bytes);
  ASSERT_TRUE(program);
  EXPECT_EQ(CountKind(*program, InstructionKind::Rel32), 1u);
  ASSERT_EQ(program->rel32_labels().size(), 1u);
  EXPECT_EQ(program->rel32_labels().begin()->first, 0x125u);
  ExpectIdenticalRoundTrip(image.bytes);
}

TEST(DisassemblerElf64X64, RipRelativeForms) {
  ElfImage image(true, 62);
  image.PutBytes(ElfImage::kText, {0xFF, 0x15, 0x10, 0, 0, 0,          // call [rip+0x10]
                                   0x48, 0x8D, 0x05, 0x20, 0, 0, 0,     // lea rax, [rip+0x20]
                                   0x49, 0x8B, 0x0D, 0x30, 0, 0, 0,     // mov rcx, [rip+0x30]
                                   0x0F, 0x85, 0x08, 0, 0, 0,           // jne +8
                                   0x0F, 0x8A, 0x08, 0, 0, 0});         // jp: not taken
  auto program = Parse(image.bytes);
  ASSERT_TRUE(program);
  EXPECT_EQ(CountKind(*program, InstructionKind::Rel32), 4u);
  ExpectIdenticalRoundTrip(image.bytes);
}

// Regression: a section that is not loaded (address 0, like debug sections) used to have its
// references mapped by address onto the loaded code at the same RVA and emitted there, which
// rebuilt that code with the other section's displacements.
TEST(DisassemblerElf64X64, ReferencesInUnloadedSectionsDoNotLandOnCode) {
  ElfImage image(true, 62);
  // .data becomes an unloaded section at address 0 whose call bytes sit at offset 0x30 of it:
  // address 0x31 would map to file offset 0x31 of the load segment.
  image.SetSection(2, 7, 1, ElfImage::kData, 0x40, 0);
  image.Put64(image.section_at(2) + 16, 0);
  image.PutBytes(ElfImage::kData + 0x2F, {0xE8, 0x00, 0x01, 0, 0});
  // Make .text start at 0 of the same segment so that the alias falls into code it walks.
  image.SetSection(1, 1, 1, 0x20, 0x80, 0);
  ExpectIdenticalRoundTrip(image.bytes);
}

// Sections that overlap would be scanned and emitted again for every copy: a table of many
// sections over the same bytes must not multiply the work and the output.
TEST(DisassemblerElf, OverlappingSectionsFailDisassembly) {
  ElfImage image(true, 62);
  image.SetSection(2, 7, 1, ElfImage::kText + 0x10, 0x40, 0);  // inside .text
  DisassemblerElf64X64 disassembler(image.bytes.data(), image.bytes.size());
  ASSERT_TRUE(disassembler.CheckHeader());
  InstructionProgram program(ExecutableKind::ELF_64_X64);
  EXPECT_FALSE(disassembler.EmitProgram(program));
  EXPECT_STREQ(disassembler.failure_reason(), "Overlapping sections");

  ElfImage empty(true, 62);
  empty.SetSection(2, 7, 1, ElfImage::kText + 0x10, 0, 0);  // empty: harmless
  ExpectIdenticalRoundTrip(empty.bytes);
}

// R_386_RELATIVE entries at the start of the REL section that list exactly the absolute
// references are replaced by a table instruction; the rest of the section stays bytes.
TEST(DisassemblerElf32X86, RelativeRelocationsBecomeATable) {
  ElfImage image(false, 3);
  image.Put32(ElfImage::kData, 0x110);
  image.Put32(ElfImage::kData + 8, 0x120);
  image.PutRel(0, ElfImage::kData, 8);
  image.PutRel(1, ElfImage::kData + 8, 8);
  image.PutRel(2, ElfImage::kData + 4, 6);  // GLOB_DAT: stays bytes
  auto program = Parse(image.bytes);
  ASSERT_TRUE(program);
  EXPECT_EQ(CountKind(*program, InstructionKind::Abs32), 2u);
  EXPECT_EQ(CountKind(*program, InstructionKind::ElfRelocs), 1u);
  EXPECT_EQ(program->abs32_labels().count(0x120), 1u);
  ExpectIdenticalRoundTrip(image.bytes);
}

// A REL section whose entries only partly list the absolute references keeps every entry as
// bytes. (Dropping the matched entries and the first mismatch would lose them: the ARM rule
// used to do that.)
TEST(DisassemblerElf32, PartlyMatchingRelocationsStayBytes) {
  for (uint16_t machine : {3, 40}) {
    const uint32_t relative = machine == 3 ? 8 : 23;
    ElfImage image(false, machine);
    image.PutRel(0, ElfImage::kData, relative);
    image.PutRel(1, ElfImage::kData + 0x20, 22);  // a different type in between
    image.PutRel(2, ElfImage::kData + 8, relative);
    auto program = Parse(image.bytes);
    ASSERT_TRUE(program);
    EXPECT_EQ(CountKind(*program, InstructionKind::Abs32), 2u) << machine;
    EXPECT_EQ(CountKind(*program, InstructionKind::ElfRelocs) +
                  CountKind(*program, InstructionKind::ElfArmRelocs),
              0u)
        << machine;
    ExpectIdenticalRoundTrip(image.bytes);
  }
}

// Regression: a NOBITS section (like .tbss) has a nominal file range over the sections that
// follow it; absolute references there were dropped from the rebuilt relocation table.
TEST(DisassemblerElf32, NoBitsSectionsDoNotSwallowReferencesOfTheirNeighbours) {
  for (uint16_t machine : {3, 40}) {
    const uint32_t relative = machine == 3 ? 8 : 23;
    ElfImage image(false, machine);
    image.SetSection(1, 1, 8, ElfImage::kData, 0x10, 0);  // NOBITS over the start of .data
    image.PutRel(0, ElfImage::kData + 4, relative);
    image.PutRel(1, ElfImage::kData + 0x20, relative);
    auto program = Parse(image.bytes);
    ASSERT_TRUE(program);
    EXPECT_EQ(CountKind(*program, InstructionKind::Abs32), 2u) << machine;
    ExpectIdenticalRoundTrip(image.bytes);
  }
}

// ARM: leading entries before the first absolute reference stay bytes, the table follows.
TEST(DisassemblerElf32ARM, LeadingEntriesThenTable) {
  ElfImage image(false, 40);
  image.PutRel(0, 0x300, 23);  // relocates the section table: not a code or data reference
  image.PutRel(1, ElfImage::kData, 23);
  image.PutRel(2, ElfImage::kData + 4, 23);
  // Thumb bl from 0x100 to 0x120 and an ARM b to 0x104.
  image.PutBytes(ElfImage::kText, {0x00, 0xF0, 0x0E, 0xF8, 0xFE, 0xFF, 0xFF, 0xEA});
  auto program = Parse(image.bytes);
  ASSERT_TRUE(program);
  EXPECT_EQ(CountKind(*program, InstructionKind::ElfArmRelocs), 1u);
  EXPECT_EQ(CountKind(*program, InstructionKind::Rel32Arm), 2u);
  ExpectIdenticalRoundTrip(image.bytes);
}

TEST(DisassemblerWin32, HeaderCheckFailures) {
  const struct {
    const char* reason;
    std::function<void(PeImage&)> Break;
  } cases[] = {
      {"Too small", [](PeImage& p) { p.bytes.resize(63); }},
      {"Not MZ", [](PeImage& p) { p.bytes[1] = 'X'; }},
      {"Bad offset to PE header", [](PeImage& p) { p.Put32(60, 0); }},
      {"Bad offset to PE header", [](PeImage& p) { p.Put32(60, uint32_t(p.bytes.size() - 24)); }},
      {"Misaligned PE header", [](PeImage& p) { p.Put32(60, 0x84); }},
      {"no PE signature", [](PeImage& p) { p.bytes[PeImage::kPe + 1] = 'X'; }},
      {"optional header past end of file", [](PeImage& p) { p.Put16(PeImage::kPe + 20, 0xFFFF); }},
      {"optional header no magic", [](PeImage& p) { p.Put16(PeImage::kPe + 20, 1); }},
      {"unrecognized magic", [](PeImage& p) { p.Put16(PeImage::kOptional, 0x107); }},
      {"optional header too short", [](PeImage& p) { p.Put16(PeImage::kPe + 20, 95); }},
      {"malformed data directory", [](PeImage& p) { p.Put16(PeImage::kPe + 20, 100); }},
      {"malformed data directory", [](PeImage& p) { p.SetDirectory(2, 0, 0x3001); }},
      {"section table outside image", [](PeImage& p) { p.Put16(PeImage::kPe + 6, 40); }},
      {"section outside image", [](PeImage& p) { p.SetSection(1, ".reloc", 0x200, 0x2000, 0x300, 0x400); }},
      {"Resource-only executables are not yet supported",
       [](PeImage& p) { p.SetSection(0, ".code", 0x200, 0x1000, 0x200, 0x200); }},
  };
  for (const auto& c : cases) {
    PeImage image(false, {0x3010, 0});
    ASSERT_EQ(HeaderFailure<DisassemblerWin32X86>(image.bytes), "passed");
    c.Break(image);
    EXPECT_EQ(HeaderFailure<DisassemblerWin32X86>(image.bytes), c.reason);
  }
}

// A block of size 12 with one type-3 entry and one padding entry gives one absolute reference,
// and the table is rebuilt byte for byte.
TEST(DisassemblerWin32X86, BaseRelocationsBecomeAbsoluteReferences) {
  PeImage image(false, {0x3010, 0x0000});
  image.Put32(PeImage::kText + 0x10, 0x401050);           // pointer into .text
  image.PutBytes(PeImage::kText + 0x20, {0xE8, 0x0B, 0, 0, 0});  // call 0x1030
  auto program = Parse(image.bytes);
  ASSERT_TRUE(program);
  EXPECT_EQ(program->image_base(), 0x400000u);
  EXPECT_EQ(CountKind(*program, InstructionKind::Abs32), 1u);
  EXPECT_EQ(CountKind(*program, InstructionKind::PeRelocs), 1u);
  EXPECT_EQ(CountKind(*program, InstructionKind::Rel32), 1u);
  EXPECT_EQ(program->abs32_labels().count(0x1050), 1u);
  ExpectIdenticalRoundTrip(image.bytes);
}

// A directory that the rebuilt table would not reproduce stays bytes; its references are
// still labelled.
TEST(DisassemblerWin32X86, UnusualRelocationDirectoriesStayBytes) {
  const struct {
    const char* what;
    std::vector<uint16_t> entries;
    uint32_t directory_size;
  } cases[] = {
      {"extra padding entries", {0x3010, 0, 0, 0}, 16},
      {"directory of one block header", {0x3010, 0}, 8},
  };
  for (const auto& c : cases) {
    PeImage image(false, c.entries);
    image.SetDirectory(5, PeImage::kRelocRva, c.directory_size);
    image.Put32(PeImage::kText + 0x10, 0x401050);
    auto program = Parse(image.bytes);
    ASSERT_TRUE(program);
    EXPECT_EQ(CountKind(*program, InstructionKind::PeRelocs), 0u) << c.what;
    ExpectIdenticalRoundTrip(image.bytes);
  }
}

TEST(DisassemblerWin32X64, Dir64RelocationsUseTheLowFourBytes) {
  PeImage image(true, {0xA010, 0xA018});
  image.Put64(PeImage::kText + 0x10, 0x140001050ULL);
  image.Put64(PeImage::kText + 0x18, 0x140001060ULL);
  image.PutBytes(PeImage::kText + 0x30, {0x48, 0x8D, 0x05, 0x00, 0x10, 0, 0});  // lea rax,[rip+..]
  auto program = Parse(image.bytes);
  ASSERT_TRUE(program);
  EXPECT_EQ(CountKind(*program, InstructionKind::Abs32), 2u);
  EXPECT_EQ(program->abs32_labels().count(0x1060), 1u);
  EXPECT_EQ(CountKind(*program, InstructionKind::Rel32), 1u);
  ExpectIdenticalRoundTrip(image.bytes);
}

TEST(DisassemblerWin32X86, BadRelocationBlocksFailDisassembly) {
  const struct {
    const char* reason;
    std::function<void(PeImage&)> Break;
  } cases[] = {
      {"unknown type of reloc", [](PeImage& p) { p.Put16(PeImage::kReloc + 8, 0x5010); }},
      {"unreasonable relocs block", [](PeImage& p) { p.Put32(PeImage::kReloc + 4, 6); }},
      {"unreasonable relocs block", [](PeImage& p) { p.Put32(PeImage::kReloc + 4, 14); }},
      {".relocs block outside image", [](PeImage& p) { p.Put32(PeImage::kReloc + 4, 0x1000); }},
      {".relocs outside image", [](PeImage& p) { p.SetDirectory(5, 0x2100, 0x200); }},
  };
  for (const auto& c : cases) {
    PeImage image(false, {0x3010, 0});
    c.Break(image);
    DisassemblerWin32X86 disassembler(image.bytes.data(), image.bytes.size());
    ASSERT_TRUE(disassembler.CheckHeader()) << c.reason;
    InstructionProgram program(ExecutableKind::WIN_32_X86);
    EXPECT_FALSE(disassembler.EmitProgram(program)) << c.reason;
    EXPECT_STREQ(disassembler.failure_reason(), c.reason);
  }
}

Bytes ReadFixture(const std::string& name) {
  std::ifstream in(std::string(ENGINE2_FIXTURE_DIR) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Offsets in the macho64 fixture (see fixtures/make_macho.py): header 32 bytes, then the
// __TEXT segment command with its __text section record.
constexpr size_t kSegment = 32;
constexpr size_t kTextSection = kSegment + 72;

TEST(DisassemblerMacho, HeaderCheckFailures) {
  auto put32 = [](Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
  };
  const struct {
    const char* reason;
    std::function<void(Bytes&)> Break;
  } cases[] = {
      {"Too small", [](Bytes& b) { b.resize(31); }},
      {"Unknown magic type", [&](Bytes& b) { put32(b, 0, 0xCEFAEDFE); }},
      {"unsupported cpu type", [&](Bytes& b) { put32(b, 4, 7); }},
      {"Unsupported filetype in header", [&](Bytes& b) { put32(b, 12, 1); }},
      {"file to small in load commands", [&](Bytes& b) { put32(b, kSegment + 4, 0x10000); }},
      {"bad load command size", [&](Bytes& b) { put32(b, kSegment + 4, 4); }},
      {"LC_SEGMENT not supported", [&](Bytes& b) { put32(b, kSegment, 1); }},
      {"bad LC_SEGMENT_64", [&](Bytes& b) { put32(b, kSegment + 4, 64); }},
      {"overflow", [&](Bytes& b) { put32(b, kSegment + 28, 1); }},
      {"segment too large", [&](Bytes& b) { put32(b, kSegment + 48, 0x2000); }},
      {"sections too small", [&](Bytes& b) { put32(b, kSegment + 64, 3); }},
      {"section larger than segment", [&](Bytes& b) { put32(b, kTextSection + 40, 0x1000); }},
      {"section outside file", [&](Bytes& b) { put32(b, kTextSection + 48, 0x1100); }},
      {"Resource-only executables are not yet supported",
       [&](Bytes& b) { put32(b, kTextSection + 64, 0); }},
  };
  for (const auto& c : cases) {
    Bytes image = ReadFixture("macho64");
    ASSERT_EQ(HeaderFailure<DisassemblerMacho>(image), "passed");
    c.Break(image);
    EXPECT_EQ(HeaderFailure<DisassemblerMacho>(image), c.reason);
  }
}

}  // namespace
}  // namespace velpatch
