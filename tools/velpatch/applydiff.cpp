// velpatch apply-diff [--header] OLD PATCH NEW
#include "binarydiff.h"
#include "commands.h"

namespace velpatch {
namespace tool {

int RunApplyDiff(const Args& args) {
  ParsedArgs parsed;
  if (!ParseArgs("apply-diff", args, {"--header"}, {}, 3, &parsed)) return kExitUsage;
  const std::string& old_path = parsed.positional[0];
  const std::string& patch_path = parsed.positional[1];
  const std::string& new_path = parsed.positional[2];

  InputFile old_file, patch_file;
  if (!old_file.Open(old_path) || !patch_file.Open(patch_path)) return kExitFailed;
  ByteSource old_source = old_file.source(), patch_source = patch_file.source();
  ByteSink result;
  if (!ApplyBinaryDiff(old_source, patch_source, result, parsed.flags.count("--header") > 0)) {
    Fail("apply-diff: could not apply " + patch_path + " to " + old_path);
    return kExitFailed;
  }
  return SaveFile(new_path, result) ? kExitOk : kExitFailed;
}

}  // namespace tool
}  // namespace velpatch
