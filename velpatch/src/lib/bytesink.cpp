#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "large_buffers.h"
#include "log.h"
#include "streams.h"

namespace velpatch {

namespace {
constexpr size_t kMinCapacity = 256;
}

ByteSink::~ByteSink() { std::free(m_Data); }

ByteSink::ByteSink(ByteSink&& other) noexcept
    : m_Data(std::exchange(other.m_Data, nullptr)),
      m_Length(std::exchange(other.m_Length, 0)),
      m_Capacity(std::exchange(other.m_Capacity, 0)),
      m_Failed(std::exchange(other.m_Failed, false)) {}

ByteSink& ByteSink::operator=(ByteSink&& other) noexcept {
  if (this != &other) {
    std::free(m_Data);
    m_Data = std::exchange(other.m_Data, nullptr);
    m_Length = std::exchange(other.m_Length, 0);
    m_Capacity = std::exchange(other.m_Capacity, 0);
    m_Failed = std::exchange(other.m_Failed, false);
  }
  return *this;
}

bool ByteSink::GrowTo(size_t capacity, bool huge_pages) {
  if (capacity < kMinCapacity) capacity = kMinCapacity;
  void* grown = nullptr;
  if (capacity < kLargeBufferLength || !huge_pages) {
    grown = std::realloc(m_Data, capacity);
  } else {
    // Large: a fresh huge-page-aligned block, which realloc would not keep aligned.
    capacity = LargeBufferCapacity(capacity);
    grown = AllocateLargeBuffer(capacity);
    if (grown != nullptr) {
      if (m_Length > 0) std::memcpy(grown, m_Data, m_Length);
      std::free(m_Data);
    }
  }
  if (grown == nullptr) {
    // Final for this sink: later writes fail, so a chain of writes is checked once at its end.
    SetFailed();
    return false;
  }
  m_Data = static_cast<uint8_t*>(grown);
  m_Capacity = capacity;
  return true;
}

bool ByteSink::Write(const void* bytes, size_t n) {
  if (m_Failed) return false;
  if (n == 0) return true;
  if (n > std::numeric_limits<size_t>::max() - m_Length) return false;
  const size_t needed = m_Length + n;
  if (needed > m_Capacity) {
    size_t capacity = m_Capacity ? m_Capacity : kMinCapacity;
    while (capacity < needed) {
      capacity = capacity > std::numeric_limits<size_t>::max() / 2
                     ? std::numeric_limits<size_t>::max()
                     : capacity * 2;
    }
    if (!GrowTo(capacity)) return false;
  }
  std::memcpy(m_Data + m_Length, bytes, n);
  m_Length = needed;
  return true;
}

bool ByteSink::WriteByte(uint8_t value) { return Write(&value, 1); }

bool ByteSink::WriteVarUint32(uint32_t value) {
  uint8_t buffer[5];
  size_t n = 0;
  while (value >= 0x80) {
    buffer[n++] = static_cast<uint8_t>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  buffer[n++] = static_cast<uint8_t>(value);
  return Write(buffer, n);
}

bool ByteSink::WriteVarInt32(int32_t value) {
  const uint32_t u = static_cast<uint32_t>(value);
  // 2v for v >= 0, -2v - 1 for v < 0, computed without signed overflow.
  return WriteVarUint32((u << 1) ^ (0u - (u >> 31)));
}

bool ByteSink::WriteVarSize(uint64_t value) {
  const uint32_t narrowed_value = static_cast<uint32_t>(value);
  VLOG_CHECK(value == narrowed_value);
  return WriteVarUint32(narrowed_value);
}

bool ByteSink::Append(ByteSink& other) {
  if (&other == this) return false;
  if (m_Failed || other.m_Failed) return false;
  if (!Write(other.m_Data, other.m_Length)) return false;
  other.Release();
  return true;
}

bool ByteSink::Reserve(size_t n) {
  if (m_Failed) return false;
  if (n > std::numeric_limits<size_t>::max() - m_Length) return false;
  if (m_Capacity >= m_Length + n) return true;
  return GrowTo(m_Length + n);
}

bool ByteSink::ReserveUpperBound(size_t n) {
  if (m_Failed) return false;
  if (n > std::numeric_limits<size_t>::max() - m_Length) return false;
  if (m_Capacity >= m_Length + n) return true;
  return GrowTo(m_Length + n, false);
}

void ByteSink::Release() {
  std::free(m_Data);
  m_Data = nullptr;
  m_Length = 0;
  m_Capacity = 0;
  m_Failed = false;
}

void ByteSink::SetFailed() {
  Release();
  m_Failed = true;
}

bool ByteSink::Commit(size_t n) {
  if (m_Failed || n > m_Capacity - m_Length) return false;
  m_Length += n;
  return true;
}

void ByteSink::Truncate(size_t length) {
  if (length < m_Length) m_Length = length;
}

}  // namespace velpatch
