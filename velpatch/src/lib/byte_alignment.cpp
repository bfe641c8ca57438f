#include "byte_alignment.h"

#include <algorithm>

#include "binarydiff.h"
#include "nothrow.h"
#include "streams.h"

namespace velpatch {
namespace {

// Reads the copy regions out of the control triples of a method-0 diff without header.
bool ReadRegions(ByteSource diff, size_t old_length, std::vector<CopyRegion>* regions) {
  uint8_t method = 0;
  uint32_t new_size = 0, control_length = 0, diff_length = 0, extra_length = 0;
  ByteSource control;
  if (!diff.ReadByte(&method) || method != DIFF_METHOD_RAW || !diff.ReadVarUint32(&new_size) ||
      !diff.ReadVarUint32(&control_length) || !diff.ReadVarUint32(&diff_length) ||
      !diff.ReadVarUint32(&extra_length) || !diff.ReadSubSource(control_length, &control))
    return false;
  int64_t new_pos = 0, old_pos = 0;
  while (!control.Empty()) {
    int32_t x = 0, y = 0, z = 0;
    if (!control.ReadVarInt32(&x) || !control.ReadVarInt32(&y) || !control.ReadVarInt32(&z) ||
        x < 0 || y < 0)
      return false;
    if (x > 0) {
      if (old_pos < 0 || old_pos + x > static_cast<int64_t>(old_length) ||
          new_pos + x > static_cast<int64_t>(new_size))
        return false;
      CopyRegion region;
      region.new_offset = static_cast<size_t>(new_pos);
      region.old_offset = static_cast<size_t>(old_pos);
      region.length = static_cast<size_t>(x);
      if (!NoThrowAlloc([&] { regions->push_back(region); })) return false;
    }
    new_pos += int64_t{x} + y;
    old_pos += int64_t{x} + z;
  }
  return true;
}

}  // namespace

bool AlignBytes(const uint8_t* old_data, size_t old_length, const uint8_t* new_data,
                size_t new_length, std::vector<CopyRegion>* regions) {
  regions->clear();
  ByteSource old(old_data, old_length), updated(new_data, new_length);
  ByteSink diff;
  if (!GenerateBinaryDiff(old, updated, diff, false, DIFF_METHOD_RAW)) return false;
  if (ReadRegions(ByteSource(diff.data(), diff.length()), old_length, regions)) return true;
  regions->clear();
  return false;
}

const CopyRegion* FindRegion(const std::vector<CopyRegion>& regions, size_t offset) {
  // The first region starting beyond the offset; the one before it may hold it.
  auto after = std::upper_bound(
      regions.begin(), regions.end(), offset,
      [](size_t value, const CopyRegion& region) { return value < region.new_offset; });
  if (after == regions.begin()) return nullptr;
  const CopyRegion& region = *(after - 1);
  return offset - region.new_offset < region.length ? &region : nullptr;
}

}  // namespace velpatch
