#include "executable_detection.h"

#include <new>

#include "disassembler_elf32_arm.h"
#include "disassembler_elf32_x86.h"
#include "disassembler_elf64_x64.h"
#include "disassembler_macho.h"
#include "disassembler_win32.h"
#include "instruction_program.h"

namespace velpatch {
namespace {

template <class T>
std::unique_ptr<Disassembler> Make(const uint8_t* data, size_t length) {
  return std::unique_ptr<Disassembler>(new (std::nothrow) T(data, length));
}

using Factory = std::unique_ptr<Disassembler> (*)(const uint8_t*, size_t);

const Factory kDetectionOrder[] = {
    Make<DisassemblerWin32X86>, Make<DisassemblerWin32X64>, Make<DisassemblerElf32X86>,
    Make<DisassemblerElf64X64>, Make<DisassemblerElf32ARM>, Make<DisassemblerMacho>,
};

}  // namespace

std::unique_ptr<Disassembler> DetectDisassembler(const uint8_t* data, size_t length,
                                                 PatchStatus* status) {
  for (Factory make : kDetectionOrder) {
    std::unique_ptr<Disassembler> disassembler = make(data, length);
    if (!disassembler) {
      *status = PatchStatus::GeneralError;
      return nullptr;
    }
    if (disassembler->CheckHeader()) {
      *status = PatchStatus::Ok;
      return disassembler;
    }
  }
  *status = PatchStatus::NotRecognized;
  return nullptr;
}

PatchStatus DetectExecutable(const uint8_t* data, size_t length, ExecutableKind* kind,
                             size_t* detected_length) {
  *kind = ExecutableKind::UNKNOWN;
  *detected_length = 0;
  PatchStatus status = PatchStatus::NotRecognized;
  std::unique_ptr<Disassembler> disassembler = DetectDisassembler(data, length, &status);
  if (!disassembler)
    return status;
  *kind = disassembler->kind();
  *detected_length = disassembler->length();
  return PatchStatus::Ok;
}

PatchStatus ParseExecutable(const uint8_t* data, size_t length, InstructionProgram** program) {
  *program = nullptr;
  PatchStatus status = PatchStatus::NotRecognized;
  std::unique_ptr<Disassembler> disassembler = DetectDisassembler(data, length, &status);
  if (!disassembler)
    return status;
  std::unique_ptr<InstructionProgram> result(new (std::nothrow)
                                                 InstructionProgram(disassembler->kind()));
  if (!result)
    return PatchStatus::GeneralError;
  if (!disassembler->EmitProgram(*result))
    return PatchStatus::DisassemblyFailed;
  *program = result.release();
  return PatchStatus::Ok;
}

}  // namespace velpatch
