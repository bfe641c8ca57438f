#include "disassembler_macho.h"

#include <algorithm>

#include "byte_reader.h"
#include "instruction_program.h"
#include "labels.h"
#include "nothrow.h"
#include "x86_rel32.h"

namespace velpatch {
namespace {

constexpr uint32_t kMagic32 = 0xFEEDFACE;
constexpr uint32_t kMagic64 = 0xFEEDFACF;
constexpr uint32_t kCpuX86 = 7;
constexpr uint32_t kCpuX64 = 0x01000007;
constexpr uint32_t kLcSegment = 1;
constexpr uint32_t kLcSegment64 = 25;
constexpr uint32_t kPureInstructions = 0x80000000;
constexpr uint32_t kCodeSectionMask = 0x800000FF;  // the attribute bit and the section type

bool Fits32(uint64_t value) { return value <= 0xFFFFFFFF; }

}  // namespace

bool DisassemblerMacho::CheckHeader() {
  const uint8_t* h = start();
  if (length() < 32)
    return Bad("Too small");
  const uint32_t magic = LoadU32(h);
  bool is64 = false;
  uint32_t cpu = 0;
  size_t position = 0;  // end of the mach header
  if (magic == kMagic64) {
    is64 = true;
    m_Kind = ExecutableKind::MACHO_X64;
    position = 32;
    cpu = kCpuX64;
  } else if (magic == kMagic32) {
    m_Kind = ExecutableKind::MACHO_X86;
    position = 28;
    cpu = kCpuX86;
  } else {
    return Bad("Unknown magic type");
  }
  if (LoadU32(h + 4) != cpu)
    return Bad("unsupported cpu type");
  const uint32_t file_type = LoadU32(h + 12);
  if (file_type != 2 && file_type != 5 && file_type != 6 && file_type != 8)
    return Bad("Unsupported filetype in header");

  m_Segments.clear();
  m_CodeSections.clear();
  m_FileEnd = 0;
  const uint32_t command_count = LoadU32(h + 16);
  for (uint32_t i = 0; i < command_count; ++i) {
    if (!InRange(position, 8, length()))
      return Bad("file to small in load commands");
    const uint32_t command = LoadU32(h + position);
    const uint32_t command_size = LoadU32(h + position + 4);
    if (!InRange(position, command_size, length()))
      return Bad("file to small in load commands");
    if (command_size < 8)
      return Bad("bad load command size");  // the walk would not advance
    if (command == kLcSegment64 || command == kLcSegment) {
      if (!ParseSegment(h + position, command_size, is64))
        return false;  // reason recorded
    }
    position += command_size;
  }

  if (m_Segments.empty() || m_CodeSections.empty())
    return Bad("Resource-only executables are not yet supported");
  uint32_t lowest = m_Segments[0].address;
  for (const Segment& segment : m_Segments)
    lowest = std::min(lowest, segment.address);
  for (Segment& segment : m_Segments) {
    segment.address -= lowest;
    if (!Fits32(uint64_t(segment.address) + segment.memory_size))
      return Bad("overflow");
  }
  for (CodeSection& section : m_CodeSections)
    section.address -= lowest;
  std::stable_sort(m_CodeSections.begin(), m_CodeSections.end(),
                   [](const CodeSection& a, const CodeSection& b) {
                     return a.file_offset < b.file_offset;
                   });
  // A section overlapping the one before it is left to go out as bytes: scanning and emitting
  // the same bytes again and again is what a crafted command list would ask for.
  uint64_t covered = 0;
  auto overlapping = [&covered](const CodeSection& s) {
    if (s.file_offset < covered)
      return true;
    covered = uint64_t(s.file_offset) + s.size;
    return false;
  };
  m_CodeSections.erase(
      std::remove_if(m_CodeSections.begin(), m_CodeSections.end(), overlapping),
      m_CodeSections.end());
  ReduceLength(static_cast<size_t>(m_FileEnd));
  return Good();
}

bool DisassemblerMacho::ParseSegment(const uint8_t* c, uint32_t command_size, bool is64) {
  const bool command64 = LoadU32(c) == kLcSegment64;
  if (command64 && !is64)
    return Bad("LC_SEGMENT_64 not supported");
  if (!command64 && is64)
    return Bad("LC_SEGMENT not supported");
  const uint32_t header_size = is64 ? 72 : 56;
  const uint32_t section_size = is64 ? 80 : 68;
  if (command_size < header_size)
    return Bad(is64 ? "bad LC_SEGMENT_64" : "bad LC_SEGMENT");
  const uint32_t section_count = LoadU32(c + (is64 ? 64 : 48));
  const uint64_t address = is64 ? LoadU64(c + 24) : LoadU32(c + 24);
  const uint64_t memory_size = is64 ? LoadU64(c + 32) : LoadU32(c + 28);
  const uint64_t file_offset = is64 ? LoadU64(c + 40) : LoadU32(c + 32);
  const uint64_t file_size = is64 ? LoadU64(c + 48) : LoadU32(c + 36);
  if (section_count == 0) {
    // Not checked or used further, but it is part of the image (__LINKEDIT ends the file).
    if (InRange(file_offset, file_size, length()))
      m_FileEnd = std::max(m_FileEnd, file_offset + file_size);
    return true;
  }
  if (!Fits32(address) || !Fits32(memory_size) || !Fits32(file_offset) || !Fits32(file_size))
    return Bad("overflow");
  if (!InRange(file_offset, file_size, length()))
    return Bad("segment too large");
  if (uint64_t(command_size - header_size) < uint64_t(section_count) * section_size)
    return Bad("sections too small");

  Segment segment;
  segment.address = static_cast<uint32_t>(address);
  segment.memory_size = static_cast<uint32_t>(memory_size);
  segment.file_offset = static_cast<uint32_t>(file_offset);
  segment.file_size = static_cast<uint32_t>(file_size);
  if (!NoThrowAlloc([&] { m_Segments.push_back(segment); }))
    return Bad("Out of memory");
  m_FileEnd = std::max(m_FileEnd, file_offset + file_size);

  for (uint32_t i = 0; i < section_count; ++i) {
    const uint8_t* s = c + header_size + size_t(i) * section_size;
    const uint64_t section_address = is64 ? LoadU64(s + 32) : LoadU32(s + 32);
    const uint64_t size = is64 ? LoadU64(s + 40) : LoadU32(s + 36);
    const uint32_t offset = LoadU32(s + (is64 ? 48 : 40));
    const uint32_t flags = LoadU32(s + (is64 ? 64 : 56));
    if ((flags & kCodeSectionMask) != kPureInstructions)
      continue;
    if (section_address < address || section_address - address > memory_size ||
        size > memory_size - (section_address - address))
      return Bad("section larger than segment");
    // The section's bytes are scanned later: they must lie in the region.
    if (!InRange(offset, size, length()))
      return Bad("section outside file");
    CodeSection code;
    code.address = static_cast<uint32_t>(section_address);
    code.size = static_cast<uint32_t>(size);
    code.file_offset = offset;
    if (!NoThrowAlloc([&] { m_CodeSections.push_back(code); }))
      return Bad("Out of memory");
  }
  return true;
}

bool DisassemblerMacho::FindRel32(const CodeSection& section) {
  const uint8_t* bytes = start() + section.file_offset;
  const bool rip_forms = m_Kind == ExecutableKind::MACHO_X64;
  uint64_t p = 0;
  while (p < section.size) {
    const X86Rel32Match match = MatchX86Rel32(bytes + p, section.size - p, rip_forms);
    if (match.form == X86Rel32Form::None) {
      ++p;
      continue;
    }
    const uint64_t disp_at = p + match.displacement_offset;
    const uint32_t disp_rva = section.address + static_cast<uint32_t>(disp_at);
    const uint32_t target = disp_rva + LoadU32(bytes + disp_at) + 4;
    const bool taken =
        std::any_of(m_Segments.begin(), m_Segments.end(), [target](const Segment& segment) {
          return target >= segment.address && target - segment.address < segment.memory_size;
        });
    if (!taken) {
      ++p;
      continue;
    }
    if (!NoThrowAlloc([&] { m_Rel32Rvas.push_back(disp_rva); }))
      return Bad("Out of memory");
    p = disp_at + 4;
  }
  return true;
}

bool DisassemblerMacho::EmitProgram(InstructionProgram& program) {
  if (!header_ok())
    return false;
  program.set_image_base(0);
  m_Rel32Rvas.clear();
  for (const CodeSection& section : m_CodeSections) {
    if (!FindRel32(section))
      return false;
  }
  std::sort(m_Rel32Rvas.begin(), m_Rel32Rvas.end());

  uint64_t cursor = 0;
  for (const CodeSection& section : m_CodeSections) {
    const uint64_t end = uint64_t(section.file_offset) + section.size;
    // A section lying beyond the image goes out as bytes (up to the image's end).
    if (section.file_offset < cursor || end > length())
      continue;
    if (!program.EmitBytes(start() + cursor, section.file_offset - cursor))
      return Bad("Out of memory");
    if (!EmitCodeSection(section, program))
      return false;
    cursor = end;
  }
  if (cursor < length() && !program.EmitBytes(start() + cursor, length() - cursor))
    return Bad("Out of memory");
  AssignLabelIndexes(program);
  return true;
}

bool DisassemblerMacho::EmitCodeSection(const CodeSection& section,
                                        InstructionProgram& program) {
  const uint8_t* bytes = start() + section.file_offset;
  if (!program.EmitOrigin(section.address))
    return Bad("Out of memory");
  auto rel = std::lower_bound(m_Rel32Rvas.begin(), m_Rel32Rvas.end(), section.address);
  uint64_t p = 0;
  while (p < section.size) {
    const uint32_t rva = section.address + static_cast<uint32_t>(p);
    while (rel != m_Rel32Rvas.end() && *rel < rva)
      ++rel;
    bool ok = true;
    if (rel != m_Rel32Rvas.end() && *rel == rva && section.size - p >= 4) {
      ok = program.EmitRel32(rva + LoadU32(bytes + p) + 4);
      p += 4;
    } else {
      uint64_t stop = section.size;
      if (rel != m_Rel32Rvas.end() && *rel > rva && *rel - section.address < stop)
        stop = *rel - section.address;
      ok = program.EmitBytes(bytes + p, stop - p);
      p = stop;
    }
    if (!ok)
      return Bad("Out of memory");
  }
  return true;
}

}  // namespace velpatch
