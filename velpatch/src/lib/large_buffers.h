// Large working buffers (decoded files, payloads, assemblies, suffix arrays, coder
// dictionaries) are touched once from end to end. In 4 KiB pages that is one page fault per
// 4 KiB, which on a virtual machine costs more than decoding the bytes; transparent huge pages
// cut the faults 512-fold. Huge pages need 2 MiB-aligned ranges, so large buffers are allocated
// on that boundary and in whole 2 MiB steps.
#ifndef VELPATCH_LARGE_BUFFERS_H
#define VELPATCH_LARGE_BUFFERS_H

#include <cstddef>

namespace velpatch {

// Buffers at least this large are worth backing with huge pages. Rounding them up to 2 MiB
// costs memory (an ensemble patch of libcrypto applies in 63 MB instead of 50), but the decoded
// libraries of a few hundred KiB are the common case and decode up to 10 % faster.
constexpr size_t kLargeBufferLength = size_t{256} << 10;

// The capacity AllocateLargeBuffer really provides for `length` bytes: `length` rounded up to
// whole huge pages when it is large, else `length` itself.
size_t LargeBufferCapacity(size_t length);

// malloc for buffers that may be large: a large one starts on a huge-page boundary, is
// LargeBufferCapacity(length) long, and the kernel is asked to back it with huge pages (only
// advice: without transparent huge pages it is ordinary memory). Null when memory runs out.
// Free the result with free().
void* AllocateLargeBuffer(size_t length);

}  // namespace velpatch

#endif  // VELPATCH_LARGE_BUFFERS_H
