#include "patcher_x86_32.h"

#include <memory>

#include "element_program.h"
#include "encoded_program.h"
#include "streams.h"

namespace velpatch {
namespace {

// A nested set ends at its last non-empty stream, so an encoded program read back with
// ReadNestedSet has eight streams, while DeserializeEncodedProgram wants all nine that
// serialization defines (the ninth being empty). The program is read from a set of ten streams
// that views the same bytes; afterwards the nested streams advance by what was read, so that
// unread bytes still show as not consumed.
PatchStatus ReadNestedProgram(ByteSourceSet& nested, std::unique_ptr<EncodedProgram>* program) {
  // A serialized set of ten empty streams.
  static const uint8_t kTenEmpty[] = {0xEA, 0x9A, 0xCA, 0x09, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ByteSourceSet widened;
  if (!widened.Parse(kTenEmpty, sizeof(kTenEmpty)))
    return PatchStatus::ProgramReadFailed;  // cannot happen
  for (size_t i = 0; i < nested.count(); ++i) widened.stream(i) = nested.stream(i);
  EncodedProgram* raw = nullptr;
  const PatchStatus status = DeserializeEncodedProgram(widened, &raw);
  program->reset(raw);
  if (status != PatchStatus::Ok) return status;
  for (size_t i = 0; i < nested.count(); ++i) {
    ByteSource& stream = nested.stream(i);
    if (!stream.Skip(static_cast<size_t>(widened.stream(i).current() - stream.current())))
      return PatchStatus::ProgramReadFailed;  // cannot happen: both view the same bytes
  }
  return PatchStatus::Ok;
}

}  // namespace

PatchStatus PatcherX86_32::ReadParameters(ByteSource& parameters) {
  uint32_t offset = 0, length = 0;
  if (!parameters.ReadVarUint32(&offset) || !parameters.ReadVarUint32(&length))
    return PatchStatus::BadTransformParameters;
  if (offset > m_EnsembleLength || length > m_EnsembleLength - offset)
    return PatchStatus::BadTransformParameters;
  m_BaseOffset = offset;
  m_BaseLength = length;
  return PatchStatus::Ok;
}

PatchStatus PatcherX86_32::PredictParameters(ByteSinkSet&) { return PatchStatus::Ok; }

PatchStatus PatcherX86_32::TransformElement(ByteSourceSet& corrected, ByteSinkSet& transformed) {
  if (!corrected.AllConsumed()) return PatchStatus::GeneralError;
  std::unique_ptr<InstructionProgram> program;
  const PatchStatus status = DisassembleElement(m_Ensemble + m_BaseOffset, m_BaseLength, &program);
  if (status != PatchStatus::Ok) return status;
  return EncodeElement(*program, transformed);
}

PatchStatus PatcherX86_32::ReformElement(ByteSourceSet& transformed, ByteSink& reformed) {
  std::unique_ptr<EncodedProgram> program;
  const PatchStatus status = ReadNestedProgram(transformed, &program);
  if (status != PatchStatus::Ok) return PatchStatus::ProgramReadFailed;
  return Assemble(*program, reformed) == PatchStatus::Ok ? PatchStatus::Ok
                                                         : PatchStatus::AssemblyFailed;
}

}  // namespace velpatch
