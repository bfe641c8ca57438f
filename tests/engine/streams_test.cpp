#include "streams.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "capturelog.h"
#include "scratchdir.h"
#include "large_buffers.h"

namespace velpatch {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Contents(const ByteSink& sink) { return Bytes(sink.data(), sink.data() + sink.length()); }

// ---- Varints ---------------------------------------------------------------------------------

struct UnsignedCase {
  uint32_t value;
  Bytes encoded;
};

TEST(Varint, UnsignedRoundTripsWithKnownEncoding) {
  const UnsignedCase cases[] = {
      {0, {0x00}},
      {1, {0x01}},
      {127, {0x7F}},
      {128, {0x80, 0x01}},
      {16383, {0xFF, 0x7F}},
      {16384, {0x80, 0x80, 0x01}},
      {20090218, {0xEA, 0x9A, 0xCA, 0x09}},
      {4294967295u, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
  };
  for (const UnsignedCase& c : cases) {
    ByteSink sink;
    ASSERT_TRUE(sink.WriteVarUint32(c.value));
    EXPECT_EQ(Contents(sink), c.encoded) << c.value;
    ByteSource source(c.encoded.data(), c.encoded.size());
    uint32_t read = 0;
    ASSERT_TRUE(source.ReadVarUint32(&read)) << c.value;
    EXPECT_EQ(read, c.value);
    EXPECT_EQ(source.Remaining(), 0u);
  }
}

TEST(Varint, FifthByteBitsBeyond32AreDropped) {
  const Bytes encoded = {0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xAA};
  ByteSource source(encoded.data(), encoded.size());
  uint32_t read = 0;
  ASSERT_TRUE(source.ReadVarUint32(&read));
  EXPECT_EQ(read, 0xFFFFFFFFu);
  EXPECT_EQ(source.Remaining(), 1u);
}

TEST(Varint, RejectedReadsLeavePositionUnchanged) {
  const struct {
    const char* why;
    Bytes bytes;
  } cases[] = {
      {"continuation bit on the fifth byte", {0xFF, 0xFF, 0xFF, 0xFF, 0x8F, 0x00}},
      {"ends after a continuation byte", {0x80}},
      {"ends inside a long number", {0xFF, 0xFF, 0xFF}},
      {"no bytes", {}},
  };
  for (const auto& c : cases) {
    ByteSource source(c.bytes.data(), c.bytes.size());
    uint32_t u = 7;
    int32_t s = 7;
    EXPECT_FALSE(source.ReadVarUint32(&u)) << c.why;
    EXPECT_FALSE(source.ReadVarInt32(&s)) << c.why;
    EXPECT_EQ(source.Remaining(), c.bytes.size()) << c.why;
    EXPECT_EQ(u, 7u) << c.why;
  }
}

TEST(Varint, SignedUsesZigzag) {
  const struct {
    int32_t value;
    Bytes encoded;
  } cases[] = {
      {0, {0x00}},
      {-1, {0x01}},
      {1, {0x02}},
      {-2, {0x03}},
      {-64, {0x7F}},
      {64, {0x80, 0x01}},
      {2147483647, {0xFE, 0xFF, 0xFF, 0xFF, 0x0F}},
      {-2147483647 - 1, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
  };
  for (const auto& c : cases) {
    ByteSink sink;
    ASSERT_TRUE(sink.WriteVarInt32(c.value));
    EXPECT_EQ(Contents(sink), c.encoded) << c.value;
    ByteSource source(c.encoded.data(), c.encoded.size());
    int32_t read = 0;
    ASSERT_TRUE(source.ReadVarInt32(&read)) << c.value;
    EXPECT_EQ(read, c.value);
  }
}

TEST(Varint, VarSizeAbove32BitsLogsAndWritesLowBits) {
  CaptureLog log;
  ByteSink sink;
  ASSERT_TRUE(sink.WriteVarSize(0x100000005ull));
  EXPECT_EQ(Contents(sink), Bytes({0x05}));
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].level, LOG_CRITICAL);
  EXPECT_NE(log.entries[0].line.find("Assertion \"value == narrowed_value\" failed at "),
            std::string::npos)
      << log.Dump();

  ByteSink fits;
  ASSERT_TRUE(fits.WriteVarSize(0xFFFFFFFFull));
  EXPECT_EQ(log.entries.size(), 1u);  // the largest 32-bit value is fine
}

// ---- ByteSource ------------------------------------------------------------------------------

TEST(ByteSource, ShortReadsFailWithoutMoving) {
  const Bytes data = {1, 2, 3, 4};
  ByteSource source(data.data(), data.size());
  uint8_t buffer[8] = {};
  EXPECT_FALSE(source.ReadBytes(buffer, 5));
  EXPECT_FALSE(source.Skip(5));
  ByteSource sub;
  EXPECT_FALSE(source.ReadSubSource(5, &sub));
  EXPECT_EQ(source.Remaining(), 4u);

  ASSERT_TRUE(source.Skip(1));
  ASSERT_TRUE(source.ReadSubSource(2, &sub));
  ASSERT_TRUE(source.ReadBytes(buffer, 1));
  EXPECT_EQ(buffer[0], 4);
  EXPECT_TRUE(source.Empty());
  EXPECT_EQ(source.Consumed(), 4u);
  EXPECT_EQ(sub.Remaining(), 2u);
  EXPECT_EQ(sub.current()[0], 2);
  EXPECT_TRUE(source.ReadBytes(buffer, 0));  // reading nothing at the end succeeds
}

TEST(ByteSource, CoversSinkContents) {
  ByteSink sink;
  ASSERT_TRUE(sink.Write("xyz", 3));
  ByteSource source;
  source.Init(sink);
  EXPECT_EQ(source.start(), sink.data());
  EXPECT_EQ(source.Remaining(), 3u);
}

// ---- ByteSink --------------------------------------------------------------------------------

TEST(ByteSink, GrowsAndKeepsContents) {
  ByteSink sink;
  EXPECT_TRUE(sink.Write(nullptr, 0));
  EXPECT_EQ(sink.length(), 0u);
  Bytes expected;
  for (int i = 0; i < 5000; ++i) {
    const uint8_t b = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(sink.WriteByte(b));
    expected.push_back(b);
  }
  EXPECT_EQ(Contents(sink), expected);
  EXPECT_GE(sink.capacity(), 5000u);
}

// From kLargeBufferLength on a sink moves to huge-page-aligned blocks in whole 2 MiB steps,
// copying what it holds instead of reallocating.
TEST(ByteSink, LargeGrowthKeepsContentsOnAlignedBlocks) {
  ByteSink sink;
  Bytes expected;
  for (size_t chunk = 1; expected.size() < (size_t{5} << 20); chunk = chunk * 3 + 7) {
    Bytes bytes(chunk);
    for (size_t i = 0; i < chunk; ++i) bytes[i] = static_cast<uint8_t>(expected.size() + i * 13);
    ASSERT_TRUE(sink.Write(bytes.data(), bytes.size()));
    expected.insert(expected.end(), bytes.begin(), bytes.end());
    if (sink.capacity() >= kLargeBufferLength) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(sink.data()) % (size_t{2} << 20), 0u);
      EXPECT_EQ(sink.capacity() % (size_t{2} << 20), 0u);
    }
  }
  EXPECT_EQ(Contents(sink), expected);
}

TEST(LargeBuffers, CapacityRoundsLargeLengthsToHugePages) {
  const size_t mib = size_t{1} << 20;
  const struct {
    size_t length, capacity;
  } cases[] = {
      {0, 0},
      {kLargeBufferLength - 1, kLargeBufferLength - 1},
      {kLargeBufferLength, 2 * mib},
      {2 * mib, 2 * mib},
      {2 * mib + 1, 4 * mib},
      {std::numeric_limits<size_t>::max(), std::numeric_limits<size_t>::max()},
  };
  for (const auto& c : cases) EXPECT_EQ(LargeBufferCapacity(c.length), c.capacity) << c.length;
}

TEST(ByteSink, ReserveAndCommit) {
  ByteSink sink;
  ASSERT_TRUE(sink.Reserve(10));
  EXPECT_EQ(sink.capacity(), 256u);  // never below the minimum allocation
  ASSERT_TRUE(sink.Reserve(1000));
  EXPECT_EQ(sink.capacity(), 1000u);  // exact when growing
  sink.spare()[0] = 9;
  ASSERT_TRUE(sink.Commit(1));
  EXPECT_FALSE(sink.Commit(1000));  // more than the space left
  EXPECT_EQ(Contents(sink), Bytes({9}));
  sink.Truncate(5);
  EXPECT_EQ(sink.length(), 1u);
  sink.Truncate(0);
  EXPECT_EQ(sink.length(), 0u);
}

TEST(ByteSink, LengthOverflowFails) {
  ByteSink sink;
  ASSERT_TRUE(sink.WriteByte(1));
  EXPECT_FALSE(sink.Write(sink.data(), static_cast<size_t>(-1)));
  EXPECT_FALSE(sink.Reserve(static_cast<size_t>(-1)));
  EXPECT_EQ(Contents(sink), Bytes({1}));
}

TEST(ByteSink, FailureIsStickyUntilRelease) {
  ByteSink sink;
  ASSERT_TRUE(sink.Write("abc", 3));
  sink.SetFailed();
  EXPECT_TRUE(sink.failed());
  EXPECT_EQ(sink.length(), 0u);
  EXPECT_FALSE(sink.WriteByte(1));
  EXPECT_FALSE(sink.Write(nullptr, 0));
  EXPECT_FALSE(sink.Reserve(1));
  ByteSink other;
  ASSERT_TRUE(other.WriteByte(5));
  EXPECT_FALSE(sink.Append(other));
  EXPECT_EQ(other.length(), 1u);     // a failed append keeps the other sink's bytes
  EXPECT_FALSE(other.Append(sink));  // appending a failed sink would silently lose data

  sink.Release();
  EXPECT_FALSE(sink.failed());
  EXPECT_TRUE(sink.WriteByte(1));
}

TEST(ByteSink, AppendMovesBytesAndReleasesOther) {
  ByteSink a, b;
  ASSERT_TRUE(a.Write("ab", 2));
  ASSERT_TRUE(b.Write("cd", 2));
  ASSERT_TRUE(a.Append(b));
  EXPECT_EQ(Contents(a), Bytes({'a', 'b', 'c', 'd'}));
  EXPECT_EQ(b.length(), 0u);
  EXPECT_EQ(b.capacity(), 0u);
  EXPECT_FALSE(a.Append(a));
}

TEST(ByteSink, MoveTransfersBuffer) {
  ByteSink a;
  ASSERT_TRUE(a.Write("ab", 2));
  ByteSink b(std::move(a));
  EXPECT_EQ(a.length(), 0u);
  EXPECT_EQ(Contents(b), Bytes({'a', 'b'}));
  a = std::move(b);
  EXPECT_EQ(Contents(a), Bytes({'a', 'b'}));
}

// ---- Checksum --------------------------------------------------------------------------------

TEST(Checksum32, KnownValues) {
  const struct {
    std::string data;
    uint32_t expected;
  } cases[] = {
      {"", 0xFFFFFFFFu},
      {"abc", 0xCADBBE3Du},
      {"123456789", 0xCBF43926u ^ 0xFFFFFFFFu},  // the CRC-32 check value, inverted
  };
  for (const auto& c : cases)
    EXPECT_EQ(Checksum32(c.data.data(), c.data.size()), c.expected) << c.data;
  EXPECT_EQ(Checksum32(nullptr, 0), 0xFFFFFFFFu);
}

// ---- Stream sets -----------------------------------------------------------------------------

TEST(StreamSet, EmptySinkSetSerialization) {
  ByteSinkSet set;
  ByteSink out;
  ASSERT_TRUE(set.SerializeTo(out));
  Bytes expected = {0xEA, 0x9A, 0xCA, 0x09, 0x0A};
  expected.resize(expected.size() + 10, 0x00);
  EXPECT_EQ(Contents(out), expected);

  ByteSourceSet parsed;
  ASSERT_TRUE(parsed.Parse(out.data(), out.length()));
  EXPECT_EQ(parsed.count(), 10u);
  EXPECT_TRUE(parsed.AllConsumed());
}

TEST(StreamSet, RoundTripWithLoweredCount) {
  ByteSinkSet set;
  set.set_count(3);
  ASSERT_TRUE(set.stream(0).Write("hello", 5));
  ASSERT_TRUE(set.stream(2).Write("xy", 2));
  ByteSink out;
  ASSERT_TRUE(out.WriteByte(0x55));  // serialization appends
  ASSERT_TRUE(set.SerializeTo(out));
  EXPECT_EQ(Contents(out),
            Bytes({0x55, 0xEA, 0x9A, 0xCA, 0x09, 3, 5, 0, 2, 'h', 'e', 'l', 'l', 'o', 'x', 'y'}));
  EXPECT_EQ(set.stream(0).length(), 0u);  // released once copied

  ByteSourceSet parsed;
  ASSERT_TRUE(parsed.Parse(out.data() + 1, out.length() - 1));
  ASSERT_EQ(parsed.count(), 3u);
  EXPECT_EQ(parsed.stream(0).Remaining(), 5u);
  EXPECT_EQ(parsed.stream(1).Remaining(), 0u);
  EXPECT_EQ(parsed.stream(2).Remaining(), 2u);
  EXPECT_EQ(parsed.stream(3).Remaining(), 0u);
  EXPECT_FALSE(parsed.AllConsumed());
  ASSERT_TRUE(parsed.stream(0).Skip(5));
  ASSERT_TRUE(parsed.stream(2).Skip(2));
  EXPECT_TRUE(parsed.AllConsumed());
}

TEST(StreamSet, ParseRejects) {
  // Valid reference: version, count 2, lengths 1 and 2, then three bytes.
  const Bytes valid = {0xEA, 0x9A, 0xCA, 0x09, 0x02, 0x01, 0x02, 'a', 'b', 'c'};
  ByteSourceSet set;
  ASSERT_TRUE(set.Parse(valid.data(), valid.size()));

  const struct {
    const char* why;
    Bytes bytes;
  } cases[] = {
      {"no bytes", {}},
      {"one byte", {0x00}},
      {"wrong version", {0xEB, 0x9A, 0xCA, 0x09, 0x02, 0x01, 0x02, 'a', 'b', 'c'}},
      {"truncated version", {0xEA, 0x9A, 0xCA}},
      {"no count", {0xEA, 0x9A, 0xCA, 0x09}},
      {"count 11", {0xEA, 0x9A, 0xCA, 0x09, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"length list cut short", {0xEA, 0x9A, 0xCA, 0x09, 0x02, 0x01}},
      {"lengths sum one less", {0xEA, 0x9A, 0xCA, 0x09, 0x02, 0x01, 0x01, 'a', 'b', 'c'}},
      {"lengths sum one more", {0xEA, 0x9A, 0xCA, 0x09, 0x02, 0x01, 0x03, 'a', 'b', 'c'}},
      {"count 0 followed by a byte", {0xEA, 0x9A, 0xCA, 0x09, 0x00, 0x00}},
      {"lengths whose 32-bit sum wraps",
       {0xEA, 0x9A, 0xCA, 0x09, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x04, 'a', 'b', 'c'}},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(set.Parse(c.bytes.data(), c.bytes.size())) << c.why;
    EXPECT_EQ(set.count(), 0u) << c.why;
  }
}

TEST(StreamSet, CountZeroWithNothingAfterIsValid) {
  const Bytes bytes = {0xEA, 0x9A, 0xCA, 0x09, 0x00};
  ByteSourceSet set;
  ASSERT_TRUE(set.Parse(bytes.data(), bytes.size()));
  EXPECT_EQ(set.count(), 0u);
  EXPECT_TRUE(set.AllConsumed());
}

TEST(StreamSet, OutOfRangeIndexIsHarmless) {
  CaptureLog log;
  ByteSinkSet sinks;
  EXPECT_FALSE(sinks.stream(10).WriteByte(1));
  sinks.set_count(11);
  EXPECT_EQ(sinks.count(), 10u);
  ByteSourceSet sources;
  EXPECT_EQ(sources.stream(10).Remaining(), 0u);
  EXPECT_TRUE(log.Has(LOG_CRITICAL, "; ")) << log.Dump();
}

TEST(NestedSet, AllEmptyAddsOneZeroToStreamZero) {
  ByteSinkSet outer, nested;
  ASSERT_TRUE(outer.WriteNestedSet(nested));
  EXPECT_EQ(Contents(outer.stream(0)), Bytes({0x00}));
  for (size_t i = 1; i < kMaxStreams; ++i) EXPECT_EQ(outer.stream(i).length(), 0u) << i;
}

TEST(NestedSet, SequenceReadsBackInOrder) {
  ByteSinkSet outer, first, second;
  ASSERT_TRUE(first.stream(0).Write("A", 1));
  ASSERT_TRUE(first.stream(2).Write("BB", 2));
  ASSERT_TRUE(second.stream(1).Write("CCC", 3));
  ASSERT_TRUE(outer.WriteNestedSet(first));
  ASSERT_TRUE(outer.WriteNestedSet(second));
  EXPECT_EQ(first.stream(2).length(), 0u);  // released once copied
  // Stream 0: K=3, lengths 1 0 2, the first set's stream-0 byte, then K=2, lengths 0 3.
  EXPECT_EQ(Contents(outer.stream(0)), Bytes({3, 1, 0, 2, 'A', 2, 0, 3}));

  ByteSink serialized;
  ASSERT_TRUE(outer.SerializeTo(serialized));
  ByteSourceSet parsed, a, b;
  ASSERT_TRUE(parsed.Parse(serialized.data(), serialized.length()));
  ASSERT_TRUE(parsed.ReadNestedSet(a));
  ASSERT_TRUE(parsed.ReadNestedSet(b));
  // Trailing empty streams come back as empty slots: a reader of nine streams must not find a
  // short set (this once broke every transformed patch whose last program stream was empty).
  ASSERT_EQ(a.count(), kMaxStreams);
  EXPECT_EQ(a.stream(0).Remaining(), 1u);
  EXPECT_EQ(a.stream(0).current()[0], 'A');
  EXPECT_EQ(a.stream(1).Remaining(), 0u);
  EXPECT_EQ(a.stream(2).Remaining(), 2u);
  EXPECT_EQ(a.stream(2).current()[0], 'B');
  ASSERT_EQ(b.count(), kMaxStreams);
  EXPECT_EQ(b.stream(0).Remaining(), 0u);
  EXPECT_EQ(b.stream(1).Remaining(), 3u);
  EXPECT_EQ(b.stream(2).Remaining(), 0u);
}

TEST(NestedSet, RejectedReadsChangeNothing) {
  const struct {
    const char* why;
    Bytes stream0;
    Bytes stream1;
  } cases[] = {
      {"count 11", {11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
      {"no count", {}, {}},
      {"length list cut short", {2, 0}, {}},
      {"stream 1 shorter than its length", {2, 0, 4}, {1, 2, 3}},
  };
  for (const auto& c : cases) {
    ByteSinkSet outer;
    outer.set_count(2);
    ASSERT_TRUE(outer.stream(0).Write(c.stream0.data(), c.stream0.size()));
    ASSERT_TRUE(outer.stream(1).Write(c.stream1.data(), c.stream1.size()));
    ByteSink serialized;
    ASSERT_TRUE(outer.SerializeTo(serialized));
    ByteSourceSet parsed, nested;
    ASSERT_TRUE(parsed.Parse(serialized.data(), serialized.length())) << c.why;
    EXPECT_FALSE(parsed.ReadNestedSet(nested)) << c.why;
    EXPECT_EQ(parsed.stream(0).Remaining(), c.stream0.size()) << c.why;
    EXPECT_EQ(parsed.stream(1).Remaining(), c.stream1.size()) << c.why;
  }
}

// ---- File helpers ----------------------------------------------------------------------------

class FileTest : public ScratchDir {
 protected:
  // The file's contents, or "<missing>".
  std::string Get(const std::string& name) const {
    return Exists(name) ? GetText(name) : "<missing>";
  }
  size_t EntriesInDir() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(m_Dir), {}));
  }
};

TEST_F(FileTest, MappedFileMapsWholeFile) {
  Put("a", "mapped bytes");
  for (MappedFile::Hint hint :
       {MappedFile::Hint::NORMAL, MappedFile::Hint::SEQUENTIAL, MappedFile::Hint::RANDOM}) {
    MappedFile file;
    ASSERT_TRUE(file.Open(Path("a").c_str(), hint));
    ASSERT_EQ(file.length(), 12u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()), file.length()),
              "mapped bytes");
    file.Close();
    EXPECT_FALSE(file.is_open());
  }
}

TEST_F(FileTest, MappedFileRejects) {
  Put("empty", "");
  const struct {
    const char* why;
    std::string path;
  } cases[] = {
      {"empty file", Path("empty")},
      {"missing file", Path("missing")},
      {"directory", m_Dir},
  };
  for (const auto& c : cases) {
    MappedFile file;
    EXPECT_FALSE(file.Open(c.path.c_str())) << c.why;
    EXPECT_FALSE(file.is_open()) << c.why;
    EXPECT_EQ(file.length(), 0u) << c.why;
  }
}

TEST_F(FileTest, WriteWholeFileCreatesAndReplaces) {
  const std::string path = Path("out");
  EXPECT_EQ(WriteWholeFile(path.c_str(), "first", 5), 5u);
  EXPECT_EQ(Get("out"), "first");
  EXPECT_EQ(WriteWholeFile(path.c_str(), "2nd", 3), 3u);
  EXPECT_EQ(Get("out"), "2nd");
  EXPECT_EQ(WriteWholeFile(path.c_str(), nullptr, 0), 0u);
  EXPECT_EQ(Get("out"), "");
  EXPECT_EQ(EntriesInDir(), 1u);  // no temporary left beside it
}

TEST_F(FileTest, WriteWholeFileFailureReportsAndLeavesNothing) {
  const std::string path = Path("no_such_dir/out");
  EXPECT_EQ(WriteWholeFile(path.c_str(), "data", 4), 0u);
  // An empty file that cannot be created must not look like success.
  EXPECT_EQ(WriteWholeFile(path.c_str(), nullptr, 0), kWriteWholeFileFailed);
  // A directory in the way: the write fails and the directory stays as it was.
  const std::string dir = Path("dir");
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  EXPECT_EQ(WriteWholeFile(dir.c_str(), "data", 4), 0u);
  struct stat st;
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(EntriesInDir(), 1u);
}

}  // namespace
}  // namespace velpatch
