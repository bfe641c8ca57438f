// The LZMA2 container: round trips of every executable kind and of plain data, the choice
// between the plain and the disassembled form, and the reader's rejections.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "binarydiff.h"
#include "capturelog.h"
#include "encoded_program.h"
#include "lzma2_container.h"
#include "lzmaioout.h"
#include "test_files.h"

namespace velpatch {
namespace {

struct ContainerHeader {
  uint32_t magic = 0, checksum = 0, directive = 0;
  ByteSink payload;  // the decoded LZMA2 block
};

ContainerHeader ReadContainer(const ByteSink& container) {
  ContainerHeader h;
  ByteSource in(container.data(), container.length());
  EXPECT_TRUE(in.ReadVarUint32(&h.magic) && in.ReadVarUint32(&h.checksum) &&
              in.ReadVarUint32(&h.directive));
  EXPECT_TRUE(ReadLzma2Block(in, h.payload));
  return h;
}

// magic, checksum, directive, then the payload as one LZMA2 block.
Bytes MakeContainer(uint32_t magic, uint32_t checksum, uint32_t directive, const Bytes& payload) {
  ByteSink out;
  EXPECT_TRUE(out.WriteVarUint32(magic) && out.WriteVarUint32(checksum) &&
              out.WriteVarUint32(directive) &&
              WriteLzma2Block(payload.data(), payload.size(), out));
  return ToBytes(out);
}

Bytes Serialize(ByteSinkSet& set) {
  ByteSink out;
  EXPECT_TRUE(set.SerializeTo(out));
  return ToBytes(out);
}

struct RoundTripCase {
  const char* name;
  Bytes (*make)();
  uint32_t preprocessed_directive;  // what compressing with preprocessing gives
  size_t programs;                  // encoded programs in the disassembled form
};

Bytes Text() {
  std::string text;
  for (int i = 0; i < 500; ++i) text += "line " + std::to_string(i * 7919 % 1000) + "\n";
  return Bytes(text.begin(), text.end());
}

const RoundTripCase kRoundTrips[] = {
    {"elf64_x64", [] { return Fixture("old_elf64_x64.so"); }, 2, 1},
    {"elf32_x86", [] { return Fixture("old_elf32_x86.so"); }, 2, 1},
    {"elf32_arm", [] { return Fixture("old_elf32_arm.so"); }, 2, 1},
    {"pe32", [] { return Fixture("old_pe32.dll"); }, 2, 1},
    {"pe64", [] { return Fixture("old_pe64.dll"); }, 2, 1},
    // The Mach-O fixtures are so small that their programs and diff outweigh what disassembly
    // saves: the writer keeps the plain form.
    {"macho32", [] { return Engine2Fixture("macho32"); }, 1, 0},
    {"macho64", [] { return Engine2Fixture("macho64"); }, 1, 0},
    {"universal_two_slices",
     [] {
       return Universal({Engine2Fixture("macho32"), Engine2Fixture("macho64")});
     },
     1, 0},
    {"universal_with_data_slice",
     [] {
       return Universal({Engine2Fixture("macho64"), Text(), Engine2Fixture("macho32")});
     },
     1, 0},
    {"text", Text, 1, 0},
    {"one_byte", [] { return Bytes{0x42}; }, 1, 0},
};

class ContainerRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(ContainerRoundTrip, BothFormsGiveTheFileBack) {
  const RoundTripCase& c = GetParam();
  const Bytes file = c.make();
  size_t plain_size = 0;
  for (const bool preprocess : {false, true}) {
    SCOPED_TRACE(preprocess ? "preprocessed" : "plain");
    ByteSink container;
    ASSERT_TRUE(CompressLzma2Container(file.data(), file.size(), preprocess, container));
    // The disassembled form is kept only when it is smaller than the plain one.
    if (!preprocess) {
      plain_size = container.length();
    } else if (c.preprocessed_directive == 2) {
      EXPECT_LT(container.length(), plain_size);
    } else {
      EXPECT_EQ(container.length(), plain_size);
    }
    const ContainerHeader h = ReadContainer(container);
    EXPECT_EQ(h.magic, kContainerMagic);
    EXPECT_EQ(h.checksum, Checksum32(file.data(), file.size()));
    EXPECT_EQ(h.directive, preprocess ? c.preprocessed_directive : 1u);
    if (h.directive == 1) {
      EXPECT_EQ(ToBytes(h.payload), file);  // the payload is the file itself
    } else {
      ByteSourceSet set;
      ASSERT_TRUE(set.Parse(h.payload.data(), h.payload.length()));
      EXPECT_EQ(set.count(), c.programs + 1);  // the programs and the diff
    }
    ByteSink unpacked;
    ASSERT_TRUE(DecompressLzma2Container(container.data(), container.length(), unpacked));
    EXPECT_EQ(ToBytes(unpacked), file);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ContainerRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

// An x86 ELF whose first relocated address is moved to straddle the end of a code section: the
// header check passes, disassembly fails.
Bytes ElfThatDoesNotDisassemble() {
  Bytes file = Fixture("old_elf32_x86.so");
  const size_t shoff = Get32(file, 32), shnum = file[48] | (file[49] << 8);
  size_t rel_entry = 0, code_end = 0;
  for (size_t i = 0; i < shnum; ++i) {
    const size_t header = shoff + 40 * i;
    const uint32_t type = Get32(file, header + 4);
    if (type == 9 && rel_entry == 0) rel_entry = Get32(file, header + 16);
    if (type == 1 && code_end == 0 && Get32(file, header + 20) >= 8)
      code_end = Get32(file, header + 12) + Get32(file, header + 20);
  }
  EXPECT_NE(rel_entry, 0u);
  EXPECT_NE(code_end, 0u);
  const uint32_t straddling = static_cast<uint32_t>(code_end - 2);
  for (int b = 0; b < 4; ++b) file[rel_entry + b] = static_cast<uint8_t>(straddling >> (8 * b));
  return file;
}

TEST(ContainerWriter, FallsBackToPlainWhenDisassemblyFails) {
  const Bytes file = ElfThatDoesNotDisassemble();
  CaptureLog log;
  ByteSink container;
  ASSERT_TRUE(CompressLzma2Container(file.data(), file.size(), true, container));
  EXPECT_EQ(ReadContainer(container).directive, 1u);
  EXPECT_TRUE(log.Has(LOG_WARNING, "could not parse file")) << log.Dump();
  EXPECT_TRUE(log.Has(LOG_WARNING, "falling back to default compression")) << log.Dump();
  ByteSink unpacked;
  ASSERT_TRUE(DecompressLzma2Container(container.data(), container.length(), unpacked));
  EXPECT_EQ(ToBytes(unpacked), file);
}

// A payload with two programs: the reader must assemble both, in stream order, before the diff.
// The writer never makes one from these fixtures (each is a single executable), so it is put
// together here from two one-program containers, the diff running to the two files joined.
TEST(ContainerReader, AssemblesEveryProgramInStreamOrder) {
  ByteSinkSet set;
  set.set_count(3);
  Bytes assembled, joined;
  const char* const names[] = {"old_elf32_x86.so", "old_pe32.dll"};
  for (size_t i = 0; i < 2; ++i) {
    const Bytes file = Fixture(names[i]);
    ByteSink container;
    ASSERT_TRUE(CompressLzma2Container(file.data(), file.size(), true, container));
    const ContainerHeader h = ReadContainer(container);
    ASSERT_EQ(h.directive, 2u) << names[i];
    ByteSourceSet payload;
    ASSERT_TRUE(payload.Parse(h.payload.data(), h.payload.length()));
    ByteSource& program = payload.stream(0);
    ASSERT_TRUE(set.stream(i).Write(program.current(), program.Remaining()));
    ByteSourceSet program_streams;
    ASSERT_TRUE(program_streams.Parse(program.current(), program.Remaining()));
    EncodedProgram* raw = nullptr;
    ASSERT_EQ(DeserializeEncodedProgram(program_streams, &raw), PatchStatus::Ok);
    std::unique_ptr<EncodedProgram> encoded(raw);
    ByteSink assembly;
    ASSERT_EQ(Assemble(*encoded, assembly), PatchStatus::Ok);
    const Bytes part = ToBytes(assembly);
    assembled.insert(assembled.end(), part.begin(), part.end());
    joined.insert(joined.end(), file.begin(), file.end());
  }
  ByteSource old(assembled.data(), assembled.size());
  ByteSource target(joined.data(), joined.size());
  ASSERT_TRUE(GenerateBinaryDiff(old, target, set.stream(2), false, DIFF_METHOD_RAW));
  const Bytes container =
      MakeContainer(kContainerMagic, Checksum32(joined.data(), joined.size()), 2, Serialize(set));
  ByteSink unpacked;
  ASSERT_TRUE(DecompressLzma2Container(container.data(), container.size(), unpacked));
  EXPECT_EQ(ToBytes(unpacked), joined);
}

class ContainerFiles : public ScratchDirTest {};

TEST_F(ContainerFiles, FileRoundTrip) {
  Put("in", Fixture("old_pe32.dll"));
  ASSERT_TRUE(CompressLzma2File(Path("in").c_str(), Path("packed").c_str(), true));
  ASSERT_TRUE(DecompressLzma2File(Path("packed").c_str(), Path("out").c_str()));
  EXPECT_EQ(Get("out"), Get("in"));
}

TEST_F(ContainerFiles, EmptyInputCannotBeCompressed) {
  Put("in", {});
  CaptureLog log;
  EXPECT_FALSE(CompressLzma2File(Path("in").c_str(), Path("packed").c_str(), true));
  EXPECT_TRUE(log.Has(LOG_ERROR, "could not open file")) << log.Dump();
  EXPECT_FALSE(Exists("packed"));
}

// Every rejected container: one message, and the output path keeps what it held.
TEST_F(ContainerFiles, RejectionsLeaveTheOutputAlone) {
  const Bytes file = Text();
  const uint32_t crc = Checksum32(file.data(), file.size());
  const Bytes good = MakeContainer(kContainerMagic, crc, 1, file);

  ByteSinkSet one_stream;
  one_stream.set_count(1);
  ASSERT_TRUE(one_stream.stream(0).Write("x", 1));
  ByteSinkSet garbage_program;
  garbage_program.set_count(2);
  ASSERT_TRUE(garbage_program.stream(0).Write("xyz", 3));
  ByteSinkSet not_a_program;
  ASSERT_TRUE(not_a_program.stream(0).Write("\x01", 1));
  ByteSinkSet unreadable;
  unreadable.set_count(2);
  const Bytes nested = Serialize(not_a_program);
  ASSERT_TRUE(unreadable.stream(0).Write(nested.data(), nested.size()));
  // One copy op without its byte: reads, but does not assemble.
  EncodedProgram broken;
  ASSERT_TRUE(broken.AppendCopy(1, reinterpret_cast<const uint8_t*>("x")));
  broken.copy_bytes.clear();
  ByteSinkSet broken_streams;
  ASSERT_EQ(SerializeEncodedProgram(broken, broken_streams), PatchStatus::Ok);
  const Bytes broken_bytes = Serialize(broken_streams);
  ByteSinkSet unassemblable;
  unassemblable.set_count(2);
  ASSERT_TRUE(unassemblable.stream(0).Write(broken_bytes.data(), broken_bytes.size()));

  const struct {
    const char* why;
    Bytes container;
    const char* message;
  } cases[] = {
      {"empty file", {}, "could not open lzma file"},
      {"header cut short", {0xE9, 0xAE}, "could not read lzma header"},
      {"wrong magic", MakeContainer(kContainerMagic + 1, crc, 1, file), "not lzma file"},
      {"directive 3", MakeContainer(kContainerMagic, crc, 3, file),
       "Unknown preprocessing dirrective"},
      {"checksum differs", MakeContainer(kContainerMagic, crc ^ 1, 1, file), "crc mismatch"},
      {"payload cut short", Bytes(good.begin(), good.end() - 4), "could not decompress file"},
      {"payload not a stream set", MakeContainer(kContainerMagic, crc, 2, file),
       "could not init dif_and_dis set"},
      {"one stream", MakeContainer(kContainerMagic, crc, 2, Serialize(one_stream)),
       "dis_and_diff too small"},
      {"program not a stream set",
       MakeContainer(kContainerMagic, crc, 2, Serialize(garbage_program)),
       "could not init program_source set"},
      {"program unreadable", MakeContainer(kContainerMagic, crc, 2, Serialize(unreadable)),
       "could not read encoded program"},
      {"program does not assemble",
       MakeContainer(kContainerMagic, crc, 2, Serialize(unassemblable)),
       "could not assemble program"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Put("in", c.container);
    Put("out", {'k', 'e', 'e', 'p'});
    CaptureLog log;
    EXPECT_FALSE(DecompressLzma2File(Path("in").c_str(), Path("out").c_str()));
    EXPECT_TRUE(log.Has(LOG_ERROR, c.message)) << log.Dump();
    EXPECT_EQ(Get("out"), Bytes({'k', 'e', 'e', 'p'}));
  }
}

// The assembly and the diff of a real disassembled container, with the diff damaged.
TEST_F(ContainerFiles, DiffThatDoesNotApplyIsRejected) {
  const Bytes file = Fixture("old_elf32_x86.so");
  ByteSink container;
  ASSERT_TRUE(CompressLzma2Container(file.data(), file.size(), true, container));
  ContainerHeader h = ReadContainer(container);
  ASSERT_EQ(h.directive, 2u);
  ByteSourceSet set;
  ASSERT_TRUE(set.Parse(h.payload.data(), h.payload.length()));
  ByteSinkSet damaged;
  damaged.set_count(2);
  ASSERT_TRUE(damaged.stream(0).Write(set.stream(0).current(), set.stream(0).Remaining()));
  ASSERT_TRUE(damaged.stream(1).Write("\x03", 1));  // method 3
  Put("in", MakeContainer(kContainerMagic, h.checksum, 2, Serialize(damaged)));
  CaptureLog log;
  EXPECT_FALSE(DecompressLzma2File(Path("in").c_str(), Path("out").c_str()));
  EXPECT_TRUE(log.Has(LOG_ERROR, "could not apply diff")) << log.Dump();
  EXPECT_FALSE(Exists("out"));
}

TEST_F(ContainerFiles, UnwritableOutputFails) {
  const Bytes file = Text();
  Put("in", MakeContainer(kContainerMagic, Checksum32(file.data(), file.size()), 1, file));
  CaptureLog log;
  EXPECT_FALSE(DecompressLzma2File(Path("in").c_str(), Path("no_dir/out").c_str()));
  EXPECT_TRUE(log.Has(LOG_ERROR, "could not write output file")) << log.Dump();
}

}  // namespace
}  // namespace velpatch
