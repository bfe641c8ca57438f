#include "disassembler_elf32_arm.h"

#include "arm_branch.h"
#include "byte_reader.h"
#include "relocation_tables.h"

namespace velpatch {
namespace {

// The branch type of the instruction at p, or -1. `aligned` tells whether p may start a 4-byte
// ARM instruction.
int ArmBranchType(const uint8_t* p, uint64_t remaining, bool aligned, uint32_t* value) {
  if (remaining >= 3) {
    const uint32_t h1 = LoadU16(p);
    if ((h1 & 0xF000) == 0xD000 || (h1 & 0xF800) == 0xE000) {
      *value = h1;
      return (h1 & 0xF000) == 0xD000 ? 0 : 1;
    }
  }
  if (remaining >= 5) {
    const uint32_t thumb32 = (uint32_t(LoadU16(p)) << 16) | LoadU16(p + 2);
    if ((thumb32 & 0xF8008000) == 0xF0008000) {
      *value = thumb32;
      return (thumb32 & 0x5000) == 0 ? 4 : 3;
    }
    const uint32_t arm = LoadU32(p);
    if (aligned && (arm & 0x0E000000) == 0x0A000000) {
      *value = arm;
      return 2;
    }
  }
  return -1;
}

}  // namespace

bool DisassemblerElf32ARM::RelToRva(uint64_t r_offset, uint64_t r_info, uint32_t* rva) const {
  if (r_info != kElfRelocRelativeArm)
    return false;
  *rva = static_cast<uint32_t>(r_offset);
  return true;
}

bool DisassemblerElf32ARM::EmitRelocationSection(const Section& section,
                                                 InstructionProgram& program) {
  return EmitRelocationsAsTable(section, program, kElfRelocRelativeArm, true);
}

bool DisassemblerElf32ARM::FindRel32InSection(const Section& section) {
  const uint8_t* bytes = SectionBytes(section);
  const uint64_t size = section.size;
  bool aligned = true;
  uint64_t p = 0;
  while (p < size) {
    uint32_t value = 0;
    const int type = ArmBranchType(bytes + p, size - p, aligned, &value);
    bool kept = false;
    if (type >= 0) {
      Rel32Ref ref;
      ref.rva = static_cast<uint32_t>(section.addr + p);
      ref.file_offset = section.offset + p;
      ref.op_size = ArmTypeSize(static_cast<uint32_t>(type));
      if (!CompressArmBranch(static_cast<uint32_t>(type), value, ref.rva, &ref.arm_op,
                             &ref.relative_target))
        return false;
      if (!AddRel32(ref, &kept))
        return false;
    }
    if (kept) {
      p += ArmTypeSize(static_cast<uint32_t>(type));
      aligned = true;
    } else {
      p += 2;
      aligned = !aligned;
    }
  }
  return true;
}

}  // namespace velpatch
