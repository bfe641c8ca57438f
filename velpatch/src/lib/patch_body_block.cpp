#include "patch_body_block.h"

#include "lzmaioout.h"

namespace velpatch {

bool WritePatchBodyBlock(const void* bytes, size_t length, ByteSink& out) {
  // Level 9's extreme variant searches this deep and takes matches this long.
  Lzma2Tuning tuning;
  tuning.literal_context_bits = 1;
  tuning.position_bits = 0;
  tuning.nice_length = 273;
  tuning.search_depth = 512;
  return WriteLzma2BlockTuned(bytes, length, tuning, 1, out);
}

}  // namespace velpatch
