#include "log.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>
#include <cstdio>
#include <exception>

namespace velpatch {

namespace {

LogLevel s_Threshold = LOG_DEVELOP;
int s_LocalTime = 0;
int s_TimestampStyle = 0;
CriticalHandler s_CriticalHandler = nullptr;

// "YYYYMMDDTHHMMSS[.fff]" -> "YYYY-MM-DD HH:MM:SS[.fff]", "." appended when there is no
// fraction, right-aligned in 26 columns.
std::string Style0(const std::string& iso) {
  if (iso.size() < 15 || iso[8] != 'T') return iso;  // not a date (e.g. "not-a-date-time")
  std::string text = iso.substr(0, 4) + "-" + iso.substr(4, 2) + "-" + iso.substr(6, 2) + " " +
                     iso.substr(9, 2) + ":" + iso.substr(11, 2) + ":" + iso.substr(13, 2) +
                     iso.substr(15);
  if (text.size() < 20) text += ".";
  return (boost::format("%026s") % text).str();
}

// Inserts `indent` blanks after every line break so continuation lines align under the message.
std::string IndentContinuations(const std::string& message, size_t indent) {
  std::string result;
  result.reserve(message.size());
  for (char c : message) {
    result += c;
    if (c == '\n') result.append(indent, ' ');
  }
  return result;
}

}  // namespace

// The registered sinks, a doubly linked list in registration order.
struct SinkList {
  static LogBase*& head() {
    static LogBase* s_Head = nullptr;
    return s_Head;
  }
  static LogBase*& tail() {
    static LogBase* s_Tail = nullptr;
    return s_Tail;
  }
  static void Add(LogBase* sink) {
    sink->m_Prev = tail();
    sink->m_Next = nullptr;
    if (tail())
      tail()->m_Next = sink;
    else
      head() = sink;
    tail() = sink;
  }
  static void Remove(LogBase* sink) {
    if (sink->m_Prev)
      sink->m_Prev->m_Next = sink->m_Next;
    else
      head() = sink->m_Next;
    if (sink->m_Next)
      sink->m_Next->m_Prev = sink->m_Prev;
    else
      tail() = sink->m_Prev;
    sink->m_Prev = sink->m_Next = nullptr;
  }
  static LogBase* Next(LogBase* sink) { return sink->m_Next; }
};

LogBase::LogBase() { SinkList::Add(this); }
LogBase::~LogBase() { SinkList::Remove(this); }

const char* LogLevelName(LogLevel level) {
  switch (level) {
    case LOG_CRITICAL:
      return "CRITICAL";
    case LOG_ERROR:
      return "ERROR";
    case LOG_WARNING:
      return "WARNING";
    case LOG_DEBUG:
      return "DEBUG";
    case LOG_INFO:
      return "INFO";
    case LOG_DEVELOP:
      return "DEVELOP";
  }
  return "UNKNOWN";
}

void SetLogLevel(LogLevel level) { s_Threshold = level; }
void SetLogLocalTime(int flag) { s_LocalTime = flag; }
void SetLogTimestampStyle(int style) { s_TimestampStyle = style; }
void SetCriticalHandler(CriticalHandler handler) { s_CriticalHandler = handler; }

std::string LogTimestamp() {
  using boost::posix_time::microsec_clock;
  const boost::posix_time::ptime now =
      s_LocalTime ? microsec_clock::local_time() : microsec_clock::universal_time();
  switch (s_TimestampStyle) {
    case 1:
      return boost::posix_time::to_simple_string(now);
    case 2:
      return boost::posix_time::to_iso_string(now);
    default:
      return Style0(boost::posix_time::to_iso_string(now));
  }
}

void Log(const std::string& message, LogLevel level, const std::string& channel, uint64_t id) {
  if (level > s_Threshold) return;
  // Logging reports failures; it must never become one (allocation or format errors included).
  try {
    const std::string id_text = id ? std::to_string(id) : std::string();
    const std::string timestamp = LogTimestamp();
    const std::string level_name = LogLevelName(level);
    const std::string prefix =
        (boost::format("%s|%-8s|%-14s|%-3s|") % timestamp % level_name % channel % id_text).str();
    const std::string line = prefix + IndentContinuations(message, prefix.size());
    if (!line.empty()) {
      for (LogBase* sink = SinkList::head(); sink; sink = SinkList::Next(sink)) {
        sink->Write(line, level, channel, id, timestamp, level_name);
        if (level == LOG_CRITICAL) sink->Flush();
      }
    }
    if (level == LOG_CRITICAL && s_CriticalHandler)
      s_CriticalHandler(line, channel, id, timestamp, level_name);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vellog: could not log a line: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "vellog: could not log a line\n");
  }
}

void LogAssertionFailure(const char* expression, const char* file, int line) {
  try {
    Log(std::string("Assertion \"") + expression + "\" failed at " + file + ":" +
            std::to_string(line) + "; ",
        LOG_CRITICAL);
  } catch (...) {
    // Out of memory while building the text: nothing sensible is left to do.
  }
}

}  // namespace velpatch
