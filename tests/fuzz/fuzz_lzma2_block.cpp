// Decodes arbitrary bytes as a sequence of LZMA2 blocks; small results are re-encoded and must
// decode back to themselves.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "lzmaioout.h"

using velpatch::ByteSink;
using velpatch::ByteSource;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  for (int block = 0; block < 4 && !in.Empty(); ++block) {
    ByteSink out;
    const size_t before = in.Remaining();
    if (!velpatch::ReadLzma2Block(in, out)) {
      if (in.Remaining() != before || out.length() != 0) std::abort();  // failure changes nothing
      break;
    }
    if (in.Remaining() >= before) std::abort();  // a block is never empty
    if (out.length() <= 4096) {
      ByteSink encoded, decoded;
      if (!velpatch::WriteLzma2Block(out.data(), out.length(), encoded)) std::abort();
      ByteSource again;
      again.Init(encoded);
      if (!velpatch::ReadLzma2Block(again, decoded) || !again.Empty() ||
          decoded.length() != out.length() ||
          (out.length() && std::memcmp(decoded.data(), out.data(), out.length()) != 0))
        std::abort();
    }
  }
  return 0;
}
