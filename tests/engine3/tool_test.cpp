// velpatch compress, decompress, gen and apply, run as a user would run them.
#include "toolsandbox.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

class PatchToolTest : public ToolSandbox {
 protected:
  void SetUp() override {
    ToolSandbox::SetUp();
    std::system(("cp '" ENGINE3_FIXTURE_DIR "/old_elf64_x64.so' '" + m_Dir +
                 "/old' && cp '" ENGINE3_FIXTURE_DIR "/new_elf64_x64.so' '" + m_Dir + "/new'")
                    .c_str());
  }
};

TEST_F(PatchToolTest, CompressAndDecompressRoundTrip) {
  for (const std::string options : {"", "--plain"}) {
    ASSERT_EQ(Run("compress " + options + " old packed"), 0) << options << m_Stderr;
    ASSERT_EQ(Run("decompress packed unpacked"), 0) << options << m_Stderr;
    EXPECT_EQ(Get("unpacked"), Get("old")) << options;
  }
}

TEST_F(PatchToolTest, GenAndApplyRoundTrip) {
  ASSERT_EQ(Run("gen --stats old new patch"), 0) << m_Stderr;
  EXPECT_NE(m_Stdout.find("transformations"), std::string::npos) << m_Stdout;
  ASSERT_EQ(Run("apply old patch result"), 0) << m_Stderr;
  EXPECT_EQ(Get("result"), Get("new"));
}

TEST_F(PatchToolTest, FailuresLeaveNoOutput) {
  Put("garbage", "not a patch");
  ASSERT_EQ(Run("gen old new patch"), 0) << m_Stderr;
  const struct {
    const char* arguments;
    int exit_code;
    const char* says;
  } cases[] = {
      {"apply old garbage out", 1, "BadMagic (5)"},
      {"apply new patch out", 1, "ChecksumMismatch (8)"},
      {"apply old missing out", 1, "PatchOpenFailed (3)"},
      {"apply old patch", 2, "expected 3 file arguments"},
      {"decompress garbage out", 1, "not lzma file"},
      {"decompress missing out", 1, "could not open lzma file"},
      {"compress --fast old out", 2, "unknown option --fast"},
      {"gen missing new out", 1, "cannot open missing"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.arguments), c.exit_code) << c.arguments;
    EXPECT_NE(m_Stderr.find(c.says), std::string::npos) << c.arguments << ": " << m_Stderr;
    EXPECT_FALSE(Exists("out")) << c.arguments;
  }
}

}  // namespace
