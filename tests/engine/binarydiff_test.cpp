#include "binarydiff.h"

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

Bytes Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes data(n);
  for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
  return data;
}

// Old data edited the way a rebuild edits code: bytes changed here and there, a block inserted,
// a block removed.
Bytes Edited(const Bytes& old, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes edited = old;
  for (size_t i = 0; i < edited.size() / 50; ++i) edited[rng() % edited.size()] ^= 0x10;
  const Bytes inserted = Random(300, seed + 1);
  edited.insert(edited.begin() + edited.size() / 3, inserted.begin(), inserted.end());
  edited.erase(edited.begin() + 2 * edited.size() / 3,
               edited.begin() + 2 * edited.size() / 3 + 200);
  return edited;
}

Bytes ReadFile(const char* path) {
  MappedFile file;
  if (!file.Open(path)) return {};
  return Bytes(file.data(), file.data() + file.length());
}

Bytes Join(const std::vector<Bytes>& parts) {
  Bytes joined;
  for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

bool Generate(const Bytes& old, const Bytes& new_data, Bytes* diff, bool header, uint8_t method) {
  ByteSource old_source(old.data(), old.size()), new_source(new_data.data(), new_data.size());
  ByteSink out;
  if (!GenerateBinaryDiff(old_source, new_source, out, header, method)) return false;
  EXPECT_TRUE(old_source.Empty());
  EXPECT_TRUE(new_source.Empty());
  *diff = Contents(out);
  return true;
}

bool Apply(const Bytes& old, const Bytes& diff, Bytes* result, bool header) {
  ByteSource old_source(old.data(), old.size()), diff_source(diff.data(), diff.size());
  ByteSink out;
  if (!ApplyBinaryDiff(old_source, diff_source, out, header)) return false;
  EXPECT_TRUE(diff_source.Empty());
  EXPECT_EQ(old_source.Remaining(), old.size());  // the old source is not advanced
  *result = Contents(out);
  return true;
}

// ---- Round trips -----------------------------------------------------------------------------

struct Pair {
  const char* name;
  Bytes old_data;
  Bytes new_data;
};

std::vector<Pair> Pairs() {
  const Bytes random = Random(20000, 1);
  std::vector<Pair> pairs = {
      {"both empty", {}, {}},
      {"from empty", {}, Random(1000, 2)},
      {"to empty", Random(1000, 3), {}},
      {"identical", random, random},
      {"single bytes", {1}, {2}},
      {"unrelated", Random(5000, 4), Random(6000, 5)},
      {"edited", random, Edited(random, 6)},
      {"repetitive", Bytes(10000, 0xAA), Bytes(12000, 0xAA)},
  };
  // Two builds of the same program, as a real machine has them.
  const Bytes ls = ReadFile("/usr/bin/ls"), dir = ReadFile("/usr/bin/dir");
  if (!ls.empty() && !dir.empty()) {
    pairs.push_back({"ls to dir", ls, dir});
    pairs.push_back({"ls edited", ls, Edited(ls, 7)});
  }
  return pairs;
}

TEST(BinaryDiff, RoundTripsForEveryMethodAndForm) {
  for (const Pair& p : Pairs()) {
    Bytes first_result;
    for (uint8_t method : {0, 1, 2}) {
      for (bool header : {false, true}) {
        SCOPED_TRACE(std::string(p.name) + " method " + std::to_string(method) +
                     (header ? " with header" : ""));
        Bytes diff, result;
        ASSERT_TRUE(Generate(p.old_data, p.new_data, &diff, header, method));
        if (!header) {
          EXPECT_EQ(diff[0], method);
        }
        ASSERT_TRUE(Apply(p.old_data, diff, &result, header));
        EXPECT_EQ(result, p.new_data);
      }
    }
  }
}

// New data of several MiB is scanned in parts on separate threads: each part's triples must
// start from the old position the part before left behind, wherever its matches lie.
TEST(BinaryDiff, RoundTripsNewDataScannedInParts) {
  const Bytes old = Random(size_t{3} << 20, 12);
  Bytes swapped(old.begin() + old.size() / 2, old.end());
  swapped.insert(swapped.end(), old.begin(), old.begin() + old.size() / 2);
  const std::vector<Pair> pairs = {
      {"identical", old, old}, {"edited", old, Edited(old, 13)}, {"halves swapped", old, swapped}};
  for (const Pair& p : pairs) {
    for (uint8_t method : {DIFF_METHOD_RAW, DIFF_METHOD_LZMA2_PER_RUN}) {
      SCOPED_TRACE(std::string(p.name) + " method " + std::to_string(method));
      Bytes diff, result;
      ASSERT_TRUE(Generate(p.old_data, p.new_data, &diff, false, method));
      ASSERT_TRUE(Apply(p.old_data, diff, &result, false));
      EXPECT_TRUE(result == p.new_data);
      EXPECT_LT(diff.size(), method == DIFF_METHOD_RAW ? 2 * old.size() : old.size() / 10);
    }
  }
}

TEST(BinaryDiff, SimilarInputsGiveSmallDiffs) {
  const Bytes old = Random(200000, 8);
  Bytes diff;
  ASSERT_TRUE(Generate(old, Edited(old, 9), &diff, false, DIFF_METHOD_LZMA2_PER_RUN));
  EXPECT_LT(diff.size(), old.size() / 10);
}

// Where the new data goes on after an insertion, a block that the old data holds twice is taken
// from the copy that continues the current alignment, not from whichever copy the suffix search
// happens to reach first: that keeps the seeks small.
TEST(BinaryDiff, EqualMatchesPreferTheCopyNearTheAlignment) {
  const Bytes block = Random(2000, 20);
  Bytes gap = Random(8000, 21), tail = Random(1000, 22), inserted = Random(50, 23),
        after = Random(1000, 24);
  // The bytes after each copy of the block sort the far copy last, where a tie used to go.
  gap[0] = 0x80;
  tail[0] = 0x10;
  after[0] = 0x40;
  const Bytes old = Join({block, gap, block, tail});
  const Bytes new_data = Join({gap, inserted, block, after});
  Bytes diff;
  ASSERT_TRUE(Generate(old, new_data, &diff, false, DIFF_METHOD_RAW));

  // Follow the triples to the copy that produces the block's first byte.
  ByteSource in(diff.data(), diff.size());
  uint8_t method = 0;
  uint32_t size = 0, control_length = 0, diff_length = 0, extra_length = 0;
  ASSERT_TRUE(in.ReadByte(&method) && in.ReadVarUint32(&size) &&
              in.ReadVarUint32(&control_length) && in.ReadVarUint32(&diff_length) &&
              in.ReadVarUint32(&extra_length));
  ByteSource control(in.current(), control_length);
  const int64_t block_at = static_cast<int64_t>(gap.size() + inserted.size());
  int64_t out = 0, old_position = 0, block_source = -1;
  while (out < static_cast<int64_t>(new_data.size())) {
    int32_t copy = 0, extra = 0, seek = 0;
    ASSERT_TRUE(control.ReadVarInt32(&copy) && control.ReadVarInt32(&extra) &&
                control.ReadVarInt32(&seek));
    if (out <= block_at && block_at < out + copy) block_source = old_position + block_at - out;
    out += copy + extra;
    old_position += copy + seek;
  }
  EXPECT_EQ(block_source, static_cast<int64_t>(block.size() + gap.size()));
}

TEST(BinaryDiff, UsesOnlyUnreadOldBytesAndAppendsToOutput) {
  const Bytes old = Random(3000, 10);
  const Bytes new_data(old.begin() + 1000, old.end());
  ByteSource old_source(old.data(), old.size());
  ASSERT_TRUE(old_source.Skip(1000));
  ByteSource new_source(new_data.data(), new_data.size());
  ByteSink diff;
  ASSERT_TRUE(GenerateBinaryDiff(old_source, new_source, diff, true, DIFF_METHOD_RAW));

  ByteSource unread(old.data(), old.size());
  ASSERT_TRUE(unread.Skip(1000));
  ByteSource diff_source;
  diff_source.Init(diff);
  ByteSink out;
  ASSERT_TRUE(out.Write("pre", 3));
  ASSERT_TRUE(ApplyBinaryDiff(unread, diff_source, out, true));
  ASSERT_EQ(out.length(), 3 + new_data.size());
  EXPECT_EQ(Bytes(out.data() + 3, out.data() + out.length()), new_data);
}

TEST(BinaryDiff, IdenticalDataIsOneCopyTriple) {
  const Bytes data = Random(777, 11);
  Bytes diff;
  ASSERT_TRUE(Generate(data, data, &diff, false, DIFF_METHOD_RAW));
  // method 0, new size 777 (89 06), lengths: control 5 bytes, diff 777, extra 0, then the runs.
  const Bytes head = {0x00, 0x89, 0x06, 0x05, 0x89, 0x06, 0x00};
  ASSERT_GE(diff.size(), head.size() + 5 + 777);
  EXPECT_EQ(Bytes(diff.begin(), diff.begin() + head.size()), head);
  // Copy 777 (zigzag 1554: 92 0C), extra 0, seek -777 (zigzag 1553: 91 0C).
  EXPECT_EQ(diff.size(), head.size() + 5 + 777);
  EXPECT_EQ(Bytes(diff.begin() + head.size(), diff.begin() + head.size() + 5),
            Bytes({0x92, 0x0C, 0x00, 0x91, 0x0C}));
  EXPECT_EQ(Bytes(diff.begin() + head.size() + 5, diff.end()), Bytes(777, 0));
}

TEST(BinaryDiff, HeaderFormLayout) {
  Bytes diff;
  ASSERT_TRUE(Generate({}, {'a', 'b', 'c'}, &diff, true, DIFF_METHOD_RAW));
  // "VLDIFF10", Checksum32("abc") = 0xCADBBE3D as varint, method 0, new size 3.
  const Bytes head = {'V',  'L',  'D',  'I',  'F',  'F',  '1', '0',
                      0xBD, 0xFC, 0xEE, 0xD6, 0x0C, 0x00, 0x03};
  ASSERT_GE(diff.size(), head.size());
  EXPECT_EQ(Bytes(diff.begin(), diff.begin() + head.size()), head);
}

TEST(BinaryDiff, GenerateRejectsUnknownMethod) {
  CaptureLog log;
  Bytes diff;
  EXPECT_FALSE(Generate({1}, {2}, &diff, false, 3));
  EXPECT_TRUE(log.Has(LOG_ERROR, "Invalid compression method"));
}

// ---- Malformed diffs -------------------------------------------------------------------------

struct Triple {
  int32_t x, y, z;
};

// A method-0 diff without header, written field by field.
Bytes RawDiff(uint32_t new_size, const std::vector<Triple>& control, const Bytes& diff,
              const Bytes& extra) {
  ByteSink control_run;
  for (const Triple& t : control) {
    EXPECT_TRUE(control_run.WriteVarInt32(t.x) && control_run.WriteVarInt32(t.y) &&
                control_run.WriteVarInt32(t.z));
  }
  ByteSink out;
  EXPECT_TRUE(out.WriteByte(0) && out.WriteVarUint32(new_size) &&
              out.WriteVarSize(control_run.length()) && out.WriteVarSize(diff.size()) &&
              out.WriteVarSize(extra.size()) && out.Append(control_run) &&
              out.Write(diff.data(), diff.size()) && out.Write(extra.data(), extra.size()));
  return Contents(out);
}

// The first bytes of `b`, all but `drop` of them.
Bytes Cut(Bytes b, size_t drop) {
  b.resize(b.size() - drop);
  return b;
}

TEST(BinaryDiff, AppliesHandWrittenDiff) {
  // old "ABCDEFGH": copy 3 from 0 with deltas (0,1,2), 2 extra bytes, seek +2; copy 2 from 5.
  const Bytes old = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
  const Bytes diff = RawDiff(7, {{3, 2, 2}, {2, 0, 0}}, {0, 1, 2, 0, 0}, {'x', 'y'});
  Bytes result;
  ASSERT_TRUE(Apply(old, diff, &result, false));
  EXPECT_EQ(result, Bytes({'A', 'C', 'E', 'x', 'y', 'F', 'G'}));
}

TEST(BinaryDiff, ZeroNewSizeReadsNoControl) {
  // The control run holds garbage that must never be read.
  const Bytes diff = {0x00, 0x00, 0x01, 0x00, 0x00, 0xFF};
  Bytes result = {1};
  ASSERT_TRUE(Apply({}, diff, &result, false));
  EXPECT_TRUE(result.empty());
}

TEST(BinaryDiff, RejectsMalformedDiffs) {
  const Bytes old = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
  Bytes good_header_form;
  ASSERT_TRUE(Generate(old, {'A', 'B', 'z'}, &good_header_form, true, DIFF_METHOD_RAW));
  Bytes bad_crc = good_header_form;
  bad_crc[8] ^= 1;
  Bytes bad_magic = good_header_form;
  bad_magic[7] = '1';
  Bytes method1;
  ASSERT_TRUE(Generate(old, {'A', 'B', 'z'}, &method1, false, DIFF_METHOD_LZMA2_PER_RUN));
  Bytes method2;
  ASSERT_TRUE(Generate(old, {'A', 'B', 'z'}, &method2, false, DIFF_METHOD_LZMA2_WHOLE));
  // A method-2 block whose content ends inside the run lengths.
  ByteSink short_body;
  ASSERT_TRUE(short_body.WriteByte(2) && short_body.WriteVarUint32(3));
  const Bytes lengths_only = {0x06};
  ASSERT_TRUE(WriteLzma2Block(lengths_only.data(), lengths_only.size(), short_body));

  const struct {
    const char* why;
    bool header;
    Bytes diff;
    const char* message;  // expected ERROR line, or nullptr for a silent failure
  } cases[] = {
      {"empty", false, {}, nullptr},
      {"no new size", false, {0x00}, nullptr},
      {"method 3", false, {0x03, 0x00}, "Invalid compression method"},
      {"magic cut short", true, {'V', 'L', 'D'}, nullptr},
      {"wrong magic", true, bad_magic, "Corrupt patch header"},
      {"no checksum", true, {'V', 'L', 'D', 'I', 'F', 'F', '1', '0'}, "Could not read crc"},
      {"checksum mismatch", true, bad_crc, "crc mismatch"},
      {"run lengths beyond the input", false, Cut(RawDiff(1, {{1, 0, 0}}, {0}, {}), 1), nullptr},
      {"control run ends early", false, RawDiff(4, {{1, 0, 0}}, {0, 0, 0, 0}, {}),
       "Corrupt patch reading control"},
      {"negative copy", false, RawDiff(1, {{-1, 1, 0}}, {}, {'a'}), "Corrupt patch"},
      {"negative extra", false, RawDiff(1, {{1, -1, 0}}, {0}, {}), "Corrupt patch"},
      {"copy beyond the new size", false, RawDiff(1, {{2, 0, 0}}, {0, 0}, {}), "Corrupt patch"},
      {"extra beyond the new size", false, RawDiff(1, {{0, 2, 0}}, {}, {'a', 'b'}),
       "Corrupt patch"},
      {"copy beyond the diff run", false, RawDiff(2, {{2, 0, 0}}, {0}, {'a'}), nullptr},
      {"extra beyond the extra run", false, RawDiff(2, {{0, 2, 0}}, {0}, {'a'}), nullptr},
      {"copy beyond the old data", false, RawDiff(3, {{0, 0, 6}, {3, 0, 0}}, {0, 0, 0}, {}),
       nullptr},
      {"old position before the old data", false,
       RawDiff(4, {{0, 0, -2}, {4, 0, 0}}, {0, 0, 0, 0}, {}), nullptr},
      {"seek that wraps around", false, RawDiff(2, {{1, 0, 2147483647}, {1, 0, 0}}, {0, 0}, {}),
       nullptr},
      {"new size larger than the runs", false, RawDiff(0xFFFFFFFF, {{1, 0, 0}}, {0}, {}),
       "Corrupt patch"},
      {"method 1 cut short", false, Cut(method1, 1), "Error uncompressing data 6"},
      {"method 2 cut short", false, Cut(method2, 1), "Error uncompressing data 6"},
      {"method 2 body ends inside the lengths", false, Contents(short_body), nullptr},
  };
  for (const auto& c : cases) {
    CaptureLog log;
    ByteSource old_source(old.data(), old.size()), diff_source(c.diff.data(), c.diff.size());
    ByteSink out;
    ASSERT_TRUE(out.Write("keep", 4));
    EXPECT_FALSE(ApplyBinaryDiff(old_source, diff_source, out, c.header)) << c.why;
    EXPECT_EQ(Contents(out), Bytes({'k', 'e', 'e', 'p'})) << c.why;
    if (c.message) {
      EXPECT_TRUE(log.Has(LOG_ERROR, c.message)) << c.why << "\n" << log.Dump();
    }
  }
}

}  // namespace
}  // namespace velpatch
