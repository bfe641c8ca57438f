// Serialized stream sets and nested sets.
#include "log.h"
#include "streams.h"

namespace velpatch {

namespace {
// The varint of kStreamSetVersion, written as one fixed block.
constexpr uint8_t kVersionBytes[4] = {0xEA, 0x9A, 0xCA, 0x09};
}  // namespace

// ---- ByteSourceSet ---------------------------------------------------------------------------

void ByteSourceSet::Clear() {
  m_Count = 0;
  for (ByteSource& s : m_Streams) s = ByteSource();
}

ByteSource& ByteSourceSet::stream(size_t i) {
  if (!VLOG_CHECK(i < kMaxStreams)) {
    m_Invalid = ByteSource();
    return m_Invalid;
  }
  return m_Streams[i];
}

bool ByteSourceSet::Parse(const void* data, size_t length) {
  Clear();
  if (length <= 1) return false;
  ByteSource in(data, length);
  uint32_t version = 0;
  uint32_t count = 0;
  if (!in.ReadVarUint32(&version) || version != kStreamSetVersion) return false;
  if (!in.ReadVarUint32(&count) || count > kMaxStreams) return false;
  uint32_t lengths[kMaxStreams];
  uint64_t total = 0;  // at most ten 32-bit values: cannot overflow
  for (uint32_t i = 0; i < count; ++i) {
    if (!in.ReadVarUint32(&lengths[i])) return false;
    total += lengths[i];
  }
  if (total != in.Remaining()) return false;
  for (uint32_t i = 0; i < count; ++i) {
    if (!in.ReadSubSource(lengths[i], &m_Streams[i])) {
      Clear();
      return false;
    }
  }
  m_Count = count;
  return true;
}

bool ByteSourceSet::ReadNestedSet(ByteSourceSet& destination) {
  if (&destination == this) return false;
  ByteSource control = m_Streams[0];  // committed only when everything reads
  uint32_t count = 0;
  if (!control.ReadVarUint32(&count) || count > kMaxStreams) return false;
  uint32_t lengths[kMaxStreams];
  for (uint32_t i = 0; i < count; ++i) {
    if (!control.ReadVarUint32(&lengths[i])) return false;
  }
  ByteSource streams[kMaxStreams];
  for (uint32_t i = 0; i < kMaxStreams; ++i) streams[i] = i == 0 ? control : m_Streams[i];
  ByteSource parts[kMaxStreams];
  for (uint32_t i = 0; i < count; ++i) {
    if (!streams[i].ReadSubSource(lengths[i], &parts[i])) return false;
  }
  for (uint32_t i = 0; i < kMaxStreams; ++i) m_Streams[i] = streams[i];
  destination.Clear();
  for (uint32_t i = 0; i < count; ++i) destination.m_Streams[i] = parts[i];
  // The writer drops trailing empty streams; the reader gets all ten slots back, so that a
  // consumer expecting a fixed number of streams (an encoded program has nine) sees the empty
  // ones instead of a short set.
  destination.m_Count = kMaxStreams;
  return true;
}

bool ByteSourceSet::AllConsumed() const {
  for (size_t i = 0; i < m_Count; ++i) {
    if (!m_Streams[i].Empty()) return false;
  }
  return true;
}

// ---- ByteSinkSet -----------------------------------------------------------------------------

ByteSink& ByteSinkSet::stream(size_t i) {
  if (!VLOG_CHECK(i < kMaxStreams)) {
    // A failed sink: writes to a wrong index fail instead of landing somewhere.
    m_Invalid.SetFailed();
    return m_Invalid;
  }
  return m_Streams[i];
}

void ByteSinkSet::set_count(size_t n) {
  if (!VLOG_CHECK(n <= kMaxStreams)) n = kMaxStreams;
  m_Count = n;
}

bool ByteSinkSet::SerializeTo(ByteSink& out) {
  size_t total = sizeof(kVersionBytes) + 5 * (m_Count + 1);
  for (size_t i = 0; i < m_Count; ++i) {
    if (m_Streams[i].failed()) return false;
    total += m_Streams[i].length();
  }
  bool ok = out.Reserve(total) && out.Write(kVersionBytes, sizeof(kVersionBytes)) &&
            out.WriteVarSize(m_Count);
  for (size_t i = 0; ok && i < m_Count; ++i) ok = out.WriteVarSize(m_Streams[i].length());
  for (size_t i = 0; ok && i < m_Count; ++i) ok = out.Append(m_Streams[i]);
  return ok;
}

bool ByteSinkSet::WriteNestedSet(ByteSinkSet& nested) {
  if (&nested == this) return false;
  size_t count = 0;
  for (size_t i = 0; i < kMaxStreams; ++i) {
    if (nested.m_Streams[i].failed()) return false;
    if (nested.m_Streams[i].length() > 0) count = i + 1;
  }
  bool ok = m_Streams[0].WriteVarSize(count);
  for (size_t i = 0; ok && i < count; ++i)
    ok = m_Streams[0].WriteVarSize(nested.m_Streams[i].length());
  for (size_t i = 0; ok && i < count; ++i) ok = m_Streams[i].Append(nested.m_Streams[i]);
  return ok;
}

}  // namespace velpatch
