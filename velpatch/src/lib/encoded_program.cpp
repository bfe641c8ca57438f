#include "encoded_program.h"

#include "nothrow.h"

namespace velpatch {
namespace {

// First growth reserves a useful minimum; later growth is the vector's geometric growth.
template <class T>
bool Push(std::vector<T>& table, T value, size_t first_reserve = 64) {
  return NoThrowAlloc([&] {
    if (table.capacity() == 0)
      table.reserve(first_reserve);
    table.push_back(value);
  });
}

bool SetTarget(std::vector<uint32_t>& table, uint32_t index, uint32_t rva) {
  if (index == 0xFFFFFFFF)
    return false;
  return NoThrowAlloc([&] {
    if (table.size() <= index)
      table.resize(size_t(index) + 1, 0xFFFFFFFF);
    table[index] = rva;
  });
}

void FillUndefined(std::vector<uint32_t>& table) {
  uint32_t previous = 0;
  for (uint32_t& entry : table) {
    if (entry == 0xFFFFFFFF)
      entry = previous;
    previous = entry;
  }
}

}  // namespace

bool EncodedProgram::AppendOrigin(uint32_t rva) {
  return Push(ops, uint32_t(OpOrigin)) && Push(origins, rva);
}

bool EncodedProgram::AppendCopy(size_t n, const uint8_t* bytes) {
  if (n > 0xFFFFFFFF)
    return false;
  const bool follows_copy1 = !ops.empty() && ops.back() == OpCopy1;
  if (follows_copy1) {
    ops.back() = OpCopy;
    if (!Push(copy_counts, uint32_t(1)))
      return false;
  }
  if (!ops.empty() && ops.back() == OpCopy && !copy_counts.empty() &&
      copy_counts.back() <= 0xFFFFFFFF - n) {
    copy_counts.back() += static_cast<uint32_t>(n);
  } else if (n == 1) {
    if (!Push(ops, uint32_t(OpCopy1)))
      return false;
  } else {
    if (!Push(ops, uint32_t(OpCopy)) || !Push(copy_counts, static_cast<uint32_t>(n)))
      return false;
  }
  return NoThrowAlloc([&] {
    if (copy_bytes.capacity() == 0)
      copy_bytes.reserve(256);
    copy_bytes.insert(copy_bytes.end(), bytes, bytes + n);
  });
}

bool EncodedProgram::AppendRel32(uint32_t index) {
  return Push(ops, uint32_t(OpRel32)) && Push(rel32_indexes, index);
}

bool EncodedProgram::AppendAbs32(uint32_t index) {
  return Push(ops, uint32_t(OpAbs32)) && Push(abs32_indexes, index);
}

bool EncodedProgram::AppendRel32Arm(uint16_t op, uint32_t index) {
  if (op < OpRel32ArmFirst || op > OpRel32ArmLast)
    return false;
  return Push(ops, uint32_t(op)) && Push(rel32_indexes, index);
}

bool EncodedProgram::AppendPeRelocsOp(ExecutableKind kind) {
  const uint32_t op = kind == ExecutableKind::WIN_32_X86 ? OpMakePeRelocs : OpMakePe64Relocs;
  return Push(ops, op);
}

bool EncodedProgram::AppendElfRelocsOp() { return Push(ops, uint32_t(OpMakeElfRelocs)); }

bool EncodedProgram::AppendElfArmRelocsOp() { return Push(ops, uint32_t(OpMakeElfArmRelocs)); }

bool EncodedProgram::SetRel32Target(uint32_t index, uint32_t rva) {
  return SetTarget(rel32_rvas, index, rva);
}

bool EncodedProgram::SetAbs32Target(uint32_t index, uint32_t rva) {
  return SetTarget(abs32_rvas, index, rva);
}

void EncodedProgram::FinishTargetTables() {
  FillUndefined(rel32_rvas);
  FillUndefined(abs32_rvas);
}

}  // namespace velpatch
