// Subcommands of the velpatch tool and the helpers they share.
#ifndef VELPATCH_TOOL_COMMANDS_H
#define VELPATCH_TOOL_COMMANDS_H

#include <map>
#include <set>
#include <string>
#include <vector>

#include "streams.h"

namespace velpatch {
namespace tool {

using Args = std::vector<std::string>;  // the arguments after the subcommand's name

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the operation failed
constexpr int kExitUsage = 2;   // the command line is wrong

// One entry per subcommand; `run` returns the exit code.
struct Subcommand {
  const char* name;
  const char* synopsis;     // arguments, shown by --help
  const char* description;  // one line, shown by --help
  int (*run)(const Args& args);
};

int RunDiff(const Args& args);
int RunApplyDiff(const Args& args);

// ---- Shared helpers (common.cpp) ----

struct ParsedArgs {
  std::set<std::string> flags;                 // given flags, e.g. "--header"
  std::map<std::string, std::string> options;  // given valued options, e.g. "--method" -> "1"
  std::vector<std::string> positional;
};

// Splits `args` into the known flags, the known valued options ("--name value" or
// "--name=value") and positional arguments ("--" ends the options). On an unknown option, a
// missing value or a positional count other than `positional_count`, prints a usage error for
// `command` and returns false.
bool ParseArgs(const char* command, const Args& args, const std::set<std::string>& flags,
               const std::set<std::string>& valued, size_t positional_count, ParsedArgs* parsed);

// A whole input file as a byte source; empty files are fine (they cannot be mapped).
class InputFile {
 public:
  bool Open(const std::string& path);  // prints the failure
  ByteSource source() const { return ByteSource(m_File.data(), m_File.length()); }

 private:
  MappedFile m_File;
};

// Writes the sink to `path` completely or not at all; prints the failure.
bool SaveFile(const std::string& path, const ByteSink& data);

// Prints "velpatch: <text>" on stderr, followed by the first engine message logged since the
// last call (if any), all on one line.
void Fail(const std::string& text);
// Forgets engine messages logged so far.
void ClearEngineMessages();

}  // namespace tool
}  // namespace velpatch

#endif  // VELPATCH_TOOL_COMMANDS_H
