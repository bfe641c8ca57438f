// 32-bit x86 ELF executables and shared libraries: absolute references from R_386_RELATIVE
// entries, relative references from call, jmp and jcc.
#ifndef VELPATCH_DISASSEMBLER_ELF32_X86_H
#define VELPATCH_DISASSEMBLER_ELF32_X86_H

#include "disassembler_elf.h"

namespace velpatch {

class DisassemblerElf32X86 : public DisassemblerElf32 {
 public:
  DisassemblerElf32X86(const uint8_t* start, size_t length) : DisassemblerElf32(start, length) {}
  ExecutableKind kind() const override { return ExecutableKind::EXE_ELF_32_X86; }

 protected:
  uint16_t elf_machine() const override { return 3; }  // EM_386
  bool RelToRva(uint64_t r_offset, uint64_t r_info, uint32_t* rva) const override;
  bool EmitRelocationSection(const Section& section, InstructionProgram& program) override;
  bool FindRel32InSection(const Section& section) override;
};

}  // namespace velpatch

#endif  // VELPATCH_DISASSEMBLER_ELF32_X86_H
