// EncodeProgram: instruction program -> encoded program.
#include <memory>
#include <new>

#include "encoded_program.h"
#include "instruction_program.h"
#include "log.h"
#include "nothrow.h"

namespace velpatch {
namespace {

bool DefineTargets(const LabelMap& labels, EncodedProgram& encoded, bool abs32) {
  for (const auto& entry : labels) {
    const Label& label = entry.second;
    const bool ok = abs32 ? encoded.SetAbs32Target(label.index, label.rva)
                          : encoded.SetRel32Target(label.index, label.rva);
    if (!ok)
      return false;
  }
  return true;
}

bool LabelIndex(const Instruction& insn, uint32_t* index) {
  if (insn.label == nullptr || insn.label->index == kUnassignedLabelIndex)
    return false;
  *index = insn.label->index;
  return true;
}

bool EncodeInstruction(const InstructionProgram& program, const Instruction& insn,
                       EncodedProgram& encoded) {
  uint32_t index = 0;
  switch (insn.kind) {
    case InstructionKind::Origin:
      return encoded.AppendOrigin(insn.value);
    case InstructionKind::PeRelocs:
      return encoded.AppendPeRelocsOp(program.kind());
    case InstructionKind::ElfRelocs:
      return encoded.AppendElfRelocsOp();
    case InstructionKind::ElfArmRelocs:
      return encoded.AppendElfArmRelocsOp();
    case InstructionKind::Byte:
      return encoded.AppendCopy(1, &insn.byte);
    case InstructionKind::Bytes:
      return encoded.AppendCopy(insn.value, insn.bytes);
    case InstructionKind::Rel32:
      return LabelIndex(insn, &index) && encoded.AppendRel32(index);
    case InstructionKind::Abs32:
      return LabelIndex(insn, &index) && encoded.AppendAbs32(index);
    case InstructionKind::Rel32Arm:
      return LabelIndex(insn, &index) && encoded.AppendRel32Arm(insn.arm_op, index);
  }
  Log("REACHED UNREACHABLE Unknown Insn OP kind", LOG_ERROR);
  return true;
}

// Sizes the tables up front: growing them while encoding a large image copies them again and
// again and leaves up to half of each unused.
bool ReserveTables(const InstructionProgram& program, EncodedProgram& encoded) {
  size_t bytes = 0;
  size_t rel32 = 0;
  size_t abs32 = 0;
  for (const Instruction& insn : program.instructions()) {
    bytes += insn.kind == InstructionKind::Bytes ? insn.value : insn.kind == InstructionKind::Byte;
    rel32 += insn.kind == InstructionKind::Rel32 || insn.kind == InstructionKind::Rel32Arm;
    abs32 += insn.kind == InstructionKind::Abs32;
  }
  return NoThrowAlloc([&] {
    encoded.ops.reserve(program.instructions().size());
    encoded.copy_bytes.reserve(bytes);
    encoded.rel32_indexes.reserve(rel32);
    encoded.abs32_indexes.reserve(abs32);
    encoded.rel32_rvas.reserve(program.rel32_labels().size());
    encoded.abs32_rvas.reserve(program.abs32_labels().size());
  });
}

}  // namespace

PatchStatus EncodeProgram(const InstructionProgram& program, EncodedProgram** out) {
  *out = nullptr;
  std::unique_ptr<EncodedProgram> encoded(new (std::nothrow) EncodedProgram);
  if (!encoded)
    return PatchStatus::GeneralError;
  encoded->image_base = program.image_base();
  if (!ReserveTables(program, *encoded))
    return PatchStatus::GeneralError;

  if (!DefineTargets(program.abs32_labels(), *encoded, true) ||
      !DefineTargets(program.rel32_labels(), *encoded, false))
    return PatchStatus::GeneralError;
  encoded->FinishTargetTables();

  for (const Instruction& insn : program.instructions()) {
    if (!EncodeInstruction(program, insn, *encoded))
      return PatchStatus::GeneralError;
  }
  *out = encoded.release();
  return PatchStatus::Ok;
}

}  // namespace velpatch
