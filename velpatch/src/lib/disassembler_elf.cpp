#include "disassembler_elf.h"

#include <algorithm>
#include <string>
#include <utility>

#include "byte_reader.h"
#include "instruction_program.h"
#include "labels.h"
#include "log.h"
#include "nothrow.h"
#include "relocation_tables.h"
#include "x86_rel32.h"

namespace velpatch {
namespace {

// Where the two ELF classes keep the header fields the disassembler needs.
struct ElfLayout {
  size_t header_size;
  size_t phoff_at, shoff_at, phnum_at, shentsize_at, shnum_at, shstrndx_at;
  bool wide_offsets;  // e_phoff / e_shoff are 64-bit
  size_t section_size, segment_size;
};

const ElfLayout kElf64 = {64, 32, 40, 56, 58, 60, 62, true, 64, 56};
const ElfLayout kElf32 = {52, 28, 32, 44, 46, 48, 50, false, 40, 32};

constexpr uint16_t ET_EXEC = 2;
constexpr uint16_t ET_DYN = 3;
constexpr uint32_t PT_LOAD = 1;

}  // namespace

DisassemblerElf::DisassemblerElf(ElfClass elf_class, const uint8_t* start, size_t length)
    : Disassembler(start, length), m_Class(elf_class) {}

bool DisassemblerElf::CheckHeader() {
  const ElfLayout& layout = m_Class == ElfClass::Elf64 ? kElf64 : kElf32;
  const uint8_t* h = start();
  if (length() < layout.header_size)
    return Bad("Too small");
  if (h[0] != 0x7F || h[1] != 'E' || h[2] != 'L' || h[3] != 'F')
    return Bad("No Magic Number");
  const uint16_t type = LoadU16(h + 16);
  if (type != ET_EXEC && type != ET_DYN)
    return Bad("Not an executable file or shared library");
  if (LoadU16(h + 18) != elf_machine())
    return Bad("Not a supported architecture");
  if (LoadU32(h + 20) != 1)
    return Bad("Unknown file version");
  if (LoadU16(h + layout.shentsize_at) != layout.section_size)
    return Bad("Unexpected section header size");

  auto offset_at = [&](size_t at) { return layout.wide_offsets ? LoadU64(h + at) : LoadU32(h + at); };
  const uint64_t shoff = offset_at(layout.shoff_at);
  const uint64_t shnum = LoadU16(h + layout.shnum_at);
  if (shoff >= length())
    return Bad("Out of bounds section header table offset");
  if (!InRange(shoff, shnum * layout.section_size, length()))
    return Bad("Out of bounds section header table");
  const uint64_t phoff = offset_at(layout.phoff_at);
  const uint64_t phnum = LoadU16(h + layout.phnum_at);
  if (phoff >= length())
    return Bad("Out of bounds program header table offset");
  if (!InRange(phoff, phnum * layout.segment_size, length()))
    return Bad("Out of bounds program header table");
  if (LoadU16(h + layout.shstrndx_at) >= shnum)
    return Bad("Out of bounds section name table index");

  if (!ParseTables(shoff, shnum, phoff, phnum))
    return false;  // reason recorded

  uint64_t image_end = std::max(shoff + shnum * layout.section_size,
                                phoff + phnum * layout.segment_size);
  for (const Section& section : m_Sections) {
    if (section.type != SHT_NOBITS)
      image_end = std::max(image_end, section.offset + section.size);
  }
  for (const Segment& segment : m_Segments)
    image_end = std::max(image_end, segment.offset + segment.filesz);
  ReduceLength(static_cast<size_t>(image_end));
  return Good();
}

// Reads the section and program header tables (whose bounds CheckHeader has checked) and
// rejects any section or segment whose file bytes lie outside the region: those bytes are read
// later.
bool DisassemblerElf::ParseTables(uint64_t shoff, size_t shnum, uint64_t phoff, size_t phnum) {
  const ElfLayout& layout = m_Class == ElfClass::Elf64 ? kElf64 : kElf32;
  const bool wide = m_Class == ElfClass::Elf64;
  const uint8_t* h = start();
  if (!NoThrowAlloc([&] {
        m_Sections.resize(shnum);
        m_Segments.resize(phnum);
      }))
    return Bad("Out of memory");

  for (size_t i = 0; i < shnum; ++i) {
    const uint8_t* p = h + shoff + i * layout.section_size;
    Section& s = m_Sections[i];
    s.name = LoadU32(p);
    s.type = LoadU32(p + 4);
    if (wide) {
      s.flags = LoadU64(p + 8);
      s.addr = LoadU64(p + 16);
      s.offset = LoadU64(p + 24);
      s.size = LoadU64(p + 32);
      s.entsize = LoadU64(p + 56);
    } else {
      s.flags = LoadU32(p + 8);
      s.addr = LoadU32(p + 12);
      s.offset = LoadU32(p + 16);
      s.size = LoadU32(p + 20);
      s.entsize = LoadU32(p + 36);
    }
    if (s.type != SHT_NOBITS && !InRange(s.offset, s.size, length()))
      return Bad("Out of bounds section");
  }
  for (size_t i = 0; i < phnum; ++i) {
    const uint8_t* p = h + phoff + i * layout.segment_size;
    Segment& g = m_Segments[i];
    g.type = LoadU32(p);
    if (wide) {
      g.offset = LoadU64(p + 8);
      g.vaddr = LoadU64(p + 16);
      g.filesz = LoadU64(p + 32);
      g.memsz = LoadU64(p + 40);
    } else {
      g.offset = LoadU32(p + 4);
      g.vaddr = LoadU32(p + 8);
      g.filesz = LoadU32(p + 16);
      g.memsz = LoadU32(p + 20);
    }
    if (!InRange(g.offset, g.filesz, length()))
      return Bad("Out of bounds segment");
  }
  return true;
}

bool DisassemblerElf::RvaToFileOffset(uint32_t rva, uint64_t* offset) const {
  for (const Segment& segment : m_Segments) {
    if (rva >= segment.vaddr && rva - segment.vaddr < segment.memsz &&
        rva - segment.vaddr < segment.filesz) {
      *offset = rva - segment.vaddr + segment.offset;
      return true;
    }
  }
  return false;
}

bool DisassemblerElf::IsValidTarget(uint32_t rva) const {
  for (const Segment& segment : m_Segments) {
    if (segment.type == PT_LOAD && rva >= segment.vaddr && rva - segment.vaddr < segment.memsz)
      return true;
  }
  return false;
}

bool DisassemblerElf::AddRel32(const Rel32Ref& ref, bool* kept) {
  uint64_t mapped = 0;
  *kept = IsValidTarget(ref.rva + ref.relative_target) && RvaToFileOffset(ref.rva, &mapped) &&
          mapped == ref.file_offset;
  return !*kept || NoThrowAlloc([&] { m_Rel32.push_back(ref); });
}

bool DisassemblerElf::ScanX86Rel32(const Section& section, bool rip_forms) {
  const uint8_t* bytes = SectionBytes(section);
  const uint64_t size = section.size;
  uint64_t p = 0;
  while (p < size) {
    const X86Rel32Match match = MatchX86Rel32(bytes + p, size - p, rip_forms);
    if (match.form == X86Rel32Form::None) {
      ++p;
      continue;
    }
    const uint64_t displacement_at = p + match.displacement_offset;
    Rel32Ref ref;
    ref.rva = static_cast<uint32_t>(section.addr + displacement_at);
    ref.relative_target = LoadU32(bytes + displacement_at) + 4;
    ref.file_offset = section.offset + displacement_at;
    bool kept = false;
    if (!AddRel32(ref, &kept))
      return false;
    p = kept ? displacement_at + 4 : p + 1;
  }
  return true;
}

uint64_t DisassemblerElf::RelocationCount(const Section& section) const {
  if (section.entsize == 0)
    return 0;
  return std::min<uint64_t>(section.size / section.entsize, section.size / RelEntrySize());
}

void DisassemblerElf::ReadRelocation(const Section& section, uint64_t i, uint64_t* r_offset,
                                     uint64_t* r_info) const {
  const uint8_t* p = SectionBytes(section) + i * RelEntrySize();
  if (m_Class == ElfClass::Elf64) {
    *r_offset = LoadU64(p);
    *r_info = LoadU64(p + 8);
  } else {
    *r_offset = LoadU32(p);
    *r_info = LoadU32(p + 4);
  }
}

bool DisassemblerElf::FindAbs32() {
  m_Abs32Rvas.clear();
  // File ranges of the program-bits and REL sections, sorted and merged, for a logarithmic
  // "does this offset lie in one of them" per relocation entry.
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  if (!NoThrowAlloc([&] {
        for (const Section& s : m_Sections) {
          if ((s.type == SHT_PROGBITS || s.type == SHT_REL) && s.size > 0)
            ranges.emplace_back(s.offset, s.offset + s.size);
        }
      }))
    return false;
  std::sort(ranges.begin(), ranges.end());
  size_t merged = 0;
  for (const auto& range : ranges) {
    if (merged > 0 && range.first <= ranges[merged - 1].second)
      ranges[merged - 1].second = std::max(ranges[merged - 1].second, range.second);
    else
      ranges[merged++] = range;
  }
  ranges.resize(merged);
  auto in_ranges = [&ranges](uint64_t offset) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(),
                               std::make_pair(offset, UINT64_MAX));
    return it != ranges.begin() && offset < (it - 1)->second;
  };

  for (const Section& section : m_Sections) {
    if (section.type != SHT_REL)
      continue;
    const uint64_t count = RelocationCount(section);
    for (uint64_t i = 0; i < count; ++i) {
      uint64_t r_offset = 0;
      uint64_t r_info = 0;
      uint32_t rva = 0;
      uint64_t offset = 0;
      ReadRelocation(section, i, &r_offset, &r_info);
      if (!RelToRva(r_offset, r_info, &rva) || !RvaToFileOffset(rva, &offset) ||
          !in_ranges(offset))
        continue;
      if (!NoThrowAlloc([&] { m_Abs32Rvas.push_back(rva); }))
        return false;
    }
  }
  std::sort(m_Abs32Rvas.begin(), m_Abs32Rvas.end());
  return true;
}

bool DisassemblerElf::EmitProgram(InstructionProgram& program) {
  if (!header_ok())
    return false;
  program.set_image_base(0);
  if (!CheckSectionLayout())
    return false;
  if (!FindAbs32())
    return Bad("Out of memory");

  m_Rel32.clear();
  for (const Section& section : m_Sections) {
    if (section.type == SHT_PROGBITS && !FindRel32InSection(section))
      return Bad("Out of memory");
  }
  std::stable_sort(m_Rel32.begin(), m_Rel32.end(),
                   [](const Rel32Ref& a, const Rel32Ref& b) { return a.rva < b.rva; });

  if (!NoThrowAlloc([&] { m_Abs32Offsets.resize(m_Abs32Rvas.size()); }))
    return Bad("Out of memory");
  for (size_t i = 0; i < m_Abs32Rvas.size(); ++i) {
    if (!RvaToFileOffset(m_Abs32Rvas[i], &m_Abs32Offsets[i]))
      return Bad("Unmapped absolute reference");
  }
  // Rel32 file offsets were set, and checked to map, when the references were found.

  // Each reference and each section adds about two instructions.
  if (!program.Reserve(2 * (m_Rel32.size() + m_Abs32Rvas.size() + m_Sections.size()) + 1))
    return Bad("Out of memory");
  m_NextAbs32 = 0;
  m_NextRel32 = 0;
  m_RelocTableEmitted = false;
  if (!WalkSections(program))
    return false;
  if (m_NextAbs32 != m_Abs32Offsets.size())
    return Bad("Unused absolute references");
  AssignLabelIndexes(program);
  return true;
}

// The walk emits program-bits and REL sections in table order; one that starts before the end
// of what is already emitted would be emitted (and scanned) twice, which a crafted table could
// repeat until the output is many times the input. Linkers never produce that.
bool DisassemblerElf::CheckSectionLayout() {
  uint64_t cursor = 0;
  for (const Section& section : m_Sections) {
    if (cursor < section.offset && section.offset <= length())
      cursor = section.offset;
    if ((section.type != SHT_PROGBITS && section.type != SHT_REL) || section.size == 0)
      continue;
    if (section.offset < cursor)
      return Bad("Overlapping sections");
    cursor = section.offset + section.size;
  }
  return true;
}

bool DisassemblerElf::WalkSections(InstructionProgram& program) {
  uint64_t cursor = 0;
  for (const Section& section : m_Sections) {
    if (cursor < section.offset && section.offset <= length()) {
      if (!program.EmitBytes(OffsetToPointer(cursor), section.offset - cursor))
        return Bad("Out of memory");
      cursor = section.offset;
    }
    const uint64_t end = section.offset + section.size;
    const bool walked = section.type == SHT_PROGBITS || section.type == SHT_REL;
    if (walked && section.offset < cursor)
      continue;  // empty (CheckSectionLayout): nothing to emit, and the cursor must not go back
    switch (section.type) {
      case SHT_PROGBITS:
        if (!EmitSection(section, program))
          return false;
        cursor = end;
        break;
      case SHT_REL:
        if (!EmitRelocationSection(section, program))
          return false;
        cursor = end;
        break;
      case SHT_NOBITS:
        // No file bytes: its nominal file range overlaps the sections that follow (.tbss lies
        // over .init_array and .data.rel.ro), and the references there belong to them.
        break;
      case SHT_INIT_ARRAY:
      case SHT_FINI_ARRAY:
        while (m_NextAbs32 < m_Abs32Offsets.size() && m_Abs32Offsets[m_NextAbs32] >= section.offset &&
               m_Abs32Offsets[m_NextAbs32] - section.offset < section.size) {
          Log("Skipping relocation entry for unsupported section: " + std::to_string(section.type),
              LOG_DEBUG);
          ++m_NextAbs32;
        }
        break;
      default:
        if (m_NextAbs32 < m_Abs32Offsets.size() && m_Abs32Offsets[m_NextAbs32] >= section.offset &&
            m_Abs32Offsets[m_NextAbs32] - section.offset < section.size)
          Log("Relocation address in unrecognized ELF section: " + std::to_string(section.type),
              LOG_DEBUG);
        break;
    }
  }
  if (cursor < length() && !program.EmitBytes(OffsetToPointer(cursor), length() - cursor))
    return Bad("Out of memory");
  return true;
}

// Emits one program-bits section: bytes, with the references found in it replaced by
// instructions.
bool DisassemblerElf::EmitSection(const Section& section, InstructionProgram& program) {
  const uint64_t start = section.offset;
  const uint64_t end = section.offset + section.size;
  const uint32_t origin = static_cast<uint32_t>(section.addr);
  if (!program.EmitOrigin(origin))
    return Bad("Out of memory");
  uint64_t cursor = start;
  while (cursor < end) {
    const bool has_abs = m_NextAbs32 < m_Abs32Offsets.size();
    const uint64_t next_abs = has_abs ? m_Abs32Offsets[m_NextAbs32] : UINT64_MAX;
    if (next_abs < cursor)
      return Bad("Absolute reference out of order");
    while (m_NextRel32 < m_Rel32.size() && m_Rel32[m_NextRel32].file_offset < cursor)
      ++m_NextRel32;
    const Rel32Ref* rel = m_NextRel32 < m_Rel32.size() ? &m_Rel32[m_NextRel32] : nullptr;

    uint64_t stop = std::min(end, next_abs);
    if (rel != nullptr && rel->file_offset + 3 < stop)
      stop = rel->file_offset;

    if (cursor < stop) {
      if (!program.EmitBytes(OffsetToPointer(cursor), stop - cursor))
        return Bad("Out of memory");
      cursor = stop;
    } else if (cursor == next_abs) {
      // The walk stops at an absolute reference only when all four bytes lie in the section.
      if (end - cursor < 4)
        return Bad("Absolute reference crosses section end");
      if (!program.EmitAbs32(LoadU32(OffsetToPointer(cursor))))
        return Bad("Out of memory");
      ++m_NextAbs32;
      cursor += 4;
    } else {
      // cursor == rel->file_offset: the stop point was this reference.
      if (rel == nullptr)
        return Bad("Inconsistent section walk");
      const uint32_t target =
          static_cast<uint32_t>(origin - start + cursor) + rel->relative_target;
      const bool ok = rel->arm_op != 0
                          ? program.EmitRel32Arm(rel->arm_op, OffsetToPointer(cursor),
                                                 rel->op_size, target)
                          : program.EmitRel32(target);
      if (!ok)
        return Bad("Out of memory");
      cursor += rel->op_size;
      ++m_NextRel32;
    }
  }
  return true;
}

bool DisassemblerElf::EmitRelocationsAsTable(const Section& section, InstructionProgram& program,
                                             uint32_t type, bool skip_leading_entries) {
  const uint64_t count = RelocationCount(section);
  const size_t entry_size = RelEntrySize();
  const uint8_t* bytes = SectionBytes(section);
  uint64_t first = 0;
  if (!m_Abs32Rvas.empty() && skip_leading_entries) {
    while (first < count) {
      uint64_t r_offset = 0;
      uint64_t r_info = 0;
      ReadRelocation(section, first, &r_offset, &r_info);
      if (r_offset == m_Abs32Rvas[0])
        break;
      ++first;
    }
    if (first == count)
      first = 0;  // no entry starts the list: the whole section goes out as bytes
  }
  uint64_t matched = 0;
  if (!m_Abs32Rvas.empty() && !m_RelocTableEmitted && count - first >= m_Abs32Rvas.size()) {
    while (matched < m_Abs32Rvas.size()) {
      uint64_t r_offset = 0;
      uint64_t r_info = 0;
      ReadRelocation(section, first + matched, &r_offset, &r_info);
      if (r_offset != m_Abs32Rvas[matched] || r_info != type)
        break;
      ++matched;
    }
  }
  if (matched == m_Abs32Rvas.size() && matched > 0) {
    const bool arm = type == kElfRelocRelativeArm;
    if (!program.EmitBytes(bytes, first * entry_size) ||
        !(arm ? program.EmitElfArmRelocs() : program.EmitElfRelocs()))
      return Bad("Out of memory");
    m_RelocTableEmitted = true;
    const uint64_t skipped = (first + matched) * entry_size;
    return program.EmitBytes(bytes + skipped, section.size - skipped) || Bad("Out of memory");
  }
  // Anything short of a complete match keeps every entry as bytes, so nothing is lost.
  return program.EmitBytes(bytes, section.size) || Bad("Out of memory");
}

}  // namespace velpatch
