// Application of ensemble patches.
#include <memory>
#include <new>
#include <vector>

#include "binarydiff.h"
#include "ensemble_patch.h"
#include "executable_kind.h"
#include "lzmaioout.h"
#include "nothrow.h"
#include "patcher_x86_32.h"

namespace velpatch {
namespace {

struct Header {
  uint32_t source_checksum = 0;
  uint32_t target_checksum = 0;
  uint32_t final_input_size = 0;
};

PatchStatus ReadHeader(ByteSource& patch, Header* header) {
  uint32_t magic = 0, version = 0;
  if (!patch.ReadVarUint32(&magic) || magic != kEnsemblePatchMagic) return PatchStatus::BadMagic;
  if (!patch.ReadVarUint32(&version) || version != kEnsemblePatchVersion)
    return PatchStatus::BadVersion;
  if (!patch.ReadVarUint32(&header->source_checksum) ||
      !patch.ReadVarUint32(&header->target_checksum) ||
      !patch.ReadVarUint32(&header->final_input_size))
    return PatchStatus::BadHeader;
  return PatchStatus::Ok;
}

using Patchers = std::vector<std::unique_ptr<TransformationPatcher>>;

// Stream 0: T, T kinds, then each patcher's own parameters; nothing may follow.
PatchStatus MakePatchers(ByteSource& parameters, ByteSource& old, Patchers* patchers) {
  uint32_t count = 0;
  if (!parameters.ReadVarUint32(&count) || count > parameters.Remaining())
    return PatchStatus::BadHeader;  // every kind takes a byte: a larger count cannot be real
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t kind = 0;
    if (!parameters.ReadVarUint32(&kind) ||
        kind < static_cast<uint32_t>(ExecutableKind::WIN_32_X86) ||
        kind > static_cast<uint32_t>(ExecutableKind::MACHO_X64))
      return PatchStatus::BadHeader;
    std::unique_ptr<TransformationPatcher> patcher(
        new (std::nothrow) PatcherX86_32(old.current(), old.Remaining()));
    if (!patcher || !NoThrowAlloc([&] { patchers->push_back(std::move(patcher)); }))
      return PatchStatus::GeneralError;
  }
  for (auto& patcher : *patchers) {
    const PatchStatus status = patcher->ReadParameters(parameters);
    if (status != PatchStatus::Ok) return status;
  }
  return parameters.Empty() ? PatchStatus::Ok : PatchStatus::BadHeader;
}

// Serializes `from`, applies `diff` to it and parses the result into `to`, which points into
// `buffer`.
PatchStatus Correct(ByteSinkSet& from, ByteSource& diff, ByteSink& buffer, ByteSourceSet& to) {
  ByteSink serialized;
  if (!from.SerializeTo(serialized)) return PatchStatus::StreamError;
  ByteSource old(serialized.data(), serialized.length());
  if (!ApplyBinaryDiff(old, diff, buffer, false)) return PatchStatus::GeneralError;
  return to.Parse(buffer.data(), buffer.length()) ? PatchStatus::Ok : PatchStatus::StreamError;
}

// Steps 5 and 6: the corrected parameter set.
PatchStatus CorrectParameters(Patchers& patchers, ByteSource& diff, ByteSink& buffer,
                              ByteSourceSet& corrected) {
  ByteSinkSet predicted;
  for (auto& patcher : patchers) {
    ByteSinkSet own;
    const PatchStatus status = patcher->PredictParameters(own);
    if (status != PatchStatus::Ok) return status;
    if (!predicted.WriteNestedSet(own)) return PatchStatus::StreamError;
  }
  return Correct(predicted, diff, buffer, corrected);
}

// Step 7: every element in its transformed form.
PatchStatus TransformDown(Patchers& patchers, ByteSourceSet& corrected, ByteSinkSet& transformed) {
  for (auto& patcher : patchers) {
    ByteSourceSet parameters;
    if (!corrected.ReadNestedSet(parameters)) return PatchStatus::StreamError;
    ByteSinkSet own;
    const PatchStatus status = patcher->TransformElement(parameters, own);
    if (status != PatchStatus::Ok) return status;
    if (!parameters.AllConsumed()) return PatchStatus::StreamNotConsumed;
    if (!transformed.WriteNestedSet(own)) return PatchStatus::StreamError;
  }
  return corrected.AllConsumed() ? PatchStatus::Ok : PatchStatus::StreamNotConsumed;
}

// The reform buffer's reservation comes from a header field, which is only a hint. Assembly
// writes at most 12 bytes per byte of its encoded program (an absolute address of 4 bytes plus
// its 8-byte relocation entry for a 1-byte op and a 1-byte index), so a hint beyond that is not
// believed.
size_t ReformReservation(uint32_t hint, size_t old_length, size_t transformed_length) {
  constexpr size_t kMaxAssemblyGrowth = 16;
  const size_t limit = old_length + kMaxAssemblyGrowth * transformed_length;
  return hint < limit ? hint : limit;
}

// Step 9: the old file followed by every element assembled from its transformed new form.
PatchStatus TransformUp(Patchers& patchers, ByteSource& old, ByteSourceSet& transformed,
                        size_t transformed_length, uint32_t hint, ByteSink& reformed) {
  if (!reformed.Reserve(ReformReservation(hint, old.Remaining(), transformed_length)) ||
      !reformed.Write(old.current(), old.Remaining()))
    return PatchStatus::StreamError;
  for (auto& patcher : patchers) {
    ByteSourceSet element;
    if (!transformed.ReadNestedSet(element)) return PatchStatus::StreamError;
    const PatchStatus status = patcher->ReformElement(element, reformed);
    if (status != PatchStatus::Ok) return status;
    if (!element.AllConsumed()) return PatchStatus::StreamNotConsumed;
  }
  return transformed.AllConsumed() ? PatchStatus::Ok : PatchStatus::StreamNotConsumed;
}

PatchStatus Apply(ByteSource old, ByteSource patch, ByteSink& out) {
  Header header;
  PatchStatus status = ReadHeader(patch, &header);
  if (status != PatchStatus::Ok) return status;
  if (Checksum32(old.current(), old.Remaining()) != header.source_checksum)
    return PatchStatus::ChecksumMismatch;

  ByteSink body;
  if (!ReadLzma2Block(patch, body)) return PatchStatus::StreamError;
  ByteSourceSet streams;
  if (!streams.Parse(body.data(), body.length()) || streams.count() < 4)
    return PatchStatus::BadHeader;

  Patchers patchers;
  status = MakePatchers(streams.stream(0), old, &patchers);
  if (status != PatchStatus::Ok) return status;

  ByteSink corrected_buffer;
  ByteSourceSet corrected;
  status = CorrectParameters(patchers, streams.stream(1), corrected_buffer, corrected);
  if (status != PatchStatus::Ok) return status;

  ByteSinkSet transformed_old;
  status = TransformDown(patchers, corrected, transformed_old);
  if (status != PatchStatus::Ok) return status;
  corrected_buffer.Release();

  ByteSink transformed_buffer;
  ByteSourceSet transformed_new;
  status = Correct(transformed_old, streams.stream(2), transformed_buffer, transformed_new);
  if (status != PatchStatus::Ok) return status;

  ByteSink reformed;
  status = TransformUp(patchers, old, transformed_new, transformed_buffer.length(),
                       header.final_input_size, reformed);
  if (status != PatchStatus::Ok) return status;
  transformed_buffer.Release();

  ByteSource final_old(reformed.data(), reformed.length());
  if (!ApplyBinaryDiff(final_old, streams.stream(3), out, false)) return PatchStatus::GeneralError;
  if (Checksum32(out.data(), out.length()) != header.target_checksum)
    return PatchStatus::ChecksumMismatch;
  return PatchStatus::Ok;
}

}  // namespace

PatchStatus ApplyEnsemblePatchStreams(ByteSource& old, ByteSource& patch, ByteSink& out) {
  out.Release();
  const PatchStatus status = Apply(old, patch, out);
  if (status != PatchStatus::Ok) out.Release();
  return status;
}

int ApplyEnsemblePatchFiles(const oschar* old_path, const oschar* patch_path,
                            const oschar* new_path) {
  ByteSink out;
  {
    MappedFile patch_file;
    if (!patch_file.Open(patch_path, MappedFile::Hint::NORMAL))
      return static_cast<int>(PatchStatus::PatchOpenFailed);
    ByteSource header_source(patch_file.data(), patch_file.length());
    Header header;
    const PatchStatus header_status = ReadHeader(header_source, &header);
    if (header_status != PatchStatus::Ok) return static_cast<int>(header_status);
    MappedFile old_file;
    if (!old_file.Open(old_path, MappedFile::Hint::NORMAL))
      return static_cast<int>(PatchStatus::OldOpenOrWriteFailed);
    ByteSource old(old_file.data(), old_file.length());
    ByteSource patch(patch_file.data(), patch_file.length());
    const PatchStatus status = ApplyEnsemblePatchStreams(old, patch, out);
    if (status != PatchStatus::Ok) return static_cast<int>(status);
  }
  if (WriteWholeFile(new_path, out.data(), out.length()) != out.length())
    return static_cast<int>(PatchStatus::OldOpenOrWriteFailed);
  return static_cast<int>(PatchStatus::Ok);
}

}  // namespace velpatch
