// velpatch compress [--plain] IN OUT, velpatch decompress IN OUT
#include "lzma2_container.h"
#include "patch_commands.h"

namespace velpatch {
namespace tool {

int RunCompress(const Args& args) {
  ParsedArgs parsed;
  if (!ParseArgs("compress", args, {"--plain"}, {}, 2, &parsed))
    return kExitUsage;
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
  if (!ParseArgs("decompress", args, {}, {}, 2, &parsed))
    return kExitUsage;
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
