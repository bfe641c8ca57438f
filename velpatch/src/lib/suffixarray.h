#ifndef VELPATCH_SUFFIXARRAY_H
#define VELPATCH_SUFFIXARRAY_H

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velpatch {

// The suffix array of a byte string with one extra leading entry for the empty suffix:
// entry 0 is the length, entries 1 ... length are the suffix start positions in sorted order.
class SuffixArray {
 public:
  // Builds the array; fails (logging why) when memory runs out or the text is longer than
  // 2147483647 bytes.
  [[nodiscard]] bool Build(const uint8_t* text, size_t length);

  const int32_t* entries() const { return m_Entries.get(); }
  size_t size() const { return m_Size; }  // length + 1 once built

 private:
  std::unique_ptr<int32_t[]> m_Entries;
  size_t m_Size = 0;
};

}  // namespace velpatch

#endif  // VELPATCH_SUFFIXARRAY_H
