#include "instruction_program.h"

#include <limits>

#include "nothrow.h"

namespace velpatch {

bool InstructionProgram::Append(const Instruction& instruction) {
  return NoThrowAlloc([&] { m_Instructions.push_back(instruction); });
}

Label* InstructionProgram::FindOrMakeLabel(LabelMap& labels, uint32_t rva) {
  Label* label = nullptr;
  if (!NoThrowAlloc([&] { label = &labels[rva]; }))
    return nullptr;
  label->rva = rva;
  ++label->count;
  return label;
}

bool InstructionProgram::Reserve(size_t n) {
  return NoThrowAlloc([&] { m_Instructions.reserve(m_Instructions.size() + n); });
}

bool InstructionProgram::EmitOrigin(uint32_t rva) {
  Instruction insn;
  insn.kind = InstructionKind::Origin;
  insn.value = rva;
  return Append(insn);
}

bool InstructionProgram::EmitPeRelocs() {
  Instruction insn;
  insn.kind = InstructionKind::PeRelocs;
  return Append(insn);
}

bool InstructionProgram::EmitElfRelocs() {
  Instruction insn;
  insn.kind = InstructionKind::ElfRelocs;
  return Append(insn);
}

bool InstructionProgram::EmitElfArmRelocs() {
  Instruction insn;
  insn.kind = InstructionKind::ElfArmRelocs;
  return Append(insn);
}

bool InstructionProgram::EmitByte(uint8_t byte) {
  Instruction insn;
  insn.kind = InstructionKind::Byte;
  insn.byte = byte;
  return Append(insn);
}

bool InstructionProgram::EmitBytes(const uint8_t* bytes, size_t length) {
  while (length > 0) {
    // A run longer than 4 GiB is split; it cannot occur in a region the headers accepted.
    const uint32_t limit = std::numeric_limits<uint32_t>::max();
    if (!m_Instructions.empty()) {
      Instruction& last = m_Instructions.back();
      if (last.kind == InstructionKind::Bytes && last.bytes + last.value == bytes &&
          last.value < limit) {
        const size_t take = length < size_t(limit - last.value) ? length : limit - last.value;
        last.value += static_cast<uint32_t>(take);
        bytes += take;
        length -= take;
        continue;
      }
    }
    Instruction insn;
    insn.kind = InstructionKind::Bytes;
    insn.bytes = bytes;
    insn.value = static_cast<uint32_t>(length < limit ? length : limit);
    if (!Append(insn))
      return false;
    bytes += insn.value;
    length -= insn.value;
  }
  return true;
}

bool InstructionProgram::EmitRel32(uint32_t target_rva) {
  Instruction insn;
  insn.kind = InstructionKind::Rel32;
  insn.label = FindOrMakeLabel(m_Rel32Labels, target_rva);
  return insn.label != nullptr && Append(insn);
}

bool InstructionProgram::EmitAbs32(uint32_t target_rva) {
  Instruction insn;
  insn.kind = InstructionKind::Abs32;
  insn.label = FindOrMakeLabel(m_Abs32Labels, target_rva);
  return insn.label != nullptr && Append(insn);
}

bool InstructionProgram::EmitRel32Arm(uint16_t arm_op, const uint8_t* instruction,
                                      uint32_t op_size, uint32_t target_rva) {
  Instruction insn;
  insn.kind = InstructionKind::Rel32Arm;
  insn.arm_op = arm_op;
  insn.bytes = instruction;
  insn.value = op_size;
  insn.label = FindOrMakeLabel(m_Rel32Labels, target_rva);
  return insn.label != nullptr && Append(insn);
}

}  // namespace velpatch
