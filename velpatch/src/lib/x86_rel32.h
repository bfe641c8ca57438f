// Recognises the x86 instructions whose operand is a 32-bit displacement relative to the end of
// the displacement: call/jmp rel32, jcc rel32, and (64-bit forms) jmp/call [rip+disp] and
// mov/lea reg, [rip+disp] with a REX.W prefix.
#ifndef VELPATCH_X86_REL32_H
#define VELPATCH_X86_REL32_H

#include <cstddef>
#include <cstdint>

namespace velpatch {

enum class X86Rel32Form {
  None,
  CallJmp,      // E8 / E9
  Jcc,          // 0F 80 ... 0F 8F except 0F 8A, 0F 8B
  IndirectRip,  // FF 15 / FF 25 (only with rip_forms)
  RexMovLea,    // 48|49 8B|8D modrm with (modrm & C7) == 05 (only with rip_forms)
};

struct X86Rel32Match {
  X86Rel32Form form = X86Rel32Form::None;
  size_t displacement_offset = 0;  // from the instruction start
};

// Looks at the instruction starting at p, with `remaining` bytes from p to the end of the
// scanned range. Reads only within those bytes.
X86Rel32Match MatchX86Rel32(const uint8_t* p, size_t remaining, bool rip_forms);

}  // namespace velpatch

#endif  // VELPATCH_X86_REL32_H
