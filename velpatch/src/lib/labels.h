// Label index operations. Indexes are what an encoded program stores instead of addresses, so
// the way they are chosen decides how alike the encoded old and new programs are.
#ifndef VELPATCH_LABELS_H
#define VELPATCH_LABELS_H

#include "instruction_program.h"

namespace velpatch {

// References to a rel32 label at or below this count are not worth a label in ARM programs.
constexpr int32_t kArmLabelTrimThreshold = 5;

// Numbers the abs32 labels 0, 1, 2, ... and the rel32 labels 0, 1, 2, ... in RVA order.
void AssignLabelIndexes(InstructionProgram& program);

// ARM programs only: drops rel32 labels with at most kArmLabelTrimThreshold references and turns
// their branches back into plain bytes. Other kinds are left alone. False when a branch
// instruction has no size, or when memory runs out.
[[nodiscard]] bool TrimLabels(InstructionProgram& program);

// Sets every index of both maps to unassigned.
void UnassignLabelIndexes(InstructionProgram& program);

// Completes a partial assignment on both maps: fill forward from assigned neighbours, then
// backward, then give the rest the lowest free indexes in RVA order. False only when memory
// runs out.
[[nodiscard]] bool AssignRemainingLabelIndexes(InstructionProgram& program);

// The label an instruction refers to, or null for kinds without one.
Label* Abs32LabelOf(const Instruction& instruction);
Label* Rel32LabelOf(const Instruction& instruction);

}  // namespace velpatch

#endif  // VELPATCH_LABELS_H
