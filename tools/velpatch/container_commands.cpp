// velpatch compress [--plain] IN OUT, velpatch decompress IN OUT
#include <malloc.h>

#include "lzma2_container.h"
#include "patch_commands.h"

namespace velpatch {
namespace tool {

void KeepFreedMemory() {
  // The engine builds whole files in buffers of several megabytes, one after the other. By
  // default each comes from a fresh mapping that is returned on release, and every page of the
  // next one faults in again; served from the heap and kept there, they are reused.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_TOP_PAD, 64 << 20);
}

int RunCompress(const Args& args) {
  ParsedArgs parsed;
  if (!ParseArgs("compress", args, {"--plain"}, {}, 2, &parsed)) return kExitUsage;
  const std::string& in = parsed.positional[0];
  const std::string& out = parsed.positional[1];
  if (!CompressLzma2File(in.c_str(), out.c_str(), parsed.flags.count("--plain") == 0)) {
    Fail("compress: could not write a container of " + in + " to " + out);
    return kExitFailed;
  }
  return kExitOk;
}

int RunDecompress(const Args& args) {
  ParsedArgs parsed;
  if (!ParseArgs("decompress", args, {}, {}, 2, &parsed)) return kExitUsage;
  KeepFreedMemory();
  const std::string& in = parsed.positional[0];
  const std::string& out = parsed.positional[1];
  if (!DecompressLzma2File(in.c_str(), out.c_str())) {
    Fail("decompress: could not unpack " + in + " to " + out);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace tool
}  // namespace velpatch
