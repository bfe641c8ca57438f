// Mach-O images for x86 (32-bit, MACHO_X86) and x86-64 (64-bit, MACHO_X64). Mach-O images are
// position independent, so only relative references in code sections are labelled.
#ifndef VELPATCH_DISASSEMBLER_MACHO_H
#define VELPATCH_DISASSEMBLER_MACHO_H

#include <cstdint>
#include <vector>

#include "disassembler.h"

namespace velpatch {

class DisassemblerMacho : public Disassembler {
 public:
  DisassemblerMacho(const uint8_t* start, size_t length) : Disassembler(start, length) {}

  ExecutableKind kind() const override { return m_Kind; }
  bool CheckHeader() override;
  bool EmitProgram(InstructionProgram& program) override;

 private:
  struct Segment {
    uint32_t address = 0;
    uint32_t memory_size = 0;
    uint32_t file_offset = 0;
    uint32_t file_size = 0;
  };
  struct CodeSection {
    uint32_t address = 0;
    uint32_t size = 0;
    uint32_t file_offset = 0;
  };

  bool ParseSegment(const uint8_t* command, uint32_t command_size, bool is64);
  bool FindRel32(const CodeSection& section);
  bool EmitCodeSection(const CodeSection& section, InstructionProgram& program);

  ExecutableKind m_Kind = ExecutableKind::UNKNOWN;
  std::vector<Segment> m_Segments;
  std::vector<CodeSection> m_CodeSections;  // by file offset after the header check
  std::vector<uint32_t> m_Rel32Rvas;        // ascending
  uint64_t m_FileEnd = 0;                   // largest segment file end
};

}  // namespace velpatch

#endif  // VELPATCH_DISASSEMBLER_MACHO_H
