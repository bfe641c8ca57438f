// Encoding, serialization and assembly of encoded programs.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "encoded_program.h"
#include "instruction_program.h"
#include "labels.h"
#include "relocation_tables.h"
#include "streams.h"

namespace velpatch {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Contents(const ByteSink& sink) { return Bytes(sink.data(), sink.data() + sink.length()); }

Bytes AssembleOk(const EncodedProgram& program) {
  ByteSink out;
  EXPECT_EQ(Assemble(program, out), PatchStatus::Ok);
  return Contents(out);
}

std::unique_ptr<EncodedProgram> Encode(const InstructionProgram& program) {
  EncodedProgram* encoded = nullptr;
  EXPECT_EQ(EncodeProgram(program, &encoded), PatchStatus::Ok);
  return std::unique_ptr<EncodedProgram>(encoded);
}

TEST(EncodeProgram, MergesByteRunsIntoOneCopy) {
  InstructionProgram program(ExecutableKind::ELF_64_X64);
  const uint8_t run[] = {0xBB, 0xCC};
  ASSERT_TRUE(program.EmitByte(0xAA));
  ASSERT_TRUE(program.EmitByte(0xBB));
  ASSERT_TRUE(program.EmitByte(0xCC));
  ASSERT_TRUE(program.EmitOrigin(0x10));
  ASSERT_TRUE(program.EmitByte(0x01));  // alone: OpCopy1
  ASSERT_TRUE(program.EmitOrigin(0x20));
  ASSERT_TRUE(program.EmitByte(0x02));
  ASSERT_TRUE(program.EmitBytes(run, 2));  // joins the single byte before it
  auto encoded = Encode(program);
  EXPECT_EQ(encoded->ops, (std::vector<uint32_t>{OpCopy, OpOrigin, OpCopy1, OpOrigin, OpCopy}));
  EXPECT_EQ(encoded->copy_counts, (std::vector<uint32_t>{3, 3}));
  EXPECT_EQ(encoded->copy_bytes, (Bytes{0xAA, 0xBB, 0xCC, 0x01, 0x02, 0xBB, 0xCC}));
  EXPECT_EQ(encoded->origins, (std::vector<uint32_t>{0x10, 0x20}));
}

TEST(EncodeProgram, ReferencesUseLabelIndexesAndTargetTables) {
  InstructionProgram program(ExecutableKind::EXE_ELF_32_X86);
  program.set_image_base(0x1234);
  ASSERT_TRUE(program.EmitRel32(0x3000));
  ASSERT_TRUE(program.EmitAbs32(0x500));
  ASSERT_TRUE(program.EmitRel32(0x1000));
  ASSERT_TRUE(program.EmitElfRelocs());
  ASSERT_TRUE(program.EmitRel32(0x3000));
  AssignLabelIndexes(program);
  auto encoded = Encode(program);
  EXPECT_EQ(encoded->image_base, 0x1234u);
  EXPECT_EQ(encoded->ops,
            (std::vector<uint32_t>{OpRel32, OpAbs32, OpRel32, OpMakeElfRelocs, OpRel32}));
  EXPECT_EQ(encoded->rel32_indexes, (std::vector<uint32_t>{1, 0, 1}));
  EXPECT_EQ(encoded->abs32_indexes, (std::vector<uint32_t>{0}));
  EXPECT_EQ(encoded->rel32_rvas, (std::vector<uint32_t>{0x1000, 0x3000}));
  EXPECT_EQ(encoded->abs32_rvas, (std::vector<uint32_t>{0x500}));
}

TEST(EncodeProgram, PeTableOpFollowsTheProgramKind) {
  const struct {
    ExecutableKind kind;
    uint32_t op;
  } cases[] = {{ExecutableKind::WIN_32_X86, OpMakePeRelocs},
               {ExecutableKind::WIN_32_X64, OpMakePe64Relocs}};
  for (const auto& c : cases) {
    InstructionProgram program(c.kind);
    ASSERT_TRUE(program.EmitPeRelocs());
    EXPECT_EQ(Encode(program)->ops, std::vector<uint32_t>{c.op});
  }
}

TEST(EncodeProgram, UnassignedLabelFails) {
  InstructionProgram program(ExecutableKind::ELF_64_X64);
  ASSERT_TRUE(program.EmitRel32(0x3000));
  EncodedProgram* encoded = reinterpret_cast<EncodedProgram*>(1);
  EXPECT_EQ(EncodeProgram(program, &encoded), PatchStatus::GeneralError);
  EXPECT_EQ(encoded, nullptr);
}

TEST(EncodedProgram, UndefinedTargetsTakeThePreviousEntry) {
  EncodedProgram program;
  ASSERT_TRUE(program.SetRel32Target(1, 0x100));
  ASSERT_TRUE(program.SetRel32Target(3, 0x300));
  ASSERT_TRUE(program.SetAbs32Target(2, 0x50));
  EXPECT_FALSE(program.SetAbs32Target(kUnassignedLabelIndex, 0x50));
  program.FinishTargetTables();
  EXPECT_EQ(program.rel32_rvas, (std::vector<uint32_t>{0, 0x100, 0x100, 0x300}));
  EXPECT_EQ(program.abs32_rvas, (std::vector<uint32_t>{0, 0, 0x50}));
}

TEST(Assemble, Rel32IsRelativeToTheEndOfTheDisplacement) {
  EncodedProgram program;
  ASSERT_TRUE(program.AppendOrigin(0x1000));
  ASSERT_TRUE(program.AppendRel32(0));
  ASSERT_TRUE(program.SetRel32Target(0, 0x2000));
  EXPECT_EQ(AssembleOk(program), (Bytes{0xFC, 0x0F, 0x00, 0x00}));
}

TEST(Assemble, Abs32AddsTheLowHalfOfTheImageBase) {
  EncodedProgram program;
  program.image_base = 0x1'1000'0000ULL;
  ASSERT_TRUE(program.AppendAbs32(0));
  ASSERT_TRUE(program.SetAbs32Target(0, 0x2345));
  EXPECT_EQ(AssembleOk(program), (Bytes{0x45, 0x23, 0x00, 0x10}));
}

// Thumb branches of class 2 (16-bit B) are written as their full halfword.
TEST(Assemble, ArmBranchesAreWrittenAsTheyLieInMemory) {
  const struct {
    uint16_t op;
    uint32_t at, target;
    Bytes bytes;
  } cases[] = {
      {0x10D0, 0x100, 0xF0, {0xF6, 0xD0}},                    // beq (16-bit)
      {0x201C, 0x100, 0x120, {0x0E, 0xE0}},                   // b (16-bit)
      {0x30EB, 0x1000, 0x2000, {0xFE, 0x03, 0x00, 0xEB}},     // ARM bl
      {0x44F7, 0x8000, 0x8100, {0x00, 0xF0, 0x7E, 0xF8}},     // Thumb bl
      {0x5000, 0x1000, 0x1800, {0x00, 0xF0, 0xFE, 0x83}},     // beq.w
  };
  for (const auto& c : cases) {
    EncodedProgram program;
    ASSERT_TRUE(program.AppendOrigin(c.at));
    ASSERT_TRUE(program.AppendRel32Arm(c.op, 0));
    ASSERT_TRUE(program.SetRel32Target(0, c.target));
    EXPECT_EQ(AssembleOk(program), c.bytes) << std::hex << c.op;
  }
}

// Each row breaks one table of an otherwise valid program (origin, copy of 2, rel32, abs32).
TEST(Assemble, InconsistentTablesFail) {
  const struct {
    const char* what;
    void (*Break)(EncodedProgram&);
  } cases[] = {
      {"copy bytes left over", [](EncodedProgram& p) { p.copy_bytes.push_back(9); }},
      {"copy bytes missing", [](EncodedProgram& p) { p.copy_bytes.pop_back(); }},
      {"copy count left over", [](EncodedProgram& p) { p.copy_counts.push_back(1); }},
      {"copy count missing", [](EncodedProgram& p) { p.copy_counts.clear(); }},
      {"origin missing", [](EncodedProgram& p) { p.origins.clear(); }},
      {"rel32 index left over", [](EncodedProgram& p) { p.rel32_indexes.push_back(0); }},
      {"rel32 index out of range", [](EncodedProgram& p) { p.rel32_indexes[0] = 1; }},
      {"abs32 index left over", [](EncodedProgram& p) { p.abs32_indexes.push_back(0); }},
      {"abs32 index out of range", [](EncodedProgram& p) { p.abs32_indexes[0] = 7; }},
      {"unknown op", [](EncodedProgram& p) { p.ops.push_back(9); }},
      {"ARM op of class 6", [](EncodedProgram& p) { p.ops.push_back(0x6000); }},
      {"two ELF tables", [](EncodedProgram& p) { p.ops.insert(p.ops.end(), 2, OpMakeElfRelocs); }},
      {"two PE tables", [](EncodedProgram& p) { p.ops.insert(p.ops.end(), 2, OpMakePeRelocs); }},
  };
  for (const auto& c : cases) {
    EncodedProgram program;
    const uint8_t two[] = {1, 2};
    ASSERT_TRUE(program.AppendOrigin(0x100));
    ASSERT_TRUE(program.AppendCopy(2, two));
    ASSERT_TRUE(program.AppendRel32(0));
    ASSERT_TRUE(program.AppendAbs32(0));
    ASSERT_TRUE(program.SetRel32Target(0, 0x200));
    ASSERT_TRUE(program.SetAbs32Target(0, 0x300));
    {
      ByteSink out;
      ASSERT_EQ(Assemble(program, out), PatchStatus::Ok) << "unbroken, for " << c.what;
    }
    c.Break(program);
    ByteSink out;
    EXPECT_EQ(Assemble(program, out), PatchStatus::AssemblyFailed) << c.what;
  }
}

TEST(Assemble, UnusedOriginsAreAllowed) {
  EncodedProgram program;
  const uint8_t byte = 7;
  ASSERT_TRUE(program.AppendCopy(1, &byte));
  program.origins.push_back(0x4000);
  EXPECT_EQ(AssembleOk(program), Bytes{7});
}

// A table op, then absolute addresses at `positions` (written in that order), then a tail.
// The table comes out first, where its op stood.
EncodedProgram ProgramWithTable(const std::vector<uint32_t>& positions, uint32_t table_op) {
  EncodedProgram program;
  const uint8_t tail[] = {0xEE, 0xFF};
  EXPECT_TRUE(program.SetAbs32Target(0, 0));
  program.ops.push_back(table_op);
  for (uint32_t position : positions) {
    EXPECT_TRUE(program.AppendOrigin(position));
    EXPECT_TRUE(program.AppendAbs32(0));
  }
  EXPECT_TRUE(program.AppendCopy(2, tail));
  return program;
}

TEST(Assemble, PeTableGroupsPagesAndPadsBlocks) {
  const Bytes out = AssembleOk(ProgramWithTable({0x1004, 0x1008, 0x3000}, OpMakePeRelocs));
  const Bytes table = {0x00, 0x10, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00,  // page 0x1000, size 12
                       0x04, 0x30, 0x08, 0x30,                          // 3004 3008
                       0x00, 0x30, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00,  // page 0x3000, size 12
                       0x00, 0x30, 0x00, 0x00};                         // 3000, padding
  ASSERT_EQ(out.size(), 12 + table.size() + 2);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + table.size()), table);
  EXPECT_EQ(Bytes(out.end() - 2, out.end()), (Bytes{0xEE, 0xFF}));
}

TEST(Assemble, Pe64TableUsesType10) {
  const Bytes out = AssembleOk(ProgramWithTable({0x2010}, OpMakePe64Relocs));
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 12),
            (Bytes{0x00, 0x20, 0, 0, 0x0C, 0, 0, 0, 0x10, 0xA0, 0, 0}));
}

TEST(Assemble, ElfTableSortsAllButTheLastPosition) {
  const Bytes out = AssembleOk(ProgramWithTable({0x2000, 0x1000, 0x3000, 0x1800}, OpMakeElfRelocs));
  const Bytes entries = {0x00, 0x10, 0, 0, 8, 0, 0, 0,   0x00, 0x20, 0, 0, 8, 0, 0, 0,
                         0x00, 0x30, 0, 0, 8, 0, 0, 0,   0x00, 0x18, 0, 0, 8, 0, 0, 0};
  EXPECT_EQ(Bytes(out.begin(), out.begin() + entries.size()), entries);
}

TEST(Assemble, ElfArmTableUsesType23) {
  const Bytes out = AssembleOk(ProgramWithTable({0x40}, OpMakeElfArmRelocs));
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), (Bytes{0x40, 0, 0, 0, 23, 0, 0, 0}));
}

// A page holds at most 4096 entries, the padding entry included; more must not overrun.
TEST(RelocationTables, PeBlockLimit) {
  const struct {
    size_t count;
    bool ok;
  } cases[] = {{4095, true}, {4096, true}, {4097, false}};
  for (const auto& c : cases) {
    std::vector<uint32_t> positions(c.count, 0x5000);
    ByteSink out;
    EXPECT_EQ(WritePeRelocationTable(positions, kPeRelocHighLow, out), c.ok) << c.count;
    EXPECT_EQ(out.length(), c.ok ? 8 + 2 * 4096 : 0u) << c.count;
  }
}

std::unique_ptr<EncodedProgram> SampleProgram() {
  std::unique_ptr<EncodedProgram> program(new EncodedProgram);
  const uint8_t bytes[] = {1, 2, 3, 4, 5};
  program->image_base = 0xABCD'0000'1000ULL;
  EXPECT_TRUE(program->AppendOrigin(0x1000));
  EXPECT_TRUE(program->AppendCopy(5, bytes));
  EXPECT_TRUE(program->AppendRel32(1));
  EXPECT_TRUE(program->AppendAbs32(0));
  EXPECT_TRUE(program->AppendRel32Arm(0x44F7, 0));
  EXPECT_TRUE(program->AppendPeRelocsOp(ExecutableKind::WIN_32_X86));
  EXPECT_TRUE(program->AppendCopy(1, bytes));
  EXPECT_TRUE(program->SetRel32Target(0, 0x3000));
  EXPECT_TRUE(program->SetRel32Target(1, 0x2000));  // a negative delta
  EXPECT_TRUE(program->SetAbs32Target(0, 0x10));
  return program;
}

TEST(SerializeEncodedProgram, StreamLayout) {
  auto program = SampleProgram();
  ByteSinkSet sinks;
  ASSERT_EQ(SerializeEncodedProgram(*program, sinks), PatchStatus::Ok);
  // image base 0x1000 (low half), one origin 0x1000
  EXPECT_EQ(Contents(sinks.stream(0)), (Bytes{0x80, 0x20, 0x01, 0x80, 0x20}));
  EXPECT_EQ(Contents(sinks.stream(2)), (Bytes{6, 1, 2, 3, 4, 5, 1}));
  // rel32 RVAs 0x3000, 0x2000 as deltas: 0x3000, 0xFFFFF000
  EXPECT_EQ(Contents(sinks.stream(6)), (Bytes{2, 0x80, 0x60, 0x80, 0xE0, 0xFF, 0xFF, 0x0F}));
  EXPECT_EQ(Contents(sinks.stream(7)), (Bytes{1, 5}));
  EXPECT_EQ(sinks.stream(8).length(), 0u);
  EXPECT_EQ(sinks.stream(9).length(), 0u);
}

TEST(SerializeEncodedProgram, RoundTripKeepsEveryTable) {
  auto program = SampleProgram();
  ByteSinkSet sinks;
  ByteSink buffer;
  ASSERT_EQ(SerializeEncodedProgram(*program, sinks), PatchStatus::Ok);
  ASSERT_TRUE(sinks.SerializeTo(buffer));
  ByteSourceSet sources;
  ASSERT_TRUE(sources.Parse(buffer.data(), buffer.length()));
  EncodedProgram* raw = nullptr;
  ASSERT_EQ(DeserializeEncodedProgram(sources, &raw), PatchStatus::Ok);
  std::unique_ptr<EncodedProgram> read(raw);
  EXPECT_EQ(read->image_base, 0x1000u);  // only the low half travels
  EXPECT_EQ(read->ops, program->ops);
  EXPECT_EQ(read->origins, program->origins);
  EXPECT_EQ(read->copy_counts, program->copy_counts);
  EXPECT_EQ(read->copy_bytes, program->copy_bytes);
  EXPECT_EQ(read->rel32_indexes, program->rel32_indexes);
  EXPECT_EQ(read->abs32_indexes, program->abs32_indexes);
  EXPECT_EQ(read->rel32_rvas, program->rel32_rvas);
  EXPECT_EQ(read->abs32_rvas, program->abs32_rvas);
}

// Serialized sample program, then one stream damaged per row.
TEST(DeserializeEncodedProgram, RejectsDamagedStreams) {
  const struct {
    const char* what;
    size_t stream;
    Bytes replacement;  // the stream's new contents
  } cases[] = {
      {"ops stream empty", 1, {}},
      {"ops count beyond the data", 1, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0}},
      {"copy bytes shorter than their length", 2, {6, 1, 2}},
      {"copy bytes longer than their length", 2, {1, 1, 2}},
      {"unconsumed byte in stream 8", 8, {0}},
      {"truncated varint in stream 7", 7, {1, 0x80}},
      {"rel32 RVA count too large", 6, {3, 1, 1}},
  };
  for (const auto& c : cases) {
    auto program = SampleProgram();
    ByteSinkSet sinks;
    ASSERT_EQ(SerializeEncodedProgram(*program, sinks), PatchStatus::Ok);
    sinks.stream(c.stream).Release();
    ASSERT_TRUE(sinks.stream(c.stream).Write(c.replacement.data(), c.replacement.size()));
    ByteSink buffer;
    ASSERT_TRUE(sinks.SerializeTo(buffer));
    ByteSourceSet sources;
    ASSERT_TRUE(sources.Parse(buffer.data(), buffer.length()));
    EncodedProgram* read = reinterpret_cast<EncodedProgram*>(1);
    EXPECT_EQ(DeserializeEncodedProgram(sources, &read), PatchStatus::ProgramReadFailed) << c.what;
    EXPECT_EQ(read, nullptr) << c.what;
  }
}

TEST(DeserializeEncodedProgram, NeedsNineStreams) {
  auto program = SampleProgram();
  ByteSinkSet sinks;
  ASSERT_EQ(SerializeEncodedProgram(*program, sinks), PatchStatus::Ok);
  sinks.set_count(8);
  ByteSink buffer;
  ASSERT_TRUE(sinks.SerializeTo(buffer));
  ByteSourceSet sources;
  ASSERT_TRUE(sources.Parse(buffer.data(), buffer.length()));
  EncodedProgram* read = nullptr;
  EXPECT_EQ(DeserializeEncodedProgram(sources, &read), PatchStatus::ProgramReadFailed);
}

}  // namespace
}  // namespace velpatch
