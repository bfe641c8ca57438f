// Which bytes of a new version correspond to which bytes of the old one: the copy regions of a
// binary diff between the two, where the new bytes are old bytes plus small differences.
#ifndef VELPATCH_BYTE_ALIGNMENT_H
#define VELPATCH_BYTE_ALIGNMENT_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velpatch {

// New bytes [new_offset, new_offset + length) correspond to old bytes from old_offset.
struct CopyRegion {
  size_t new_offset = 0;
  size_t old_offset = 0;
  size_t length = 0;
};

// Fills `regions` in ascending new_offset order, without overlaps, each within both inputs.
// False (after logging) when the diff cannot be generated or memory runs out.
[[nodiscard]] bool AlignBytes(const uint8_t* old_data, size_t old_length, const uint8_t* new_data,
                              size_t new_length, std::vector<CopyRegion>* regions);

// The region holding new offset `offset`, or null.
const CopyRegion* FindRegion(const std::vector<CopyRegion>& regions, size_t offset);

}  // namespace velpatch

#endif  // VELPATCH_BYTE_ALIGNMENT_H
