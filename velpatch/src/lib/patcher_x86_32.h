// The transformation patcher of every executable kind: the element is a region of the old file,
// its transformed form is its encoded program. (The name is historical; the disassembler is
// chosen by detection on the region's bytes.)
#ifndef VELPATCH_PATCHER_X86_32_H
#define VELPATCH_PATCHER_X86_32_H

#include <cstddef>
#include <cstdint>

#include "transformation_patcher.h"

namespace velpatch {

class PatcherX86_32 : public TransformationPatcher {
 public:
  // The old file (the ensemble) must outlive the patcher.
  PatcherX86_32(const uint8_t* ensemble, size_t ensemble_length)
      : m_Ensemble(ensemble), m_EnsembleLength(ensemble_length) {}

  // Base offset and base length (varint32 each); BadTransformParameters when either is missing
  // or the region does not lie within the old file.
  [[nodiscard]] PatchStatus ReadParameters(ByteSource& parameters) override;
  // Nothing to predict: Ok without writing.
  [[nodiscard]] PatchStatus PredictParameters(ByteSinkSet& predicted) override;
  // The corrected parameters must be empty (GeneralError otherwise); writes the region's
  // encoded program.
  [[nodiscard]] PatchStatus TransformElement(ByteSourceSet& corrected,
                                             ByteSinkSet& transformed) override;
  // Reads an encoded program (ProgramReadFailed) and assembles it (AssemblyFailed).
  [[nodiscard]] PatchStatus ReformElement(ByteSourceSet& transformed, ByteSink& reformed) override;

  uint32_t base_offset() const { return m_BaseOffset; }
  uint32_t base_length() const { return m_BaseLength; }

 private:
  const uint8_t* m_Ensemble;
  size_t m_EnsembleLength;
  uint32_t m_BaseOffset = 0;
  uint32_t m_BaseLength = 0;
};

}  // namespace velpatch

#endif  // VELPATCH_PATCHER_X86_32_H
