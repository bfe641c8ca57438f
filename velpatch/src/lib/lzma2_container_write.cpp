// Writing LZMA2 containers.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binarydiff.h"
#include "element_program.h"
#include "executable_elements.h"
#include "log.h"
#include "lzma2_container.h"
#include "lzmaioout.h"

namespace velpatch {
namespace {

bool Fail(const char* message) {
  Log(message, LOG_ERROR);
  return false;
}

bool WriteHeader(uint32_t checksum, PreprocessDirective directive, ByteSink& out) {
  if (!out.WriteVarUint32(kContainerMagic)) return Fail("could not write magic");
  if (!out.WriteVarUint32(checksum)) return Fail("could not write crc");
  if (!out.WriteVarUint32(static_cast<uint32_t>(directive)))
    return Fail("could not write preprocess directive");
  return true;
}

// One encoded program per element into streams 0 ... N-1 of `set`, their assembly into
// `assembly`.
bool EncodeElements(const uint8_t* data, const std::vector<ExecutableElement>& elements,
                    ByteSinkSet& set, ByteSink& assembly) {
  for (size_t i = 0; i < elements.size(); ++i) {
    std::unique_ptr<InstructionProgram> program;
    const PatchStatus parsed =
        DisassembleElement(data + elements[i].offset, elements[i].length, &program);
    if (parsed == PatchStatus::TrimFailed) return Fail("could not trim labels");
    if (parsed != PatchStatus::Ok) {
      Log("could not parse file", LOG_WARNING);
      return false;
    }
    ByteSinkSet program_streams;
    std::unique_ptr<EncodedProgram> encoded;
    const PatchStatus written = EncodeElement(*program, program_streams, &encoded);
    if (written == PatchStatus::GeneralError) return Fail("could not encode program");
    if (written != PatchStatus::Ok) return Fail("could not write encode program");
    if (!program_streams.SerializeTo(set.stream(i))) return Fail("could not combine streams");
    if (Assemble(*encoded, assembly) != PatchStatus::Ok) return Fail("could not assemble program");
  }
  return true;
}

bool WriteDisassembled(const uint8_t* data, size_t length, uint32_t checksum,
                       const std::vector<ExecutableElement>& elements, ByteSink& out) {
  if (!WriteHeader(checksum, PreprocessDirective::DisassembleAndDiff, out)) return false;
  ByteSinkSet set;
  set.set_count(elements.size() + 1);
  ByteSink assembly;
  if (!EncodeElements(data, elements, set, assembly)) return false;
  ByteSource old(assembly.data(), assembly.length());
  ByteSource file(data, length);
  if (!GenerateBinaryDiff(old, file, set.stream(elements.size()), false, DIFF_METHOD_RAW))
    return Fail("could not generate diff");
  assembly.Release();
  ByteSink payload;
  if (!set.SerializeTo(payload)) return Fail("could not combine dis and dif");
  if (!WriteLzma2Block(payload.data(), payload.length(), out))
    return Fail("could not compress file");
  return true;
}

bool WritePlain(const uint8_t* data, size_t length, uint32_t checksum, ByteSink& out) {
  return WriteHeader(checksum, PreprocessDirective::Plain, out) &&
         (WriteLzma2Block(data, length, out) || Fail("could not compress file"));
}

// Small modules often pack better plain: their programs and diff cost more than the
// disassembly saves. `out` holds the disassembled form; it is replaced by the plain one unless
// that is larger.
bool KeepSmaller(const uint8_t* data, size_t length, uint32_t checksum, ByteSink& out) {
  ByteSink plain;
  if (!WritePlain(data, length, checksum, plain)) return false;
  if (plain.length() > out.length()) return true;
  Log("plain form is not larger, keeping it", LOG_DEBUG);
  out = std::move(plain);
  return true;
}

bool Encode(const uint8_t* data, size_t length, bool preprocess, ByteSink& out) {
  const uint32_t checksum = Checksum32(data, length);
  if (preprocess) {
    std::vector<ExecutableElement> elements;
    const PatchStatus found = FindExecutableElements(data, length, &elements);
    if (found != PatchStatus::Ok) {
      Log("error detecting file type " + std::to_string(static_cast<int>(found)), LOG_ERROR);
      return false;
    }
    for (const ExecutableElement& element : elements)
      Log(std::string("detected ") + ExecutableKindName(element.kind), LOG_DEBUG);
    // Only kMaxStreams - 1 programs fit beside the diff.
    if (!elements.empty() && elements.size() < kMaxStreams) {
      if (WriteDisassembled(data, length, checksum, elements, out))
        return KeepSmaller(data, length, checksum, out);
      Log("falling back to default compression", LOG_WARNING);
      out.Release();
    }
  }
  return WritePlain(data, length, checksum, out);
}

}  // namespace

bool CompressLzma2Container(const uint8_t* data, size_t length, bool preprocess, ByteSink& out) {
  out.Release();
  if (Encode(data, length, preprocess, out)) return true;
  out.Release();
  return false;
}

bool CompressLzma2File(const oschar* input_path, const oschar* output_path, bool preprocess) {
  ByteSink output;
  {
    MappedFile input;
    if (!input.Open(input_path, MappedFile::Hint::NORMAL)) return Fail("could not open file");
    if (!CompressLzma2Container(input.data(), input.length(), preprocess, output)) return false;
  }
  if (WriteWholeFile(output_path, output.data(), output.length()) != output.length())
    return Fail("could not write output file");
  return true;
}

}  // namespace velpatch
