// Detection (which disassembler takes a region of bytes) and parsing of a region into an
// instruction program.
#ifndef VELPATCH_EXECUTABLE_DETECTION_H
#define VELPATCH_EXECUTABLE_DETECTION_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "disassembler.h"
#include "executable_kind.h"
#include "patch_status.h"

namespace velpatch {

class InstructionProgram;

// Offers the region to the disassemblers in a fixed order (PE x86, PE x64, ELF x86, ELF x86-64,
// ELF ARM, Mach-O) and returns the first whose header check passes, or null. GeneralError in
// *status when memory runs out, otherwise Ok or NotRecognized.
std::unique_ptr<Disassembler> DetectDisassembler(const uint8_t* data, size_t length,
                                                 PatchStatus* status);

// Ok with the kind and the image length; NotRecognized with UNKNOWN and 0.
[[nodiscard]] PatchStatus DetectExecutable(const uint8_t* data, size_t length,
                                           ExecutableKind* kind, size_t* detected_length);

// Detects and disassembles the region. Ok with *program owned by the caller; NotRecognized,
// DisassemblyFailed or GeneralError (out of memory) with *program null. The program points into
// `data`, which must outlive it.
[[nodiscard]] PatchStatus ParseExecutable(const uint8_t* data, size_t length,
                                          InstructionProgram** program);

}  // namespace velpatch

#endif  // VELPATCH_EXECUTABLE_DETECTION_H
