// LZMA2 blocks: a property byte, the unpacked size as varint32, then a raw LZMA2 stream ending
// with its end marker. The block carries no compressed length: the next field or block starts
// right after the end marker.
#ifndef VELPATCH_LZMAIOOUT_H
#define VELPATCH_LZMAIOOUT_H

#include <cstddef>

#include "streams.h"

namespace velpatch {

// Result numbers of a failed block read; they appear in the message
// "Error uncompressing data <n>".
enum Lzma2Result : int {
  LZMA2_OK = 0,
  LZMA2_ERROR_DATA = 1,         // corrupt stream, or its size differs from the unpacked size
  LZMA2_ERROR_MEM = 2,          // the decoder could not allocate
  LZMA2_ERROR_UNSUPPORTED = 4,  // property byte above 40
  LZMA2_ERROR_INPUT_EOF = 6,    // the input ends before the end marker
};

// Decodes one block from the current position of `in` and appends the decoded bytes to `out`.
// On success `in` stands just after the block's end marker. On failure one ERROR line is
// logged, `in` is unchanged and `out` keeps its old length.
[[nodiscard]] bool ReadLzma2Block(ByteSource& in, ByteSink& out);

// Appends one block holding the given bytes to `out`. On failure logs one ERROR line; `out`
// keeps its old length unless it failed for good.
[[nodiscard]] bool WriteLzma2Block(const void* bytes, size_t length, ByteSink& out);
// Same, coding the bytes in up to `threads` pieces at once (pieces are at least 1 MiB long).
// The block reads back like any other; it is slightly larger than one coded in a single piece.
[[nodiscard]] bool WriteLzma2BlockInPieces(const void* bytes, size_t length, size_t threads,
                                           ByteSink& out);

// Encoder choices that suit one kind of data. Every chunk of the stream carries the literal and
// position parameters, so blocks coded with any of them read back with the same decoder.
struct Lzma2Tuning {
  uint32_t literal_context_bits = 3;   // lc; lc + lp may not exceed 4
  uint32_t literal_position_bits = 0;  // lp
  uint32_t position_bits = 2;          // pb
  uint32_t nice_length = 64;           // matches this long are taken without looking further
  uint32_t search_depth = 0;           // match finder cycles; 0 lets the coder choose
};
// WriteLzma2BlockInPieces with the given encoder choices instead of the defaults above.
[[nodiscard]] bool WriteLzma2BlockTuned(const void* bytes, size_t length, const Lzma2Tuning& tuning,
                                        size_t threads, ByteSink& out);
// Same for everything from the source's position to its end; on success the source is left at
// its end.
[[nodiscard]] bool WriteLzma2Block(ByteSource& in, ByteSink& out);

}  // namespace velpatch

#endif  // VELPATCH_LZMAIOOUT_H
