// A transformation of one element of the old file, as an ensemble patch applies it: read its
// parameters, predict the corrected parameters, turn the element into its transformed form
// (down), and turn a transformed form back into bytes (up).
#ifndef VELPATCH_TRANSFORMATION_PATCHER_H
#define VELPATCH_TRANSFORMATION_PATCHER_H

#include "patch_status.h"

namespace velpatch {

class ByteSink;
class ByteSinkSet;
class ByteSource;
class ByteSourceSet;

class TransformationPatcher {
 public:
  TransformationPatcher() = default;
  virtual ~TransformationPatcher() = default;
  TransformationPatcher(const TransformationPatcher&) = delete;
  TransformationPatcher& operator=(const TransformationPatcher&) = delete;

  // Reads this transformation's parameters from stream 0 of the patch.
  [[nodiscard]] virtual PatchStatus ReadParameters(ByteSource& parameters) = 0;
  // Writes what the corrected parameters are expected to be.
  [[nodiscard]] virtual PatchStatus PredictParameters(ByteSinkSet& predicted) = 0;
  // Turns the element into its transformed form, given the corrected parameters.
  [[nodiscard]] virtual PatchStatus TransformElement(ByteSourceSet& corrected,
                                                     ByteSinkSet& transformed) = 0;
  // Turns a transformed form back into bytes, appended to `reformed`.
  [[nodiscard]] virtual PatchStatus ReformElement(ByteSourceSet& transformed,
                                                  ByteSink& reformed) = 0;
};

}  // namespace velpatch

#endif  // VELPATCH_TRANSFORMATION_PATCHER_H
