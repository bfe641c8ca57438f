// Subcommands on executables: detection and the disassemble/assemble round trip.
#ifndef VELPATCH_TOOL_PROGRAM_COMMANDS_H
#define VELPATCH_TOOL_PROGRAM_COMMANDS_H

#include "commands.h"

namespace velpatch {
namespace tool {

// velpatch detect FILE: prints "<KIND> <detected length>"; exit 0 when recognized, 1 otherwise.
int RunDetect(const Args& args);
// velpatch roundtrip FILE: prints "identical" or "differs N (...)"; exit 0 when every stage ran,
// 1 naming the failing stage otherwise.
int RunRoundtrip(const Args& args);

}  // namespace tool
}  // namespace velpatch

#endif  // VELPATCH_TOOL_PROGRAM_COMMANDS_H
