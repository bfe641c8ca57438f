// A log sink that keeps what it receives, for tests that check the engine's messages.
#ifndef VELPATCH_TESTS_CAPTURELOG_H
#define VELPATCH_TESTS_CAPTURELOG_H

#include <string>
#include <vector>

#include "log.h"

namespace velpatch {

class CaptureLog : public LogBase {
 public:
  struct Entry {
    std::string line;
    LogLevel level;
    std::string channel;
    uint64_t id;
    std::string timestamp;
    std::string level_name;
  };

  void Write(const std::string& line, LogLevel level, const std::string& channel, uint64_t id,
             const std::string& timestamp, const std::string& level_name) override {
    entries.push_back({line, level, channel, id, timestamp, level_name});
  }
  void Flush() override { ++flushes; }

  // True when some line at `level` ends with `text` (the message part of the line).
  bool Has(LogLevel level, const std::string& text) const {
    for (const Entry& e : entries) {
      if (e.level == level && e.line.size() >= text.size() &&
          e.line.compare(e.line.size() - text.size(), text.size(), text) == 0)
        return true;
    }
    return false;
  }
  // All messages, one per line, for failure output.
  std::string Dump() const {
    std::string all;
    for (const Entry& e : entries) all += e.line + "\n";
    return all;
  }

  std::vector<Entry> entries;
  int flushes = 0;
};

}  // namespace velpatch

#endif  // VELPATCH_TESTS_CAPTURELOG_H
