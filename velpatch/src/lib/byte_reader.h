// Internal helpers: little-endian loads and overflow-safe range checks for parsing untrusted
// executable headers. Loads never check bounds themselves; callers check with InRange first.
#ifndef VELPATCH_BYTE_READER_H
#define VELPATCH_BYTE_READER_H

#include <cstddef>
#include <cstdint>

namespace velpatch {

inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t LoadU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline uint64_t LoadU64(const uint8_t* p) { return LoadU32(p) | (uint64_t(LoadU32(p + 4)) << 32); }

// True when [offset, offset + size) lies within [0, limit), without overflow.
inline bool InRange(uint64_t offset, uint64_t size, uint64_t limit) {
  return offset <= limit && size <= limit - offset;
}

}  // namespace velpatch

#endif  // VELPATCH_BYTE_READER_H
