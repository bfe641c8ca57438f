#include "executable_roundtrip.h"

#include <algorithm>
#include <memory>

#include "encoded_program.h"
#include "executable_detection.h"
#include "instruction_program.h"
#include "labels.h"

namespace velpatch {
namespace {

bool Fail(RoundTripResult* result, PatchStatus status, const char* stage) {
  result->status = status;
  result->failed_stage = stage;
  return false;
}

bool Run(const uint8_t* data, size_t length, RoundTripResult* result) {
  PatchStatus status = DetectExecutable(data, length, &result->kind, &result->detected_length);
  if (status != PatchStatus::Ok)
    return Fail(result, status, "detect");

  InstructionProgram* raw_program = nullptr;
  status = ParseExecutable(data, length, &raw_program);
  std::unique_ptr<InstructionProgram> program(raw_program);
  if (status != PatchStatus::Ok)
    return Fail(result, status, "disassemble");
  if (!TrimLabels(*program))
    return Fail(result, PatchStatus::TrimFailed, "trim");

  EncodedProgram* raw_encoded = nullptr;
  status = EncodeProgram(*program, &raw_encoded);
  std::unique_ptr<EncodedProgram> encoded(raw_encoded);
  if (status != PatchStatus::Ok)
    return Fail(result, status, "encode");

  ByteSinkSet sinks;
  ByteSink serialized;
  status = SerializeEncodedProgram(*encoded, sinks);
  if (status == PatchStatus::Ok && !sinks.SerializeTo(serialized))
    status = PatchStatus::StreamError;
  if (status != PatchStatus::Ok)
    return Fail(result, status, "serialize");
  encoded.reset();
  program.reset();

  ByteSourceSet sources;
  if (!sources.Parse(serialized.data(), serialized.length()))
    return Fail(result, PatchStatus::ProgramReadFailed, "deserialize");
  EncodedProgram* raw_read = nullptr;
  status = DeserializeEncodedProgram(sources, &raw_read);
  std::unique_ptr<EncodedProgram> read(raw_read);
  if (status != PatchStatus::Ok)
    return Fail(result, status, "deserialize");

  status = Assemble(*read, result->assembled);
  if (status != PatchStatus::Ok)
    return Fail(result, status, "assemble");
  result->status = PatchStatus::Ok;
  return true;
}

}  // namespace

void RoundTripExecutable(const uint8_t* data, size_t length, RoundTripResult* result) {
  result->assembled.Release();
  result->failed_stage = "";
  if (!Run(data, length, result))
    return;
  const size_t expected = result->detected_length;
  const size_t actual = result->assembled.length();
  const size_t common = std::min(expected, actual);
  size_t differing = 0;
  for (size_t i = 0; i < common; ++i)
    differing += data[i] != result->assembled.data()[i];
  result->differing_bytes = differing;
  result->length_difference = static_cast<int64_t>(actual) - static_cast<int64_t>(expected);
}

}  // namespace velpatch
