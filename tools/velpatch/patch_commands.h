// Subcommands on containers and ensemble patches.
#ifndef VELPATCH_TOOL_PATCH_COMMANDS_H
#define VELPATCH_TOOL_PATCH_COMMANDS_H

#include "commands.h"

namespace velpatch {
namespace tool {

// velpatch compress [--plain] IN OUT: writes an LZMA2 container of IN; executables are stored
// disassembled unless --plain.
int RunCompress(const Args& args);
// velpatch decompress IN OUT: unpacks a container.
int RunDecompress(const Args& args);
// velpatch gen [--stats] [--transformed] OLD NEW PATCH: writes an ensemble patch from OLD to NEW
// (with --transformed, the one with transformations even when it is not smaller).
int RunGen(const Args& args);
// velpatch apply OLD PATCH NEW: applies an ensemble patch; on failure prints the status name and
// number and writes nothing.
int RunApply(const Args& args);

// Lets the allocator keep and reuse released memory: the unpacking commands run through a
// series of large, short-lived buffers.
void KeepFreedMemory();

}  // namespace tool
}  // namespace velpatch

#endif  // VELPATCH_TOOL_PATCH_COMMANDS_H
