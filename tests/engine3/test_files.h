// Helpers of the engine3 suites: fixture files, a scratch directory, byte strings.
#ifndef VELPATCH_TESTS_ENGINE3_TEST_FILES_H
#define VELPATCH_TESTS_ENGINE3_TEST_FILES_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "scratchdir.h"
#include "streams.h"

namespace velpatch {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline Bytes Fixture(const std::string& name) {
  Bytes bytes = ReadFile(std::string(ENGINE3_FIXTURE_DIR) + "/" + name);
  EXPECT_FALSE(bytes.empty()) << "missing fixture " << name;
  return bytes;
}

inline Bytes Engine2Fixture(const std::string& name) {
  Bytes bytes = ReadFile(std::string(ENGINE2_FIXTURE_DIR) + "/" + name);
  EXPECT_FALSE(bytes.empty()) << "missing fixture " << name;
  return bytes;
}

inline Bytes ToBytes(const ByteSink& sink) {
  return Bytes(sink.data(), sink.data() + sink.length());
}

// A universal Mach-O file holding the given slices at 4096-byte aligned offsets.
inline Bytes Universal(const std::vector<Bytes>& slices) {
  Bytes file(4096, 0);
  auto put32 = [&file](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  put32(0, 0xCAFEBABE);
  put32(4, static_cast<uint32_t>(slices.size()));
  for (size_t i = 0; i < slices.size(); ++i) {
    const size_t offset = file.size();
    const size_t entry = 8 + 20 * i;
    put32(entry, 7);  // cpu type; not looked at
    put32(entry + 8, static_cast<uint32_t>(offset));
    put32(entry + 12, static_cast<uint32_t>(slices[i].size()));
    put32(entry + 16, 12);
    file.insert(file.end(), slices[i].begin(), slices[i].end());
    file.resize((file.size() + 4095) / 4096 * 4096, 0);
  }
  return file;
}

class ScratchDirTest : public ScratchDir {
 protected:
  // Byte vectors in and out, instead of text.
  void Put(const std::string& name, const Bytes& bytes) const {
    PutBytes(name, bytes.data(), bytes.size());
  }
  Bytes Get(const std::string& name) const { return ReadFile(Path(name)); }
};

}  // namespace velpatch

#endif  // VELPATCH_TESTS_ENGINE3_TEST_FILES_H
