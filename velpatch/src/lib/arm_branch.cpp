#include "arm_branch.h"

namespace velpatch {
namespace {

// Sign-extends `value` whose sign bit is `bit`.
uint32_t SignExtend(uint32_t value, unsigned bit) {
  const uint32_t sign = 1u << bit;
  value &= (sign << 1) - 1;
  return (value ^ sign) - sign;
}

uint32_t Bit(uint32_t value, unsigned bit) { return (value >> bit) & 1; }

void CompressThumbBl(uint32_t v, uint32_t rva, uint16_t* op, uint32_t* target) {
  const uint32_t s = Bit(v, 26);
  const uint32_t j1 = Bit(v, 13);
  const uint32_t j2 = Bit(v, 11);
  uint32_t x = ((v >> 4) & 0x3FF000) + ((v & 0x7FF) << 1);
  x |= s << 24;
  x |= (s ^ j1) << 23;
  x |= (s ^ j2) << 22;
  x ^= 0xC00000;
  if (s)
    x -= 0x2000000;
  // BLX (bit 12 clear, bit 14 set) counts from the word-aligned PC.
  uint32_t step = 4;
  if (Bit(v, 12) == 0 && Bit(v, 14) == 1)
    step = (rva % 4 == 0) ? 4 : 2;
  *target = x + step;
  *op = static_cast<uint16_t>((step << 8) | (Bit(v, 15) << 2) | (Bit(v, 14) << 1) | Bit(v, 12));
  *op = static_cast<uint16_t>((*op + (v >> 27) * 8) | 0x4000);
}

void CompressThumbBcondWide(uint32_t v, uint16_t* op, uint32_t* target) {
  uint32_t x = ((v >> 4) & 0x3F000) + ((v & 0x7FF) << 1);
  x |= (v << 6) & 0x80000;
  x |= (v >> 6) & 0x100000;
  x += (v << 7) & 0x40000;
  if (Bit(v, 26))
    x -= 0x200000;
  *target = x + 4;
  *op = static_cast<uint16_t>(((v >> 22) & 0xF) | 0x5000);
}

}  // namespace

uint32_t ArmTypeSize(uint32_t type) {
  static const uint32_t kSizes[kArmTypeCount] = {2, 2, 4, 4, 4};
  return type < kArmTypeCount ? kSizes[type] : 0;
}

bool CompressArmBranch(uint32_t type, uint32_t v, uint32_t rva, uint16_t* op,
                       uint32_t* relative_target) {
  switch (type) {
    case 0:
      *relative_target = SignExtend((v & 0xFF) << 1, 8) + 4;
      *op = static_cast<uint16_t>(((v >> 8) | 0x1000) & 0xFFFF);
      return true;
    case 1:
      *relative_target = SignExtend((v & 0x7FF) << 1, 11) + 4;
      *op = static_cast<uint16_t>(((v >> 11) | 0x2000) & 0xFFFF);
      return true;
    case 2:
      *relative_target = SignExtend((v & 0xFFFFFF) << 2, 25) + 8;
      *op = static_cast<uint16_t>(((v >> 24) | 0x3000) & 0xFFFF);
      return true;
    case 3:
      CompressThumbBl(v, rva, op, relative_target);
      return true;
    case 4:
      CompressThumbBcondWide(v, op, relative_target);
      return true;
  }
  return false;
}

bool DecompressArmBranch(uint16_t op, uint32_t d, uint32_t* value) {
  const uint32_t c = op;
  switch (c >> 12) {
    case 1:
      *value = ((c & 0xFFF) << 8) | (((d + 0x1FC) >> 1) & 0xFF);
      return true;
    case 2:
      *value = ((c & 0xFFF) << 11) | (((d + 0xFFC) >> 1) & 0x7FF);
      return true;
    case 3:
      *value = (c << 24) | (((d + 0x3FFFFF8) >> 2) & 0xFFFFFF);
      return true;
    case 4: {
      const uint32_t e = d - ((c >> 8) & 0xF);
      uint32_t v = ((c & 0xFFF8) << 24) | ((c & 6) << 13) | ((c & 1) << 12);
      v |= (e >> 1) & 0x7FF;
      v |= (e << 4) & 0x3FF0000;
      v |= (e & 0x1000000) << 2;
      v |= (((e >> 22) ^ (e >> 24)) & 1) << 11;
      v |= (((e >> 23) ^ (e >> 24)) & 1) << 13;
      *value = v ^ 0x2800;
      return true;
    }
    case 5: {
      const uint32_t f = d + 0x1FFFFC;
      uint32_t v = (c & 0xF) << 22;
      v |= (f << 6) & 0x4000000;
      v |= (f >> 7) & 0x800;
      v |= (f >> 6) & 0x2000;
      v |= (f >> 1) & 0x7FF;
      v |= (f << 4) & 0x3F0000;
      *value = v | 0xF0008000;
      return true;
    }
  }
  return false;
}

uint32_t StoreArmBranch(uint16_t op, uint32_t value, uint8_t out[4]) {
  switch (op >> 12) {
    case 1:
    case 2:
      out[0] = static_cast<uint8_t>(value);
      out[1] = static_cast<uint8_t>(value >> 8);
      return 2;
    case 3:
      for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
      return 4;
    case 4:
    case 5:
      out[0] = static_cast<uint8_t>(value >> 16);
      out[1] = static_cast<uint8_t>(value >> 24);
      out[2] = static_cast<uint8_t>(value);
      out[3] = static_cast<uint8_t>(value >> 8);
      return 4;
  }
  return 0;
}

}  // namespace velpatch
