// Ensemble patch application: every status the applier returns, on patches put together field by
// field, and the file-level entry's promise to leave the new file alone on failure.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "binarydiff.h"
#include "element_program.h"
#include "encoded_program.h"
#include "ensemble_patch.h"
#include "lzmaioout.h"
#include "test_files.h"

namespace velpatch {
namespace {

Bytes Serialize(ByteSinkSet& set) {
  ByteSink out;
  EXPECT_TRUE(set.SerializeTo(out));
  return ToBytes(out);
}

Bytes Diff(const Bytes& from, const Bytes& to) {
  ByteSource old(from.data(), from.size()), updated(to.data(), to.size());
  ByteSink out;
  EXPECT_TRUE(GenerateBinaryDiff(old, updated, out, false, DIFF_METHOD_RAW));
  return ToBytes(out);
}

// `count` nested sets written one after the other into a fresh set, serialized.
Bytes SerializeNested(std::vector<ByteSinkSet>& nested) {
  ByteSinkSet outer;
  for (ByteSinkSet& set : nested) EXPECT_TRUE(outer.WriteNestedSet(set));
  return Serialize(outer);
}

Bytes EmptyNested(size_t count) {
  std::vector<ByteSinkSet> sets(count);
  return SerializeNested(sets);
}

// The transformed form of an element, as the applier computes it.
void TransformedElement(const Bytes& file, ByteSinkSet& streams) {
  std::unique_ptr<InstructionProgram> program;
  ASSERT_EQ(DisassembleElement(file.data(), file.size(), &program), PatchStatus::Ok);
  ASSERT_EQ(EncodeElement(*program, streams), PatchStatus::Ok);
}

// A patch put together from its fields. The defaults give a valid patch from `old_file` to
// `new_file` without transformations.
struct PatchParts {
  PatchParts(const Bytes& old_data, const Bytes& new_data)
      : old_file(old_data), new_file(new_data) {}

  Bytes old_file, new_file;
  uint32_t magic = kEnsemblePatchMagic;
  uint32_t version = kEnsemblePatchVersion;
  int64_t source_checksum = -1;  // -1: computed
  int64_t target_checksum = -1;
  uint32_t final_input_size = 0;
  bool header_ends_after_version = false;
  Bytes parameters = {0};                  // stream 0
  Bytes predicted, corrected;              // stream 1 is the diff between them; empty: T = 0 sets
  Bytes transformed_old, transformed_new;  // stream 2 likewise
  Bytes reformed;                          // old data of stream 3; empty: the old file
  size_t stream_count = 4;
  Bytes body_override;  // replaces the body when not empty
  bool truncate_body = false;
  bool corrupt_final_diff = false;  // stream 3 names compression method 3

  Bytes Build() const {
    ByteSink out;
    EXPECT_TRUE(out.WriteVarUint32(magic) && out.WriteVarUint32(version));
    if (header_ends_after_version) return ToBytes(out);
    const uint32_t source = source_checksum >= 0 ? static_cast<uint32_t>(source_checksum)
                                                 : Checksum32(old_file.data(), old_file.size());
    const uint32_t target = target_checksum >= 0 ? static_cast<uint32_t>(target_checksum)
                                                 : Checksum32(new_file.data(), new_file.size());
    EXPECT_TRUE(out.WriteVarUint32(source) && out.WriteVarUint32(target) &&
                out.WriteVarUint32(final_input_size));
    Bytes body = body_override;
    if (body.empty()) {
      const Bytes empty = EmptyNested(0);
      ByteSinkSet set;
      set.set_count(stream_count);
      const Bytes s1 =
          Diff(predicted.empty() ? empty : predicted,
               corrected.empty() ? (predicted.empty() ? empty : predicted) : corrected);
      const Bytes s2 =
          Diff(transformed_old.empty() ? empty : transformed_old,
               transformed_new.empty() ? (transformed_old.empty() ? empty : transformed_old)
                                       : transformed_new);
      const Bytes s3 =
          corrupt_final_diff ? Bytes{3} : Diff(reformed.empty() ? old_file : reformed, new_file);
      const Bytes* streams[] = {&parameters, &s1, &s2, &s3};
      for (size_t i = 0; i < stream_count && i < 4; ++i)
        EXPECT_TRUE(set.stream(i).Write(streams[i]->data(), streams[i]->size()));
      body = Serialize(set);
    }
    EXPECT_TRUE(WriteLzma2Block(body.data(), body.size(), out));
    Bytes patch = ToBytes(out);
    if (truncate_body) patch.resize(patch.size() - 3);
    return patch;
  }
};

PatchStatus Apply(const Bytes& old_file, const Bytes& patch, Bytes* result = nullptr) {
  ByteSource old(old_file.data(), old_file.size()), source(patch.data(), patch.size());
  ByteSink out;
  const PatchStatus status = ApplyEnsemblePatchStreams(old, source, out);
  if (status != PatchStatus::Ok) {
    EXPECT_EQ(out.length(), 0u);
  }
  if (result) *result = ToBytes(out);
  return status;
}

Bytes Text(const char* seed) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += std::string(seed) + std::to_string(i * 31 % 97) + "\n";
  return Bytes(text.begin(), text.end());
}

TEST(EnsembleApply, PlainPatchAppliesToTheOldFileAlone) {
  const Bytes old_file = Text("old "), new_file = Text("new ");
  PatchParts parts(old_file, new_file);
  Bytes patch = parts.Build();
  patch.push_back(0x77);  // bytes after the body are ignored
  Bytes result;
  ASSERT_EQ(Apply(old_file, patch, &result), PatchStatus::Ok);
  EXPECT_EQ(result, new_file);
}

// A reservation hint that no patch could need is not believed, and the patch still applies.
TEST(EnsembleApply, MissingMagicIsBadMagic) {
  EXPECT_EQ(Apply(Text("old "), {}), PatchStatus::BadMagic);
  EXPECT_EQ(Apply(Text("old "), {0xC3, 0xDE}), PatchStatus::BadMagic);
}

TEST(EnsembleApply, HugeFinalSizeHintIsHarmless) {
  const Bytes old_file = Text("old "), new_file = Text("new ");
  PatchParts parts(old_file, new_file);
  parts.final_input_size = 0xFFFFFFFF;
  Bytes result;
  ASSERT_EQ(Apply(old_file, parts.Build(), &result), PatchStatus::Ok);
  EXPECT_EQ(result, new_file);
}

struct StatusCase {
  const char* why;
  std::function<void(PatchParts&)> change;
  PatchStatus expected;
};

// Patches over an x86 ELF element: `parts` holds a valid one-transformation patch to change.
void OneElement(PatchParts& p) {
  p.parameters = {1, 2, 0};  // T = 1, kind 2, base offset 0, base length: appended below
  ByteSink length;
  EXPECT_TRUE(length.WriteVarUint32(static_cast<uint32_t>(p.old_file.size())));
  p.parameters.insert(p.parameters.end(), length.data(), length.data() + length.length());
  p.predicted = EmptyNested(1);
  std::vector<ByteSinkSet> element(1);
  TransformedElement(p.old_file, element[0]);
  p.transformed_old = SerializeNested(element);
  // The element is the whole file and assembles back to it exactly.
  p.reformed = p.old_file;
  p.reformed.insert(p.reformed.end(), p.old_file.begin(), p.old_file.end());
}

TEST(EnsembleApply, EveryStatus) {
  const Bytes elf = Fixture("old_elf32_x86.so");
  const StatusCase cases[] = {
      {"valid, one element", [](PatchParts& p) { OneElement(p); }, PatchStatus::Ok},
      {"wrong magic", [](PatchParts& p) { p.magic = 7696194; }, PatchStatus::BadMagic},
      {"version 20110215", [](PatchParts& p) { p.version = 20110215; }, PatchStatus::BadVersion},
      {"header ends after the version", [](PatchParts& p) { p.header_ends_after_version = true; },
       PatchStatus::BadHeader},
      {"made for another old file", [](PatchParts& p) { p.source_checksum = 1; },
       PatchStatus::ChecksumMismatch},
      {"result differs from the target checksum", [](PatchParts& p) { p.target_checksum = 1; },
       PatchStatus::ChecksumMismatch},
      {"body cut short", [](PatchParts& p) { p.truncate_body = true; }, PatchStatus::StreamError},
      {"body not a stream set",
       [](PatchParts& p) {
         p.body_override = {1, 2, 3};
       },
       PatchStatus::BadHeader},
      {"three streams", [](PatchParts& p) { p.stream_count = 3; }, PatchStatus::BadHeader},
      {"no T", [](PatchParts& p) { p.parameters = {}; }, PatchStatus::BadHeader},
      {"kind 0",
       [](PatchParts& p) {
         p.parameters = {1, 0, 0, 0};
       },
       PatchStatus::BadHeader},
      {"kind 8",
       [](PatchParts& p) {
         p.parameters = {1, 8, 0, 0};
       },
       PatchStatus::BadHeader},
      {"kinds missing",
       [](PatchParts& p) {
         p.parameters = {2, 5};
       },
       PatchStatus::BadHeader},
      {"extra byte after T = 0",
       [](PatchParts& p) {
         p.parameters = {0, 0};
       },
       PatchStatus::BadHeader},
      {"extra byte after the parameters",
       [](PatchParts& p) {
         OneElement(p);
         p.parameters.push_back(0);
       },
       PatchStatus::BadHeader},
      {"base length missing",
       [](PatchParts& p) {
         p.parameters = {1, 5, 0};
       },
       PatchStatus::BadTransformParameters},
      {"base region one byte beyond the old file",
       [](PatchParts& p) {
         OneElement(p);
         p.parameters[2] = 1;  // base offset 1 (the length is the whole file)
       },
       PatchStatus::BadTransformParameters},
      {"base offset beyond the old file",
       [](PatchParts& p) { p.parameters = {1, 2, 0xFF, 0xFF, 0x03, 0}; },
       PatchStatus::BadTransformParameters},
      {"parameter correction does not apply",
       [](PatchParts& p) {
         OneElement(p);
         p.predicted = EmptyNested(9);
       },
       PatchStatus::GeneralError},
      {"corrected parameters not empty",
       [](PatchParts& p) {
         OneElement(p);
         std::vector<ByteSinkSet> own(1);
         EXPECT_TRUE(own[0].stream(0).Write("p", 1));
         p.corrected = SerializeNested(own);
       },
       PatchStatus::GeneralError},
      {"corrected set without the patcher's entry",
       [](PatchParts& p) {
         OneElement(p);
         p.corrected = EmptyNested(0);
       },
       PatchStatus::StreamError},
      {"corrected set with an entry too many",
       [](PatchParts& p) {
         OneElement(p);
         p.corrected = EmptyNested(2);
       },
       PatchStatus::StreamNotConsumed},
      {"region not an executable",
       [](PatchParts& p) {
         OneElement(p);
         p.parameters = {1, 2, 0, 16};
       },
       PatchStatus::NotRecognized},
      {"element correction does not apply",
       [](PatchParts& p) {
         OneElement(p);
         // Made for a longer old form: its copy runs past the real one.
         for (int i = 0; i < 4096; ++i) p.transformed_old.push_back(static_cast<uint8_t>(i * 7));
       },
       PatchStatus::GeneralError},
      {"corrected elements not a stream set",
       [](PatchParts& p) {
         OneElement(p);
         p.transformed_new = {1, 2, 3};
       },
       PatchStatus::StreamError},
      {"corrected elements without the element",
       [](PatchParts& p) {
         OneElement(p);
         p.transformed_new = EmptyNested(0);
       },
       PatchStatus::StreamError},
      {"element not an encoded program",
       [](PatchParts& p) {
         OneElement(p);
         std::vector<ByteSinkSet> garbage(1);
         EXPECT_TRUE(garbage[0].stream(1).Write("zz", 2));
         p.transformed_new = SerializeNested(garbage);
       },
       PatchStatus::ProgramReadFailed},
      {"element does not assemble",
       [](PatchParts& p) {
         OneElement(p);
         EncodedProgram broken;
         EXPECT_TRUE(broken.AppendCopy(1, reinterpret_cast<const uint8_t*>("x")));
         broken.copy_bytes.clear();
         std::vector<ByteSinkSet> element(1);
         EXPECT_EQ(SerializeEncodedProgram(broken, element[0]), PatchStatus::Ok);
         p.transformed_new = SerializeNested(element);
       },
       PatchStatus::AssemblyFailed},
      {"bytes left in the element's streams",
       [](PatchParts& p) {
         OneElement(p);
         std::vector<ByteSinkSet> element(1);
         TransformedElement(p.old_file, element[0]);
         EXPECT_TRUE(element[0].stream(9).Write("!", 1));
         p.transformed_new = SerializeNested(element);
       },
       PatchStatus::StreamNotConsumed},
      {"bytes left after the last element",
       [](PatchParts& p) {
         OneElement(p);
         std::vector<ByteSinkSet> element(2);
         TransformedElement(p.old_file, element[0]);
         p.transformed_new = SerializeNested(element);
       },
       PatchStatus::StreamNotConsumed},
      {"final diff does not apply", [](PatchParts& p) { p.corrupt_final_diff = true; },
       PatchStatus::GeneralError},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.why);
    PatchParts parts(elf, Fixture("new_elf32_x86.so"));
    c.change(parts);
    Bytes result;
    EXPECT_EQ(Apply(elf, parts.Build(), &result), c.expected);
    if (c.expected == PatchStatus::Ok) {
      EXPECT_EQ(result, parts.new_file);
    }
  }
}

class EnsembleApplyFiles : public ScratchDirTest {};

TEST_F(EnsembleApplyFiles, WritesTheNewFileOnlyOnSuccess) {
  const Bytes old_file = Text("old "), new_file = Text("new ");
  Put("old", old_file);
  Put("new", {'k', 'e', 'e', 'p'});
  Put("empty", {});
  PatchParts good(old_file, new_file);
  PatchParts bad_magic(old_file, new_file);
  bad_magic.magic = 1;
  PatchParts bad_target(old_file, new_file);
  bad_target.target_checksum = 7;
  Put("good", good.Build());
  Put("bad_magic", bad_magic.Build());
  Put("bad_target", bad_target.Build());

  const struct {
    const char* old_name;
    const char* patch_name;
    PatchStatus expected;
  } cases[] = {
      {"old", "missing", PatchStatus::PatchOpenFailed},
      {"old", "empty", PatchStatus::PatchOpenFailed},
      {"old", "bad_magic", PatchStatus::BadMagic},
      {"missing", "good", PatchStatus::OldOpenOrWriteFailed},
      {"empty", "good", PatchStatus::OldOpenOrWriteFailed},
      {"old", "bad_target", PatchStatus::ChecksumMismatch},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.old_name) + " + " + c.patch_name);
    EXPECT_EQ(ApplyEnsemblePatchFiles(Path(c.old_name).c_str(), Path(c.patch_name).c_str(),
                                      Path("new").c_str()),
              static_cast<int>(c.expected));
    EXPECT_EQ(Get("new"), Bytes({'k', 'e', 'e', 'p'}));
  }
  EXPECT_EQ(ApplyEnsemblePatchFiles(Path("old").c_str(), Path("good").c_str(), Path("new").c_str()),
            static_cast<int>(PatchStatus::Ok));
  EXPECT_EQ(Get("new"), new_file);
  EXPECT_EQ(ApplyEnsemblePatchFiles(Path("old").c_str(), Path("good").c_str(),
                                    Path("no_dir/new").c_str()),
            static_cast<int>(PatchStatus::OldOpenOrWriteFailed));
}

}  // namespace
}  // namespace velpatch
