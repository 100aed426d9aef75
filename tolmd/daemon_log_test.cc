#include "tolmd/daemon_log.h"

#include <string>

#include <gtest/gtest.h>

namespace tolmd {
namespace {

TEST(DaemonLogTest, LevelNamesMatchWithoutRegardToCase) {
  const char* names[] = {"EMERG", "ALERT", "CRIT", "ERR", "WARN", "NOTICE", "INFO", "DEBUG"};
  for (int level = 0; level < 8; ++level) {
    EXPECT_EQ(logLevelFromName(names[level]), level);
  }
  EXPECT_EQ(logLevelFromName("notice"), 5);
  EXPECT_EQ(logLevelFromName("critical"), -1);
  EXPECT_EQ(logLevelFromName(""), -1);
}

TEST(DaemonLogTest, DaemonLogWritesLiteralTextOfAnyLengthUpToTheLevel) {
  setLogToStandardOutput(true);
  setLogLevel(kLogInfo);
  const std::string longText(300, 'z');
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(daemonLog(kLogDebug, "hidden"), 0);
  EXPECT_EQ(daemonLog(kLogInfo, "event %s", "100%s%n"), 13);
  EXPECT_EQ(daemonLog(kLogAlert, "%s", longText.c_str()), 300);
  std::string out = ::testing::internal::GetCapturedStdout();
  setLogToStandardOutput(false);
  EXPECT_EQ(out, "event 100%s%n\n" + longText + "\n");
}

}  // namespace
}  // namespace tolmd
