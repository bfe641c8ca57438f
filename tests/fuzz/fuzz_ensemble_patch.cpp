// Applies arbitrary ensemble patches to an old file taken from the input:
//   byte 0       mode: even, the rest after the old file is the patch; odd, it is the decoded
//                body, wrapped here in a header that matches the old file
//   bytes 1 ... 4  old file length, little-endian (cut to what is there)
//   then the old file, then the patch or body.
// An Ok result must match the target checksum; a failure must leave the output empty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ensemble_patch.h"
#include "lzmaioout.h"

using velpatch::ByteSink;
using velpatch::ByteSource;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  size_t old_length = data[1] | (data[2] << 8) | (data[3] << 16) | (size_t{data[4]} << 24);
  if (old_length > size - 5) old_length = size - 5;
  const uint8_t* old_data = data + 5;
  const uint8_t* rest = old_data + old_length;
  const size_t rest_length = size - 5 - old_length;

  ByteSink patch;
  if (data[0] & 1) {
    if (rest_length > 262144) return 0;  // compression per input would be slow
    if (!patch.WriteVarUint32(velpatch::kEnsemblePatchMagic) ||
        !patch.WriteVarUint32(velpatch::kEnsemblePatchVersion) ||
        !patch.WriteVarUint32(velpatch::Checksum32(old_data, old_length)) ||
        !patch.WriteVarUint32(0) || !patch.WriteVarUint32(0) ||
        !velpatch::WriteLzma2Block(rest, rest_length, patch))
      std::abort();
  } else if (!patch.Write(rest, rest_length)) {
    std::abort();
  }
  ByteSource old(old_data, old_length), patch_source(patch.data(), patch.length());
  ByteSink out;
  const velpatch::PatchStatus status = velpatch::ApplyEnsemblePatchStreams(old, patch_source, out);
  if (status == velpatch::PatchStatus::Ok) {
    ByteSource header(patch.data(), patch.length());
    uint32_t field[4] = {};
    for (uint32_t& f : field) {
      if (!header.ReadVarUint32(&f)) std::abort();
    }
    if (velpatch::Checksum32(out.data(), out.length()) != field[3]) std::abort();
  } else if (out.length() != 0) {
    std::abort();
  }
  return 0;
}
