// vellog: the patch engine's small logging library.
//
// A call names a level, a message, a channel and a numeric id. The library formats one line
// (timestamp, level, channel and id in fixed-width columns, then the message) and hands it to
// every registered sink. Sinks are objects of classes derived from LogBase; they register
// themselves on construction and leave the list on destruction.
//
// The settings and the sink list are process-wide and unsynchronised: register sinks and change
// settings before logging starts; Log() itself only reads them.
#ifndef VELLOG_LOG_H
#define VELLOG_LOG_H

#include <cstdint>
#include <string>

namespace velpatch {

// Lower is more severe. A line is produced when its level is at or below the threshold.
enum LogLevel : int {
  LOG_CRITICAL = 0,
  LOG_ERROR = 1,
  LOG_WARNING = 2,
  LOG_DEBUG = 3,
  LOG_INFO = 4,
  LOG_DEVELOP = 5,
};

// The name of a level as it appears in a line ("CRITICAL", "ERROR", ...); "UNKNOWN" otherwise.
const char* LogLevelName(LogLevel level);

// Abstract sink. Construction appends the object to the sink list (in registration order),
// destruction removes it.
class LogBase {
 public:
  LogBase();
  virtual ~LogBase();
  LogBase(const LogBase&) = delete;
  LogBase& operator=(const LogBase&) = delete;

  // Called after every CRITICAL line.
  virtual void Flush() {}
  // Receives every line that passes the threshold.
  virtual void Write(const std::string& line, LogLevel level, const std::string& channel,
                     uint64_t id, const std::string& timestamp, const std::string& level_name) = 0;

 private:
  friend struct SinkList;
  LogBase* m_Prev = nullptr;
  LogBase* m_Next = nullptr;
};

using CriticalHandler = void (*)(const std::string& line, const std::string& channel, uint64_t id,
                                 const std::string& timestamp, const std::string& level_name);

// Formats one line and hands it to every sink; CRITICAL lines also go to the critical handler.
// Never throws. `id` 0 means none (the id column stays empty).
void Log(const std::string& message, LogLevel level, const std::string& channel = std::string(),
         uint64_t id = 0);

void SetLogLevel(LogLevel level);      // threshold, initially LOG_DEVELOP (everything passes)
void SetLogLocalTime(int flag);        // 0 (initial): UTC; otherwise local time
void SetLogTimestampStyle(int style);  // 0 (initial), 1 (simple) or 2 (ISO basic)
void SetCriticalHandler(CriticalHandler handler);  // nullptr removes it

// The timestamp text of the current style for the current time (exposed for tests and sinks).
std::string LogTimestamp();

// Logs a failed internal assertion at CRITICAL level:
//   Assertion "expr" failed at file:line;
void LogAssertionFailure(const char* expression, const char* file, int line);

}  // namespace velpatch

// Evaluates to the truth of `cond`; when false, logs the failed assertion first. Use for
// programming errors only, never for bad input:  if (!VLOG_CHECK(p != nullptr)) return false;
#define VLOG_CHECK(cond) \
  ((cond) ? true : (::velpatch::LogAssertionFailure(#cond, __FILE__, __LINE__), false))

#endif  // VELLOG_LOG_H
