// The instruction program: an executable's bytes in file order, where every recognised address
// reference has been replaced by a reference to a label. Disassemblers produce it; encoding
// (encoded_program.h) turns it into flat tables.
#ifndef VELPATCH_INSTRUCTION_PROGRAM_H
#define VELPATCH_INSTRUCTION_PROGRAM_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "executable_kind.h"

namespace velpatch {

constexpr uint32_t kUnassignedLabelIndex = 0xFFFFFFFF;

// A target address. `count` is the number of instructions that refer to it.
struct Label {
  uint32_t rva = 0;
  uint32_t index = kUnassignedLabelIndex;
  int32_t count = 0;
};

// Labels by RVA. Map nodes never move, so instructions can hold Label pointers.
using LabelMap = std::map<uint32_t, Label>;

enum class InstructionKind : uint8_t {
  Origin = 0,        // the following bytes are placed at `value` (an RVA)
  PeRelocs = 1,      // the PE base relocation table stands here
  ElfRelocs = 2,     // the ELF relocation table stands here
  Byte = 3,          // one byte, `byte`
  Rel32 = 4,         // 32-bit relative reference to `label`
  Abs32 = 5,         // 32-bit absolute address of `label`
  Rel32Arm = 6,      // ARM branch to `label`, compressed as `arm_op`, `value` bytes at `bytes`
  ElfArmRelocs = 7,  // the ELF ARM relocation table stands here
  Bytes = 8,         // `value` bytes at `bytes` (pointing into the executable)
};

// One instruction. Plain value type: a byte run costs no allocation of its own.
struct Instruction {
  InstructionKind kind = InstructionKind::Byte;
  uint8_t byte = 0;
  uint16_t arm_op = 0;
  uint32_t value = 0;
  const uint8_t* bytes = nullptr;
  Label* label = nullptr;
};

// Owned by the caller of the disassembler. The byte instructions point into the executable's
// bytes, which must outlive the program. Emitters return false only when memory runs out.
class InstructionProgram {
 public:
  explicit InstructionProgram(ExecutableKind kind) : m_Kind(kind) {}
  InstructionProgram(const InstructionProgram&) = delete;
  InstructionProgram& operator=(const InstructionProgram&) = delete;

  ExecutableKind kind() const { return m_Kind; }
  uint64_t image_base() const { return m_ImageBase; }
  void set_image_base(uint64_t base) { m_ImageBase = base; }

  std::vector<Instruction>& instructions() { return m_Instructions; }
  const std::vector<Instruction>& instructions() const { return m_Instructions; }
  LabelMap& abs32_labels() { return m_Abs32Labels; }
  const LabelMap& abs32_labels() const { return m_Abs32Labels; }
  LabelMap& rel32_labels() { return m_Rel32Labels; }
  const LabelMap& rel32_labels() const { return m_Rel32Labels; }

  // Room for n more instructions (an estimate the disassembler can make up front).
  [[nodiscard]] bool Reserve(size_t n);

  [[nodiscard]] bool EmitOrigin(uint32_t rva);
  [[nodiscard]] bool EmitPeRelocs();
  [[nodiscard]] bool EmitElfRelocs();
  [[nodiscard]] bool EmitElfArmRelocs();
  [[nodiscard]] bool EmitByte(uint8_t byte);
  // A run of bytes; extends the previous Bytes instruction when the run continues it in memory.
  [[nodiscard]] bool EmitBytes(const uint8_t* bytes, size_t length);
  // The reference instructions find or make the label of `target_rva` and count the use.
  [[nodiscard]] bool EmitRel32(uint32_t target_rva);
  [[nodiscard]] bool EmitAbs32(uint32_t target_rva);
  [[nodiscard]] bool EmitRel32Arm(uint16_t arm_op, const uint8_t* instruction, uint32_t op_size,
                                  uint32_t target_rva);

 private:
  bool Append(const Instruction& instruction);
  static Label* FindOrMakeLabel(LabelMap& labels, uint32_t rva);

  ExecutableKind m_Kind;
  uint64_t m_ImageBase = 0;
  std::vector<Instruction> m_Instructions;
  LabelMap m_Abs32Labels;
  LabelMap m_Rel32Labels;
};

}  // namespace velpatch

#endif  // VELPATCH_INSTRUCTION_PROGRAM_H
