// Ensemble patches: turn an old file, which may contain executables, into its new version.
//
//   magic             varint32 7696195
//   version           varint32 20110216
//   source checksum   varint32 Checksum32 of the old file
//   target checksum   varint32 Checksum32 of the new file
//   final input size  varint32 expected length of the final diff's old data (a hint)
//   body              one LZMA2 block; anything after it is ignored
//
// The body is a stream set of which streams 0 ... 3 are used:
//   0  T, then T transformation kinds (1 ... 7), then each transformation's base offset and
//      base length in the old file
//   1  diff from the predicted to the corrected transformation parameters
//   2  diff from the transformed old elements (their encoded programs) to the transformed new
//      elements
//   3  diff from the old file followed by the assembled new elements to the new file
#ifndef VELPATCH_ENSEMBLE_PATCH_H
#define VELPATCH_ENSEMBLE_PATCH_H

#include <cstddef>
#include <cstdint>

#include "patch_status.h"
#include "streams.h"

namespace velpatch {

constexpr uint32_t kEnsemblePatchMagic = 7696195;
constexpr uint32_t kEnsemblePatchVersion = 20110216;

// Applies the patch file to the old file and writes the new file, only once its checksum has
// matched. Returns the PatchStatus as an integer (1 = Ok); on any other status `new_path` is
// neither created nor changed.
[[nodiscard]] int ApplyEnsemblePatchFiles(const oschar* old_path, const oschar* patch_path,
                                          const oschar* new_path);

// `old` covers the whole old file, `patch` the whole patch; on Ok `out` holds the new file. On
// failure `out` is left empty.
[[nodiscard]] PatchStatus ApplyEnsemblePatchStreams(ByteSource& old, ByteSource& patch,
                                                    ByteSink& out);

// What GenerateEnsemblePatch chose.
struct EnsemblePatchInfo {
  size_t transformations = 0;   // T of the returned patch
  size_t plain_size = 0;        // size of the patch without transformations
  size_t transformed_size = 0;  // size of the patch with them; 0 when none could be made
};

struct EnsemblePatchOptions {
  // Return the patch with transformations whenever one can be made, even when it is not
  // smaller than the plain one (for tests and measurements).
  bool prefer_transformed = false;
};

// Writes to `out` a patch that ApplyEnsemblePatchStreams turns from `old_data` into `new_data`.
// Executables found in both files (paired by kind, in file order) are patched in their encoded
// form unless that does not give a smaller patch than the plain diff. The patch is applied in
// memory and checked before it is returned. Ok, or the status of the failing step (`out` is then
// empty). Each file is limited to 2147483647 bytes.
[[nodiscard]] PatchStatus GenerateEnsemblePatch(const uint8_t* old_data, size_t old_length,
                                                const uint8_t* new_data, size_t new_length,
                                                ByteSink& out, EnsemblePatchInfo* info = nullptr,
                                                const EnsemblePatchOptions& options = {});

}  // namespace velpatch

#endif  // VELPATCH_ENSEMBLE_PATCH_H
