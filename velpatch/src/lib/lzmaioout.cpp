// LZMA2 blocks on liblzma's raw LZMA2 coder (no .xz container around it).
#include "lzmaioout.h"

#include <lzma.h>

#include <algorithm>
#include <limits>
#include <string>

#include "log.h"

namespace velpatch {

namespace {

constexpr uint8_t kMaxPropertyByte = 40;  // 4 GiB dictionary; liblzma rejects anything above

// An LZMA2 stream is a series of chunks of at most 2 MiB unpacked each. A compressed chunk
// needs at least ten bytes (control byte, two sizes, and the five bytes that start its range
// decoder); an uncompressed chunk never shrinks. So n input bytes can never decode to more than
// ceil(n / 10) * 2 MiB: the input ends before it could hold a size field claiming more, which
// is reported as truncation. Refusing it keeps a few hostile bytes from reserving gigabytes.
bool UnpackedSizeFits(uint64_t unpacked, size_t input) {
  const uint64_t chunks = (static_cast<uint64_t>(input) + 9) / 10;
  return unpacked <= chunks * (uint64_t{1} << 21);
}

uint32_t DictionarySize(uint8_t property) {
  if (property == kMaxPropertyByte) return 0xFFFFFFFFu;
  return (2u | (property & 1u)) << (property / 2 + 11);
}

void LogReadError(int result) {
  Log("Error uncompressing data " + std::to_string(result), LOG_ERROR);
}

int MapDecodeResult(lzma_ret ret, const lzma_stream& stream) {
  switch (ret) {
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR: return LZMA2_ERROR_MEM;
    case LZMA_OPTIONS_ERROR: return LZMA2_ERROR_UNSUPPORTED;
    case LZMA_BUF_ERROR:
      // No progress possible: out of input means truncation, out of room means the stream
      // holds more than its size field says.
      return stream.avail_in == 0 ? LZMA2_ERROR_INPUT_EOF : LZMA2_ERROR_DATA;
    default: return LZMA2_ERROR_DATA;
  }
}

}  // namespace

bool ReadLzma2Block(ByteSource& in, ByteSink& out) {
  ByteSource cursor = in;
  uint8_t property = 0;
  uint32_t unpacked = 0;
  if (!cursor.ReadByte(&property)) {
    Log("Error read LZMA2 properties", LOG_ERROR);
    return false;
  }
  if (!cursor.ReadVarUint32(&unpacked)) {
    Log("Error read LZMA2 unpack size", LOG_ERROR);
    return false;
  }
  if (property > kMaxPropertyByte) {
    LogReadError(LZMA2_ERROR_UNSUPPORTED);
    return false;
  }
  if (!UnpackedSizeFits(unpacked, cursor.Remaining())) {
    LogReadError(LZMA2_ERROR_INPUT_EOF);
    return false;
  }
  if (!out.Reserve(unpacked)) {
    Log("unable to allocate sink space", LOG_ERROR);
    return false;
  }

  // No match can reach further back than the data decoded so far, so a dictionary as large as
  // the unpacked size decodes any valid stream; the header's larger one would only cost memory.
  lzma_options_lzma options{};
  options.dict_size = std::max<uint32_t>(std::min(DictionarySize(property), unpacked),
                                         LZMA_DICT_SIZE_MIN);
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_ret ret = lzma_raw_decoder(&stream, filters);
  if (ret == LZMA_OK) {
    stream.next_in = cursor.current();
    stream.avail_in = cursor.Remaining();
    stream.next_out = out.spare();
    stream.avail_out = unpacked;
    do {
      ret = lzma_code(&stream, LZMA_RUN);
    } while (ret == LZMA_OK);
  }
  int result = LZMA2_OK;
  if (ret != LZMA_STREAM_END) {
    result = MapDecodeResult(ret, stream);
  } else if (stream.total_out != unpacked) {
    result = LZMA2_ERROR_DATA;  // the end marker came early
  }
  const size_t consumed = static_cast<size_t>(stream.total_in);
  lzma_end(&stream);
  if (result != LZMA2_OK) {
    LogReadError(result);
    return false;
  }
  if (!out.Commit(unpacked) || !cursor.Skip(consumed)) return false;  // cannot happen
  in = cursor;
  return true;
}

bool WriteLzma2Block(const void* bytes, size_t length, ByteSink& out) {
  const size_t old_length = out.length();
  if (length > std::numeric_limits<uint32_t>::max()) {
    // The size field has 32 bits: a larger block could not be read back.
    Log("Error Lzma2Enc_Encode", LOG_ERROR);
    return false;
  }
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, 9)) {
    Log("Error Lzma2Enc_SetProps", LOG_ERROR);
    return false;
  }
  // A dictionary larger than the input cannot find anything more; capping it keeps the
  // encoder's memory in proportion to what it codes (the property byte says what was used).
  if (length < options.dict_size)
    options.dict_size = std::max<uint32_t>(static_cast<uint32_t>(length), LZMA_DICT_SIZE_MIN);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  uint8_t property = 0;
  if (lzma_properties_encode(&filters[0], &property) != LZMA_OK) {
    Log("Error Lzma2Enc_SetProps", LOG_ERROR);
    return false;
  }
  const size_t bound = lzma_stream_buffer_bound(length);
  if (!out.WriteByte(property) || !out.WriteVarSize(length) || bound == 0 || !out.Reserve(bound)) {
    out.Truncate(old_length);
    Log("Error Lzma2Enc_Encode", LOG_ERROR);
    return false;
  }
  size_t written = 0;
  const lzma_ret ret = lzma_raw_buffer_encode(filters, nullptr, static_cast<const uint8_t*>(bytes),
                                              length, out.spare(), &written, bound);
  if (ret != LZMA_OK || !out.Commit(written)) {
    out.Truncate(old_length);
    Log("Error Lzma2Enc_Encode", LOG_ERROR);
    return false;
  }
  return true;
}

bool WriteLzma2Block(ByteSource& in, ByteSink& out) {
  if (!WriteLzma2Block(in.current(), in.Remaining(), out)) return false;
  return in.Skip(in.Remaining());
}

}  // namespace velpatch
