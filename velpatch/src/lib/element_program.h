// The steps that turn an executable region into its encoded program, shared by the container
// writer, the transformation patcher and the patch generator, so that all of them produce
// exactly the same programs.
#ifndef VELPATCH_ELEMENT_PROGRAM_H
#define VELPATCH_ELEMENT_PROGRAM_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "encoded_program.h"
#include "instruction_program.h"
#include "patch_status.h"

namespace velpatch {

class ByteSinkSet;

// Detects and disassembles the region, then trims its labels. Ok; NotRecognized or
// DisassemblyFailed (disassembly), TrimFailed, or GeneralError (out of memory). The program
// points into `data`.
[[nodiscard]] PatchStatus DisassembleElement(const uint8_t* data, size_t length,
                                             std::unique_ptr<InstructionProgram>* program);

// Encodes the program (GeneralError) and writes it into `streams` (StreamError). When `encoded`
// is given it receives the encoded program.
[[nodiscard]] PatchStatus EncodeElement(const InstructionProgram& program, ByteSinkSet& streams,
                                        std::unique_ptr<EncodedProgram>* encoded = nullptr);

}  // namespace velpatch

#endif  // VELPATCH_ELEMENT_PROGRAM_H
