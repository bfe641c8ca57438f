// Serialization of an encoded program into a stream set, and reading it back.
//
//   stream 0: image base (low 32 bits); origins     stream 4: rel32 indexes
//   stream 1: ops                                   stream 5: abs32 RVAs, delta coded
//   stream 2: copy bytes (length, raw)              stream 6: rel32 RVAs, delta coded
//   stream 3: abs32 indexes                         stream 7: copy counts
// Every table is its count followed by its entries as varints. Streams 8 and 9 stay empty.
#include <memory>
#include <new>

#include "encoded_program.h"
#include "nothrow.h"
#include "streams.h"

namespace velpatch {
namespace {

enum Stream : size_t {
  kBaseAndOrigins = 0,
  kOps = 1,
  kCopyBytes = 2,
  kAbs32Indexes = 3,
  kRel32Indexes = 4,
  kAbs32Rvas = 5,
  kRel32Rvas = 6,
  kCopyCounts = 7,
  kStreamsRead = 9,  // streams 0 ... 8 must be present and consumed
};

bool WriteTable(ByteSink& sink, const std::vector<uint32_t>& table) {
  bool ok = sink.WriteVarSize(table.size());
  for (uint32_t value : table)
    ok = sink.WriteVarSize(value) && ok;
  return ok;
}

bool WriteDeltas(ByteSink& sink, const std::vector<uint32_t>& table) {
  bool ok = sink.WriteVarSize(table.size());
  uint32_t previous = 0;
  for (uint32_t value : table) {
    ok = sink.WriteVarUint32(value - previous) && ok;
    previous = value;
  }
  return ok;
}

// Every entry takes at least one byte, so a count above the bytes left is corrupt; checking
// that first keeps a forged count from sizing an allocation.
bool ReadCount(ByteSource& source, uint32_t* count) {
  return source.ReadVarUint32(count) && *count <= source.Remaining();
}

bool ReadTable(ByteSource& source, std::vector<uint32_t>& table) {
  table.clear();
  uint32_t count = 0;
  if (!ReadCount(source, &count))
    return false;
  if (!NoThrowAlloc([&] { table.reserve(count); }))
    return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t value = 0;
    if (!source.ReadVarUint32(&value))
      return false;
    table.push_back(value);
  }
  return true;
}

bool ReadDeltas(ByteSource& source, std::vector<uint32_t>& table) {
  if (!ReadTable(source, table))
    return false;
  uint32_t previous = 0;
  for (uint32_t& value : table) {
    value += previous;  // modulo 2^32
    previous = value;
  }
  return true;
}

bool ReadBytes(ByteSource& source, std::vector<uint8_t>& bytes) {
  bytes.clear();
  uint32_t length = 0;
  if (!ReadCount(source, &length))
    return false;
  // ReadCount checked that the bytes are there: copy them in once, without zeroing first.
  const uint8_t* first = source.current();
  if (!NoThrowAlloc([&] { bytes.assign(first, first + length); }))
    return false;
  return source.Skip(length);
}

bool ReadProgram(ByteSourceSet& streams, EncodedProgram& program) {
  uint32_t image_base = 0;
  if (!streams.stream(kBaseAndOrigins).ReadVarUint32(&image_base))
    return false;
  program.image_base = image_base;
  if (!ReadDeltas(streams.stream(kAbs32Rvas), program.abs32_rvas) ||
      !ReadDeltas(streams.stream(kRel32Rvas), program.rel32_rvas) ||
      !ReadTable(streams.stream(kBaseAndOrigins), program.origins) ||
      !ReadTable(streams.stream(kOps), program.ops) ||
      !ReadTable(streams.stream(kCopyCounts), program.copy_counts) ||
      !ReadBytes(streams.stream(kCopyBytes), program.copy_bytes) ||
      !ReadTable(streams.stream(kAbs32Indexes), program.abs32_indexes) ||
      !ReadTable(streams.stream(kRel32Indexes), program.rel32_indexes))
    return false;
  for (size_t i = 0; i < kStreamsRead; ++i) {
    if (streams.stream(i).Remaining() != 0)
      return false;
  }
  return true;
}

}  // namespace

PatchStatus SerializeEncodedProgram(const EncodedProgram& program, ByteSinkSet& streams) {
  ByteSink& base = streams.stream(kBaseAndOrigins);
  bool ok = base.WriteVarUint32(static_cast<uint32_t>(program.image_base));
  ok = WriteTable(base, program.origins) && ok;
  ok = WriteTable(streams.stream(kOps), program.ops) && ok;
  ByteSink& copy_bytes = streams.stream(kCopyBytes);
  ok = copy_bytes.Reserve(program.copy_bytes.size() + 5) && ok;
  ok = copy_bytes.WriteVarSize(program.copy_bytes.size()) && ok;
  ok = copy_bytes.Write(program.copy_bytes.data(), program.copy_bytes.size()) && ok;
  ok = WriteTable(streams.stream(kAbs32Indexes), program.abs32_indexes) && ok;
  ok = WriteTable(streams.stream(kRel32Indexes), program.rel32_indexes) && ok;
  ok = WriteDeltas(streams.stream(kAbs32Rvas), program.abs32_rvas) && ok;
  ok = WriteDeltas(streams.stream(kRel32Rvas), program.rel32_rvas) && ok;
  ok = WriteTable(streams.stream(kCopyCounts), program.copy_counts) && ok;
  return ok ? PatchStatus::Ok : PatchStatus::StreamError;
}

PatchStatus DeserializeEncodedProgram(ByteSourceSet& streams, EncodedProgram** out) {
  *out = nullptr;
  if (streams.count() < kStreamsRead)
    return PatchStatus::ProgramReadFailed;
  std::unique_ptr<EncodedProgram> program(new (std::nothrow) EncodedProgram);
  if (!program || !ReadProgram(streams, *program))
    return PatchStatus::ProgramReadFailed;
  *out = program.release();
  return PatchStatus::Ok;
}

}  // namespace velpatch
