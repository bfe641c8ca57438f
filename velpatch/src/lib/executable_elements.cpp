#include "executable_elements.h"

#include "executable_detection.h"
#include "nothrow.h"

namespace velpatch {
namespace {

constexpr size_t kUniversalMinLength = 4096;
constexpr uint32_t kUniversalMagic = 0xCAFEBABE;
constexpr uint32_t kUniversalMaxSlices = 8;
constexpr size_t kSliceTableOffset = 8;  // after magic and slice count
constexpr size_t kSliceEntrySize = 20;   // cpu type, cpu subtype, offset, size, alignment

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

bool Overlaps(const ExecutableElement& a, size_t offset, size_t length) {
  return offset < a.offset + a.length && a.offset < offset + length;
}

enum class ScanEnd { Completed, Stopped, Failed };

// The slices of a universal file. Stopped covers every reason to fall back to the whole file.
ScanEnd ScanUniversal(const uint8_t* data, size_t length, std::vector<ExecutableElement>* found,
                      PatchStatus* status) {
  if (length < kUniversalMinLength || BigEndian32(data) != kUniversalMagic) return ScanEnd::Stopped;
  const uint32_t slices = BigEndian32(data + 4);
  if (slices < 1 || slices > kUniversalMaxSlices) return ScanEnd::Stopped;
  for (uint32_t i = 0; i < slices; ++i) {
    // At most 8 entries: the table ends well inside the 4096 bytes checked above.
    const uint8_t* entry = data + kSliceTableOffset + kSliceEntrySize * i;
    const size_t offset = BigEndian32(entry + 8);
    const size_t size = BigEndian32(entry + 12);
    if (offset > length || size > length - offset) return ScanEnd::Stopped;
    for (const ExecutableElement& accepted : *found) {
      if (Overlaps(accepted, offset, size)) return ScanEnd::Stopped;
    }
    ExecutableKind kind = ExecutableKind::UNKNOWN;
    size_t detected = 0;
    const PatchStatus detection = DetectExecutable(data + offset, size, &kind, &detected);
    if (detection == PatchStatus::NotRecognized) continue;
    if (detection != PatchStatus::Ok) {
      *status = detection;
      return ScanEnd::Failed;
    }
    if (detected > size) return ScanEnd::Stopped;
    ExecutableElement element;
    element.offset = offset;
    element.length = size;
    element.kind = kind;
    if (!NoThrowAlloc([&] { found->push_back(element); })) {
      *status = PatchStatus::GeneralError;
      return ScanEnd::Failed;
    }
  }
  return ScanEnd::Completed;
}

}  // namespace

PatchStatus FindExecutableElements(const uint8_t* data, size_t length,
                                   std::vector<ExecutableElement>* elements) {
  elements->clear();
  std::vector<ExecutableElement> slices;
  PatchStatus status = PatchStatus::Ok;
  const ScanEnd end = ScanUniversal(data, length, &slices, &status);
  if (end == ScanEnd::Failed) return status;
  if (end == ScanEnd::Completed && !slices.empty()) {
    elements->swap(slices);
    return PatchStatus::Ok;
  }
  ExecutableElement whole;
  status = DetectExecutable(data, length, &whole.kind, &whole.length);
  if (status == PatchStatus::NotRecognized) return PatchStatus::Ok;
  if (status != PatchStatus::Ok) return status;
  if (!NoThrowAlloc([&] { elements->push_back(whole); })) return PatchStatus::GeneralError;
  return PatchStatus::Ok;
}

}  // namespace velpatch
