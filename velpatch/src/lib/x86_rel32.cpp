#include "x86_rel32.h"

namespace velpatch {

X86Rel32Match MatchX86Rel32(const uint8_t* p, size_t remaining, bool rip_forms) {
  X86Rel32Match match;
  if (remaining >= 5 && (p[0] == 0xE8 || p[0] == 0xE9)) {
    match.form = X86Rel32Form::CallJmp;
    match.displacement_offset = 1;
  }
  if (remaining >= 6 && p[0] == 0x0F && (p[1] & 0xF0) == 0x80 && p[1] != 0x8A && p[1] != 0x8B) {
    match.form = X86Rel32Form::Jcc;
    match.displacement_offset = 2;
  }
  if (!rip_forms)
    return match;
  if (remaining >= 6 && p[0] == 0xFF && (p[1] == 0x15 || p[1] == 0x25)) {
    match.form = X86Rel32Form::IndirectRip;
    match.displacement_offset = 2;
  }
  if (remaining >= 7 && (p[0] == 0x48 || p[0] == 0x49) && (p[1] == 0x8B || p[1] == 0x8D) &&
      (p[2] & 0xC7) == 0x05) {
    match.form = X86Rel32Form::RexMovLea;
    match.displacement_offset = 3;
  }
  return match;
}

}  // namespace velpatch
