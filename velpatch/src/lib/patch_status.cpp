#include "patch_status.h"

namespace velpatch {

const char* PatchStatusName(PatchStatus status) {
  switch (status) {
    case PatchStatus::Ok: return "Ok";
    case PatchStatus::GeneralError: return "GeneralError";
    case PatchStatus::PatchOpenFailed: return "PatchOpenFailed";
    case PatchStatus::OldOpenOrWriteFailed: return "OldOpenOrWriteFailed";
    case PatchStatus::BadMagic: return "BadMagic";
    case PatchStatus::BadVersion: return "BadVersion";
    case PatchStatus::BadHeader: return "BadHeader";
    case PatchStatus::ChecksumMismatch: return "ChecksumMismatch";
    case PatchStatus::BadTransformParameters: return "BadTransformParameters";
    case PatchStatus::StreamError: return "StreamError";
    case PatchStatus::StreamNotConsumed: return "StreamNotConsumed";
    case PatchStatus::ProgramReadFailed: return "ProgramReadFailed";
    case PatchStatus::NotRecognized: return "NotRecognized";
    case PatchStatus::DisassemblyFailed: return "DisassemblyFailed";
    case PatchStatus::AssemblyFailed: return "AssemblyFailed";
    case PatchStatus::TrimFailed: return "TrimFailed";
  }
  return "Unknown";
}

}  // namespace velpatch
