#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/log_capture.h"

TEST(LogSeam, SinkReceivesPriorityTagAndTextFromManyThreads) {
  kyrtest::LogCapture cap;
  std::vector<std::thread> ts;
  for (int t = 0; t < 4; t++)
    ts.emplace_back([t] {
      for (int i = 0; i < 100; i++) kyr_log_printf(KYR_LOG_WARN, "T", "thread %d line %d", t, i);
    });
  for (auto &t : ts) t.join();
  auto lines = cap.Lines();
  ASSERT_EQ(lines.size(), 400u);
  EXPECT_EQ(lines[0].prio, KYR_LOG_WARN);
  EXPECT_EQ(lines[0].tag, "T");
  EXPECT_EQ(cap.Count("thread 3 line 99"), 1u);
}

TEST(LogSeam, LongLinesAreCutNotOverrun) {
  kyrtest::LogCapture cap;
  std::string big(5000, 'x');
  kyr_log_printf(KYR_LOG_INFO, "T", "%s", big.c_str());
  auto lines = cap.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text.size(), 1023u);
}
