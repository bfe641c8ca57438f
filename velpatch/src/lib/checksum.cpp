#include "checksum.h"

#include <zlib.h>

#include <algorithm>

namespace velpatch {

uint32_t Checksum32(const void* data, size_t length) {
  uLong crc = crc32(0L, Z_NULL, 0);
  const Bytef* bytes = static_cast<const Bytef*>(data);
  // zlib takes 32-bit lengths; feed larger buffers in pieces.
  while (length > 0) {
    const size_t piece = std::min<size_t>(length, 1u << 30);
    crc = crc32(crc, bytes, static_cast<uInt>(piece));
    bytes += piece;
    length -= piece;
  }
  return static_cast<uint32_t>(crc) ^ 0xFFFFFFFFu;
}

}  // namespace velpatch
