// velpatch gen [--stats] [--transformed] OLD NEW PATCH, velpatch apply OLD PATCH NEW
#include <cstdio>

#include "ensemble_patch.h"
#include "patch_commands.h"

namespace velpatch {
namespace tool {

int RunGen(const Args& args) {
  ParsedArgs parsed;
  if (!ParseArgs("gen", args, {"--stats", "--transformed"}, {}, 3, &parsed)) return kExitUsage;
  const std::string& old_path = parsed.positional[0];
  const std::string& new_path = parsed.positional[1];
  const std::string& patch_path = parsed.positional[2];
  InputFile old_file, new_file;
  if (!old_file.Open(old_path) || !new_file.Open(new_path)) return kExitFailed;
  const ByteSource old_source = old_file.source(), new_source = new_file.source();
  ByteSink patch;
  EnsemblePatchInfo info;
  EnsemblePatchOptions options;
  options.prefer_transformed = parsed.flags.count("--transformed") > 0;
  const PatchStatus status =
      GenerateEnsemblePatch(old_source.current(), old_source.Remaining(), new_source.current(),
                            new_source.Remaining(), patch, &info, options);
  if (status != PatchStatus::Ok) {
    Fail("gen: could not make a patch from " + old_path + " to " + new_path + ": " +
         PatchStatusName(status) + " (" + std::to_string(static_cast<int>(status)) + ")");
    return kExitFailed;
  }
  if (!SaveFile(patch_path, patch)) return kExitFailed;
  if (parsed.flags.count("--stats")) {
    std::printf("transformations %zu, patch %zu bytes (plain %zu, transformed %zu)\n",
                info.transformations, patch.length(), info.plain_size, info.transformed_size);
  }
  return kExitOk;
}

int RunApply(const Args& args) {
  ParsedArgs parsed;
  if (!ParseArgs("apply", args, {}, {}, 3, &parsed)) return kExitUsage;
  KeepFreedMemory();
  const std::string& old_path = parsed.positional[0];
  const std::string& patch_path = parsed.positional[1];
  const std::string& new_path = parsed.positional[2];
  const int status =
      ApplyEnsemblePatchFiles(old_path.c_str(), patch_path.c_str(), new_path.c_str());
  if (status != static_cast<int>(PatchStatus::Ok)) {
    Fail("apply: " + std::string(PatchStatusName(static_cast<PatchStatus>(status))) + " (" +
         std::to_string(status) + ")");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace tool
}  // namespace velpatch
