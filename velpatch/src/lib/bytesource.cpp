#include <cstring>

#include "streams.h"

namespace velpatch {

void ByteSource::Init(const void* data, size_t length) {
  m_Start = static_cast<const uint8_t*>(data);
  m_End = m_Start + length;
  m_Current = m_Start;
}

void ByteSource::Init(const ByteSink& sink) { Init(sink.data(), sink.length()); }

bool ByteSource::ReadBytes(void* destination, size_t n) {
  if (n > Remaining()) return false;
  if (n > 0) std::memcpy(destination, m_Current, n);
  m_Current += n;
  return true;
}

bool ByteSource::ReadByte(uint8_t* value) { return ReadBytes(value, 1); }

bool ByteSource::ReadVarUint32(uint32_t* value) {
  // Up to five groups of 7 bits, low-order first; the fifth byte must end the number and its
  // bits beyond bit 31 are dropped.
  uint32_t result = 0;
  const uint8_t* p = m_Current;
  for (int shift = 0; shift <= 28; shift += 7) {
    if (p == m_End) return false;
    const uint8_t byte = *p++;
    result |= static_cast<uint32_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) {
      *value = result;
      m_Current = p;
      return true;
    }
  }
  return false;
}

bool ByteSource::ReadVarInt32(int32_t* value) {
  uint32_t u;
  if (!ReadVarUint32(&u)) return false;
  *value = static_cast<int32_t>((u >> 1) ^ (0u - (u & 1)));
  return true;
}

bool ByteSource::Skip(size_t n) {
  if (n > Remaining()) return false;
  m_Current += n;
  return true;
}

bool ByteSource::ReadSubSource(size_t n, ByteSource* sub) {
  if (n > Remaining()) return false;
  sub->Init(m_Current, n);
  m_Current += n;
  return true;
}

}  // namespace velpatch
