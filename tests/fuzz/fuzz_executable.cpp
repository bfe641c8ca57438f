// Input: any bytes, offered as an executable. Detection, disassembly, trimming, encoding,
// serialization and assembly must either fail cleanly or succeed without reading outside the
// input. A recognized image's detected length never exceeds the input, and re-completing a
// partial label assignment always yields distinct indexes that encode and assemble.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>

#include "encoded_program.h"
#include "executable_detection.h"
#include "executable_roundtrip.h"
#include "instruction_program.h"
#include "labels.h"
#include "streams.h"

namespace {

void CheckDistinct(const velpatch::LabelMap& labels) {
  std::set<uint32_t> seen;
  for (const auto& entry : labels) {
    if (entry.second.index == velpatch::kUnassignedLabelIndex) std::abort();
    if (!seen.insert(entry.second.index).second) std::abort();
  }
}

void ReassignHalf(const uint8_t* data, size_t size) {
  velpatch::InstructionProgram* raw = nullptr;
  if (velpatch::ParseExecutable(data, size, &raw) != velpatch::PatchStatus::Ok) return;
  std::unique_ptr<velpatch::InstructionProgram> program(raw);
  // Keep every other index, as a matched new program would.
  for (velpatch::LabelMap* labels : {&program->abs32_labels(), &program->rel32_labels()}) {
    bool keep = false;
    for (auto& entry : *labels) {
      if (!keep) entry.second.index = velpatch::kUnassignedLabelIndex;
      keep = !keep;
    }
  }
  if (!velpatch::AssignRemainingLabelIndexes(*program)) std::abort();
  CheckDistinct(program->abs32_labels());
  CheckDistinct(program->rel32_labels());
  velpatch::EncodedProgram* encoded = nullptr;
  if (velpatch::EncodeProgram(*program, &encoded) != velpatch::PatchStatus::Ok) std::abort();
  std::unique_ptr<velpatch::EncodedProgram> owned(encoded);
  velpatch::ByteSink out;
  (void)velpatch::Assemble(*owned, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velpatch::RoundTripResult result;
  velpatch::RoundTripExecutable(data, size, &result);
  if (result.status == velpatch::PatchStatus::Ok) {
    if (result.detected_length > size) std::abort();
    ReassignHalf(data, size);
  } else if (result.failed_stage[0] == '\0') {
    std::abort();  // every failure names its stage
  }
  return 0;
}
