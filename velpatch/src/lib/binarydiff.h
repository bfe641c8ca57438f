// The binary diff: turns old bytes into new bytes with three runs, a control run of
// (copy, extra, seek) triples, a diff run of byte differences added to old bytes, and an extra
// run of literal bytes.
//
// Layout: ["VLDIFF10" magic, varint32 Checksum32 of the new data] (header form only), the
// compression method byte, varint32 new size, then the body:
//   0: varint32 lengths of the three runs, then the runs;
//   1: three LZMA2 blocks holding the control, diff and extra runs;
//   2: one LZMA2 block holding a complete method-0 body.
#ifndef VELPATCH_BINARYDIFF_H
#define VELPATCH_BINARYDIFF_H

#include <cstdint>

#include "streams.h"

namespace velpatch {

enum DiffMethod : uint8_t {
  DIFF_METHOD_RAW = 0,
  DIFF_METHOD_LZMA2_PER_RUN = 1,
  DIFF_METHOD_LZMA2_WHOLE = 2,
};

// Reads one diff from the current position of `diff` (which it advances past the body) and
// appends the new data to `out`, using the unread part of `old` as old data (`old` is not
// advanced). Any inconsistency of the diff with itself or with the old data fails. On failure
// `out` is cut back to its length at entry.
[[nodiscard]] bool ApplyBinaryDiff(ByteSource& old, ByteSource& diff, ByteSink& out,
                                   bool has_header);

// Appends one diff turning the unread part of `old` into the unread part of `new_data` to
// `out`, and advances both sources to their ends. Each side is limited to 2147483647 bytes.
// On failure logs why, and `out` is cut back to its length at entry.
[[nodiscard]] bool GenerateBinaryDiff(ByteSource& old, ByteSource& new_data, ByteSink& out,
                                      bool write_header, uint8_t method);

}  // namespace velpatch

#endif  // VELPATCH_BINARYDIFF_H
