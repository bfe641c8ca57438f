#include "relocation_tables.h"

#include <algorithm>

#include "streams.h"

namespace velpatch {
namespace {

void PutU16(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(uint8_t* p, uint32_t value) {
  PutU16(p, value);
  PutU16(p + 2, value >> 16);
}

bool WriteBlock(uint32_t page, const uint16_t* entries, size_t count, ByteSink& out) {
  uint8_t header[8];
  const size_t padded = count + (count % 2);  // 8 + 2 * count must be a multiple of 4
  PutU32(header, page);
  PutU32(header + 4, static_cast<uint32_t>(8 + 2 * padded));
  if (!out.Write(header, sizeof(header)))
    return false;
  uint8_t entry[2];
  for (size_t i = 0; i < padded; ++i) {
    PutU16(entry, i < count ? entries[i] : 0);
    if (!out.Write(entry, sizeof(entry)))
      return false;
  }
  return true;
}

}  // namespace

void SortAllButLast(std::vector<uint32_t>& positions) {
  if (positions.size() > 1)
    std::sort(positions.begin(), positions.end() - 1);
}

bool WritePeRelocationTable(const std::vector<uint32_t>& positions, uint32_t type,
                            ByteSink& out) {
  // Check every block first so that a refused table leaves `out` as it was.
  size_t run = 0;
  for (size_t i = 0; i < positions.size(); ++i) {
    const bool same_page = i > 0 && (positions[i] & 0xFFFFF000) == (positions[i - 1] & 0xFFFFF000);
    run = same_page ? run + 1 : 1;
    if (run + (run % 2) > kPeMaxBlockEntries)
      return false;
  }
  uint16_t entries[kPeMaxBlockEntries];
  size_t count = 0;
  uint32_t page = 0;
  for (uint32_t position : positions) {
    if (count > 0 && (position & 0xFFFFF000) != page) {
      if (!WriteBlock(page, entries, count, out))
        return false;
      count = 0;
    }
    page = position & 0xFFFFF000;
    entries[count++] = static_cast<uint16_t>((type << 12) | (position & 0xFFF));
  }
  return count == 0 || WriteBlock(page, entries, count, out);
}

bool WriteElfRelocationTable(const std::vector<uint32_t>& positions, uint32_t type,
                             ByteSink& out) {
  uint8_t entry[8];
  for (uint32_t position : positions) {
    PutU32(entry, position);
    PutU32(entry + 4, type);
    if (!out.Write(entry, sizeof(entry)))
      return false;
  }
  return true;
}

}  // namespace velpatch
