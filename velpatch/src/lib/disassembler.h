// Base of the executable disassemblers. A disassembler is made over a region of bytes it does
// not own; CheckHeader() decides whether the region is its kind of executable (and trims the
// length to the image's end), EmitProgram() turns it into an instruction program.
#ifndef VELPATCH_DISASSEMBLER_H
#define VELPATCH_DISASSEMBLER_H

#include <cstddef>
#include <cstdint>

#include "executable_kind.h"

namespace velpatch {

class InstructionProgram;

class Disassembler {
 public:
  Disassembler(const uint8_t* start, size_t length)
      : m_Length(length), m_Start(start), m_End(start + length) {}
  virtual ~Disassembler() = default;
  Disassembler(const Disassembler&) = delete;
  Disassembler& operator=(const Disassembler&) = delete;

  virtual ExecutableKind kind() const = 0;
  // Checks the headers; on failure records a reason. Never reads outside the region.
  [[nodiscard]] virtual bool CheckHeader() = 0;
  // Appends the region's instructions to `program`; fails when the header check did not pass
  // or the contents are inconsistent. Never reads outside the region.
  [[nodiscard]] virtual bool EmitProgram(InstructionProgram& program) = 0;

  // Why the region was not taken; empty once the header check has passed.
  const char* failure_reason() const { return m_FailureReason ? m_FailureReason : ""; }
  // The region's length, reduced by a passed header check to the image's length.
  size_t length() const { return m_Length; }
  const uint8_t* start() const { return m_Start; }
  const uint8_t* end() const { return m_End; }

 protected:
  const uint8_t* OffsetToPointer(size_t offset) const { return m_Start + offset; }
  bool Good() {
    m_FailureReason = nullptr;
    return true;
  }
  bool Bad(const char* reason) {
    m_FailureReason = reason;
    return false;
  }
  bool header_ok() const { return m_FailureReason == nullptr; }
  void ReduceLength(size_t n) {
    if (n < m_Length)
      m_Length = n;
  }

 private:
  const char* m_FailureReason = "uninitialized";  // a static text, or null after Good()
  size_t m_Length;
  const uint8_t* m_Start;
  const uint8_t* m_End;
};

}  // namespace velpatch

#endif  // VELPATCH_DISASSEMBLER_H
