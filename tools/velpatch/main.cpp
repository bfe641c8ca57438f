// velpatch: command line of the patch engine.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "commands.h"
#include "patch_commands.h"
#include "program_commands.h"

namespace velpatch {
namespace tool {
namespace {

// Add a subcommand here (and its Run function in a file of its own).
const Subcommand kSubcommands[] = {
    {"diff", "[--method 0|1|2] [--header] OLD NEW PATCH",
     "write a binary diff from OLD to NEW (method 1 unless given; no header unless given)",
     &RunDiff},
    {"apply-diff", "[--header] OLD PATCH NEW", "apply a binary diff to OLD, writing NEW",
     &RunApplyDiff},
    {"detect", "FILE", "print the executable kind and image length of FILE", &RunDetect},
    {"roundtrip", "FILE", "disassemble and reassemble FILE, and compare", &RunRoundtrip},
    {"compress", "[--plain] IN OUT",
     "write an LZMA2 container of IN (executables disassembled unless --plain)", &RunCompress},
    {"decompress", "IN OUT", "unpack the LZMA2 container IN to OUT", &RunDecompress},
    {"gen", "[--stats] [--transformed] OLD NEW PATCH",
     "write an ensemble patch from OLD to NEW (--transformed: keep transformations)", &RunGen},
    {"apply", "OLD PATCH NEW", "apply an ensemble patch to OLD, writing NEW", &RunApply},
};

void PrintHelp(FILE* to) {
  std::fprintf(to, "usage: velpatch <command> [options] files...\n\ncommands:\n");
  for (const Subcommand& c : kSubcommands) {
    std::fprintf(to, "  velpatch %s %s\n      %s\n", c.name, c.synopsis, c.description);
  }
  std::fprintf(to,
               "\nExit status: 0 on success, 1 when the operation failed, 2 for a wrong command "
               "line.\nA failed command leaves no output file behind.\n");
}

bool IsHelp(const char* arg) {
  return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 ||
         std::strcmp(arg, "help") == 0;
}

int Main(int argc, char** argv) {
  ClearEngineMessages();  // registers the sink that keeps engine messages
  if (argc < 2) {
    PrintHelp(stderr);
    return kExitUsage;
  }
  if (IsHelp(argv[1])) {
    PrintHelp(stdout);
    return kExitOk;
  }
  for (const Subcommand& c : kSubcommands) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    if (argc == 3 && IsHelp(argv[2])) {
      std::printf("usage: velpatch %s %s\n  %s\n", c.name, c.synopsis, c.description);
      return kExitOk;
    }
    return c.run(Args(argv + 2, argv + argc));
  }
  Fail(std::string("unknown command '") + argv[1] + "' (see velpatch --help)");
  return kExitUsage;
}

}  // namespace
}  // namespace tool
}  // namespace velpatch

int main(int argc, char** argv) {
  try {
    return velpatch::tool::Main(argc, argv);
  } catch (const std::exception& e) {  // out of memory in the tool's own strings
    std::fprintf(stderr, "velpatch: %s\n", e.what());
    return velpatch::tool::kExitFailed;
  }
}
