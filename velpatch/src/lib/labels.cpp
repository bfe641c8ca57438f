#include "labels.h"

#include <string>
#include <vector>

#include "log.h"
#include "nothrow.h"

namespace velpatch {
namespace {

void AssignMap(LabelMap& labels) {
  uint32_t counter = 0;
  for (auto& entry : labels) {
    Label& label = entry.second;
    if (label.index != kUnassignedLabelIndex)
      Log("REACHED UNREACHABLE", LOG_ERROR);
    label.index = counter++;
  }
}

class IndexPool {
 public:
  bool Init(size_t size) {
    return NoThrowAlloc([&] { m_Used.assign(size, false); });
  }
  bool MarkUsed(uint32_t index) {
    return NoThrowAlloc([&] {
      if (m_Used.size() <= index)
        m_Used.resize(size_t(index) + 1, false);
      m_Used[index] = true;
    });
  }
  bool Available(uint32_t index) const { return index < m_Used.size() && !m_Used[index]; }
  size_t size() const { return m_Used.size(); }
  // First available index at or above `from`; extends the pool when none is left.
  bool TakeFirstFrom(uint32_t from, uint32_t* index) {
    size_t i = from;
    while (i < m_Used.size() && m_Used[i])
      ++i;
    if (i >= kUnassignedLabelIndex)
      return false;
    *index = static_cast<uint32_t>(i);
    return MarkUsed(*index);
  }

 private:
  std::vector<bool> m_Used;
};

bool AssignRemainingInMap(LabelMap& labels) {
  IndexPool pool;
  if (!pool.Init(labels.size()))
    return false;
  size_t preassigned = 0;
  for (const auto& entry : labels) {
    if (entry.second.index != kUnassignedLabelIndex) {
      if (!pool.MarkUsed(entry.second.index))
        return false;
      ++preassigned;
    }
  }
  Log(std::to_string(preassigned) + " of " + std::to_string(labels.size()) +
          " labels pre-assigned",
      LOG_DEBUG);

  size_t forward = 0;
  const Label* previous = nullptr;
  for (auto& entry : labels) {
    Label& label = entry.second;
    if (label.index == kUnassignedLabelIndex) {
      // An unassigned previous label wraps to candidate 0, as the index arithmetic is u32.
      const uint32_t candidate = previous != nullptr ? previous->index + 1 : 0;
      if (pool.Available(candidate)) {
        label.index = candidate;
        if (!pool.MarkUsed(candidate))
          return false;
        ++forward;
      }
    }
    previous = &label;
  }

  size_t backward = 0;
  const Label* following = nullptr;
  for (auto it = labels.rbegin(); it != labels.rend(); ++it) {
    Label& label = it->second;
    if (label.index == kUnassignedLabelIndex) {
      bool has_candidate = true;
      uint32_t candidate = static_cast<uint32_t>(pool.size() - 1);
      if (following != nullptr) {
        has_candidate = following->index != kUnassignedLabelIndex && following->index != 0;
        candidate = following->index - 1;
      }
      if (has_candidate && pool.Available(candidate)) {
        label.index = candidate;
        if (!pool.MarkUsed(candidate))
          return false;
        ++backward;
      }
    }
    following = &label;
  }

  size_t infill = 0;
  uint32_t bound = 0;
  for (auto& entry : labels) {
    Label& label = entry.second;
    if (label.index != kUnassignedLabelIndex)
      continue;
    uint32_t index = 0;
    if (!pool.TakeFirstFrom(bound, &index))
      return false;
    label.index = index;
    bound = index + 1;
    ++infill;
  }
  Log("  fill forward " + std::to_string(forward) + "  backward " + std::to_string(backward) +
          "  infill " + std::to_string(infill),
      LOG_DEBUG);
  return true;
}

}  // namespace

void AssignLabelIndexes(InstructionProgram& program) {
  AssignMap(program.abs32_labels());
  AssignMap(program.rel32_labels());
}

bool TrimLabels(InstructionProgram& program) {
  if (program.kind() != ExecutableKind::ELF_32_ARM)
    return true;
  Log("TrimLabels: threshold " + std::to_string(kArmLabelTrimThreshold), LOG_DEBUG);
  // Turn the branches back into bytes first: they hold pointers to the labels removed below.
  for (Instruction& insn : program.instructions()) {
    if (insn.kind != InstructionKind::Rel32Arm || insn.label->count > kArmLabelTrimThreshold)
      continue;
    if (insn.value == 0)
      return false;
    insn.kind = InstructionKind::Bytes;
    insn.label = nullptr;
    insn.arm_op = 0;
  }
  LabelMap& labels = program.rel32_labels();
  for (auto it = labels.begin(); it != labels.end();) {
    if (it->second.count <= kArmLabelTrimThreshold)
      it = labels.erase(it);
    else
      ++it;
  }
  return true;
}

void UnassignLabelIndexes(InstructionProgram& program) {
  for (auto& entry : program.abs32_labels())
    entry.second.index = kUnassignedLabelIndex;
  for (auto& entry : program.rel32_labels())
    entry.second.index = kUnassignedLabelIndex;
}

bool AssignRemainingLabelIndexes(InstructionProgram& program) {
  return AssignRemainingInMap(program.abs32_labels()) &&
         AssignRemainingInMap(program.rel32_labels());
}

Label* Abs32LabelOf(const Instruction& instruction) {
  return instruction.kind == InstructionKind::Abs32 ? instruction.label : nullptr;
}

Label* Rel32LabelOf(const Instruction& instruction) {
  const bool rel = instruction.kind == InstructionKind::Rel32 ||
                   instruction.kind == InstructionKind::Rel32Arm;
  return rel ? instruction.label : nullptr;
}

}  // namespace velpatch
