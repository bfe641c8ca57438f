#pragma once

// A scratch directory in which a test runs a command-line tool as a user would, with helpers to
// put and read files there. The tool's path comes from the test's VELPATCH_TOOL definition.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

class ToolSandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/velpatch_tool_XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    m_Dir = templ;
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
  // Runs the tool in the directory; returns its exit code and keeps what it printed.
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
