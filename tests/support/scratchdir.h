#pragma once

// A test that works in a directory of its own under /tmp, removed when the test ends, with
// helpers to put files there and to read them back as text.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/velpatch_test_XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    m_Dir = templ;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(m_Dir, ignored);
  }

  std::string Path(const std::string& name) const { return m_Dir + "/" + name; }
  bool Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }
  // Writes `size` bytes to the file `name`, replacing it.
  void PutBytes(const std::string& name, const void* data, size_t size) const {
    std::ofstream out(Path(name), std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  void Put(const std::string& name, const std::string& text) const {
    PutBytes(name, text.data(), text.size());
  }
  // The file's bytes; empty when it cannot be read.
  std::string GetText(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string m_Dir;
};
