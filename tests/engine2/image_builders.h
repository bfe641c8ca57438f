// Small synthetic executables for the disassembler tests. Each builder lays out a minimal valid
// image whose fields tests can then break one at a time.
#ifndef VELPATCH_TESTS_ENGINE2_IMAGE_BUILDERS_H
#define VELPATCH_TESTS_ENGINE2_IMAGE_BUILDERS_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace velpatch {
namespace testing_images {

class Image {
 public:
  std::vector<uint8_t> bytes;

  void Put16(size_t at, uint32_t v) { Grow(at + 2); for (int i = 0; i < 2; ++i) bytes[at + i] = uint8_t(v >> (8 * i)); }
  void Put32(size_t at, uint32_t v) { Grow(at + 4); for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(v >> (8 * i)); }
  void Put64(size_t at, uint64_t v) { Put32(at, uint32_t(v)); Put32(at + 4, uint32_t(v >> 32)); }
  void PutBytes(size_t at, const std::vector<uint8_t>& v) { Grow(at + v.size()); std::memcpy(&bytes[at], v.data(), v.size()); }
  void Grow(size_t n) { if (bytes.size() < n) bytes.resize(n, 0); }
};

// ELF with one PT_LOAD covering the file at address 0, sections: null, .text (0x100, 0x80 bytes
// of code), .data (0x200, 0x40 bytes), a REL section (0x240, 0x40 bytes, empty unless filled),
// .shstrtab (0x280); section headers at 0x300. `wide` selects ELF64.
struct ElfImage : Image {
  static constexpr size_t kText = 0x100, kData = 0x200, kRel = 0x240, kStrtab = 0x280,
                          kSectionTable = 0x300;
  bool wide;
  size_t section_size() const { return wide ? 64 : 40; }
  size_t section_at(size_t index) const { return kSectionTable + index * section_size(); }

  ElfImage(bool is64, uint16_t machine) : wide(is64) {
    Grow(kSectionTable + 5 * section_size());
    PutBytes(0, {0x7F, 'E', 'L', 'F', uint8_t(wide ? 2 : 1), 1, 1});
    Put16(16, 3);  // shared object
    Put16(18, machine);
    Put32(20, 1);
    if (wide) {
      Put64(32, 64);            // e_phoff
      Put64(40, kSectionTable); // e_shoff
      Put16(54, 56); Put16(56, 1); Put16(58, 64); Put16(60, 5); Put16(62, 4);
      Put32(64, 1); Put64(64 + 8, 0); Put64(64 + 16, 0);
      Put64(64 + 32, bytes.size()); Put64(64 + 40, bytes.size());
    } else {
      Put32(28, 52); Put32(32, kSectionTable);
      Put16(42, 32); Put16(44, 1); Put16(46, 40); Put16(48, 5); Put16(50, 4);
      Put32(52, 1); Put32(52 + 4, 0); Put32(52 + 8, 0);
      Put32(52 + 16, uint32_t(bytes.size())); Put32(52 + 20, uint32_t(bytes.size()));
    }
    PutBytes(kStrtab, {0, '.', 't', 'e', 'x', 't', 0, '.', 'd', 'a', 't', 'a', 0, '.', 'r', 'e',
                       'l', 0, '.', 's', 'h', 's', 't', 'r', 't', 'a', 'b', 0});
    SetSection(1, 1, 1, kText, 0x80, 0);
    SetSection(2, 7, 1, kData, 0x40, 0);
    SetSection(3, 13, 9, kRel, 0x40, wide ? 16 : 8);
    SetSection(4, 18, 3, kStrtab, 0x80, 0);
    for (size_t i = kText; i < kText + 0x80; ++i) bytes[i] = 0x90;  // nop
    // Zero relocation entries would be read as (0, 0) entries: keep them neutral.
  }

  void SetSection(size_t index, uint32_t name, uint32_t type, uint64_t offset, uint64_t size,
                  uint64_t entsize) {
    const size_t at = section_at(index);
    Put32(at, name);
    Put32(at + 4, type);
    if (wide) {
      Put64(at + 8, type == 1 ? 2 : 0);
      Put64(at + 16, offset); Put64(at + 24, offset); Put64(at + 32, size); Put64(at + 56, entsize);
    } else {
      Put32(at + 8, type == 1 ? 2 : 0);
      Put32(at + 12, uint32_t(offset)); Put32(at + 16, uint32_t(offset));
      Put32(at + 20, uint32_t(size)); Put32(at + 36, uint32_t(entsize));
    }
  }
  // A 32-bit REL entry (ELF32 only).
  void PutRel(size_t index, uint32_t offset, uint32_t info) {
    Put32(kRel + 8 * index, offset);
    Put32(kRel + 8 * index + 4, info);
  }
  void SetRelCount(size_t count) {
    const size_t at = section_at(3);
    if (wide) Put64(at + 32, count * 16); else Put32(at + 20, uint32_t(count * 8));
  }
};

// PE image: headers, .text (raw 0x200, VA 0x1000, 0x200 bytes), .reloc (raw 0x400, VA 0x2000).
// The base relocation directory holds one block for page 0x1000 with the entries given.
struct PeImage : Image {
  static constexpr size_t kPe = 0x80, kOptional = kPe + 24, kText = 0x200, kReloc = 0x400;
  static constexpr uint32_t kTextRva = 0x1000, kRelocRva = 0x2000;
  bool plus;
  uint64_t image_base;
  size_t directories() const { return kOptional + (plus ? 112 : 96); }
  size_t section_table() const { return kOptional + (plus ? 240 : 224); }

  PeImage(bool pe32_plus, const std::vector<uint16_t>& relocs)
      : plus(pe32_plus), image_base(pe32_plus ? 0x140000000ULL : 0x400000) {
    Grow(0x600);
    bytes[0] = 'M'; bytes[1] = 'Z';
    Put32(60, kPe);
    PutBytes(kPe, {'P', 'E', 0, 0});
    Put16(kPe + 4, plus ? 0x8664 : 0x14C);
    Put16(kPe + 6, 2);
    Put16(kPe + 20, plus ? 240 : 224);
    Put16(kOptional, plus ? 0x20B : 0x10B);
    if (plus) Put64(kOptional + 24, image_base); else Put32(kOptional + 28, uint32_t(image_base));
    Put32(kOptional + 56, 0x3000);  // size of image
    Put32(directories() - 4, 16);
    SetSection(0, ".text", 0x200, kTextRva, 0x200, kText);
    SetSection(1, ".reloc", 0x200, kRelocRva, 0x200, kReloc);
    for (size_t i = kText; i < kText + 0x200; ++i) bytes[i] = 0xCC;
    const uint32_t block_size = uint32_t(8 + 2 * relocs.size());
    Put32(kReloc, kTextRva);
    Put32(kReloc + 4, block_size);
    for (size_t i = 0; i < relocs.size(); ++i) Put16(kReloc + 8 + 2 * i, relocs[i]);
    SetDirectory(5, kRelocRva, block_size);
  }
  void SetSection(size_t i, const char* name, uint32_t vsize, uint32_t va, uint32_t raw_size,
                  uint32_t raw_offset) {
    const size_t at = section_table() + 40 * i;
    std::vector<uint8_t> n(8, 0);
    std::memcpy(n.data(), name, std::strlen(name));
    PutBytes(at, n);
    Put32(at + 8, vsize); Put32(at + 12, va); Put32(at + 16, raw_size); Put32(at + 20, raw_offset);
  }
  void SetDirectory(size_t index, uint32_t rva, uint32_t size) {
    Put32(directories() + 8 * index, rva);
    Put32(directories() + 8 * index + 4, size);
  }
};

}  // namespace testing_images
}  // namespace velpatch

#endif  // VELPATCH_TESTS_ENGINE2_IMAGE_BUILDERS_H
