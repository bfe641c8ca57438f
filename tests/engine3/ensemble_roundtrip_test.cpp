// Ensemble patch generation: patches made for version pairs of every executable kind, for plain
// data and for real libraries apply back to the new file; label matching keeps the indexes of
// unchanged code.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "element_program.h"
#include "ensemble_patch.h"
#include "label_matching.h"
#include "test_files.h"

namespace velpatch {
namespace {

// The same file with a few code bytes changed, for kinds without a compiled second version.
Bytes Edited(Bytes file, size_t at) {
  for (size_t i = 0; i < 3 && at + i < file.size(); ++i) file[at + i] ^= 0x5A;
  return file;
}

struct PairCase {
  const char* name;
  Bytes (*old_file)();
  Bytes (*new_file)();
  size_t elements;  // transformations a transformed patch carries
};

const PairCase kPairs[] = {
    {"elf64_x64", [] { return Fixture("old_elf64_x64.so"); },
     [] { return Fixture("new_elf64_x64.so"); }, 1},
    {"elf32_x86", [] { return Fixture("old_elf32_x86.so"); },
     [] { return Fixture("new_elf32_x86.so"); }, 1},
    {"elf32_arm", [] { return Fixture("old_elf32_arm.so"); },
     [] { return Fixture("new_elf32_arm.so"); }, 1},
    {"pe32", [] { return Fixture("old_pe32.dll"); }, [] { return Fixture("new_pe32.dll"); }, 1},
    {"pe64", [] { return Fixture("old_pe64.dll"); }, [] { return Fixture("new_pe64.dll"); }, 1},
    {"macho32", [] { return Engine2Fixture("macho32"); },
     [] { return Edited(Engine2Fixture("macho32"), 0x1100); }, 1},
    {"macho64", [] { return Engine2Fixture("macho64"); },
     [] { return Edited(Engine2Fixture("macho64"), 0x1180); }, 1},
    {"universal",
     [] {
       return Universal({Engine2Fixture("macho32"), Engine2Fixture("macho64")});
     },
     [] {
       return Universal({Edited(Engine2Fixture("macho32"), 0x1100), Engine2Fixture("macho64")});
     },
     2},
    // The new version is another kind: nothing pairs.
    {"pe32_to_pe64", [] { return Fixture("old_pe32.dll"); }, [] { return Fixture("new_pe64.dll"); },
     0},
    {"identical", [] { return Fixture("old_elf32_x86.so"); },
     [] { return Fixture("old_elf32_x86.so"); }, 1},
    {"text", [] { return Bytes(3000, 'a'); }, [] { return Bytes(2000, 'b'); }, 0},
    {"from_empty", [] { return Bytes(); }, [] { return Fixture("old_pe64.dll"); }, 0},
    {"to_empty", [] { return Fixture("old_pe64.dll"); }, [] { return Bytes(); }, 0},
};

void ExpectAppliesTo(const Bytes& old_file, const ByteSink& patch, const Bytes& new_file) {
  ByteSource old(old_file.data(), old_file.size()), source(patch.data(), patch.length());
  ByteSink out;
  ASSERT_EQ(ApplyEnsemblePatchStreams(old, source, out), PatchStatus::Ok);
  EXPECT_EQ(ToBytes(out), new_file);
}

class EnsembleRoundTrip : public ::testing::TestWithParam<PairCase> {};

TEST_P(EnsembleRoundTrip, PatchesApply) {
  const PairCase& c = GetParam();
  const Bytes old_file = c.old_file(), new_file = c.new_file();
  for (const bool prefer_transformed : {false, true}) {
    SCOPED_TRACE(prefer_transformed ? "transformed" : "smaller");
    ByteSink patch;
    EnsemblePatchInfo info;
    EnsemblePatchOptions options;
    options.prefer_transformed = prefer_transformed;
    ASSERT_EQ(GenerateEnsemblePatch(old_file.data(), old_file.size(), new_file.data(),
                                    new_file.size(), patch, &info, options),
              PatchStatus::Ok);
    EXPECT_EQ(patch.length(), info.transformations ? info.transformed_size : info.plain_size);
    if (prefer_transformed) {
      EXPECT_EQ(info.transformations, c.elements);
    } else {
      EXPECT_LE(patch.length(), info.plain_size);
    }
    ExpectAppliesTo(old_file, patch, new_file);
  }
}

INSTANTIATE_TEST_SUITE_P(Pairs, EnsembleRoundTrip, ::testing::ValuesIn(kPairs),
                         [](const auto& info) { return std::string(info.param.name); });

// Real libraries that every machine building the engine has (it links them).
TEST(EnsembleRealBinaries, PatchesBetweenSystemLibrariesApply) {
  const Bytes lzma = ReadFile("/usr/lib/x86_64-linux-gnu/liblzma.so.5");
  const Bytes zlib = ReadFile("/usr/lib/x86_64-linux-gnu/libz.so.1");
  if (lzma.empty() || zlib.empty()) GTEST_SKIP() << "system libraries not found";
  const struct {
    const char* why;
    const Bytes& old_file;
    Bytes new_file;
  } cases[] = {
      {"another library", zlib, lzma},
      {"edited code", lzma, Edited(lzma, lzma.size() / 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EnsemblePatchOptions options;
    options.prefer_transformed = true;
    EnsemblePatchInfo info;
    ByteSink patch;
    ASSERT_EQ(GenerateEnsemblePatch(c.old_file.data(), c.old_file.size(), c.new_file.data(),
                                    c.new_file.size(), patch, &info, options),
              PatchStatus::Ok);
    EXPECT_EQ(info.transformations, 1u);
    ExpectAppliesTo(c.old_file, patch, c.new_file);
  }
}

// Unchanged code keeps every label's index; so does code that moved as a whole.
TEST(LabelMatching, UnchangedLabelsKeepTheirIndexes) {
  const Bytes old_file = Fixture("old_pe32.dll");
  const struct {
    const char* why;
    Bytes new_file;
  } cases[] = {
      {"identical", old_file},
      {"edited", Edited(old_file, 0x500)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    std::unique_ptr<InstructionProgram> old_program, new_program;
    ASSERT_EQ(DisassembleElement(old_file.data(), old_file.size(), &old_program), PatchStatus::Ok);
    ASSERT_EQ(DisassembleElement(c.new_file.data(), c.new_file.size(), &new_program),
              PatchStatus::Ok);
    ASSERT_TRUE(MatchLabelIndexes(*old_program, old_file.data(), old_file.size(), *new_program,
                                  c.new_file.data(), c.new_file.size()));
    size_t same = 0, total = 0;
    for (const LabelMap* map : {&new_program->abs32_labels(), &new_program->rel32_labels()}) {
      const LabelMap& old_map = map == &new_program->abs32_labels() ? old_program->abs32_labels()
                                                                    : old_program->rel32_labels();
      for (const auto& entry : *map) {
        ASSERT_NE(entry.second.index, kUnassignedLabelIndex);
        auto old_label = old_map.find(entry.first);
        ++total;
        same += old_label != old_map.end() && old_label->second.index == entry.second.index;
      }
    }
    ASSERT_GT(total, 10u);
    EXPECT_GE(same * 100, total * 95) << same << " of " << total;
  }
}

}  // namespace
}  // namespace velpatch
