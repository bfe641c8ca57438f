#include "patcher_x86_32.h"

#include <memory>

#include "element_program.h"
#include "encoded_program.h"
#include "streams.h"

namespace velpatch {
namespace {

// A nested set ends at its last non-empty stream, so an encoded program read back with
// ReadNestedSet has eight streams, while DeserializeEncodedProgram wants all nine that
// serialization defines (the ninth being empty). Copies the streams into a set of ten and, after
// reading, advances the nested streams by what was read from the copies, so that unread bytes
// still show as not consumed.
PatchStatus ReadNestedProgram(ByteSourceSet& nested, std::unique_ptr<EncodedProgram>* program) {
  ByteSinkSet copy;
  for (size_t i = 0; i < nested.count(); ++i) {
    ByteSource& stream = nested.stream(i);
    if (!copy.stream(i).Write(stream.current(), stream.Remaining()))
      return PatchStatus::ProgramReadFailed;
  }
  ByteSink buffer;
  ByteSourceSet widened;
  if (!copy.SerializeTo(buffer) || !widened.Parse(buffer.data(), buffer.length()))
    return PatchStatus::ProgramReadFailed;
  EncodedProgram* raw = nullptr;
  const PatchStatus status = DeserializeEncodedProgram(widened, &raw);
  program->reset(raw);
  if (status != PatchStatus::Ok)
    return status;
  for (size_t i = 0; i < nested.count(); ++i) {
    if (!nested.stream(i).Skip(widened.stream(i).Consumed()))
      return PatchStatus::ProgramReadFailed;  // cannot happen: the copy was as long
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
  if (!corrected.AllConsumed())
    return PatchStatus::GeneralError;
  std::unique_ptr<InstructionProgram> program;
  const PatchStatus status =
      DisassembleElement(m_Ensemble + m_BaseOffset, m_BaseLength, &program);
  if (status != PatchStatus::Ok)
    return status;
  return EncodeElement(*program, transformed);
}

PatchStatus PatcherX86_32::ReformElement(ByteSourceSet& transformed, ByteSink& reformed) {
  std::unique_ptr<EncodedProgram> program;
  const PatchStatus status = ReadNestedProgram(transformed, &program);
  if (status != PatchStatus::Ok)
    return PatchStatus::ProgramReadFailed;
  return Assemble(*program, reformed) == PatchStatus::Ok ? PatchStatus::Ok
                                                         : PatchStatus::AssemblyFailed;
}

}  // namespace velpatch
