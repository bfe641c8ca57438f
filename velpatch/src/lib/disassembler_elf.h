// The ELF family. DisassemblerElf holds everything the 32- and 64-bit layouts share: header
// checks, address translation, relocation-driven absolute references and the section walk.
// DisassemblerElf64 and DisassemblerElf32 fix the layout; the concrete classes add the machine,
// the relocation type and the scan for relative references.
#ifndef VELPATCH_DISASSEMBLER_ELF_H
#define VELPATCH_DISASSEMBLER_ELF_H

#include <cstdint>
#include <vector>

#include "disassembler.h"

namespace velpatch {

class DisassemblerElf : public Disassembler {
 public:
  bool CheckHeader() override;
  bool EmitProgram(InstructionProgram& program) override;

 protected:
  enum class ElfClass { Elf32, Elf64 };

  // Section and program headers widened to 64 bits, whatever the file's class.
  struct Section {
    uint32_t name = 0;
    uint32_t type = 0;
    uint64_t flags = 0;
    uint64_t addr = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint64_t entsize = 0;
  };
  struct Segment {
    uint32_t type = 0;
    uint64_t offset = 0;
    uint64_t vaddr = 0;
    uint64_t filesz = 0;
    uint64_t memsz = 0;
  };
  // A relative reference found in code. `arm_op` is 0 for x86 references.
  struct Rel32Ref {
    uint32_t rva = 0;              // where the reference's bytes start
    uint32_t relative_target = 0;  // target = rva + relative_target
    uint64_t file_offset = 0;
    uint32_t op_size = 4;
    uint16_t arm_op = 0;
  };

  enum SectionType : uint32_t {
    SHT_PROGBITS = 1,
    SHT_NOBITS = 8,
    SHT_REL = 9,
    SHT_INIT_ARRAY = 14,
    SHT_FINI_ARRAY = 15,
  };

  DisassemblerElf(ElfClass elf_class, const uint8_t* start, size_t length);

  virtual uint16_t elf_machine() const = 0;
  // The RVA an entry of a REL section relocates, when it is the relative relocation this
  // machine's absolute references use.
  virtual bool RelToRva(uint64_t r_offset, uint64_t r_info, uint32_t* rva) const = 0;
  virtual bool EmitRelocationSection(const Section& section, InstructionProgram& program) = 0;
  virtual bool FindRel32InSection(const Section& section) = 0;

  // For the concrete classes.
  const uint8_t* SectionBytes(const Section& section) const {
    return OffsetToPointer(section.offset);
  }
  const std::vector<uint32_t>& abs32_rvas() const { return m_Abs32Rvas; }
  bool RvaToFileOffset(uint32_t rva, uint64_t* offset) const;
  // Inside the memory range of a loadable segment.
  bool IsValidTarget(uint32_t rva) const;
  // Keeps a reference (*kept) when its target is valid and its RVA maps back to the file offset
  // it was read from: a non-loaded section's addresses can alias loaded ones, and the walk must
  // emit every reference over the bytes it was read from. False only when memory runs out.
  [[nodiscard]] bool AddRel32(const Rel32Ref& ref, bool* kept);
  // The x86 scan: call/jmp/jcc, plus the rip-relative forms when `rip_forms`.
  [[nodiscard]] bool ScanX86Rel32(const Section& section, bool rip_forms);
  // Entries of a REL section, never more than its bytes hold.
  uint64_t RelocationCount(const Section& section) const;
  void ReadRelocation(const Section& section, uint64_t i, uint64_t* r_offset,
                      uint64_t* r_info) const;
  // Emits leading entries as bytes (ARM only), then a relocation-table instruction in place of
  // entries that list exactly the abs32 RVAs with `type`, then the rest of the section as bytes.
  bool EmitRelocationsAsTable(const Section& section, InstructionProgram& program, uint32_t type,
                              bool skip_leading_entries);

 private:
  bool ParseTables(uint64_t shoff, size_t shnum, uint64_t phoff, size_t phnum);
  bool CheckSectionLayout();
  bool FindAbs32();
  bool EmitSection(const Section& section, InstructionProgram& program);
  bool WalkSections(InstructionProgram& program);
  size_t RelEntrySize() const { return m_Class == ElfClass::Elf64 ? 16 : 8; }

  ElfClass m_Class;
  std::vector<Section> m_Sections;
  std::vector<Segment> m_Segments;
  std::vector<uint32_t> m_Abs32Rvas;         // ascending
  std::vector<uint64_t> m_Abs32Offsets;      // file offsets of m_Abs32Rvas
  std::vector<Rel32Ref> m_Rel32;             // ascending by RVA
  size_t m_NextAbs32 = 0;                    // walk position in m_Abs32Offsets
  size_t m_NextRel32 = 0;                    // walk position in m_Rel32
  bool m_RelocTableEmitted = false;
};

class DisassemblerElf64 : public DisassemblerElf {
 protected:
  DisassemblerElf64(const uint8_t* start, size_t length)
      : DisassemblerElf(ElfClass::Elf64, start, length) {}
};

class DisassemblerElf32 : public DisassemblerElf {
 protected:
  DisassemblerElf32(const uint8_t* start, size_t length)
      : DisassemblerElf(ElfClass::Elf32, start, length) {}
};

}  // namespace velpatch

#endif  // VELPATCH_DISASSEMBLER_ELF_H
