#include "log.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "capturelog.h"

namespace velpatch {
namespace {

// Restores the process-wide settings after every test.
class LogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetLogLevel(LOG_DEVELOP);
    SetLogLocalTime(0);
    SetLogTimestampStyle(0);
    SetCriticalHandler(nullptr);
  }
};

TEST_F(LogTest, LineHasFixedWidthColumns) {
  CaptureLog log;
  Log("disk full", LOG_ERROR, "engine", 42);
  ASSERT_EQ(log.entries.size(), 1u);
  const CaptureLog::Entry& e = log.entries[0];
  EXPECT_EQ(e.level_name, "ERROR");
  EXPECT_EQ(e.channel, "engine");
  EXPECT_EQ(e.id, 42u);
  ASSERT_EQ(e.timestamp.size(), 26u);
  EXPECT_EQ(e.line, e.timestamp + "|ERROR   |engine        |42 |disk full");
}

TEST_F(LogTest, IdZeroLeavesColumnEmpty) {
  CaptureLog log;
  Log("m", LOG_DEVELOP, "", 0);
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].line.substr(26), "|DEVELOP |              |   |m");
}

TEST_F(LogTest, LevelNames) {
  const struct {
    LogLevel level;
    const char* name;
  } cases[] = {{LOG_CRITICAL, "CRITICAL"},
               {LOG_ERROR, "ERROR"},
               {LOG_WARNING, "WARNING"},
               {LOG_DEBUG, "DEBUG"},
               {LOG_INFO, "INFO"},
               {LOG_DEVELOP, "DEVELOP"},
               {static_cast<LogLevel>(9), "UNKNOWN"}};
  for (const auto& c : cases) EXPECT_STREQ(LogLevelName(c.level), c.name);
}

TEST_F(LogTest, ThresholdDropsLessSevereLevels) {
  CaptureLog log;
  SetLogLevel(LOG_ERROR);
  Log("dropped", LOG_WARNING);
  EXPECT_TRUE(log.entries.empty());
  Log("kept", LOG_ERROR);
  Log("kept too", LOG_CRITICAL);
  EXPECT_EQ(log.entries.size(), 2u);
}

TEST_F(LogTest, ContinuationLinesAlignUnderMessage) {
  CaptureLog log;
  Log("a\nb", LOG_ERROR, "", 0);
  ASSERT_EQ(log.entries.size(), 1u);
  const std::string& line = log.entries[0].line;
  const size_t prefix = line.find("a\n");
  ASSERT_NE(prefix, std::string::npos);
  EXPECT_EQ(line.substr(prefix), "a\n" + std::string(prefix, ' ') + "b");
}

TEST_F(LogTest, TimestampStyles) {
  const struct {
    int style;
    const char* shape;
  } cases[] = {
      {0, R"( *\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d*)"},
      {1, R"(\d{4}-[A-Z][a-z]{2}-\d\d \d\d:\d\d:\d\d(\.\d+)?)"},
      {2, R"(\d{8}T\d{6}(\.\d+)?)"},
  };
  for (int local : {0, 1}) {
    SetLogLocalTime(local);
    for (const auto& c : cases) {
      SetLogTimestampStyle(c.style);
      const std::string ts = LogTimestamp();
      EXPECT_TRUE(std::regex_match(ts, std::regex(c.shape))) << c.style << ": " << ts;
      if (c.style == 0) {
        EXPECT_EQ(ts.size(), 26u) << ts;
      }
    }
  }
}

std::string s_HandledLine;
int s_HandlerCalls = 0;
void Handler(const std::string& line, const std::string&, uint64_t, const std::string&,
             const std::string&) {
  s_HandledLine = line;
  ++s_HandlerCalls;
}

TEST_F(LogTest, CriticalLinesFlushAndReachHandler) {
  s_HandlerCalls = 0;
  SetCriticalHandler(&Handler);
  Log("no sink yet", LOG_CRITICAL);  // the handler runs even without sinks
  EXPECT_EQ(s_HandlerCalls, 1);

  CaptureLog log;
  Log("plain", LOG_ERROR);
  EXPECT_EQ(log.flushes, 0);
  EXPECT_EQ(s_HandlerCalls, 1);
  Log("bad", LOG_CRITICAL);
  EXPECT_EQ(log.flushes, 1);
  EXPECT_EQ(s_HandlerCalls, 2);
  EXPECT_EQ(s_HandledLine, log.entries.back().line);
}

TEST_F(LogTest, SinksRegisterInOrderAndLeaveOnDestruction) {
  std::vector<int> order;
  struct Recorder : LogBase {
    Recorder(std::vector<int>* o, int n) : order(o), number(n) {}
    void Write(const std::string&, LogLevel, const std::string&, uint64_t, const std::string&,
               const std::string&) override {
      order->push_back(number);
    }
    std::vector<int>* order;
    int number;
  };
  Recorder first(&order, 1);
  {
    Recorder second(&order, 2);
    Recorder third(&order, 3);
    Log("x", LOG_INFO);
  }
  Log("y", LOG_INFO);
  EXPECT_EQ(order, std::vector<int>({1, 2, 3, 1}));
}

TEST_F(LogTest, AssertionMessageForm) {
  CaptureLog log;
  const int value = 2;
  EXPECT_FALSE(VLOG_CHECK(value == 1));
  const int line = __LINE__ - 1;
  EXPECT_TRUE(VLOG_CHECK(value == 2));
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].level, LOG_CRITICAL);
  const std::string expected = "|Assertion \"value == 1\" failed at " + std::string(__FILE__) +
                               ":" + std::to_string(line) + "; ";
  EXPECT_TRUE(log.Has(LOG_CRITICAL, expected)) << log.Dump();
}

}  // namespace
}  // namespace velpatch
