// The velpatch command line, run as a user would run it.
#include "toolsandbox.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using ToolTest = ToolSandbox;

TEST_F(ToolTest, DiffAndApplyRoundTrip) {
  Put("old", std::string(5000, 'a') + "middle" + std::string(3000, 'b'));
  Put("new", std::string(4000, 'a') + "changed middle" + std::string(3500, 'b'));
  for (const std::string options :
       {"", "--method 0", "--method=2 --header", "--header --method 1"}) {
    const bool header = options.find("--header") != std::string::npos;
    ASSERT_EQ(Run("diff " + options + " old new patch"), 0) << options << m_Stderr;
    ASSERT_EQ(Run(std::string("apply-diff ") + (header ? "--header " : "") + "old patch result"), 0)
        << options << m_Stderr;
    EXPECT_EQ(Get("result"), Get("new")) << options;
  }
  Put("empty", "");
  ASSERT_EQ(Run("diff empty empty patch"), 0) << m_Stderr;
  ASSERT_EQ(Run("apply-diff empty patch result"), 0) << m_Stderr;
  EXPECT_EQ(Get("result"), "");
}

TEST_F(ToolTest, HelpSucceeds) {
  EXPECT_EQ(Run("--help"), 0);
  EXPECT_NE(Get("stdout.txt").find("apply-diff [--header] OLD PATCH NEW"), std::string::npos);
  EXPECT_EQ(Run("diff --help"), 0);
}

TEST_F(ToolTest, FailuresExplainInOneLineAndLeaveNoOutput) {
  Put("old", "old contents");
  Put("new", "new contents");
  Put("garbage", "not a diff at all");
  const struct {
    const char* arguments;
    int exit_code;
    const char* says;
  } cases[] = {
      {"", 2, "usage"},
      {"frobnicate old new out", 2, "unknown command 'frobnicate'"},
      {"diff old new", 2, "expected 3 file arguments"},
      {"diff --method 3 old new out", 2, "--method must be 0, 1 or 2"},
      {"diff --method", 2, "needs a value"},
      {"diff --fast old new out", 2, "unknown option --fast"},
      {"diff missing new out", 1, "cannot open missing"},
      {"diff old new no_dir/out", 1, "cannot write no_dir/out"},
      {"apply-diff old garbage out", 1, "could not apply garbage to old"},
      {"apply-diff --header old garbage out", 1, "Corrupt patch header"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.arguments), c.exit_code) << c.arguments;
    EXPECT_NE(m_Stderr.find(c.says), std::string::npos) << c.arguments << ": " << m_Stderr;
    if (c.exit_code == 1) {
      EXPECT_EQ(m_Stderr.find('\n'), m_Stderr.size() - 1) << c.arguments << ": " << m_Stderr;
    }
    EXPECT_FALSE(Exists("out")) << c.arguments;
  }
}

}  // namespace
