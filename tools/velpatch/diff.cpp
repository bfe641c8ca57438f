// velpatch diff [--method 0|1|2] [--header] OLD NEW PATCH
#include "binarydiff.h"
#include "commands.h"

namespace velpatch {
namespace tool {

int RunDiff(const Args& args) {
  ParsedArgs parsed;
  if (!ParseArgs("diff", args, {"--header"}, {"--method"}, 3, &parsed)) return kExitUsage;
  uint8_t method = DIFF_METHOD_LZMA2_PER_RUN;
  if (parsed.options.count("--method")) {
    const std::string& text = parsed.options["--method"];
    if (text != "0" && text != "1" && text != "2") {
      Fail("diff: --method must be 0, 1 or 2, not '" + text + "'");
      return kExitUsage;
    }
    method = static_cast<uint8_t>(text[0] - '0');
  }
  const std::string& old_path = parsed.positional[0];
  const std::string& new_path = parsed.positional[1];
  const std::string& patch_path = parsed.positional[2];

  InputFile old_file, new_file;
  if (!old_file.Open(old_path) || !new_file.Open(new_path)) return kExitFailed;
  ByteSource old_source = old_file.source(), new_source = new_file.source();
  ByteSink patch;
  if (!GenerateBinaryDiff(old_source, new_source, patch, parsed.flags.count("--header") > 0,
                          method)) {
    Fail("diff: could not generate the diff from " + old_path + " to " + new_path);
    return kExitFailed;
  }
  return SaveFile(patch_path, patch) ? kExitOk : kExitFailed;
}

}  // namespace tool
}  // namespace velpatch
