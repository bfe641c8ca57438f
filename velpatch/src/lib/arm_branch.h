// ARM and Thumb branch compression. A branch instruction is split into a 16-bit operation (the
// bits that do not encode the displacement, tagged with its class) and a relative target, so
// that the target can become a label; decompression rebuilds the instruction for any
// displacement.
//
// Types (class = type + 1):
//   0  Thumb B<c> 16-bit      2 bytes     3  Thumb BL / BLX 32-bit   4 bytes
//   1  Thumb B 16-bit         2 bytes     4  Thumb B<c>.W 32-bit     4 bytes
//   2  ARM B / BL / BLX       4 bytes
// 32-bit Thumb values are (first halfword << 16) | second halfword.
#ifndef VELPATCH_ARM_BRANCH_H
#define VELPATCH_ARM_BRANCH_H

#include <cstdint>

namespace velpatch {

constexpr uint32_t kArmTypeCount = 5;

// Bytes the instruction of a type occupies (2, 2, 4, 4, 4); 0 for an unknown type.
uint32_t ArmTypeSize(uint32_t type);

// Compresses instruction `value` of `type` located at `rva`. Returns false for an unknown type.
bool CompressArmBranch(uint32_t type, uint32_t value, uint32_t rva, uint16_t* op,
                       uint32_t* relative_target);

// Rebuilds the instruction of `op` that reaches `displacement` (target RVA - instruction RVA).
// Returns false when the op's class is not 1 ... 5.
bool DecompressArmBranch(uint16_t op, uint32_t displacement, uint32_t* value);

// Writes a decompressed instruction as it lies in memory: 2 bytes for classes 1 and 2, 4 bytes
// little-endian for class 3, two little-endian halfwords (high half first) for classes 4 and 5.
// Returns the number of bytes written (0 for an unknown class).
uint32_t StoreArmBranch(uint16_t op, uint32_t value, uint8_t out[4]);

}  // namespace velpatch

#endif  // VELPATCH_ARM_BRANCH_H
