// The LZMA2 container: one whole file, compressed with LZMA2 and protected by a checksum.
//
//   magic        varint32 132781929
//   checksum     varint32 Checksum32 of the packed file
//   directive    varint32 1 = plain, 2 = disassemble-and-diff
//   payload      one LZMA2 block; anything after it is ignored
//
// Plain: the block holds the file. Disassemble-and-diff: the block holds a stream set of N >= 2
// streams; streams 0 ... N-2 are the encoded programs of the executables found in the file (each
// a serialized stream set), stream N-1 a binary diff without header from their assembly, one
// after the other, to the file.
#ifndef VELPATCH_LZMA2_CONTAINER_H
#define VELPATCH_LZMA2_CONTAINER_H

#include <cstddef>
#include <cstdint>

#include "streams.h"

namespace velpatch {

constexpr uint32_t kContainerMagic = 132781929;

enum class PreprocessDirective : uint32_t {
  Plain = 1,
  DisassembleAndDiff = 2,
};

// Unpacks the container at `input_path` into `output_path`. The output file is written only
// once the whole result has been decoded and its checksum matched. Every failure logs one
// ERROR line and returns false.
[[nodiscard]] bool DecompressLzma2File(const oschar* input_path, const oschar* output_path);

// Writes a container of the file at `input_path` to `output_path`: plain when `preprocess` is
// false or no executable is found; otherwise disassemble-and-diff, falling back to plain when
// anything on that path fails. False (after logging) only when the input cannot be read or the
// output cannot be built or written.
[[nodiscard]] bool CompressLzma2File(const oschar* input_path, const oschar* output_path,
                                     bool preprocess);

// The in-memory cores of the two functions above; `out` is replaced by the result and left
// empty on failure. They log exactly as the file functions do.
[[nodiscard]] bool DecompressLzma2Container(const uint8_t* data, size_t length, ByteSink& out);
[[nodiscard]] bool CompressLzma2Container(const uint8_t* data, size_t length, bool preprocess,
                                          ByteSink& out);

}  // namespace velpatch

#endif  // VELPATCH_LZMA2_CONTAINER_H
