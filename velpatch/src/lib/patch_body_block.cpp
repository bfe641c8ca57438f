#include "patch_body_block.h"

#include <lzma.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "log.h"

namespace velpatch {

bool WritePatchBodyBlock(const void* bytes, size_t length, ByteSink& out) {
  const size_t old_length = out.length();
  auto fail = [&] {
    out.Truncate(old_length);
    Log("Error Lzma2Enc_Encode", LOG_ERROR);
    return false;
  };
  if (length > std::numeric_limits<uint32_t>::max()) return fail();  // the size field has 32 bits
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, 9 | LZMA_PRESET_EXTREME)) return fail();
  options.lc = 1;
  options.pb = 0;
  // A dictionary larger than the input finds nothing more; capping it bounds the memory.
  if (length < options.dict_size)
    options.dict_size = std::max<uint32_t>(static_cast<uint32_t>(length), LZMA_DICT_SIZE_MIN);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  uint8_t property = 0;
  if (lzma_properties_encode(&filters[0], &property) != LZMA_OK) return fail();
  const size_t bound = lzma_stream_buffer_bound(length);
  if (bound == 0 || !out.WriteByte(property) || !out.WriteVarSize(length) || !out.Reserve(bound))
    return fail();
  size_t written = 0;
  if (lzma_raw_buffer_encode(filters, nullptr, static_cast<const uint8_t*>(bytes), length,
                             out.spare(), &written, bound) != LZMA_OK ||
      !out.Commit(written))
    return fail();
  return true;
}

}  // namespace velpatch
