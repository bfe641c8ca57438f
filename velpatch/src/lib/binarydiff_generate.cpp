// Generation of binary diffs: a suffix array of the old data finds, for each stretch of the new
// data, the longest exact match in the old data; neighbouring matches are extended into
// approximate ones, whose byte differences compress well when code moved by a constant offset.
#include <algorithm>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "binarydiff.h"
#include "log.h"
#include "lzmaioout.h"
#include "parallel.h"
#include "suffixarray.h"

namespace velpatch {

namespace {

constexpr char kDiffMagic[8] = {'V', 'L', 'D', 'I', 'F', 'F', '1', '0'};
// A new exact match replaces the current alignment only when it matches this many more bytes
// than the alignment does over the same stretch. Each switch costs a control triple (and mostly
// a second one to come back) whose seek hardly compresses on its own: when the runs are coded
// as separate blocks, a margin of 12 gives the smallest patches. A raw diff is compressed by its
// caller together with other streams, where finer triples pay off: over the ensemble benchmark's
// library pairs a margin of 6 gives 1.6 % smaller patches (median) than 8, and 5 or 10 do worse.
int64_t SwitchMargin(uint8_t method) { return method == DIFF_METHOD_RAW ? 6 : 12; }
constexpr int64_t kMaxSide = std::numeric_limits<int32_t>::max();

int64_t CommonPrefix(const uint8_t* a, int64_t a_size, const uint8_t* b, int64_t b_size) {
  const int64_t limit = std::min(a_size, b_size);
  int64_t i = 0;
  for (; i + 8 <= limit; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) return i + __builtin_ctzll(x ^ y) / 8;  // little-endian: lowest byte first
  }
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

// The three runs being built.
struct Runs {
  ByteSink control;
  ByteSink diff;
  ByteSink extra;
};

class Generator {
 public:
  Generator(const uint8_t* old_data, int64_t old_size, const uint8_t* new_data, int64_t new_size,
            const SuffixArray& suffixes, int64_t switch_margin)
      : m_Old(old_data),
        m_OldSize(old_size),
        m_New(new_data),
        m_NewSize(new_size),
        m_Suffixes(suffixes),
        m_SwitchMargin(switch_margin) {}

  bool Run(Runs* runs);
  // After Run: rewrites the last seek so that the old position ends at 0, where the triples of
  // a following part of the new data start from.
  bool RewindOldPosition(Runs* runs) const;

 private:
  // Longest match of the new data from `scan` in the old data; sets *pos to its old position,
  // of several equally long ones the nearest to `expected`.
  int64_t Search(int64_t scan, int64_t expected, int64_t* pos) const;
  // Of the entries next to `found` whose suffixes also start with the `length` bytes at
  // `target`, the position nearest to `expected`.
  int64_t Nearest(int64_t found, const uint8_t* target, int64_t length, int64_t expected) const;
  void Prefetch(int64_t entry) const {
    __builtin_prefetch(m_Suffixes.address(static_cast<size_t>(entry)));
  }
  bool OldMatches(int64_t old_index, int64_t new_index) const {
    return old_index >= 0 && old_index < m_OldSize && m_Old[old_index] == m_New[new_index];
  }
  bool Emit(Runs* runs, int64_t last_scan, int64_t last_pos, int64_t lenf, int64_t scan,
            int64_t lenb, int64_t pos);

  const uint8_t* m_Old;
  int64_t m_OldSize;
  const uint8_t* m_New;
  int64_t m_NewSize;
  const SuffixArray& m_Suffixes;  // m_OldSize + 1 entries
  int64_t m_SwitchMargin;
  // The last triple's seek, where it starts in the control run, and the old position after it.
  int64_t m_LastSeek = 0;
  size_t m_LastSeekAt = 0;
  int64_t m_EndPosition = 0;
};

int64_t Generator::Search(int64_t scan, int64_t expected, int64_t* pos) const {
  const uint8_t* target = m_New + scan;
  const int64_t target_size = m_NewSize - scan;
  const uint32_t target_prefix = SuffixArray::Prefix(target, static_cast<size_t>(target_size));
  int64_t start = 0, end = m_OldSize;
  if (target_size >= 2) {
    // Start from the entries that share the first two bytes: the one before them is smaller
    // than the target and the one after them larger, so the halving ends at the same pair.
    const uint32_t pair = target_prefix >> 16;
    start = static_cast<int64_t>(m_Suffixes.first_with(pair)) - 1;
    end = std::min(static_cast<int64_t>(m_Suffixes.first_with(pair + 1)), m_OldSize);
    if (start < 0) start = 0;
    if (end <= start) end = std::min(start + 1, m_OldSize);
  }
  while (end - start >= 2) {
    const int64_t middle = start + (end - start) / 2;
    // The search is bound by memory latency: fetch the four entries that the step after the
    // next one may look at, so that their loads overlap with this step and the next.
    const int64_t low = start + (middle - start) / 2, high = middle + (end - middle) / 2;
    Prefetch(start + (low - start) / 2);
    Prefetch(low + (middle - low) / 2);
    Prefetch(middle + (high - middle) / 2);
    Prefetch(high + (end - high) / 2);
    const int64_t at = m_Suffixes.position(static_cast<size_t>(middle));
    const int64_t n = std::min(m_OldSize - at, target_size);
    // Same outcome as comparing the n bytes: when both sides have four bytes, differing
    // prefixes decide, and equal ones need only the bytes after them.
    int order;
    if (n >= 4) {
      const uint32_t prefix = m_Suffixes.prefix(static_cast<size_t>(middle));
      order = prefix != target_prefix
                  ? (prefix < target_prefix ? -1 : 1)
                  : std::memcmp(m_Old + at + 4, target + 4, static_cast<size_t>(n - 4));
    } else {
      order = std::memcmp(m_Old + at, target, static_cast<size_t>(n));
    }
    if (order < 0)
      start = middle;
    else
      end = middle;
  }
  const int64_t at_start = m_Suffixes.position(static_cast<size_t>(start));
  const int64_t at_end = m_Suffixes.position(static_cast<size_t>(end));
  const int64_t len_start =
      CommonPrefix(m_Old + at_start, m_OldSize - at_start, target, target_size);
  const int64_t len_end = CommonPrefix(m_Old + at_end, m_OldSize - at_end, target, target_size);
  const int64_t found = len_start > len_end ? start : end;
  const int64_t len = std::max(len_start, len_end);
  *pos = Nearest(found, target, len, expected);
  return len;
}

int64_t Generator::Nearest(int64_t found, const uint8_t* target, int64_t length,
                           int64_t expected) const {
  // The entries sharing the match are neighbours in the array. Looking at a few of them on
  // each side is enough to find the current alignment when it is among them; a nearby copy
  // otherwise keeps the seeks small, which the control run codes in fewer bytes.
  constexpr int64_t kLookaround = 16;
  auto distance = [expected](int64_t at) { return at > expected ? at - expected : expected - at; };
  int64_t best = m_Suffixes.position(static_cast<size_t>(found));
  if (length == 0 || best == expected) return best;
  if (expected >= 0 && expected <= m_OldSize - length &&
      std::memcmp(m_Old + expected, target, static_cast<size_t>(length)) == 0)
    return expected;
  for (const int64_t step : {int64_t{-1}, int64_t{1}}) {
    for (int64_t i = found + step, seen = 0; seen < kLookaround && i >= 1 && i <= m_OldSize;
         i += step, ++seen) {
      const int64_t at = m_Suffixes.position(static_cast<size_t>(i));
      if (m_OldSize - at < length ||
          std::memcmp(m_Old + at, target, static_cast<size_t>(length)) != 0)
        break;
      if (distance(at) < distance(best)) best = at;
    }
  }
  return best;
}

bool Generator::Emit(Runs* runs, int64_t last_scan, int64_t last_pos, int64_t lenf, int64_t scan,
                     int64_t lenb, int64_t pos) {
  // The runs were reserved at the new size, which the segments never exceed together.
  if (static_cast<uint64_t>(lenf) > runs->diff.capacity() - runs->diff.length()) return false;
  uint8_t* diff = runs->diff.spare();
  for (int64_t i = 0; i < lenf; ++i)
    diff[i] = static_cast<uint8_t>(m_New[last_scan + i] - m_Old[last_pos + i]);
  const int64_t extra = (scan - lenb) - (last_scan + lenf);
  m_LastSeek = (pos - lenb) - (last_pos + lenf);
  m_EndPosition = pos - lenb;
  if (!runs->diff.Commit(static_cast<size_t>(lenf)) ||
      !runs->extra.Write(m_New + last_scan + lenf, static_cast<size_t>(extra)) ||
      !runs->control.WriteVarInt32(static_cast<int32_t>(lenf)) ||
      !runs->control.WriteVarInt32(static_cast<int32_t>(extra)))
    return false;
  m_LastSeekAt = runs->control.length();
  return runs->control.WriteVarInt32(static_cast<int32_t>(m_LastSeek));
}

bool Generator::RewindOldPosition(Runs* runs) const {
  // The old position before the last triple plus its copy length is at most the old size, so
  // the new seek fits 32 bits.
  runs->control.Truncate(m_LastSeekAt);
  return runs->control.WriteVarInt32(static_cast<int32_t>(m_LastSeek - m_EndPosition));
}

bool Generator::Run(Runs* runs) {
  // Diff and extra bytes together never exceed the new size.
  if (!runs->diff.ReserveUpperBound(static_cast<size_t>(m_NewSize)) ||
      !runs->extra.ReserveUpperBound(static_cast<size_t>(m_NewSize)))
    return false;
  int64_t scan = 0, len = 0, pos = 0, last_scan = 0, last_pos = 0, last_offset = 0;
  while (scan < m_NewSize) {
    int64_t old_score = 0;
    scan += len;
    int64_t sc = scan;
    for (; scan < m_NewSize; ++scan) {
      len = Search(scan, scan + last_offset, &pos);
      for (; sc < scan + len; ++sc) {
        if (OldMatches(sc + last_offset, sc)) ++old_score;
      }
      if ((len == old_score && len != 0) || len > old_score + m_SwitchMargin) break;
      if (len > 10240 && old_score < len) break;
      if (OldMatches(scan + last_offset, scan)) --old_score;
    }
    if (len == old_score && scan != m_NewSize) continue;

    // Extend the previous match forwards and this one backwards, keeping the extent where
    // matching bytes outnumber the others the most.
    int64_t lenf = 0;
    for (int64_t i = 0, s = 0, best = 0; last_scan + i < scan && last_pos + i < m_OldSize;) {
      if (m_Old[last_pos + i] == m_New[last_scan + i]) ++s;
      ++i;
      if (s * 2 - i > best * 2 - lenf) {
        best = s;
        lenf = i;
      }
    }
    int64_t lenb = 0;
    if (scan < m_NewSize) {
      for (int64_t i = 1, s = 0, best = 0; scan >= last_scan + i && pos >= i; ++i) {
        if (m_Old[pos - i] == m_New[scan - i]) ++s;
        if (s * 2 - i > best * 2 - lenb) {
          best = s;
          lenb = i;
        }
      }
    }
    // Where the two extensions overlap, split them at the best point.
    if (last_scan + lenf > scan - lenb) {
      const int64_t overlap = (last_scan + lenf) - (scan - lenb);
      int64_t s = 0, best = 0, lens = 0;
      for (int64_t i = 0; i < overlap; ++i) {
        if (m_New[last_scan + lenf - overlap + i] == m_Old[last_pos + lenf - overlap + i]) ++s;
        if (m_New[scan - lenb + i] == m_Old[pos - lenb + i]) --s;
        if (s > best) {
          best = s;
          lens = i + 1;
        }
      }
      lenf += lens - overlap;
      lenb -= lens;
    }
    if (!Emit(runs, last_scan, last_pos, lenf, scan, lenb, pos)) return false;
    last_scan = scan - lenb;
    last_pos = pos - lenb;
    last_offset = pos - scan;
  }
  return true;
}

// Threads for coding one large block: one per core, at most four (more pieces cost size).
size_t CodingThreads() {
  return std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), 4);
}

// Parts of the new data scanned on their own threads are at least this long; each part boundary
// costs about one control triple.
constexpr int64_t kMinScanPart = int64_t{1} << 20;

// Scans the new data in consecutive parts at once, one thread each, and joins their runs. Each
// part's triples start from old position 0, so every part but the last ends with its old
// position rewound to 0.
bool ScanInPartsOrThrow(const uint8_t* old_data, int64_t old_size, const uint8_t* new_data,
                        int64_t new_size, const SuffixArray& suffixes, int64_t switch_margin,
                        Runs* runs) {
  const int64_t parts = std::max<int64_t>(
      1, std::min<int64_t>(static_cast<int64_t>(CodingThreads()), new_size / kMinScanPart));
  std::vector<Runs> part_runs(static_cast<size_t>(parts));
  std::vector<char> ok(static_cast<size_t>(parts), 0);
  auto scan_part = [&](int64_t i) {
    const int64_t begin = new_size / parts * i;
    const int64_t end = i + 1 == parts ? new_size : begin + new_size / parts;
    Generator generator(old_data, old_size, new_data + begin, end - begin, suffixes, switch_margin);
    Runs& part = part_runs[static_cast<size_t>(i)];
    ok[static_cast<size_t>(i)] =
        generator.Run(&part) && (i + 1 == parts || generator.RewindOldPosition(&part));
  };
  RunInParallel(static_cast<size_t>(parts), [&](size_t i) { scan_part(static_cast<int64_t>(i)); });
  *runs = std::move(part_runs[0]);
  for (size_t i = 0; i < part_runs.size(); ++i) {
    if (!ok[i]) return false;
    if (i > 0 && !(runs->control.Append(part_runs[i].control) &&
                   runs->diff.Append(part_runs[i].diff) && runs->extra.Append(part_runs[i].extra)))
      return false;
  }
  return true;
}

bool ScanInParts(const uint8_t* old_data, int64_t old_size, const uint8_t* new_data,
                 int64_t new_size, const SuffixArray& suffixes, int64_t switch_margin, Runs* runs) {
  try {
    return ScanInPartsOrThrow(old_data, old_size, new_data, new_size, suffixes, switch_margin,
                              runs);
  } catch (...) {  // the part lists could not be allocated
    return false;
  }
}

// Encoder choices per run. Control triples are varints of no fixed width: only the previous
// byte helps to predict a byte (1 context bit). The extra run is new code and data (4). Neither
// gains from position bits. The diff run is mostly long stretches of zeros between changed
// bytes: the coder takes them as long matches only when it looks for such. How deep to search
// depends on how sparse the changes are: a lightly edited file (changes under 1 % of the bytes)
// codes a quarter smaller with 512 candidates and costs little time, since the coder skips
// most of it in long matches; on real builds (8-10 % changed bytes) searching deeper than 48
// gains under 0.5 % for a third more time.
Lzma2Tuning LiteralTuning(uint32_t context_bits) {
  Lzma2Tuning tuning;
  tuning.literal_context_bits = context_bits;
  tuning.position_bits = 0;
  return tuning;
}

Lzma2Tuning DiffTuning(const ByteSink& run) {
  const size_t changed =
      run.length() - static_cast<size_t>(std::count(run.data(), run.data() + run.length(), 0));
  Lzma2Tuning tuning;
  tuning.nice_length = 273;
  tuning.search_depth = changed < run.length() / 100 ? 512 : 48;
  return tuning;
}

// Method 1: the three runs are independent blocks. The diff run, by far the largest, is coded
// in pieces on all cores while a second thread does the other two.
bool CompressRunsSeparately(Runs* runs, ByteSink& out) {
  ByteSink control_block, diff_block, extra_block;
  bool small_ok = false;
  auto code_small_runs = [&] {
    small_ok = WriteLzma2BlockTuned(runs->control.data(), runs->control.length(),
                                    LiteralTuning(1), 1, control_block) &&
               WriteLzma2BlockTuned(runs->extra.data(), runs->extra.length(), LiteralTuning(4), 1,
                                    extra_block);
  };
  std::thread worker;
  try {
    worker = std::thread(code_small_runs);
  } catch (...) {  // no thread to be had: do it here
    code_small_runs();
  }
  const bool diff_ok = WriteLzma2BlockTuned(runs->diff.data(), runs->diff.length(),
                                            DiffTuning(runs->diff), CodingThreads(), diff_block);
  if (worker.joinable()) worker.join();
  return small_ok && diff_ok && out.Append(control_block) && out.Append(diff_block) &&
         out.Append(extra_block);
}

bool WriteRawBody(Runs* runs, ByteSink& out) {
  return out.WriteVarSize(runs->control.length()) && out.WriteVarSize(runs->diff.length()) &&
         out.WriteVarSize(runs->extra.length()) && out.Append(runs->control) &&
         out.Append(runs->diff) && out.Append(runs->extra);
}

bool Generate(ByteSource& old, ByteSource& new_data, ByteSink& out, bool write_header,
              uint8_t method) {
  if (method > DIFF_METHOD_LZMA2_WHOLE) {
    Log("Invalid compression method", LOG_ERROR);
    return false;
  }
  const uint8_t* old_data = old.current();
  const uint8_t* new_bytes = new_data.current();
  const size_t old_size = old.Remaining();
  const size_t new_size = new_data.Remaining();
  const uint32_t checksum = Checksum32(new_bytes, new_size);
  if (old_size > static_cast<size_t>(kMaxSide)) {
    Log(" old stream too large", LOG_ERROR);
    return false;
  }
  if (new_size > static_cast<size_t>(kMaxSide)) {
    Log(" new stream too large", LOG_ERROR);
    return false;
  }
  if (!old.Skip(old_size)) {
    Log("error in old_stream size", LOG_ERROR);
    return false;
  }
  if (!new_data.Skip(new_size)) {
    Log("error in new_stream size", LOG_ERROR);
    return false;
  }

  Runs runs;
  {
    SuffixArray suffixes;
    if (!suffixes.Build(old_data, old_size)) return false;
    if (!ScanInParts(old_data, static_cast<int64_t>(old_size), new_bytes,
                     static_cast<int64_t>(new_size), suffixes, SwitchMargin(method), &runs)) {
      Log("could not build diff runs: out of memory", LOG_ERROR);
      return false;
    }
  }  // the suffix array goes before the compressors need their memory

  bool ok = true;
  if (write_header) {
    ok = out.Write(kDiffMagic, sizeof(kDiffMagic)) && out.WriteVarUint32(checksum);
  }
  ok = ok && out.WriteByte(method) && out.WriteVarSize(new_size);
  if (!ok) {
    Log("could not write diff header", LOG_ERROR);
    return false;
  }
  switch (method) {
    case DIFF_METHOD_RAW:
      ok = WriteRawBody(&runs, out);
      break;
    case DIFF_METHOD_LZMA2_PER_RUN:
      ok = CompressRunsSeparately(&runs, out);
      break;
    default: {
      ByteSink body;
      ok = WriteRawBody(&runs, body) &&
           WriteLzma2BlockTuned(body.data(), body.length(), DiffTuning(body), CodingThreads(), out);
      break;
    }
  }
  if (!ok) Log("could not write diff body", LOG_ERROR);
  return ok;
}

}  // namespace

bool GenerateBinaryDiff(ByteSource& old, ByteSource& new_data, ByteSink& out, bool write_header,
                        uint8_t method) {
  const size_t base = out.length();
  if (Generate(old, new_data, out, write_header, method)) return true;
  out.Truncate(base);
  return false;
}

}  // namespace velpatch
