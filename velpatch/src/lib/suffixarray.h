#ifndef VELPATCH_SUFFIXARRAY_H
#define VELPATCH_SUFFIXARRAY_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace velpatch {

// The suffix array of a byte string with one extra leading entry for the empty suffix:
// entry 0 is the length, entries 1 ... length are the suffix start positions in sorted order.
// Next to each position it keeps the suffix's first four bytes (big-endian, zero-padded), so a
// search step usually decides from the entry alone, without touching the text.
class SuffixArray {
 public:
  static constexpr uint32_t kPairs = 1u << 16;

  // Builds the array; fails (logging why) when memory runs out or the text is longer than
  // 2147483647 bytes.
  [[nodiscard]] bool Build(const uint8_t* text, size_t length);

  size_t size() const { return m_Size; }  // length + 1 once built
  int32_t position(size_t i) const { return m_Entries[2 * i]; }
  uint32_t prefix(size_t i) const { return static_cast<uint32_t>(m_Entries[2 * i + 1]); }
  // Where entry i lives, for prefetching.
  const int32_t* address(size_t i) const { return m_Entries.get() + 2 * i; }
  // The entries whose suffixes start with the two bytes of `pair` (first byte high; a one-byte
  // suffix counts as followed by a zero) are [first_with(pair), first_with(pair + 1)). Entry 0,
  // the empty suffix, is before every range.
  size_t first_with(uint32_t pair) const { return m_PairStarts[pair]; }

  // The first four bytes of `text` as prefix() keeps them (bytes beyond `length` are zero).
  static uint32_t Prefix(const uint8_t* text, size_t length);

 private:
  struct Free {
    void operator()(int32_t* entries) const { std::free(entries); }
  };
  std::unique_ptr<int32_t[], Free> m_Entries;  // 2 * m_Size values: position, prefix, ...
  std::unique_ptr<uint32_t[]> m_PairStarts;  // kPairs + 1 entry indexes
  size_t m_Size = 0;
};

}  // namespace velpatch

#endif  // VELPATCH_SUFFIXARRAY_H
