#include "disassembler_win32.h"

#include <algorithm>
#include <cstring>

#include "byte_reader.h"
#include "instruction_program.h"
#include "labels.h"
#include "log.h"
#include "nothrow.h"
#include "relocation_tables.h"
#include "streams.h"
#include "x86_rel32.h"

namespace velpatch {
namespace {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kSectionRecordSize = 40;

}  // namespace

DisassemblerWin32::DisassemblerWin32(bool pe32_plus, const uint8_t* start, size_t length)
    : Disassembler(start, length), m_Pe32Plus(pe32_plus) {}

bool DisassemblerWin32::CheckHeader() {
  const uint8_t* h = start();
  if (length() < 64)
    return Bad("Too small");
  if (h[0] != 'M' || h[1] != 'Z')
    return Bad("Not MZ");
  const uint32_t pe = LoadU32(h + 60);
  if (pe == 0 || pe >= length() || length() - pe <= 24)
    return Bad("Bad offset to PE header");
  if (pe % 8 != 0)
    return Bad("Misaligned PE header");
  if (std::memcmp(h + pe, "PE\0\0", 4) != 0)
    return Bad("no PE signature");

  const uint32_t section_count = LoadU16(h + pe + 6);
  const uint32_t optional_size = LoadU16(h + pe + 20);
  const size_t optional = pe + 24;
  if (!InRange(optional, optional_size, length()))
    return Bad("optional header past end of file");
  if (optional_size < 2)
    return Bad("optional header no magic");
  const uint16_t magic = LoadU16(h + optional);
  if (magic != kPe32Magic && magic != kPe32PlusMagic)
    return Bad("unrecognized magic");
  const bool is_plus = magic == kPe32PlusMagic;
  const size_t directories = is_plus ? 112 : 96;
  if (optional_size < directories)
    return Bad("optional header too short");

  m_ImageBase = is_plus ? LoadU64(h + optional + 24) : LoadU32(h + optional + 28);
  m_SizeOfImage = LoadU32(h + optional + 56);
  if (!ReadDataDirectories(optional, optional_size, directories))
    return Bad("malformed data directory");
  if (!ReadSections(optional + optional_size, section_count))
    return false;  // reason recorded

  if (is_plus && !m_Pe32Plus)
    return Bad("64 bit executables are not supported by this disassembler");
  if (!is_plus && m_Pe32Plus)
    return Bad("32 bit executables are not supported by this disassembler");
  const bool has_text = std::any_of(m_Sections.begin(), m_Sections.end(),
                                    [](const Section& s) { return std::strcmp(s.name, ".text") == 0; });
  if (!has_text)
    return Bad("Resource-only executables are not yet supported");
  return Good();
}

bool DisassemblerWin32::ReadDataDirectories(size_t optional, uint32_t optional_size,
                                            size_t directories) {
  static const uint32_t kRead[] = {kExport, kImport, kResource, kException, kBaseReloc,
                                   kBoundImport, kIat, kDelayImport, kRuntimeHeader};
  const uint32_t count = LoadU32(start() + optional + directories - 4);
  for (DataDirectory& d : m_Directories)
    d = DataDirectory();
  for (uint32_t i : kRead) {
    if (i >= count)
      continue;
    const size_t entry = directories + 8 * size_t(i);
    if (entry + 8 > optional_size)
      return false;  // number of data directories inconsistent
    if (!InRange(optional + entry, 8, length()))
      return false;  // data directory outside image
    m_Directories[i].rva = LoadU32(start() + optional + entry);
    m_Directories[i].size = LoadU32(start() + optional + entry + 4);
    if (m_Directories[i].size > m_SizeOfImage)
      return false;  // data directory size too big
  }
  return true;
}

// Reads the section table and trims the length to the end of the last section's raw data.
// Raw data is read later, so a section reaching beyond the region is refused here.
bool DisassemblerWin32::ReadSections(size_t table, uint32_t count) {
  if (!InRange(table, uint64_t(count) * kSectionRecordSize, length()))
    return Bad("section table outside image");
  if (!NoThrowAlloc([&] {
        m_Sections.resize(count);
        m_FileOrder.clear();
        m_FileOrder.reserve(count);
      }))
    return Bad("Out of memory");
  uint64_t image_end = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* p = start() + table + i * kSectionRecordSize;
    Section& s = m_Sections[i];
    std::memcpy(s.name, p, 8);
    s.virtual_size = LoadU32(p + 8);
    s.virtual_address = LoadU32(p + 12);
    s.raw_size = LoadU32(p + 16);
    s.raw_offset = LoadU32(p + 20);
    if (s.raw_size == 0)
      continue;
    if (!InRange(s.raw_offset, s.raw_size, length()))
      return Bad("section outside image");
    image_end = std::max<uint64_t>(image_end, uint64_t(s.raw_offset) + s.raw_size);
    m_FileOrder.push_back(s);
  }
  ReduceLength(static_cast<size_t>(image_end));

  std::stable_sort(m_FileOrder.begin(), m_FileOrder.end(),
                   [](const Section& a, const Section& b) { return a.raw_offset < b.raw_offset; });
  uint64_t previous_end = 0;
  std::vector<Section> kept;
  if (!NoThrowAlloc([&] { kept.reserve(m_FileOrder.size()); }))
    return Bad("Out of memory");
  for (const Section& s : m_FileOrder) {
    if (s.raw_offset < previous_end)
      continue;
    kept.push_back(s);
    previous_end = uint64_t(s.raw_offset) + s.raw_size;
  }
  m_FileOrder.swap(kept);
  return true;
}

bool DisassemblerWin32::RvaToFileOffset(uint32_t rva, uint64_t* offset) const {
  for (const Section& s : m_Sections) {
    if (rva >= s.virtual_address && rva - s.virtual_address < s.virtual_size) {
      const uint32_t delta = rva - s.virtual_address;
      if (delta >= s.raw_size)
        return false;
      *offset = uint64_t(s.raw_offset) + delta;
      return true;
    }
  }
  if (rva == 0 || rva == 2) {
    *offset = rva;
    return true;
  }
  Log("REACHED UNREACHABLE", LOG_ERROR);
  return false;
}

bool DisassemblerWin32::ParseRelocs() {
  m_Abs32Rvas.clear();
  const DataDirectory& dir = m_Directories[kBaseReloc];
  if (dir.size == 0)
    return true;
  uint64_t offset = 0;
  if (!RvaToFileOffset(dir.rva, &offset) || !InRange(offset, dir.size, length()))
    return Bad(".relocs outside image");
  if (dir.size <= 8)
    return true;
  const uint64_t dir_end = offset + dir.size;
  uint64_t block = offset;
  while (block <= dir_end && dir_end - block >= 8) {
    const uint32_t page = LoadU32(start() + block);
    const uint32_t size = LoadU32(start() + block + 4);
    if (size < 8 || size % 4 != 0)
      return Bad("unreasonable relocs block");
    if (!InRange(block, size, length()))
      return Bad(".relocs block outside image");
    for (uint64_t entry = block + 8; entry < block + size; entry += 2) {
      const uint16_t value = LoadU16(start() + entry);
      const uint32_t type = value >> 12;
      if (type == reloc_type()) {
        if (!NoThrowAlloc([&] { m_Abs32Rvas.push_back(page + (value & 0xFFF)); }))
          return Bad("Out of memory");
      } else if (type != 0) {
        return Bad("unknown type of reloc");
      }
    }
    block += size;
  }
  std::sort(m_Abs32Rvas.begin(), m_Abs32Rvas.end());
  return true;
}

bool DisassemblerWin32::FindRel32(const Section& text) {
  const DataDirectory& relocs = m_Directories[kBaseReloc];
  const uint8_t* bytes = start() + text.raw_offset;
  const uint32_t size = text.raw_size;
  const uint64_t text_end = uint64_t(text.virtual_address) + text.virtual_size;
  uint64_t p = 0;
  while (p < size) {
    const uint32_t rva = text.virtual_address + static_cast<uint32_t>(p);
    if (rva == relocs.rva && relocs.size != 0) {
      p += relocs.size;
      continue;
    }
    const X86Rel32Match match = MatchX86Rel32(bytes + p, size - p, m_Pe32Plus);
    if (match.form == X86Rel32Form::None) {
      ++p;
      continue;
    }
    const uint32_t disp_rva = rva + static_cast<uint32_t>(match.displacement_offset);
    // An absolute address overlapping the displacement wins: continue after it. It lies at or
    // after rva - 2, so the scan always moves forward.
    const auto abs = std::lower_bound(m_Abs32Rvas.begin(), m_Abs32Rvas.end(),
                                      disp_rva >= 3 ? disp_rva - 3 : 0);
    if (abs != m_Abs32Rvas.end() && uint64_t(*abs) <= uint64_t(disp_rva) + 3) {
      p = uint64_t(*abs) + 4 - text.virtual_address;
      continue;
    }
    const uint64_t disp_at = p + match.displacement_offset;
    const uint32_t target = disp_rva + LoadU32(bytes + disp_at) + 4;
    bool taken = target < m_SizeOfImage;
    if (match.form == X86Rel32Form::CallJmp || match.form == X86Rel32Form::Jcc)
      taken = taken && target >= text.virtual_address && target < text_end;
    if (taken) {
      if (!NoThrowAlloc([&] { m_Rel32Rvas.push_back(disp_rva); }))
        return Bad("Out of memory");
      p = disp_at + 4;
    } else {
      ++p;
    }
  }
  return true;
}

bool DisassemblerWin32::EmitProgram(InstructionProgram& program) {
  if (!header_ok())
    return false;
  program.set_image_base(m_ImageBase);
  if (!ParseRelocs())
    return false;
  m_Rel32Rvas.clear();
  for (const Section& s : m_FileOrder) {
    if (std::strcmp(s.name, ".text") == 0 && !FindRel32(s))
      return false;
  }
  std::sort(m_Rel32Rvas.begin(), m_Rel32Rvas.end());

  m_RelocsInstruction = kNoRelocs;
  m_EmittedAbs32.clear();
  uint64_t cursor = 0;
  for (const Section& s : m_FileOrder) {
    if (cursor < s.raw_offset && !program.EmitBytes(start() + cursor, s.raw_offset - cursor))
      return Bad("Out of memory");
    if (!EmitSection(s, program))
      return false;
    cursor = uint64_t(s.raw_offset) + s.raw_size;
  }
  if (cursor < length() && !program.EmitBytes(start() + cursor, length() - cursor))
    return Bad("Out of memory");
  if (!KeepRelocsOnlyIfRebuilt(program))
    return false;
  AssignLabelIndexes(program);
  return true;
}

// Assembly rebuilds the relocation table from the absolute references it writes. When that
// would not give the directory's bytes back (a directory of unusual layout, or references the
// walk could not place), the directory stays plain bytes so that nothing is lost or altered.
bool DisassemblerWin32::KeepRelocsOnlyIfRebuilt(InstructionProgram& program) {
  if (m_RelocsInstruction == kNoRelocs)
    return true;
  const uint32_t size = m_Directories[kBaseReloc].size;
  std::vector<uint32_t> positions;
  ByteSink rebuilt;
  if (!NoThrowAlloc([&] { positions = m_EmittedAbs32; }))
    return Bad("Out of memory");
  SortAllButLast(positions);
  const bool same = WritePeRelocationTable(positions, reloc_type(), rebuilt) &&
                    rebuilt.length() == size &&
                    (size == 0 || std::memcmp(rebuilt.data(), m_RelocsBytes, size) == 0);
  if (same)
    return true;
  Instruction& insn = program.instructions()[m_RelocsInstruction];
  insn.kind = InstructionKind::Bytes;
  insn.bytes = m_RelocsBytes;
  insn.value = size;
  return true;
}

bool DisassemblerWin32::EmitSection(const Section& s, InstructionProgram& program) {
  const DataDirectory& relocs = m_Directories[kBaseReloc];
  const uint32_t base = static_cast<uint32_t>(m_ImageBase);
  const uint8_t* bytes = start() + s.raw_offset;
  auto next_abs = std::lower_bound(m_Abs32Rvas.begin(), m_Abs32Rvas.end(), s.virtual_address);
  auto next_rel = std::lower_bound(m_Rel32Rvas.begin(), m_Rel32Rvas.end(), s.virtual_address);
  if (!program.EmitOrigin(s.virtual_address))
    return Bad("Out of memory");
  uint64_t p = 0;
  while (p < s.raw_size) {
    const uint32_t rva = s.virtual_address + static_cast<uint32_t>(p);
    const uint64_t left = s.raw_size - p;
    while (next_abs != m_Abs32Rvas.end() && *next_abs < rva)
      ++next_abs;  // overlapped by the reference before it
    while (next_rel != m_Rel32Rvas.end() && *next_rel < rva)
      ++next_rel;
    bool ok = true;
    if (m_RelocsInstruction == kNoRelocs && rva == relocs.rva && relocs.size <= left) {
      // The table is rebuilt on assembly, so its bytes are not emitted.
      m_RelocsInstruction = program.instructions().size();
      m_RelocsBytes = bytes + p;
      ok = program.EmitPeRelocs();
      p += relocs.size;
    } else if (next_abs != m_Abs32Rvas.end() && *next_abs == rva && left >= 4) {
      ok = program.EmitAbs32(LoadU32(bytes + p) - base) &&
           NoThrowAlloc([&] { m_EmittedAbs32.push_back(rva); });
      p += 4;
    } else if (next_rel != m_Rel32Rvas.end() && *next_rel == rva && left >= 4) {
      ok = program.EmitRel32(rva + LoadU32(bytes + p) + 4);
      p += 4;
    } else {
      // Plain bytes up to the next position that needs attention.
      uint64_t stop = s.raw_size;
      auto limit = [&](uint32_t at) {
        if (at > rva && uint64_t(at - s.virtual_address) < stop)
          stop = at - s.virtual_address;
      };
      if (next_abs != m_Abs32Rvas.end())
        limit(*next_abs);
      if (next_rel != m_Rel32Rvas.end())
        limit(*next_rel);
      if (m_RelocsInstruction == kNoRelocs)
        limit(relocs.rva);
      ok = program.EmitBytes(bytes + p, stop - p);
      p = stop;
    }
    if (!ok)
      return Bad("Out of memory");
  }
  return true;
}

}  // namespace velpatch
