// Runs an executable through the whole transformation path that patches rely on (detect,
// disassemble, trim labels, encode, serialize, deserialize, assemble) and compares the result
// with the original bytes. Used by the command-line tool, tests and the fuzzer.
#ifndef VELPATCH_EXECUTABLE_ROUNDTRIP_H
#define VELPATCH_EXECUTABLE_ROUNDTRIP_H

#include <cstddef>
#include <cstdint>

#include "executable_kind.h"
#include "patch_status.h"
#include "streams.h"

namespace velpatch {

struct RoundTripResult {
  PatchStatus status = PatchStatus::NotRecognized;
  const char* failed_stage = "";  // "detect", "disassemble", ... when status is not Ok
  ExecutableKind kind = ExecutableKind::UNKNOWN;
  size_t detected_length = 0;
  ByteSink assembled;
  // Against the first detected_length bytes of the input; valid when status is Ok.
  size_t differing_bytes = 0;          // over the common length
  int64_t length_difference = 0;       // assembled length - detected length
  bool identical() const { return differing_bytes == 0 && length_difference == 0; }
};

void RoundTripExecutable(const uint8_t* data, size_t length, RoundTripResult* result);

}  // namespace velpatch

#endif  // VELPATCH_EXECUTABLE_ROUNDTRIP_H
