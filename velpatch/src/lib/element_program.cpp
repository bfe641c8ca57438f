#include "element_program.h"

#include "executable_detection.h"
#include "labels.h"

namespace velpatch {

PatchStatus DisassembleElement(const uint8_t* data, size_t length,
                               std::unique_ptr<InstructionProgram>* program) {
  program->reset();
  InstructionProgram* raw = nullptr;
  const PatchStatus status = ParseExecutable(data, length, &raw);
  std::unique_ptr<InstructionProgram> parsed(raw);
  if (status != PatchStatus::Ok) return status;
  if (!TrimLabels(*parsed)) return PatchStatus::TrimFailed;
  *program = std::move(parsed);
  return PatchStatus::Ok;
}

PatchStatus EncodeElement(const InstructionProgram& program, ByteSinkSet& streams,
                          std::unique_ptr<EncodedProgram>* encoded) {
  EncodedProgram* raw = nullptr;
  PatchStatus status = EncodeProgram(program, &raw);
  std::unique_ptr<EncodedProgram> result(raw);
  if (status != PatchStatus::Ok) return PatchStatus::GeneralError;
  status = SerializeEncodedProgram(*result, streams);
  if (status != PatchStatus::Ok) return PatchStatus::StreamError;
  if (encoded) *encoded = std::move(result);
  return PatchStatus::Ok;
}

}  // namespace velpatch
