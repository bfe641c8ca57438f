// Reads arbitrary bytes as an LZMA2 container. The first byte chooses how: even, the rest is the
// container itself; odd, the rest is wrapped as the payload of a container with directive
// (byte >> 1) & 3, so that mutations reach the disassembled form's programs and diff directly.
// A success must give back a result whose checksum the header named.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "lzma2_container.h"
#include "lzmaioout.h"

using velpatch::ByteSink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  ByteSink container;
  if (data[0] & 1) {
    if (size > 65536) return 0;  // compression per input would be slow
    // The checksum of an empty result, so that payloads that decode to nothing can succeed.
    if (!container.WriteVarUint32(velpatch::kContainerMagic) ||
        !container.WriteVarUint32(0xFFFFFFFF) || !container.WriteVarUint32((data[0] >> 1) & 3) ||
        !velpatch::WriteLzma2Block(data + 1, size - 1, container))
      std::abort();
  } else if (!container.Write(data + 1, size - 1)) {
    std::abort();
  }
  ByteSink out;
  if (velpatch::DecompressLzma2Container(container.data(), container.length(), out)) {
    velpatch::ByteSource header(container.data(), container.length());
    uint32_t magic = 0, checksum = 0;
    if (!header.ReadVarUint32(&magic) || !header.ReadVarUint32(&checksum) ||
        velpatch::Checksum32(out.data(), out.length()) != checksum)
      std::abort();
  } else if (out.length() != 0) {
    std::abort();  // a failure leaves nothing behind
  }
  return 0;
}
