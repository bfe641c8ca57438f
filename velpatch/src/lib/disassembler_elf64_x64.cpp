#include "disassembler_elf64_x64.h"

#include "instruction_program.h"

namespace velpatch {

// x86-64 images keep their absolute addresses in RELA entries, which are not used here.
bool DisassemblerElf64X64::RelToRva(uint64_t, uint64_t, uint32_t*) const { return false; }

bool DisassemblerElf64X64::EmitRelocationSection(const Section& section,
                                                 InstructionProgram& program) {
  return program.EmitBytes(SectionBytes(section), section.size) || Bad("Out of memory");
}

bool DisassemblerElf64X64::FindRel32InSection(const Section& section) {
  return ScanX86Rel32(section, true);
}

}  // namespace velpatch
