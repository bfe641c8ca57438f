// Windows PE images. DisassemblerWin32 reads the headers and does the work for both machine
// widths; DisassemblerWin32X86 takes PE32 images and DisassemblerWin32X64 PE32+ images.
// Absolute references come from the base relocation table, relative references from the
// ".text" section.
#ifndef VELPATCH_DISASSEMBLER_WIN32_H
#define VELPATCH_DISASSEMBLER_WIN32_H

#include <cstdint>
#include <vector>

#include "disassembler.h"

namespace velpatch {

class DisassemblerWin32 : public Disassembler {
 public:
  bool CheckHeader() override;
  bool EmitProgram(InstructionProgram& program) override;

 protected:
  DisassemblerWin32(bool pe32_plus, const uint8_t* start, size_t length);

 private:
  struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
  };
  struct Section {
    char name[9] = {};
    uint32_t virtual_size = 0;
    uint32_t virtual_address = 0;
    uint32_t raw_size = 0;
    uint32_t raw_offset = 0;
  };
  // Data directory indexes; only these nine are read.
  enum DirectoryIndex { kExport = 0, kImport = 1, kResource = 2, kException = 3, kBaseReloc = 5,
                        kBoundImport = 11, kIat = 12, kDelayImport = 13, kRuntimeHeader = 14,
                        kDirectoryCount = 15 };

  bool ReadDataDirectories(size_t optional_header, uint32_t optional_size, size_t directories);
  bool ReadSections(size_t table, uint32_t count);
  bool RvaToFileOffset(uint32_t rva, uint64_t* offset) const;
  bool ParseRelocs();
  bool FindRel32(const Section& text);
  bool EmitSection(const Section& section, InstructionProgram& program);
  bool KeepRelocsOnlyIfRebuilt(InstructionProgram& program);
  uint32_t reloc_type() const { return m_Pe32Plus ? 10 : 3; }

  const bool m_Pe32Plus;  // the format this class takes
  uint64_t m_ImageBase = 0;
  uint32_t m_SizeOfImage = 0;
  DataDirectory m_Directories[kDirectoryCount];
  std::vector<Section> m_Sections;        // in table order
  std::vector<Section> m_FileOrder;       // sections with raw data, by file offset, no overlaps
  std::vector<uint32_t> m_Abs32Rvas;      // ascending
  std::vector<uint32_t> m_Rel32Rvas;      // ascending
  // Where the walk placed the relocation table: the PeRelocs instruction's index in the
  // program (kNoRelocs when not placed) and the directory bytes it stands for.
  static constexpr size_t kNoRelocs = static_cast<size_t>(-1);
  size_t m_RelocsInstruction = kNoRelocs;
  const uint8_t* m_RelocsBytes = nullptr;
  std::vector<uint32_t> m_EmittedAbs32;   // RVA of every Abs32 emitted, in order
};

class DisassemblerWin32X86 : public DisassemblerWin32 {
 public:
  DisassemblerWin32X86(const uint8_t* start, size_t length)
      : DisassemblerWin32(false, start, length) {}
  ExecutableKind kind() const override { return ExecutableKind::WIN_32_X86; }
};

class DisassemblerWin32X64 : public DisassemblerWin32 {
 public:
  DisassemblerWin32X64(const uint8_t* start, size_t length)
      : DisassemblerWin32(true, start, length) {}
  ExecutableKind kind() const override { return ExecutableKind::WIN_32_X64; }
};

}  // namespace velpatch

#endif  // VELPATCH_DISASSEMBLER_WIN32_H
