// Generation of ensemble patches.
//
// The executables of the old and new file are found as the container writer finds them and
// paired by kind in file order. For each pair the patch carries the old element's region; the
// applier turns it into the old encoded program (transformed old) exactly as done here. The new
// element's program gets label indexes matched to the old program's (label_matching.h), so that
// the diff between the two encoded programs stays small; its assembly, appended to the old file,
// is the old data of the final diff to the new file. A patch without transformations (T = 0, a
// plain diff from the old to the new file) is made as well, and the smaller one is returned.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "binarydiff.h"
#include "element_program.h"
#include "ensemble_patch.h"
#include "executable_elements.h"
#include "label_matching.h"
#include "log.h"
#include "nothrow.h"
#include "patch_body_block.h"

namespace velpatch {
namespace {

constexpr size_t kMaxInput = 0x7FFFFFFF;  // the binary diff's limit

struct Input {
  const uint8_t* data;
  size_t length;
};

struct ElementPair {
  ExecutableElement old_element;
  ByteSinkSet old_streams;  // the old encoded program, as the applier computes it
  ByteSinkSet new_streams;  // the new encoded program, indexes matched to the old one
  ByteSink assembled;       // the new encoded program assembled
};

using Pairs = std::vector<std::unique_ptr<ElementPair>>;

// Everything the applier will do to the old element, and the new element's side. False when
// either side cannot be transformed: the pair is then left out.
bool PreparePair(const Input& old_file, const ExecutableElement& old_element, const Input& new_file,
                 const ExecutableElement& new_element, ElementPair* pair) {
  const uint8_t* old_bytes = old_file.data + old_element.offset;
  const uint8_t* new_bytes = new_file.data + new_element.offset;
  std::unique_ptr<InstructionProgram> old_program, new_program;
  if (DisassembleElement(old_bytes, old_element.length, &old_program) != PatchStatus::Ok ||
      EncodeElement(*old_program, pair->old_streams) != PatchStatus::Ok ||
      DisassembleElement(new_bytes, new_element.length, &new_program) != PatchStatus::Ok)
    return false;
  if (!MatchLabelIndexes(*old_program, old_bytes, old_element.length, *new_program, new_bytes,
                         new_element.length))
    Log("could not match labels; using the default order", LOG_WARNING);
  old_program.reset();
  std::unique_ptr<EncodedProgram> encoded;
  if (EncodeElement(*new_program, pair->new_streams, &encoded) != PatchStatus::Ok) return false;
  new_program.reset();
  if (Assemble(*encoded, pair->assembled) != PatchStatus::Ok) return false;
  pair->old_element = old_element;
  return true;
}

// Pairs elements of the same kind in file order: each old element takes the next new element
// of its kind after the previous pair's.
PatchStatus MakePairs(const Input& old_file, const Input& new_file, Pairs* pairs) {
  std::vector<ExecutableElement> old_elements, new_elements;
  PatchStatus status = FindExecutableElements(old_file.data, old_file.length, &old_elements);
  if (status == PatchStatus::Ok)
    status = FindExecutableElements(new_file.data, new_file.length, &new_elements);
  if (status != PatchStatus::Ok) return status;
  size_t next_new = 0;
  for (const ExecutableElement& old_element : old_elements) {
    size_t k = next_new;
    while (k < new_elements.size() && new_elements[k].kind != old_element.kind) ++k;
    if (k == new_elements.size()) continue;
    next_new = k + 1;
    Log(std::string("pairing ") + ExecutableKindName(old_element.kind) + " at " +
            std::to_string(old_element.offset) + " with " + std::to_string(new_elements[k].offset),
        LOG_DEBUG);
    std::unique_ptr<ElementPair> pair(new (std::nothrow) ElementPair);
    if (!pair) return PatchStatus::GeneralError;
    if (!PreparePair(old_file, old_element, new_file, new_elements[k], pair.get())) {
      Log(std::string("leaving out a ") + ExecutableKindName(old_element.kind) +
              " element that could not be transformed",
          LOG_WARNING);
      continue;
    }
    if (!NoThrowAlloc([&] { pairs->push_back(std::move(pair)); })) return PatchStatus::GeneralError;
  }
  return PatchStatus::Ok;
}

bool Diff(const uint8_t* old_data, size_t old_length, const uint8_t* new_data, size_t new_length,
          ByteSink& out) {
  ByteSource old(old_data, old_length), updated(new_data, new_length);
  return GenerateBinaryDiff(old, updated, out, false, DIFF_METHOD_RAW);
}

// Serializes `set` and diffs `from` (already serialized) to it into `out`.
PatchStatus DiffSets(const ByteSink& from, ByteSinkSet& set, ByteSink& out) {
  ByteSink to;
  if (!set.SerializeTo(to)) return PatchStatus::StreamError;
  return Diff(from.data(), from.length(), to.data(), to.length(), out) ? PatchStatus::Ok
                                                                       : PatchStatus::GeneralError;
}

// Streams 0 ... 2 of the body: the parameters, the (empty) parameter correction and the
// correction of the transformed elements. Consumes the pairs' streams.
PatchStatus WriteTransformations(Pairs& pairs, ByteSinkSet& body) {
  ByteSink& parameters = body.stream(0);
  bool ok = parameters.WriteVarSize(pairs.size());
  for (const auto& pair : pairs)
    ok = ok && parameters.WriteVarUint32(static_cast<uint32_t>(pair->old_element.kind));
  for (const auto& pair : pairs) {
    ok = ok && parameters.WriteVarSize(pair->old_element.offset) &&
         parameters.WriteVarSize(pair->old_element.length);
  }
  if (!ok) return PatchStatus::StreamError;

  // Every patcher predicts its (empty) parameters exactly: the correction is the identity.
  ByteSinkSet predicted, corrected;
  for (size_t i = 0; i < pairs.size(); ++i) {
    ByteSinkSet none_predicted, none_corrected;
    if (!predicted.WriteNestedSet(none_predicted) || !corrected.WriteNestedSet(none_corrected))
      return PatchStatus::StreamError;
  }
  ByteSink predicted_bytes;
  if (!predicted.SerializeTo(predicted_bytes)) return PatchStatus::StreamError;
  PatchStatus status = DiffSets(predicted_bytes, corrected, body.stream(1));
  if (status != PatchStatus::Ok) return status;

  ByteSinkSet transformed_old, transformed_new;
  for (const auto& pair : pairs) {
    if (!transformed_old.WriteNestedSet(pair->old_streams) ||
        !transformed_new.WriteNestedSet(pair->new_streams))
      return PatchStatus::StreamError;
  }
  ByteSink old_bytes;
  if (!transformed_old.SerializeTo(old_bytes)) return PatchStatus::StreamError;
  return DiffSets(old_bytes, transformed_new, body.stream(2));
}

PatchStatus WritePatch(const Input& old_file, const Input& new_file, Pairs& pairs, ByteSink& out) {
  ByteSinkSet body;
  body.set_count(4);
  PatchStatus status = WriteTransformations(pairs, body);
  if (status != PatchStatus::Ok) return status;

  ByteSink reformed;
  if (!reformed.Write(old_file.data, old_file.length)) return PatchStatus::StreamError;
  for (auto& pair : pairs) {
    if (!reformed.Append(pair->assembled)) return PatchStatus::StreamError;
  }
  if (reformed.length() > 0xFFFFFFFF)
    return PatchStatus::GeneralError;  // the final input size field has 32 bits
  if (!Diff(reformed.data(), reformed.length(), new_file.data, new_file.length, body.stream(3)))
    return PatchStatus::GeneralError;

  ByteSink serialized;
  if (!body.SerializeTo(serialized)) return PatchStatus::StreamError;
  const bool ok = out.WriteVarUint32(kEnsemblePatchMagic) &&
                  out.WriteVarUint32(kEnsemblePatchVersion) &&
                  out.WriteVarUint32(Checksum32(old_file.data, old_file.length)) &&
                  out.WriteVarUint32(Checksum32(new_file.data, new_file.length)) &&
                  out.WriteVarSize(reformed.length());
  reformed.Release();
  if (!ok || !WritePatchBodyBlock(serialized.data(), serialized.length(), out))
    return PatchStatus::StreamError;
  return PatchStatus::Ok;
}

// The patch does what it is for.
bool Verify(const Input& old_file, const Input& new_file, const ByteSink& patch) {
  ByteSource old(old_file.data, old_file.length), patch_source(patch.data(), patch.length());
  ByteSink result;
  return ApplyEnsemblePatchStreams(old, patch_source, result) == PatchStatus::Ok &&
         result.length() == new_file.length &&
         (new_file.length == 0 ||
          std::equal(result.data(), result.data() + result.length(), new_file.data));
}

PatchStatus Generate(const Input& old_file, const Input& new_file, ByteSink& out,
                     EnsemblePatchInfo* info, const EnsemblePatchOptions& options) {
  Pairs none;
  ByteSink plain;
  PatchStatus status = WritePatch(old_file, new_file, none, plain);
  if (status != PatchStatus::Ok) return status;
  info->plain_size = plain.length();

  Pairs pairs;
  status = MakePairs(old_file, new_file, &pairs);
  if (status != PatchStatus::Ok) return status;
  const size_t transformations = pairs.size();
  if (transformations > 0) {
    ByteSink transformed;
    status = WritePatch(old_file, new_file, pairs, transformed);
    pairs.clear();
    if (status != PatchStatus::Ok) {
      Log("could not write the transformed patch (status " +
              std::to_string(static_cast<int>(status)) + "); using the plain one",
          LOG_WARNING);
    } else {
      info->transformed_size = transformed.length();
      if (transformed.length() < plain.length() || options.prefer_transformed) {
        if (Verify(old_file, new_file, transformed)) {
          info->transformations = transformations;
          out = std::move(transformed);
          return PatchStatus::Ok;
        }
        Log("the transformed patch does not reproduce the new file; using the plain one",
            LOG_ERROR);
      }
    }
  }
  if (!Verify(old_file, new_file, plain)) {
    Log("the patch does not reproduce the new file", LOG_ERROR);
    return PatchStatus::GeneralError;
  }
  out = std::move(plain);
  return PatchStatus::Ok;
}

}  // namespace

PatchStatus GenerateEnsemblePatch(const uint8_t* old_data, size_t old_length,
                                  const uint8_t* new_data, size_t new_length, ByteSink& out,
                                  EnsemblePatchInfo* info, const EnsemblePatchOptions& options) {
  out.Release();
  EnsemblePatchInfo local;
  if (!info) info = &local;
  *info = EnsemblePatchInfo();
  if (old_length > kMaxInput || new_length > kMaxInput) {
    Log("input too large for a patch", LOG_ERROR);
    return PatchStatus::GeneralError;
  }
  const PatchStatus status =
      Generate(Input{old_data, old_length}, Input{new_data, new_length}, out, info, options);
  if (status != PatchStatus::Ok) out.Release();
  return status;
}

}  // namespace velpatch
