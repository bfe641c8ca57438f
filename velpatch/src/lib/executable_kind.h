// The kinds of executable the engine can disassemble. The values travel in patches as the
// transformation kind; the names appear in log lines.
#ifndef VELPATCH_EXECUTABLE_KIND_H
#define VELPATCH_EXECUTABLE_KIND_H

#include <cstdint>

namespace velpatch {

enum class ExecutableKind : uint32_t {
  UNKNOWN = 0,
  WIN_32_X86 = 1,
  EXE_ELF_32_X86 = 2,
  ELF_32_ARM = 3,
  WIN_32_X64 = 4,
  ELF_64_X64 = 5,
  MACHO_X86 = 6,
  MACHO_X64 = 7,
};

// "WIN_32_X86", ..., "MACHO_X64"; "UNKNOWN" for any other value.
const char* ExecutableKindName(ExecutableKind kind);

}  // namespace velpatch

#endif  // VELPATCH_EXECUTABLE_KIND_H
