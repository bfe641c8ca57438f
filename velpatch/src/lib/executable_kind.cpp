#include "executable_kind.h"

namespace velpatch {

const char* ExecutableKindName(ExecutableKind kind) {
  switch (kind) {
    case ExecutableKind::WIN_32_X86: return "WIN_32_X86";
    case ExecutableKind::EXE_ELF_32_X86: return "EXE_ELF_32_X86";
    case ExecutableKind::ELF_32_ARM: return "ELF_32_ARM";
    case ExecutableKind::WIN_32_X64: return "WIN_32_X64";
    case ExecutableKind::ELF_64_X64: return "ELF_64_X64";
    case ExecutableKind::MACHO_X86: return "MACHO_X86";
    case ExecutableKind::MACHO_X64: return "MACHO_X64";
    case ExecutableKind::UNKNOWN: break;
  }
  return "UNKNOWN";
}

}  // namespace velpatch
