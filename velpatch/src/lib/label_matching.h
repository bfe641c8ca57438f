// Label indexes for the new version of an executable that agree with the old version's, so that
// the encoded programs of the two differ little.
#ifndef VELPATCH_LABEL_MATCHING_H
#define VELPATCH_LABEL_MATCHING_H

#include <cstddef>
#include <cstdint>

#include "instruction_program.h"

namespace velpatch {

// `old_program` (with its indexes assigned) was disassembled from `old_element`,
// `new_program` from `new_element`. Gives every new label that corresponds to an old label that
// label's index and the remaining new labels indexes around them (AssignRemainingLabelIndexes).
// False when memory runs out or the elements cannot be aligned; the new program's indexes are
// then all assigned in the default order.
[[nodiscard]] bool MatchLabelIndexes(const InstructionProgram& old_program,
                                     const uint8_t* old_element, size_t old_length,
                                     InstructionProgram& new_program, const uint8_t* new_element,
                                     size_t new_length);

}  // namespace velpatch

#endif  // VELPATCH_LABEL_MATCHING_H
