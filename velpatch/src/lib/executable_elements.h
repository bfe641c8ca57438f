// Finding the executables inside a file: the slices of a universal Mach-O file, or the file
// itself. The container writer and the ensemble patch generator both start from this list.
#ifndef VELPATCH_EXECUTABLE_ELEMENTS_H
#define VELPATCH_EXECUTABLE_ELEMENTS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "executable_kind.h"
#include "patch_status.h"

namespace velpatch {

// An executable region of a file.
struct ExecutableElement {
  size_t offset = 0;
  size_t length = 0;
  ExecutableKind kind = ExecutableKind::UNKNOWN;
};

// Fills `elements` in file order. A universal Mach-O file of at least 4096 bytes with 1 to 8
// slices gives its recognized slices (each as long as its slice entry says); otherwise, or when
// that scan stopped early, was abandoned because slices overlap, or found nothing, the whole
// file is detected and gives (0, detected length, kind). Ok also when nothing was recognized
// (the list is then empty); any other status is a failure of detection itself (out of memory).
[[nodiscard]] PatchStatus FindExecutableElements(const uint8_t* data, size_t length,
                                                 std::vector<ExecutableElement>* elements);

}  // namespace velpatch

#endif  // VELPATCH_EXECUTABLE_ELEMENTS_H
