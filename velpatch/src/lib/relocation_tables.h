// The relocation tables that assembly rebuilds from the positions of the absolute addresses it
// wrote: the PE base relocation table and plain ELF REL entries.
#ifndef VELPATCH_RELOCATION_TABLES_H
#define VELPATCH_RELOCATION_TABLES_H

#include <cstdint>
#include <vector>

namespace velpatch {

class ByteSink;

constexpr uint32_t kPeRelocHighLow = 3;        // IMAGE_REL_BASED_HIGHLOW
constexpr uint32_t kPeRelocDir64 = 10;         // IMAGE_REL_BASED_DIR64
constexpr uint32_t kElfRelocRelative386 = 8;   // R_386_RELATIVE
constexpr uint32_t kElfRelocRelativeArm = 23;  // R_ARM_RELATIVE
constexpr uint32_t kPeMaxBlockEntries = 4096;  // per 4 KiB page, padding entry included

// Sorts every position but the last one, which stays at the end. Tables written so far were
// built in this order, and the bytes must come out the same.
void SortAllButLast(std::vector<uint32_t>& positions);

// Blocks of one page each: page RVA, block size, then (type << 12 | offset) entries, padded
// with one 0000 entry to a multiple of 4 bytes. Fails (writing nothing) when a page would need
// more than kPeMaxBlockEntries entries, or when `out` fails.
[[nodiscard]] bool WritePeRelocationTable(const std::vector<uint32_t>& positions, uint32_t type,
                                          ByteSink& out);

// One 8-byte entry per position: r_offset, r_info = type (symbol 0).
[[nodiscard]] bool WriteElfRelocationTable(const std::vector<uint32_t>& positions, uint32_t type,
                                           ByteSink& out);

}  // namespace velpatch

#endif  // VELPATCH_RELOCATION_TABLES_H
