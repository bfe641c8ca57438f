// velpatch compress, decompress, gen and apply, run as a user would run them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

class PatchToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/velpatch_tool3_XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    m_Dir = templ;
    std::system(("cp '" ENGINE3_FIXTURE_DIR "/old_elf64_x64.so' '" + m_Dir +
                 "/old' && cp '" ENGINE3_FIXTURE_DIR "/new_elf64_x64.so' '" + m_Dir + "/new'")
                    .c_str());
  }
  void TearDown() override { std::system(("rm -rf '" + m_Dir + "'").c_str()); }

  std::string Path(const std::string& name) const { return m_Dir + "/" + name; }
  void Put(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Exists(const std::string& name) const { return access(Path(name).c_str(), F_OK) == 0; }
  int Run(const std::string& arguments) {
    const std::string command =
        "cd '" + m_Dir + "' && '" VELPATCH_TOOL "' " + arguments + " >stdout.txt 2>stderr.txt";
    const int status = std::system(command.c_str());
    m_Stdout = Get("stdout.txt");
    m_Stderr = Get("stderr.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string m_Dir, m_Stdout, m_Stderr;
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
