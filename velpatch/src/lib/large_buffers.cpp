#include "large_buffers.h"

#include <sys/mman.h>

#include <cstdlib>
#include <limits>

namespace velpatch {

namespace {
constexpr size_t kHugePageLength = size_t{2} << 20;
}

size_t LargeBufferCapacity(size_t length) {
  if (length < kLargeBufferLength ||
      length > std::numeric_limits<size_t>::max() - (kHugePageLength - 1))
    return length;
  return (length + kHugePageLength - 1) & ~(kHugePageLength - 1);
}

void* AllocateLargeBuffer(size_t length) {
  const size_t capacity = LargeBufferCapacity(length);
  if (capacity == length && length < kLargeBufferLength) return std::malloc(length);
  void* data = nullptr;
  if (posix_memalign(&data, kHugePageLength, capacity) != 0) return nullptr;
#ifdef MADV_HUGEPAGE
  (void)madvise(data, capacity, MADV_HUGEPAGE);
#endif
  return data;
}

}  // namespace velpatch
