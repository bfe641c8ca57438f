#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "capturelog.h"
#include "lzmaioout.h"

namespace velpatch {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Contents(const ByteSink& sink) { return Bytes(sink.data(), sink.data() + sink.length()); }

Bytes Sample(size_t n, unsigned seed) {
  // Compressible but not trivial: runs of a small alphabet with random noise.
  std::mt19937 rng(seed);
  Bytes data(n);
  for (size_t i = 0; i < n; ++i)
    data[i] = static_cast<uint8_t>((i / 7) % 13 + (rng() % 8 == 0 ? rng() : 0));
  return data;
}

Bytes Block(const Bytes& data) {
  ByteSink sink;
  EXPECT_TRUE(WriteLzma2Block(data.data(), data.size(), sink));
  return Contents(sink);
}

TEST(Lzma2Block, RoundTripsVariousSizes) {
  for (size_t n : {size_t{0}, size_t{1}, size_t{4096}, size_t{70000}, size_t{3u << 20}}) {
    const Bytes data = Sample(n, static_cast<unsigned>(n));
    const Bytes block = Block(data);
    ByteSource in(block.data(), block.size());
    ByteSink out;
    ASSERT_TRUE(out.WriteByte(0xAB));  // decoding appends
    ASSERT_TRUE(ReadLzma2Block(in, out)) << n;
    EXPECT_TRUE(in.Empty()) << n;
    ASSERT_EQ(out.length(), n + 1) << n;
    EXPECT_EQ(Bytes(out.data() + 1, out.data() + out.length()), data) << n;
  }
}

TEST(Lzma2Block, EmptyInputLayout) {
  // Property byte, unpacked size 0, then only the end marker.
  const Bytes block = Block({});
  ASSERT_EQ(block.size(), 3u);
  EXPECT_LE(block[0], 40);
  EXPECT_EQ(block[1], 0x00);
  EXPECT_EQ(block[2], 0x00);
}

TEST(Lzma2Block, DictionaryFollowsInputSize) {
  // 4 KiB and smaller inputs get the smallest dictionary (property 0); 64 MiB is the cap.
  EXPECT_EQ(Block(Sample(100, 1))[0], 0);
  EXPECT_EQ(Block(Sample(70000, 1))[0], 9);  // 96 KiB covers 70000 bytes
}

TEST(Lzma2Block, TwoBlocksBackToBack) {
  const Bytes first = Sample(5000, 1), second = Sample(300, 2);
  ByteSink sink;
  ASSERT_TRUE(WriteLzma2Block(first.data(), first.size(), sink));
  ByteSource rest(second.data(), second.size());
  ASSERT_TRUE(WriteLzma2Block(rest, sink));
  EXPECT_TRUE(rest.Empty());
  ASSERT_TRUE(sink.WriteByte(0x77));  // trailing byte the reader must not touch

  ByteSource in;
  in.Init(sink);
  ByteSink a, b;
  ASSERT_TRUE(ReadLzma2Block(in, a));
  ASSERT_TRUE(ReadLzma2Block(in, b));
  EXPECT_EQ(Contents(a), first);
  EXPECT_EQ(Contents(b), second);
  ASSERT_EQ(in.Remaining(), 1u);
  EXPECT_EQ(*in.current(), 0x77);
}

TEST(Lzma2Block, RejectedBlocks) {
  const Bytes data = Sample(20000, 3);
  const Bytes valid = Block(data);
  ASSERT_GT(valid.size(), 20u);
  const size_t header = 1 + 3;  // property byte, then 20000 as a three-byte varint
  auto with = [&](size_t at, uint8_t value) {
    Bytes b = valid;
    b[at] = value;
    return b;
  };
  const struct {
    const char* why;
    Bytes block;
    const char* message;
  } cases[] = {
      {"no bytes", {}, "Error read LZMA2 properties"},
      {"no size", {valid[0]}, "Error read LZMA2 unpack size"},
      {"size cut short", {valid[0], 0x80}, "Error read LZMA2 unpack size"},
      {"property 41", with(0, 41), "Error uncompressing data 4"},
      {"property 255", with(0, 255), "Error uncompressing data 4"},
      {"stops before end marker", Bytes(valid.begin(), valid.end() - 1),
       "Error uncompressing data 6"},
      {"stops in the middle", Bytes(valid.begin(), valid.begin() + valid.size() / 2),
       "Error uncompressing data 6"},
      {"header only", Bytes(valid.begin(), valid.begin() + header), "Error uncompressing data 6"},
      {"size one too small", with(1, static_cast<uint8_t>(valid[1] - 1)),
       "Error uncompressing data 1"},
      {"size one too large", with(1, static_cast<uint8_t>(valid[1] + 1)),
       "Error uncompressing data 1"},
      {"corrupt chunk header", with(header, 0x7F), "Error uncompressing data 1"},
      {"size far beyond what the input can hold",
       {0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x00},
       "Error uncompressing data 6"},
  };
  for (const auto& c : cases) {
    CaptureLog log;
    ByteSource in(c.block.data(), c.block.size());
    ByteSink out;
    ASSERT_TRUE(out.WriteByte(1));
    EXPECT_FALSE(ReadLzma2Block(in, out)) << c.why;
    EXPECT_EQ(in.Remaining(), c.block.size()) << c.why;
    EXPECT_EQ(out.length(), 1u) << c.why;
    EXPECT_TRUE(log.Has(LOG_ERROR, c.message)) << c.why << "\n" << log.Dump();
  }
}

TEST(Lzma2Block, PiecesCodedAtOnceReadBackAsOneBlock) {
  const Bytes data = Sample((3u << 20) + 12345, 5);
  for (size_t threads : {size_t{1}, size_t{2}, size_t{3}, size_t{8}}) {
    ByteSink sink;
    ASSERT_TRUE(WriteLzma2BlockInPieces(data.data(), data.size(), threads, sink)) << threads;
    ASSERT_TRUE(WriteLzma2BlockInPieces(data.data(), 100, threads, sink)) << threads;  // one piece
    ByteSource in;
    in.Init(sink);
    ByteSink first, second;
    ASSERT_TRUE(ReadLzma2Block(in, first)) << threads;
    ASSERT_TRUE(ReadLzma2Block(in, second)) << threads;
    EXPECT_TRUE(in.Empty()) << threads;
    EXPECT_EQ(Contents(first), data) << threads;
    EXPECT_EQ(Contents(second), Bytes(data.begin(), data.begin() + 100)) << threads;
  }
}

// Every chunk carries its literal and position parameters: blocks coded with other choices than
// the defaults read back with the same reader, and a choice the format cannot hold fails cleanly.
TEST(Lzma2Block, TunedEncoderChoicesReadBack) {
  const Bytes data = Sample((2u << 20) + 777, 6);
  struct Case {
    uint32_t lc, lp, pb, nice, depth;
    bool valid;
  };
  const Case cases[] = {
      {1, 0, 0, 64, 0, true},    {4, 0, 0, 64, 0, true}, {0, 4, 4, 64, 0, true},
      {3, 0, 2, 273, 512, true}, {3, 0, 2, 2, 1, true},  {4, 1, 2, 64, 0, false},
      {3, 0, 5, 64, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("lc " + std::to_string(c.lc) + " lp " + std::to_string(c.lp) + " pb " +
                 std::to_string(c.pb) + " nice " + std::to_string(c.nice));
    Lzma2Tuning tuning;
    tuning.literal_context_bits = c.lc;
    tuning.literal_position_bits = c.lp;
    tuning.position_bits = c.pb;
    tuning.nice_length = c.nice;
    tuning.search_depth = c.depth;
    CaptureLog log;
    ByteSink sink;
    ASSERT_TRUE(sink.WriteByte(7));
    if (!c.valid) {
      EXPECT_FALSE(WriteLzma2BlockTuned(data.data(), data.size(), tuning, 2, sink));
      EXPECT_EQ(sink.length(), 1u);
      continue;
    }
    ASSERT_TRUE(WriteLzma2BlockTuned(data.data(), data.size(), tuning, 2, sink));
    ByteSource in(sink.data() + 1, sink.length() - 1);
    ByteSink out;
    ASSERT_TRUE(ReadLzma2Block(in, out));
    EXPECT_TRUE(in.Empty());
    EXPECT_TRUE(Contents(out) == data);
  }
}

TEST(Lzma2Block, LargestPropertyIsAccepted) {
  // Property 40 means a 4 GiB dictionary; the reader only needs as much as the data.
  Bytes block = Block(Sample(1000, 4));
  block[0] = 40;
  ByteSource in(block.data(), block.size());
  ByteSink out;
  EXPECT_TRUE(ReadLzma2Block(in, out));
  EXPECT_EQ(out.length(), 1000u);
}

}  // namespace
}  // namespace velpatch
