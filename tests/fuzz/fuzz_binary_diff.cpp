// Input: a flags byte (bit 0: header form), the old data's length (two bytes, little-endian,
// cut to what is there), the old data, then the diff. The diff is applied to the old data;
// then a diff is generated from the old data to the diff's bytes and must reproduce them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "binarydiff.h"

using velpatch::ByteSink;
using velpatch::ByteSource;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool header = data[0] & 1;
  const size_t old_size = std::min<size_t>(data[1] | (size_t{data[2]} << 8), size - 3);
  const uint8_t* old_data = data + 3;
  const uint8_t* diff_data = old_data + old_size;
  const size_t diff_size = size - 3 - old_size;

  {
    ByteSource old_source(old_data, old_size), diff(diff_data, diff_size);
    ByteSink out;
    if (!out.WriteByte(0x5A)) std::abort();
    if (!velpatch::ApplyBinaryDiff(old_source, diff, out, header)) {
      if (out.length() != 1) std::abort();  // a failure leaves only what was there before
    }
    if (old_source.Remaining() != old_size) std::abort();
  }

  // Method 0 only: the compressed methods differ in packaging, which the block fuzzer covers.
  ByteSource old_source(old_data, old_size), new_source(diff_data, diff_size);
  ByteSink diff;
  if (!velpatch::GenerateBinaryDiff(old_source, new_source, diff, header, 0)) std::abort();
  ByteSource patch;
  patch.Init(diff);
  ByteSource old_again(old_data, old_size);
  ByteSink result;
  if (!velpatch::ApplyBinaryDiff(old_again, patch, result, header) || !patch.Empty() ||
      result.length() != diff_size ||
      (diff_size && std::memcmp(result.data(), diff_data, diff_size) != 0))
    std::abort();
  return 0;
}
