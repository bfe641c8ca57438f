#include "suffixarray.h"

#include <divsufsort.h>

#include <limits>
#include <new>

#include "large_buffers.h"
#include "log.h"

namespace velpatch {

uint32_t SuffixArray::Prefix(const uint8_t* text, size_t length) {
  uint32_t key = 0;
  for (size_t i = 0; i < 4; ++i) key = (key << 8) | (i < length ? text[i] : 0u);
  return key;
}

bool SuffixArray::Build(const uint8_t* text, size_t length) {
  m_Entries.reset();
  m_PairStarts.reset();
  m_Size = 0;
  if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    Log("suffix array: text too large", LOG_ERROR);
    return false;
  }
  const size_t n = length;
  m_Entries.reset(static_cast<int32_t*>(AllocateLargeBuffer(2 * (n + 1) * sizeof(int32_t))));
  m_PairStarts.reset(new (std::nothrow) uint32_t[kPairs + 1]);
  if (!m_Entries || !m_PairStarts) {
    m_Entries.reset();
    m_PairStarts.reset();
    Log("suffix array: out of memory", LOG_ERROR);
    return false;
  }
  // The plain suffix array is built in the upper half, then spread into (position, prefix)
  // pairs from the front: entry j's pair ends before the plain value of entry j + 1 starts, so
  // nothing is overwritten before it is read.
  int32_t* entries = m_Entries.get();
  int32_t* sorted = entries + (n + 2);  // n values, ending at 2 * (n + 1)
  if (n > 0 && divsufsort(text, sorted, static_cast<saidx_t>(n)) != 0) {
    m_Entries.reset();
    m_PairStarts.reset();
    Log("suffix array: construction failed", LOG_ERROR);
    return false;
  }
  entries[0] = static_cast<int32_t>(n);
  entries[1] = 0;
  for (size_t j = 1; j <= n; ++j) {
    const int32_t position = sorted[j - 1];
    entries[2 * j] = position;
    entries[2 * j + 1] =
        static_cast<int32_t>(Prefix(text + position, n - static_cast<size_t>(position)));
  }
  // The prefixes grow along the array, so each pair's entries are one run.
  uint32_t pair = 0;
  for (size_t j = 1; j <= n; ++j) {
    const uint32_t entry_pair = prefix(j) >> 16;
    while (pair <= entry_pair) m_PairStarts[pair++] = static_cast<uint32_t>(j);
  }
  while (pair <= kPairs) m_PairStarts[pair++] = static_cast<uint32_t>(n + 1);
  m_Size = n + 1;
  return true;
}

}  // namespace velpatch
