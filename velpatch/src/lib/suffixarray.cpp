#include "suffixarray.h"

#include <divsufsort.h>

#include <limits>
#include <new>

#include "log.h"

namespace velpatch {

bool SuffixArray::Build(const uint8_t* text, size_t length) {
  m_Entries.reset();
  m_Size = 0;
  if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    Log("suffix array: text too large", LOG_ERROR);
    return false;
  }
  m_Entries.reset(new (std::nothrow) int32_t[length + 1]);
  if (!m_Entries) {
    Log("suffix array: out of memory", LOG_ERROR);
    return false;
  }
  m_Entries[0] = static_cast<int32_t>(length);
  if (length > 0 && divsufsort(text, m_Entries.get() + 1, static_cast<saidx_t>(length)) != 0) {
    m_Entries.reset();
    Log("suffix array: construction failed", LOG_ERROR);
    return false;
  }
  m_Size = length + 1;
  return true;
}

}  // namespace velpatch
