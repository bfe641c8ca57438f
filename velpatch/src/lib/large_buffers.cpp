#include "large_buffers.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace velpatch {

namespace {
constexpr uintptr_t kHugePageLength = uintptr_t{2} << 20;
}

void AdviseHugePages(void* data, size_t length) {
#ifdef MADV_HUGEPAGE
  if (data == nullptr || length < kLargeBufferLength) return;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(data);
  const uintptr_t first = (begin + kHugePageLength - 1) & ~(kHugePageLength - 1);
  const uintptr_t last = (begin + length) & ~(kHugePageLength - 1);
  if (first < last) (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)length;
#endif
}

void* AllocateLargeBuffer(size_t length) {
  void* data = std::malloc(length);
  AdviseHugePages(data, length);
  return data;
}

}  // namespace velpatch
