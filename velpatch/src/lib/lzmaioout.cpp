// LZMA2 blocks on liblzma's raw LZMA2 coder (no .xz container around it). A raw LZMA2 stream
// is the same bytes whichever coder wrote it, so blocks from other LZMA2 encoders read here and
// ours read elsewhere; liblzma is the coder the system provides as a maintained library.
#include "lzmaioout.h"

#include <lzma.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "large_buffers.h"
#include "log.h"
#include "parallel.h"

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

// The decoder's dictionary is filled from end to end like our output buffers. The encoder keeps
// the standard allocator: parts of its buffers stay untouched, and with huge pages they took
// 15 MB more memory on a 10 MB diff.
void* CoderAlloc(void*, size_t count, size_t size) {
  if (size != 0 && count > std::numeric_limits<size_t>::max() / size) return nullptr;
  return AllocateLargeBuffer(count * size);
}
void CoderFree(void*, void* data) { std::free(data); }
const lzma_allocator kCoderAllocator = {CoderAlloc, CoderFree, nullptr};

void LogReadError(int result) {
  Log("Error uncompressing data " + std::to_string(result), LOG_ERROR);
}

int MapDecodeResult(lzma_ret ret, const lzma_stream& stream) {
  switch (ret) {
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR:
      return LZMA2_ERROR_MEM;
    case LZMA_OPTIONS_ERROR:
      return LZMA2_ERROR_UNSUPPORTED;
    case LZMA_BUF_ERROR:
      // No progress possible: out of input means truncation, out of room means the stream
      // holds more than its size field says.
      return stream.avail_in == 0 ? LZMA2_ERROR_INPUT_EOF : LZMA2_ERROR_DATA;
    default:
      return LZMA2_ERROR_DATA;
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
  options.dict_size =
      std::max<uint32_t>(std::min(DictionarySize(property), unpacked), LZMA_DICT_SIZE_MIN);
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  stream.allocator = &kCoderAllocator;
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

namespace {

// Pieces coded on their own threads are at least this long: below it, a thread costs more than
// it saves and the lost cross-piece matches start to show.
constexpr size_t kMinPieceLength = size_t{1} << 20;

// The SDK's level 9 with the given literal and match choices, and the dictionary capped at the
// input's length: a larger one cannot find anything more, and capping it keeps the encoder's
// memory in proportion to what it codes.
bool EncoderOptions(size_t length, const Lzma2Tuning& tuning, lzma_options_lzma* options) {
  if (lzma_lzma_preset(options, 9)) return false;
  if (length < options->dict_size)
    options->dict_size = std::max<uint32_t>(static_cast<uint32_t>(length), LZMA_DICT_SIZE_MIN);
  options->lc = tuning.literal_context_bits;
  options->lp = tuning.literal_position_bits;
  options->pb = tuning.position_bits;
  options->nice_len = tuning.nice_length;
  options->depth = tuning.search_depth;
  return true;
}

// Appends a raw LZMA2 stream holding the bytes, ending with its end marker.
bool EncodeRawStream(const uint8_t* data, size_t length, const Lzma2Tuning& tuning, ByteSink& out) {
  lzma_options_lzma options;
  if (!EncoderOptions(length, tuning, &options)) return false;
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  const size_t bound = lzma_stream_buffer_bound(length);
  if (bound == 0 || !out.ReserveUpperBound(bound)) return false;
  size_t written = 0;
  return lzma_raw_buffer_encode(filters, nullptr, data, length, out.spare(), &written, bound) ==
             LZMA_OK &&
         out.Commit(written);
}

// Codes `pieces` consecutive pieces of the bytes on their own threads and joins them into one
// stream. Each piece's stream starts with a dictionary reset, which LZMA2 allows at any chunk,
// so the joined stream (each end marker but the last dropped) decodes like any other.
bool EncodeInPieces(const uint8_t* data, size_t length, size_t pieces, const Lzma2Tuning& tuning,
                    ByteSink& out) {
  std::vector<ByteSink> coded(pieces);
  std::vector<char> ok(pieces, 0);
  const size_t piece_length = length / pieces;
  auto encode = [&](size_t i) {
    const size_t begin = i * piece_length;
    const size_t end = i + 1 == pieces ? length : begin + piece_length;
    ok[i] = EncodeRawStream(data + begin, end - begin, tuning, coded[i]);
  };
  RunInParallel(pieces, encode);
  for (size_t i = 0; i < pieces; ++i) {
    if (!ok[i]) return false;
    if (i + 1 < pieces) {
      if (!VLOG_CHECK(coded[i].length() > 0 && coded[i].data()[coded[i].length() - 1] == 0))
        return false;
      coded[i].Truncate(coded[i].length() - 1);  // the end marker
    }
    if (!out.Append(coded[i])) return false;
  }
  return true;
}

}  // namespace

bool WriteLzma2Block(const void* bytes, size_t length, ByteSink& out) {
  return WriteLzma2BlockInPieces(bytes, length, 1, out);
}

bool WriteLzma2BlockInPieces(const void* bytes, size_t length, size_t threads, ByteSink& out) {
  return WriteLzma2BlockTuned(bytes, length, Lzma2Tuning(), threads, out);
}

bool WriteLzma2BlockTuned(const void* bytes, size_t length, const Lzma2Tuning& tuning,
                          size_t threads, ByteSink& out) {
  const size_t old_length = out.length();
  if (length > std::numeric_limits<uint32_t>::max()) {
    // The size field has 32 bits: a larger block could not be read back.
    Log("Error Lzma2Enc_Encode", LOG_ERROR);
    return false;
  }
  lzma_options_lzma options;
  uint8_t property = 0;
  const lzma_filter filter = {LZMA_FILTER_LZMA2, &options};
  if (!EncoderOptions(length, tuning, &options) ||
      lzma_properties_encode(&filter, &property) != LZMA_OK) {
    Log("Error Lzma2Enc_SetProps", LOG_ERROR);
    return false;
  }
  const size_t pieces = std::max<size_t>(1, std::min(threads, length / kMinPieceLength));
  const uint8_t* data = static_cast<const uint8_t*>(bytes);
  bool ok = false;
  try {
    ok = out.WriteByte(property) && out.WriteVarSize(length) &&
         (pieces == 1 ? EncodeRawStream(data, length, tuning, out)
                      : EncodeInPieces(data, length, pieces, tuning, out));
  } catch (...) {  // the piece lists could not be allocated
    ok = false;
  }
  if (!ok) {
    out.Truncate(old_length);
    Log("Error Lzma2Enc_Encode", LOG_ERROR);
  }
  return ok;
}

bool WriteLzma2Block(ByteSource& in, ByteSink& out) {
  if (!WriteLzma2Block(in.current(), in.Remaining(), out)) return false;
  return in.Skip(in.Remaining());
}

}  // namespace velpatch
