#include "patcher_x86_32.h"

#include <memory>

#include "element_program.h"
#include "encoded_program.h"
#include "streams.h"

namespace velpatch {

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
  EncodedProgram* raw = nullptr;
  const PatchStatus status = DeserializeEncodedProgram(transformed, &raw);
  std::unique_ptr<EncodedProgram> program(raw);
  if (status != PatchStatus::Ok) return PatchStatus::ProgramReadFailed;
  return Assemble(*program, reformed) == PatchStatus::Ok ? PatchStatus::Ok
                                                         : PatchStatus::AssemblyFailed;
}

}  // namespace velpatch
