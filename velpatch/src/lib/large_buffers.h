// Large working buffers (decoded files, suffix arrays, coder dictionaries) are touched once from
// end to end. In 4 KiB pages that is one page fault per 4 KiB, which costs more than decoding
// the bytes on a virtual machine; transparent huge pages cut the faults 512-fold.
#ifndef VELPATCH_LARGE_BUFFERS_H
#define VELPATCH_LARGE_BUFFERS_H

#include <cstddef>

namespace velpatch {

// Buffers at least this large are worth backing with huge pages.
constexpr size_t kLargeBufferLength = size_t{4} << 20;

// Asks the kernel to back the whole 2 MiB-aligned pages inside [data, data + length) with huge
// pages. Only advice: does nothing for short buffers, on kernels without transparent huge pages,
// or when the kernel declines.
void AdviseHugePages(void* data, size_t length);

// malloc for large buffers: allocates with malloc and advises huge pages when the size is large.
// Free the result with free().
void* AllocateLargeBuffer(size_t length);

}  // namespace velpatch

#endif  // VELPATCH_LARGE_BUFFERS_H
