// velpatch detect FILE
// velpatch roundtrip FILE
#include "program_commands.h"

#include <cinttypes>
#include <cstdio>

#include "executable_detection.h"
#include "executable_roundtrip.h"

namespace velpatch {
namespace tool {

int RunDetect(const Args& args) {
  ParsedArgs parsed;
  if (!ParseArgs("detect", args, {}, {}, 1, &parsed))
    return kExitUsage;
  InputFile file;
  if (!file.Open(parsed.positional[0]))
    return kExitFailed;
  const ByteSource source = file.source();
  ExecutableKind kind = ExecutableKind::UNKNOWN;
  size_t length = 0;
  const PatchStatus status = DetectExecutable(source.start(), source.Remaining(), &kind, &length);
  std::printf("%s %zu\n", ExecutableKindName(kind), length);
  if (status == PatchStatus::Ok)
    return kExitOk;
  if (status != PatchStatus::NotRecognized)
    Fail("detect: " + std::string(PatchStatusName(status)));
  return kExitFailed;
}

int RunRoundtrip(const Args& args) {
  ParsedArgs parsed;
  if (!ParseArgs("roundtrip", args, {}, {}, 1, &parsed))
    return kExitUsage;
  const std::string& path = parsed.positional[0];
  InputFile file;
  if (!file.Open(path))
    return kExitFailed;
  const ByteSource source = file.source();
  RoundTripResult result;
  RoundTripExecutable(source.start(), source.Remaining(), &result);
  if (result.status != PatchStatus::Ok) {
    Fail("roundtrip: " + std::string(result.failed_stage) + " failed for " + path + " (" +
         PatchStatusName(result.status) + ")");
    return kExitFailed;
  }
  if (result.identical()) {
    std::printf("identical\n");
    return kExitOk;
  }
  const int64_t length_difference = result.length_difference;
  const uint64_t extra = static_cast<uint64_t>(length_difference < 0 ? -length_difference
                                                                     : length_difference);
  std::printf("differs %" PRIu64 " (%zu bytes changed, length %+" PRId64 ")\n",
              uint64_t(result.differing_bytes) + extra, result.differing_bytes,
              length_difference);
  return kExitOk;
}

}  // namespace tool
}  // namespace velpatch
