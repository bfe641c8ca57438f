// Reading LZMA2 containers.
#include <memory>

#include "binarydiff.h"
#include "encoded_program.h"
#include "log.h"
#include "lzma2_container.h"
#include "lzmaioout.h"

namespace velpatch {
namespace {

bool Fail(const char* message) {
  Log(message, LOG_ERROR);
  return false;
}

// Streams 0 ... N-2 are encoded programs, assembled one after the other; the last stream is the
// diff from that assembly to the packed file.
bool Undisassemble(const ByteSink& payload, ByteSink& out) {
  ByteSourceSet set;
  if (!set.Parse(payload.data(), payload.length())) return Fail("could not init dif_and_dis set");
  if (set.count() < 2) return Fail("dis_and_diff too small");
  // The assembly is about as long as the result, whose length the diff names. Reserving it saves
  // the copies of growing; a forged length is capped at what the payload could produce (assembly
  // writes at most 12 bytes per payload byte: a 4-byte address and its 8-byte relocation entry
  // for a 1-byte op and a 1-byte index).
  ByteSink assembly;
  ByteSource diff_header = set.stream(set.count() - 1);
  uint8_t method = 0;
  uint32_t result_length = 0;
  if (diff_header.ReadByte(&method) && diff_header.ReadVarUint32(&result_length) &&
      result_length / 16 <= payload.length())
    (void)assembly.Reserve(result_length);  // only a hint: growing works as well
  for (size_t i = 0; i + 1 < set.count(); ++i) {
    ByteSourceSet program_streams;
    ByteSource& stream = set.stream(i);
    if (!program_streams.Parse(stream.current(), stream.Remaining()))
      return Fail("could not init program_source set");
    EncodedProgram* raw = nullptr;
    const PatchStatus read = DeserializeEncodedProgram(program_streams, &raw);
    std::unique_ptr<EncodedProgram> program(raw);
    if (read != PatchStatus::Ok) return Fail("could not read encoded program");
    if (Assemble(*program, assembly) != PatchStatus::Ok) return Fail("could not assemble program");
  }
  ByteSource old(assembly.data(), assembly.length());
  if (!ApplyBinaryDiff(old, set.stream(set.count() - 1), out, false))
    return Fail("could not apply diff");
  return true;
}

bool Decode(const uint8_t* data, size_t length, ByteSink& out) {
  ByteSource in(data, length);
  uint32_t magic = 0, checksum = 0, directive = 0;
  if (!in.ReadVarUint32(&magic) || !in.ReadVarUint32(&checksum) || !in.ReadVarUint32(&directive))
    return Fail("could not read lzma header");
  if (magic != kContainerMagic) return Fail("not lzma file");

  if (directive == static_cast<uint32_t>(PreprocessDirective::Plain)) {
    if (!ReadLzma2Block(in, out)) return Fail("could not decompress file");
  } else if (directive == static_cast<uint32_t>(PreprocessDirective::DisassembleAndDiff)) {
    ByteSink payload;
    if (!ReadLzma2Block(in, payload)) return Fail("could not decompress file");
    if (!Undisassemble(payload, out)) return false;
  } else {
    return Fail("Unknown preprocessing dirrective");
  }
  if (Checksum32(out.data(), out.length()) != checksum) return Fail("crc mismatch");
  return true;
}

}  // namespace

bool DecompressLzma2Container(const uint8_t* data, size_t length, ByteSink& out) {
  out.Release();
  if (Decode(data, length, out)) return true;
  out.Release();
  return false;
}

bool DecompressLzma2File(const oschar* input_path, const oschar* output_path) {
  ByteSink output;
  {
    MappedFile input;
    if (!input.Open(input_path, MappedFile::Hint::NORMAL)) return Fail("could not open lzma file");
    if (!DecompressLzma2Container(input.data(), input.length(), output)) return false;
  }
  if (WriteWholeFile(output_path, output.data(), output.length()) != output.length())
    return Fail("could not write output file");
  return true;
}

}  // namespace velpatch
