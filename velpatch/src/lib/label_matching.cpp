// Matching the labels of a new program to those of the old one.
//
// The old and new element bytes are aligned by the copy regions of a binary diff between them;
// a region tolerates differing bytes, such as the displacements that moved code changes. Two
// kinds of evidence then vote for "new label N is old label O":
//  - references: a new reference inside a copy region lies opposite the old bytes at the same
//    place of the region; if an old reference of the same class (rel32 or abs32) starts there,
//    the labels of the two references get one vote;
//  - targets: a new label whose address falls in a copy region lies opposite an old address; if
//    the old program has a label of the same class there, the pair gets one vote.
// Pairs are then taken greedily by descending votes, each new label and each old index at most
// once (ties go to the lower new label, then the lower old index, so that the result does not
// depend on anything but the inputs). The unmatched new labels get indexes around the matched
// ones with AssignRemainingLabelIndexes.
#include "label_matching.h"

#include <algorithm>
#include <vector>

#include "byte_alignment.h"
#include "labels.h"
#include "nothrow.h"

namespace velpatch {
namespace {

enum LabelClass : uint32_t { kAbs32 = 0, kRel32 = 1, kClasses = 2 };

struct Reference {
  size_t offset;
  LabelClass label_class;
  const Label* label;
};

// File bytes [offset, offset + length) are placed at rva.
struct Segment {
  size_t offset;
  uint32_t rva;
  size_t length;
};

struct Layout {
  std::vector<Reference> references;  // ascending offset
  std::vector<Segment> segments;
};

// File offsets of the references and the address of every section, found by following the
// instructions as assembly places them. Instructions that carry a pointer into the element fix
// the position exactly; after a relocation table (whose bytes have no instructions) the position
// is known again at the next such instruction.
void Walk(const InstructionProgram& program, const uint8_t* base, size_t length, Layout* layout) {
  size_t cursor = 0;
  bool open = false;
  Segment segment{0, 0, 0};
  auto close = [&] {
    if (open && cursor > segment.offset) {
      segment.length = cursor - segment.offset;
      layout->segments.push_back(segment);
    }
    open = false;
  };
  auto at = [&](const uint8_t* pointer) -> bool {
    if (pointer < base || pointer > base + length) return false;
    cursor = static_cast<size_t>(pointer - base);
    return true;
  };
  for (const Instruction& insn : program.instructions()) {
    switch (insn.kind) {
      case InstructionKind::Origin:
        close();
        segment = Segment{cursor, insn.value, 0};
        open = true;
        break;
      case InstructionKind::Bytes:
        if (at(insn.bytes)) cursor += insn.value;
        break;
      case InstructionKind::Byte:
        cursor += 1;
        break;
      case InstructionKind::Rel32:
      case InstructionKind::Abs32: {
        const bool abs = insn.kind == InstructionKind::Abs32;
        layout->references.push_back({cursor, abs ? kAbs32 : kRel32, insn.label});
        cursor += 4;
        break;
      }
      case InstructionKind::Rel32Arm:
        if (at(insn.bytes)) {
          layout->references.push_back({cursor, kRel32, insn.label});
          cursor += insn.value;
        }
        break;
      default:
        break;
    }
  }
  close();
  std::stable_sort(layout->references.begin(), layout->references.end(),
                   [](const Reference& a, const Reference& b) { return a.offset < b.offset; });
}

const Reference* FindReference(const Layout& layout, size_t offset) {
  auto it = std::lower_bound(layout.references.begin(), layout.references.end(), offset,
                             [](const Reference& r, size_t value) { return r.offset < value; });
  return it != layout.references.end() && it->offset == offset ? &*it : nullptr;
}

bool RvaToOffset(const Layout& layout, uint32_t rva, size_t* offset) {
  for (const Segment& s : layout.segments) {
    if (rva >= s.rva && rva - s.rva < s.length) {
      *offset = s.offset + (rva - s.rva);
      return true;
    }
  }
  return false;
}

bool OffsetToRva(const Layout& layout, size_t offset, uint32_t* rva) {
  for (const Segment& s : layout.segments) {
    if (offset >= s.offset && offset - s.offset < s.length) {
      *rva = static_cast<uint32_t>(s.rva + (offset - s.offset));
      return true;
    }
  }
  return false;
}

// A vote: class in bit 63, new label ordinal in bits 32 ... 62, old index in bits 0 ... 31.
using Vote = uint64_t;
Vote MakeVote(LabelClass c, uint32_t new_ordinal, uint32_t old_index) {
  return (uint64_t{c} << 63) | (uint64_t{new_ordinal} << 32) | old_index;
}

class Matcher {
 public:
  Matcher(const InstructionProgram& old_program, InstructionProgram& new_program)
      : m_Old(old_program), m_New(new_program) {}

  bool Run(const uint8_t* old_element, size_t old_length, const uint8_t* new_element,
           size_t new_length) {
    if (!AlignBytes(old_element, old_length, new_element, new_length, &m_Regions)) return false;
    Walk(m_Old, old_element, old_length, &m_OldLayout);
    Walk(m_New, new_element, new_length, &m_NewLayout);
    NumberNewLabels();
    VoteByReferences();
    VoteByTargets();
    Assign();
    return AssignRemainingLabelIndexes(m_New);
  }

 private:
  const LabelMap& OldLabels(LabelClass c) const {
    return c == kAbs32 ? m_Old.abs32_labels() : m_Old.rel32_labels();
  }
  LabelMap& NewLabels(LabelClass c) {
    return c == kAbs32 ? m_New.abs32_labels() : m_New.rel32_labels();
  }

  // The new labels' indexes serve as their ordinals until Assign().
  void NumberNewLabels() {
    for (uint32_t c = 0; c < kClasses; ++c) {
      for (auto& entry : NewLabels(static_cast<LabelClass>(c))) {
        entry.second.index = static_cast<uint32_t>(m_NewByOrdinal[c].size());
        m_NewByOrdinal[c].push_back(&entry.second);
      }
    }
  }

  void VoteByReferences() {
    for (const Reference& reference : m_NewLayout.references) {
      const CopyRegion* region = FindRegion(m_Regions, reference.offset);
      if (!region) continue;
      const Reference* old_reference =
          FindReference(m_OldLayout, region->old_offset + (reference.offset - region->new_offset));
      if (old_reference && old_reference->label_class == reference.label_class &&
          old_reference->label->index != kUnassignedLabelIndex)
        m_Votes.push_back(
            MakeVote(reference.label_class, reference.label->index, old_reference->label->index));
    }
  }

  void VoteByTargets() {
    for (uint32_t c = 0; c < kClasses; ++c) {
      const LabelClass label_class = static_cast<LabelClass>(c);
      const LabelMap& old_labels = OldLabels(label_class);
      for (const Label* label : m_NewByOrdinal[c]) {
        size_t new_offset = 0;
        uint32_t old_rva = 0;
        if (!RvaToOffset(m_NewLayout, label->rva, &new_offset)) continue;
        const CopyRegion* region = FindRegion(m_Regions, new_offset);
        if (!region ||
            !OffsetToRva(m_OldLayout, region->old_offset + (new_offset - region->new_offset),
                         &old_rva))
          continue;
        auto old_label = old_labels.find(old_rva);
        if (old_label != old_labels.end() && old_label->second.index != kUnassignedLabelIndex)
          m_Votes.push_back(MakeVote(label_class, label->index, old_label->second.index));
      }
    }
  }

  void Assign() {
    struct Candidate {
      uint32_t votes;
      Vote vote;
    };
    std::sort(m_Votes.begin(), m_Votes.end());
    std::vector<Candidate> candidates;
    for (size_t i = 0; i < m_Votes.size();) {
      size_t j = i;
      while (j < m_Votes.size() && m_Votes[j] == m_Votes[i]) ++j;
      candidates.push_back({static_cast<uint32_t>(j - i), m_Votes[i]});
      i = j;
    }
    m_Votes = std::vector<Vote>();
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.votes > b.votes; });

    std::vector<uint32_t> matched[kClasses];
    std::vector<bool> old_taken[kClasses];
    for (uint32_t c = 0; c < kClasses; ++c) {
      matched[c].assign(m_NewByOrdinal[c].size(), kUnassignedLabelIndex);
      uint32_t max_index = 0;
      for (const auto& entry : OldLabels(static_cast<LabelClass>(c)))
        max_index = std::max(max_index, entry.second.index + 1);
      old_taken[c].assign(max_index, false);
    }
    for (const Candidate& candidate : candidates) {
      const uint32_t c = static_cast<uint32_t>(candidate.vote >> 63);
      const uint32_t ordinal = static_cast<uint32_t>(candidate.vote >> 32) & 0x7FFFFFFF;
      const uint32_t old_index = static_cast<uint32_t>(candidate.vote);
      if (matched[c][ordinal] != kUnassignedLabelIndex || old_taken[c][old_index]) continue;
      matched[c][ordinal] = old_index;
      old_taken[c][old_index] = true;
    }
    for (uint32_t c = 0; c < kClasses; ++c) {
      for (size_t ordinal = 0; ordinal < matched[c].size(); ++ordinal)
        m_NewByOrdinal[c][ordinal]->index = matched[c][ordinal];
    }
  }

  const InstructionProgram& m_Old;
  InstructionProgram& m_New;
  std::vector<CopyRegion> m_Regions;
  Layout m_OldLayout, m_NewLayout;
  std::vector<Label*> m_NewByOrdinal[kClasses];
  std::vector<Vote> m_Votes;
};

}  // namespace

bool MatchLabelIndexes(const InstructionProgram& old_program, const uint8_t* old_element,
                       size_t old_length, InstructionProgram& new_program,
                       const uint8_t* new_element, size_t new_length) {
  bool matched = false;
  UnassignLabelIndexes(new_program);
  const bool completed = NoThrowAlloc([&] {
    Matcher matcher(old_program, new_program);
    matched = matcher.Run(old_element, old_length, new_element, new_length);
  });
  if (completed && matched) return true;
  UnassignLabelIndexes(new_program);
  AssignLabelIndexes(new_program);
  return false;
}

}  // namespace velpatch
