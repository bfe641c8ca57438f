#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "commands.h"
#include "log.h"

namespace velpatch {
namespace tool {

namespace {

// Keeps the engine's messages so that a failure can say why in its one line.
class MessageKeeper : public LogBase {
 public:
  void Write(const std::string& line, LogLevel level, const std::string&, uint64_t,
             const std::string&, const std::string&) override {
    if (level > LOG_WARNING) return;
    // The message follows the four column separators of the prefix.
    size_t at = 0;
    for (int i = 0; i < 4 && at != std::string::npos; ++i) at = line.find('|', at ? at + 1 : 0);
    messages.push_back(at == std::string::npos ? line : line.substr(at + 1));
  }
  std::vector<std::string> messages;
};

MessageKeeper& Keeper() {
  static MessageKeeper s_Keeper;
  return s_Keeper;
}

}  // namespace

void ClearEngineMessages() { Keeper().messages.clear(); }

void Fail(const std::string& text) {
  std::string line = "velpatch: " + text;
  if (!Keeper().messages.empty()) line += ": " + Keeper().messages.front();
  for (char& c : line) {
    if (c == '\n') c = ' ';
  }
  std::cerr << line << std::endl;
  ClearEngineMessages();
}

bool ParseArgs(const char* command, const Args& args, const std::set<std::string>& flags,
               const std::set<std::string>& valued, size_t positional_count, ParsedArgs* parsed) {
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      parsed->positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (flags.count(name) && equals == std::string::npos) {
      parsed->flags.insert(name);
    } else if (valued.count(name)) {
      if (equals != std::string::npos) {
        parsed->options[name] = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        parsed->options[name] = args[++i];
      } else {
        Fail(std::string(command) + ": option " + name + " needs a value");
        return false;
      }
    } else {
      Fail(std::string(command) + ": unknown option " + arg + " (see velpatch --help)");
      return false;
    }
  }
  if (parsed->positional.size() != positional_count) {
    Fail(std::string(command) + ": expected " + std::to_string(positional_count) +
         " file arguments, got " + std::to_string(parsed->positional.size()) +
         " (see velpatch --help)");
    return false;
  }
  return true;
}

bool InputFile::Open(const std::string& path) {
  if (m_File.Open(path.c_str(), MappedFile::Hint::SEQUENTIAL)) return true;
  const int error = errno;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    Fail("cannot open " + path + ": " + std::strerror(errno));
    return false;
  }
  if (S_ISREG(st.st_mode) && st.st_size == 0) return true;  // empty: nothing to map
  Fail("cannot read " + path +
       (S_ISREG(st.st_mode) ? std::string(": ") + std::strerror(error)
                            : std::string(": not a regular file")));
  return false;
}

bool SaveFile(const std::string& path, const ByteSink& data) {
  errno = 0;
  if (WriteWholeFile(path.c_str(), data.data(), data.length()) == data.length()) return true;
  const int error = errno;
  Fail("cannot write " + path + (error ? std::string(": ") + std::strerror(error) : ""));
  return false;
}

}  // namespace tool
}  // namespace velpatch
