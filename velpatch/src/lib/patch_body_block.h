// The LZMA2 block that holds an ensemble patch's body.
#ifndef VELPATCH_PATCH_BODY_BLOCK_H
#define VELPATCH_PATCH_BODY_BLOCK_H

#include <cstddef>

#include "streams.h"

namespace velpatch {

// Appends one LZMA2 block (the layout of lzmaioout.h, read back by ReadLzma2Block) holding the
// given bytes, coded with settings for patch bodies: the extreme variant of level 9, one
// literal context bit and no position bits. A body is mostly runs of byte differences, literals
// and small varints, for which this gives blocks 5 to 10 % smaller than the general settings.
// On failure logs one ERROR line and leaves `out` as it was.
[[nodiscard]] bool WritePatchBodyBlock(const void* bytes, size_t length, ByteSink& out);

}  // namespace velpatch

#endif  // VELPATCH_PATCH_BODY_BLOCK_H
