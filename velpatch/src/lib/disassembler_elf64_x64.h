// 64-bit x86-64 ELF executables and shared libraries. They carry no absolute references that
// this disassembler uses; relative references come from call, jump and rip-relative forms.
#ifndef VELPATCH_DISASSEMBLER_ELF64_X64_H
#define VELPATCH_DISASSEMBLER_ELF64_X64_H

#include "disassembler_elf.h"

namespace velpatch {

class DisassemblerElf64X64 : public DisassemblerElf64 {
 public:
  DisassemblerElf64X64(const uint8_t* start, size_t length) : DisassemblerElf64(start, length) {}
  ExecutableKind kind() const override { return ExecutableKind::ELF_64_X64; }

 protected:
  uint16_t elf_machine() const override { return 62; }  // EM_X86_64
  bool RelToRva(uint64_t r_offset, uint64_t r_info, uint32_t* rva) const override;
  bool EmitRelocationSection(const Section& section, InstructionProgram& program) override;
  bool FindRel32InSection(const Section& section) override;
};

}  // namespace velpatch

#endif  // VELPATCH_DISASSEMBLER_ELF64_X64_H
