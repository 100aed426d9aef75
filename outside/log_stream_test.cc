#include "outside/log_stream.h"

#include <iomanip>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace teska {
namespace {

TEST(LogStreamTest, GetLevelFromStringIgnoresCase) {
  const struct {
    const char* text;
    int level;
  } cases[] = {
      {"EMERG", 0},    {"alert", 1}, {"Crit", 2},    {"err", 3},      {"WARN", 4},    {"notice", 5},
      {"INFO", 6},     {"debug", 7}, {"DeBuG", 7},   {"critical", 2}, {"warning", 4}, {"error", 3},
      {"verbose", -1}, {"", -1},     {"debugx", -1}, {"7", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LogStream::getLevelFromString(c.text), c.level) << c.text;
  }
}

TEST(LogStreamTest, StandardOutputGetsOnlyLinesWithinMaxLevel) {
  LogStream log(1, "teska_test", false);
  EXPECT_EQ(log.maxLevel(), 6);
  log.setMaxLevel(4);
  log.setMaxLevel(8);   // out of range: ignored
  log.setMaxLevel(-1);  // likewise
  EXPECT_EQ(log.maxLevel(), 4);
  testing::internal::CaptureStdout();
  log << LogStream::info << "dropped" << std::endl;
  log << LogStream::warning << "kept " << 42 << std::endl;
  log << LogStream::debug << "dropped too" << std::endl;
  log << LogStream::alert << "hex " << std::hex << 255 << std::endl;
  log << "no level is info" << std::endl;
  log.setMaxLevel(6);
  log << "no level is info" << std::endl;
  log << LogStream::critical << std::dec << 255 << std::endl;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "kept 42\nhex ff\nno level is info\n255\n");
}

TEST(LogStreamTest, LinesOfConcurrentThreadsStayWhole) {
  LogStream log(1, "teska_test", false);
  constexpr int kThreads = 4;
  constexpr int kLines = 100;
  testing::internal::CaptureStdout();
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i) {
        log << LogStream::info << "thread " << t << " line " << i << " end" << std::endl;
      }
    });
  }
  for (std::thread& writer : writers) {
    writer.join();
  }
  std::istringstream out(testing::internal::GetCapturedStdout());
  std::set<std::string> lines;
  std::string line;
  while (std::getline(out, line)) {
    lines.insert(line);
  }
  ASSERT_EQ(lines.size(), size_t{kThreads * kLines});
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kLines; ++i) {
      EXPECT_EQ(lines.count("thread " + std::to_string(t) + " line " + std::to_string(i) + " end"),
                1u);
    }
  }
}

}  // namespace
}  // namespace teska
