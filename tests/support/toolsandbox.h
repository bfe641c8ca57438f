#pragma once

// A scratch directory in which a test runs a command-line tool as a user would, with helpers to
// put and read files there. The tool's path comes from the test's VELPATCH_TOOL definition.
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "scratchdir.h"

class ToolSandbox : public ScratchDir {
 protected:
  std::string Get(const std::string& name) const { return GetText(name); }
  // Runs the tool in the directory; returns its exit code and keeps what it printed.
  int Run(const std::string& arguments) {
    const std::string command =
        "cd '" + m_Dir + "' && '" VELPATCH_TOOL "' " + arguments + " >stdout.txt 2>stderr.txt";
    const int status = std::system(command.c_str());
    m_Stdout = Get("stdout.txt");
    m_Stderr = Get("stderr.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string m_Stdout, m_Stderr;
};
