// Application of binary diffs.
#include <cstring>
#include <limits>

#include "binarydiff.h"
#include "log.h"
#include "lzmaioout.h"

namespace velpatch {

namespace {

constexpr char kDiffMagic[8] = {'V', 'L', 'D', 'I', 'F', 'F', '1', '0'};

struct Runs {
  ByteSource control;
  ByteSource diff;
  ByteSource extra;
};

// A method-0 body: three lengths, then the three runs, each of which must lie within `body`.
bool ReadRawRuns(ByteSource& body, Runs* runs) {
  ByteSource cursor = body;
  uint32_t control = 0, diff = 0, extra = 0;
  if (!cursor.ReadVarUint32(&control) || !cursor.ReadVarUint32(&diff) ||
      !cursor.ReadVarUint32(&extra))
    return false;
  if (!cursor.ReadSubSource(control, &runs->control) || !cursor.ReadSubSource(diff, &runs->diff) ||
      !cursor.ReadSubSource(extra, &runs->extra))
    return false;
  body = cursor;
  return true;
}

// Replays the control triples. `produced` counts what this diff appended to `out`.
bool Replay(const ByteSource& old, Runs& runs, uint32_t new_size, ByteSink& out) {
  const uint8_t* old_data = old.current();
  const uint64_t old_size = old.Remaining();
  uint64_t produced = 0;
  uint32_t old_pos = 0;  // advanced with 32-bit arithmetic
  while (produced < new_size) {
    int32_t x = 0, y = 0, z = 0;
    if (!runs.control.ReadVarInt32(&x) || !runs.control.ReadVarInt32(&y) ||
        !runs.control.ReadVarInt32(&z)) {
      Log("Corrupt patch reading control", LOG_ERROR);
      return false;
    }
    // Negative lengths, copies past the new size and runs shorter than asked would read or
    // write out of bounds.
    if (x < 0 || y < 0 || static_cast<uint64_t>(x) > new_size - produced) {
      Log("Corrupt patch", LOG_ERROR);
      return false;
    }
    if (static_cast<uint64_t>(x) > runs.diff.Remaining()) return false;
    // The copy must start and end inside the old data.
    if (static_cast<int32_t>(old_pos) < 0 || old_pos + static_cast<uint64_t>(x) > old_size)
      return false;
    uint8_t* target = out.spare();
    const uint8_t* delta = runs.diff.current();
    const uint8_t* source = old_data + old_pos;
    for (int32_t i = 0; i < x; ++i) target[i] = static_cast<uint8_t>(delta[i] + source[i]);
    if (!out.Commit(static_cast<size_t>(x)) || !runs.diff.Skip(static_cast<size_t>(x)))
      return false;
    produced += static_cast<uint64_t>(x);

    if (static_cast<uint64_t>(y) > new_size - produced) {
      Log("Corrupt patch", LOG_ERROR);
      return false;
    }
    if (static_cast<uint64_t>(y) > runs.extra.Remaining()) return false;
    if (!out.Write(runs.extra.current(), static_cast<size_t>(y)) ||
        !runs.extra.Skip(static_cast<size_t>(y)))
      return false;
    produced += static_cast<uint64_t>(y);
    old_pos += static_cast<uint32_t>(x) + static_cast<uint32_t>(z);
  }
  return true;
}

bool Apply(ByteSource& old, ByteSource& diff, ByteSink& out, bool has_header) {
  uint32_t checksum = 0;
  if (has_header) {
    char magic[sizeof(kDiffMagic)];
    if (!diff.ReadBytes(magic, sizeof(magic))) return false;
    if (std::memcmp(magic, kDiffMagic, sizeof(magic)) != 0) {
      Log("Corrupt patch header", LOG_ERROR);
      return false;
    }
    if (!diff.ReadVarUint32(&checksum)) {
      Log("Could not read crc", LOG_ERROR);
      return false;
    }
  }
  uint8_t method = 0;
  if (!diff.ReadByte(&method)) return false;
  if (method > DIFF_METHOD_LZMA2_WHOLE) {
    Log("Invalid compression method", LOG_ERROR);
    return false;
  }
  uint32_t new_size = 0;
  if (!diff.ReadVarUint32(&new_size)) return false;

  // Decoded runs live here until the replay is done.
  ByteSink control_buffer, diff_buffer, extra_buffer;
  Runs runs;
  if (method == DIFF_METHOD_LZMA2_PER_RUN) {
    if (!ReadLzma2Block(diff, control_buffer) || !ReadLzma2Block(diff, diff_buffer) ||
        !ReadLzma2Block(diff, extra_buffer))
      return false;
    runs.control.Init(control_buffer);
    runs.diff.Init(diff_buffer);
    runs.extra.Init(extra_buffer);
  } else if (method == DIFF_METHOD_LZMA2_WHOLE) {
    if (!ReadLzma2Block(diff, control_buffer)) return false;
    ByteSource body(control_buffer.data(), control_buffer.length());
    if (!ReadRawRuns(body, &runs)) return false;
  } else {
    if (!ReadRawRuns(diff, &runs)) return false;
  }

  // Every new byte comes from the diff run or the extra run: a larger size is a lie, and
  // checking it first keeps the size field from reserving memory the runs cannot fill.
  if (new_size > static_cast<uint64_t>(runs.diff.Remaining()) + runs.extra.Remaining()) {
    Log("Corrupt patch", LOG_ERROR);
    return false;
  }
  const size_t base = out.length();
  if (!out.Reserve(new_size)) return false;
  if (!Replay(old, runs, new_size, out)) return false;
  if (has_header && Checksum32(out.data() + base, new_size) != checksum) {
    Log("crc mismatch", LOG_ERROR);
    return false;
  }
  return true;
}

}  // namespace

bool ApplyBinaryDiff(ByteSource& old, ByteSource& diff, ByteSink& out, bool has_header) {
  const size_t base = out.length();
  if (Apply(old, diff, out, has_header)) return true;
  out.Truncate(base);
  return false;
}

}  // namespace velpatch
