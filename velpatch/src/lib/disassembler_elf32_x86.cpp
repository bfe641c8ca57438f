#include "disassembler_elf32_x86.h"

#include "relocation_tables.h"

namespace velpatch {

bool DisassemblerElf32X86::RelToRva(uint64_t r_offset, uint64_t r_info, uint32_t* rva) const {
  if (r_info != kElfRelocRelative386)
    return false;
  *rva = static_cast<uint32_t>(r_offset);
  return true;
}

bool DisassemblerElf32X86::EmitRelocationSection(const Section& section,
                                                 InstructionProgram& program) {
  return EmitRelocationsAsTable(section, program, kElfRelocRelative386, false);
}

bool DisassemblerElf32X86::FindRel32InSection(const Section& section) {
  return ScanX86Rel32(section, false);
}

}  // namespace velpatch
