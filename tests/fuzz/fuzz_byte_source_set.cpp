// Parses arbitrary bytes as a serialized stream set, then reads nested sets and varints from it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "streams.h"

using velpatch::ByteSource;
using velpatch::ByteSourceSet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSourceSet set;
  if (!set.Parse(data, size)) {
    if (set.count() != 0) std::abort();  // a failed parse leaves the set empty
    return 0;
  }
  size_t total = 0;
  for (size_t i = 0; i < set.count(); ++i) total += set.stream(i).Remaining();
  if (total > size) std::abort();

  ByteSourceSet nested;
  for (int round = 0; round < 16 && set.ReadNestedSet(nested); ++round) {
    for (size_t i = 0; i < nested.count(); ++i) {
      ByteSource& s = nested.stream(i);
      // A stream with bytes points inside the input.
      if (!s.Empty() && (s.current() < data || s.end() > data + size)) std::abort();
      uint32_t u;
      int32_t v;
      while (s.ReadVarUint32(&u) && s.ReadVarInt32(&v)) {
      }
    }
    (void)nested.AllConsumed();
  }
  for (size_t i = 0; i < set.count(); ++i) {
    uint8_t byte;
    while (set.stream(i).ReadByte(&byte)) {
    }
  }
  if (!set.AllConsumed()) std::abort();
  return 0;
}
