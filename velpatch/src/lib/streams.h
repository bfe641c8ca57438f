// The byte-level building blocks of every patch engine format: a read cursor over memory
// (ByteSource), a growable owned buffer (ByteSink), base-128 varints, and stream sets (up to ten
// independent streams written out as one buffer and split again on reading).
//
// Nothing here throws; every fallible operation returns false and leaves its outputs as
// documented. This header also brings in the checksum and the file helpers that every entry
// point uses.
#ifndef VELPATCH_STREAMS_H
#define VELPATCH_STREAMS_H

#include <cstddef>
#include <cstdint>

#include "checksum.h"
#include "mappedfile.h"

namespace velpatch {

class ByteSink;

// A read cursor over memory it does not own. Invariant: start <= current <= end. A failed read
// leaves the position unchanged.
class ByteSource {
 public:
  ByteSource() = default;
  ByteSource(const void* data, size_t length) { Init(data, length); }

  // Covers [data, data + length); the position goes to the start.
  void Init(const void* data, size_t length);
  // Covers the sink's current contents. The sink must outlive the source and must not grow
  // while the source is in use (growing may move its buffer).
  void Init(const ByteSink& sink);

  [[nodiscard]] bool ReadBytes(void* destination, size_t n);
  [[nodiscard]] bool ReadByte(uint8_t* value);
  [[nodiscard]] bool ReadVarUint32(uint32_t* value);
  [[nodiscard]] bool ReadVarInt32(int32_t* value);  // zigzag
  [[nodiscard]] bool Skip(size_t n);
  // Makes `sub` cover the next n bytes and advances past them; fails (changing nothing) when
  // fewer than n remain.
  [[nodiscard]] bool ReadSubSource(size_t n, ByteSource* sub);

  size_t Remaining() const { return static_cast<size_t>(m_End - m_Current); }
  size_t Consumed() const { return static_cast<size_t>(m_Current - m_Start); }
  bool Empty() const { return m_Current == m_End; }
  const uint8_t* start() const { return m_Start; }
  const uint8_t* current() const { return m_Current; }
  const uint8_t* end() const { return m_End; }

 private:
  const uint8_t* m_Start = nullptr;
  const uint8_t* m_End = nullptr;
  const uint8_t* m_Current = nullptr;
};

// A growable owned buffer. Growth never throws: an allocation failure releases the buffer and
// leaves the sink failed for good, so that every later write, reserve or append fails too and a
// chain of writes can be checked once at its end. Move-only.
class ByteSink {
 public:
  ByteSink() = default;
  ~ByteSink();
  ByteSink(ByteSink&& other) noexcept;
  ByteSink& operator=(ByteSink&& other) noexcept;
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;

  // Appends n bytes; n == 0 succeeds. Fails when length + n overflows or the buffer cannot grow.
  [[nodiscard]] bool Write(const void* bytes, size_t n);
  [[nodiscard]] bool WriteByte(uint8_t value);
  [[nodiscard]] bool WriteVarUint32(uint32_t value);
  [[nodiscard]] bool WriteVarInt32(int32_t value);  // zigzag
  // Writes a length or count as varint32. A value above 0xFFFFFFFF is a programming error: it
  // is logged as a failed assertion and its low 32 bits are written.
  [[nodiscard]] bool WriteVarSize(uint64_t value);
  // Writes the other sink's bytes; on success releases the other sink's buffer.
  [[nodiscard]] bool Append(ByteSink& other);
  // Makes room for n more bytes beyond the current length. Large room comes on huge pages
  // (large_buffers.h), which pays when it is filled.
  [[nodiscard]] bool Reserve(size_t n);
  // Reserve for room that only a part of may be used (a bound on a coder's output, say). Huge
  // pages are not used for it: each one touched takes 2 MiB however little of it is written.
  [[nodiscard]] bool ReserveUpperBound(size_t n);
  // Frees the buffer; length and capacity become 0 and the failed flag is cleared.
  void Release();
  // Frees the buffer and fails the sink, as a failed allocation does.
  void SetFailed();

  // Direct filling of reserved space: write up to capacity() - length() bytes at spare(), then
  // Commit() how many were written. Commit fails (changing nothing) when n exceeds the space.
  uint8_t* spare() { return m_Data + m_Length; }
  [[nodiscard]] bool Commit(size_t n);
  // Drops everything after the first `length` bytes (no-op when already shorter).
  void Truncate(size_t length);

  const uint8_t* data() const { return m_Data; }
  uint8_t* data() { return m_Data; }
  size_t length() const { return m_Length; }
  size_t capacity() const { return m_Capacity; }
  bool failed() const { return m_Failed; }

 private:
  bool GrowTo(size_t capacity, bool huge_pages = true);

  uint8_t* m_Data = nullptr;
  size_t m_Length = 0;    // bytes written; <= m_Capacity
  size_t m_Capacity = 0;  // bytes allocated at m_Data
  bool m_Failed = false;  // set by a failed allocation, cleared only by Release()
};

// Version written as the first field of every serialized stream set.
constexpr uint32_t kStreamSetVersion = 20090218;
constexpr size_t kMaxStreams = 10;

// A parsed stream set: up to ten sources pointing into a buffer that must outlive the set.
class ByteSourceSet {
 public:
  ByteSourceSet() = default;

  // Splits a serialized set. Fails unless the version, the count (at most ten) and every
  // length read and the lengths add up to exactly the bytes after the length list. On failure
  // the set is left empty.
  [[nodiscard]] bool Parse(const void* data, size_t length);
  // Reads one nested set written by ByteSinkSet::WriteNestedSet: its control entries come from
  // stream 0, its bytes from the front of each stream. Fails on a short read or a count above
  // ten; `destination` keeps the streams it does not receive empty.
  [[nodiscard]] bool ReadNestedSet(ByteSourceSet& destination);
  // True when every stream below the count has been read to its end.
  bool AllConsumed() const;

  // i must be below kMaxStreams; a larger index is a programming error and yields an empty
  // source.
  ByteSource& stream(size_t i);
  size_t count() const { return m_Count; }

 private:
  void Clear();

  size_t m_Count = 0;  // <= kMaxStreams; slots at or beyond it are empty
  ByteSource m_Streams[kMaxStreams];
  ByteSource m_Invalid;  // handed out for an out-of-range index
};

// Ten output streams written out as one buffer. A fresh set has count 10; a writer that uses
// fewer streams may lower it before serializing.
class ByteSinkSet {
 public:
  ByteSinkSet() = default;

  // Writes version, count, the stream lengths and the stream bytes to `out`; each stream's
  // buffer is released once copied.
  [[nodiscard]] bool SerializeTo(ByteSink& out);
  // Appends `nested` into this set's streams (control entries in stream 0, bytes of nested
  // stream i to stream i); the nested streams are released once copied.
  [[nodiscard]] bool WriteNestedSet(ByteSinkSet& nested);

  // i must be below kMaxStreams; a larger index is a programming error and yields a failed
  // sink.
  ByteSink& stream(size_t i);
  size_t count() const { return m_Count; }
  // n above kMaxStreams is a programming error and is clamped.
  void set_count(size_t n);

 private:
  size_t m_Count = kMaxStreams;
  ByteSink m_Streams[kMaxStreams];
  ByteSink m_Invalid;
};

}  // namespace velpatch

#endif  // VELPATCH_STREAMS_H
