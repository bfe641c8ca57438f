// The encoded program: an instruction program flattened into tables of numbers in which every
// address has been replaced by a label index. This is what patches carry and correct; assembly
// turns it back into the executable's bytes, relocation table included.
#ifndef VELPATCH_ENCODED_PROGRAM_H
#define VELPATCH_ENCODED_PROGRAM_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "executable_kind.h"
#include "patch_status.h"

namespace velpatch {

class ByteSink;
class ByteSinkSet;
class ByteSourceSet;
class InstructionProgram;

// Opcodes of the ops table. Values 0x1000 ... 0x5FFF are ARM branches: the op is the compressed
// ARM operation itself, its class in bits 12 ... 15.
enum Op : uint32_t {
  OpOrigin = 0,
  OpCopy = 1,
  OpCopy1 = 2,
  OpRel32 = 3,
  OpAbs32 = 4,
  OpMakePeRelocs = 5,
  OpMakeElfRelocs = 6,
  OpMakeElfArmRelocs = 7,
  OpMakePe64Relocs = 8,
  OpRel32ArmFirst = 0x1000,
  OpRel32ArmLast = 0x5FFF,
};

// The tables are public: serialization fills them directly and tests inspect them. The builders
// return false only when memory runs out.
class EncodedProgram {
 public:
  EncodedProgram() = default;
  EncodedProgram(const EncodedProgram&) = delete;
  EncodedProgram& operator=(const EncodedProgram&) = delete;
  EncodedProgram(EncodedProgram&&) = default;
  EncodedProgram& operator=(EncodedProgram&&) = default;

  [[nodiscard]] bool AppendOrigin(uint32_t rva);
  // Merges with a preceding OpCopy/OpCopy1 into one run.
  [[nodiscard]] bool AppendCopy(size_t n, const uint8_t* bytes);
  [[nodiscard]] bool AppendRel32(uint32_t index);
  [[nodiscard]] bool AppendAbs32(uint32_t index);
  [[nodiscard]] bool AppendRel32Arm(uint16_t op, uint32_t index);
  // OpMakePeRelocs for WIN_32_X86 programs, OpMakePe64Relocs for every other kind.
  [[nodiscard]] bool AppendPeRelocsOp(ExecutableKind kind);
  [[nodiscard]] bool AppendElfRelocsOp();
  [[nodiscard]] bool AppendElfArmRelocsOp();
  // table[index] = rva, growing the table with 0xFFFFFFFF entries. Fails for the unassigned
  // index 0xFFFFFFFF.
  [[nodiscard]] bool SetRel32Target(uint32_t index, uint32_t rva);
  [[nodiscard]] bool SetAbs32Target(uint32_t index, uint32_t rva);
  // Gives every undefined entry (0xFFFFFFFF) the value of the entry before it (the first 0), so
  // that unused indexes cost nothing after delta coding.
  void FinishTargetTables();

  uint64_t image_base = 0;  // only the low 32 bits are serialized and used in assembly
  std::vector<uint32_t> rel32_rvas;
  std::vector<uint32_t> abs32_rvas;
  std::vector<uint32_t> ops;
  std::vector<uint32_t> origins;
  std::vector<uint32_t> copy_counts;
  std::vector<uint8_t> copy_bytes;
  std::vector<uint32_t> rel32_indexes;
  std::vector<uint32_t> abs32_indexes;
};

// Encodes a program whose labels all have indexes. Ok, or GeneralError when memory runs out or a
// referenced label has no index (*out stays null). The caller owns *out.
[[nodiscard]] PatchStatus EncodeProgram(const InstructionProgram& program, EncodedProgram** out);

// Writes the program into streams 0 ... 7 of `streams`. Ok or StreamError.
[[nodiscard]] PatchStatus SerializeEncodedProgram(const EncodedProgram& program,
                                                  ByteSinkSet& streams);

// Reads a program written by SerializeEncodedProgram; streams 0 ... 8 must be consumed exactly.
// Ok or ProgramReadFailed (*out stays null). The caller owns *out.
[[nodiscard]] PatchStatus DeserializeEncodedProgram(ByteSourceSet& streams,
                                                    EncodedProgram** out);

// Appends the executable's bytes to `out`. Ok or AssemblyFailed; on failure `out` holds whatever
// was written so far and the caller discards it.
[[nodiscard]] PatchStatus Assemble(const EncodedProgram& program, ByteSink& out);

}  // namespace velpatch

#endif  // VELPATCH_ENCODED_PROGRAM_H
