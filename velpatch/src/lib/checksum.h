#ifndef VELPATCH_CHECKSUM_H
#define VELPATCH_CHECKSUM_H

#include <cstddef>
#include <cstdint>

namespace velpatch {

// The checksum stored by containers, diffs and patches: the standard CRC-32 (zlib's crc32)
// inverted once more. "abc" gives 0xCADBBE3D, no bytes give 0xFFFFFFFF.
uint32_t Checksum32(const void* data, size_t length);

}  // namespace velpatch

#endif  // VELPATCH_CHECKSUM_H
