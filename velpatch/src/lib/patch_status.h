// The status codes that the patch engine's entry points return. The numbers are part of the
// interface: the updater reports them and tests compare them.
#ifndef VELPATCH_PATCH_STATUS_H
#define VELPATCH_PATCH_STATUS_H

namespace velpatch {

enum class PatchStatus : int {
  Ok = 1,
  GeneralError = 2,
  PatchOpenFailed = 3,
  OldOpenOrWriteFailed = 4,
  BadMagic = 5,
  BadVersion = 6,
  BadHeader = 7,
  ChecksumMismatch = 8,
  BadTransformParameters = 12,
  StreamError = 20,
  StreamNotConsumed = 21,
  ProgramReadFailed = 23,
  NotRecognized = 24,
  DisassemblyFailed = 25,
  AssemblyFailed = 26,
  TrimFailed = 28,
};

// The enumerator's name ("Ok", "DisassemblyFailed", ...), or "Unknown".
const char* PatchStatusName(PatchStatus status);

}  // namespace velpatch

#endif  // VELPATCH_PATCH_STATUS_H
