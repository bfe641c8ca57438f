// 32-bit ARM ELF executables and shared libraries: absolute references from R_ARM_RELATIVE
// entries, relative references from ARM and Thumb branches (see arm_branch.h).
#ifndef VELPATCH_DISASSEMBLER_ELF32_ARM_H
#define VELPATCH_DISASSEMBLER_ELF32_ARM_H

#include "disassembler_elf.h"

namespace velpatch {

class DisassemblerElf32ARM : public DisassemblerElf32 {
 public:
  DisassemblerElf32ARM(const uint8_t* start, size_t length) : DisassemblerElf32(start, length) {}
  ExecutableKind kind() const override { return ExecutableKind::ELF_32_ARM; }

 protected:
  uint16_t elf_machine() const override { return 40; }  // EM_ARM
  bool RelToRva(uint64_t r_offset, uint64_t r_info, uint32_t* rva) const override;
  bool EmitRelocationSection(const Section& section, InstructionProgram& program) override;
  bool FindRel32InSection(const Section& section) override;
};

}  // namespace velpatch

#endif  // VELPATCH_DISASSEMBLER_ELF32_ARM_H
