#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tremora/logger_config.hpp"

namespace tremora::logger_config {
namespace {

TEST(Logger, NamedLoggersRecordLevelsAndTexts) {
  LogCapture capture;
  fetching_logger.debug("开始获取数据...");
  cleaning_logger.info("Splitting data...");
  plotting_logger.warning("w");
  get_logger("metastash").error("metadata cache refresh failed for stations: boom");
  auto records = capture.records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].logger, "fetching");
  EXPECT_EQ(records[0].level, Level::debug);
  EXPECT_EQ(records[0].message, "开始获取数据...");
  EXPECT_TRUE(capture.contains("cleaning", Level::info, "Splitting data..."));
  EXPECT_TRUE(capture.contains("plotting", Level::warning, "w"));
  EXPECT_TRUE(capture.contains("metastash", Level::error, "metadata cache refresh failed for stations: boom"));
  EXPECT_FALSE(capture.contains("metastash", Level::warning, "metadata cache refresh failed for stations: boom"));
  capture.clear();
  EXPECT_TRUE(capture.records().empty());
}

// Standard error shows what a message quotes, never obeys it.
// Held messages reach no sink until passed on, by their own loggers; an
// inner hold keeps its own, the outer one holds again after it.
TEST(Logger, HeldMessagesPassedOnLaterInOrder) {
  LogCapture capture;
  std::vector<Record> held;
  {
    HeldLog outer;
    fetching_logger.debug("a");
    {
      HeldLog inner;
      plotting_logger.warning("b");
      EXPECT_EQ(inner.take().size(), 1u);
    }
    cleaning_logger.info("c");
    held = outer.take();
    EXPECT_TRUE(outer.take().empty());
  }
  EXPECT_TRUE(capture.records().empty());
  ASSERT_EQ(held.size(), 2u);
  pass_on(held);
  auto records = capture.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].logger, "fetching");
  EXPECT_EQ(records[0].message, "a");
  EXPECT_EQ(records[1].logger, "cleaning");
  EXPECT_EQ(records[1].level, Level::info);
  plotting_logger.warning("d");  // no hold left: straight to the sinks
  EXPECT_EQ(capture.records().size(), 3u);
}

TEST(Logger, StandardErrorEscapesControlCharacters) {
  ::testing::internal::CaptureStderr();
  fetching_logger.error("place \x1b]0;owned\x07 end\nsecond line");
  std::string shown = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(shown.find("[fetching] [error] place \\x1b]0;owned\\x07 end\nsecond line\n"), std::string::npos) << shown;
}

TEST(Logger, LevelsParseAndApply) {
  EXPECT_EQ(parse_level("DEBUG"), Level::debug);
  EXPECT_EQ(parse_level("warn"), Level::warning);
  EXPECT_THROW(parse_level("loud"), std::invalid_argument);
  Level before = level();
  set_level(Level::error);
  EXPECT_FALSE(fetching_logger.enabled(Level::warning));
  EXPECT_TRUE(fetching_logger.enabled(Level::error));
  {
    LogCapture capture;  // a capture hears every level
    EXPECT_TRUE(fetching_logger.enabled(Level::debug));
  }
  EXPECT_FALSE(fetching_logger.enabled(Level::debug));
  set_level(before);
  // One logger per name.
  EXPECT_EQ(get_logger("metastash").name(), "metastash");
}

TEST(Logger, SafeFromManyThreads) {
  LogCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      Logger own = get_logger("thread" + std::to_string(t % 2));
      for (int i = 0; i < 500; ++i) {
        fetching_logger.debug("x");
        own.debug("y");
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(capture.records().size(), 4000u);
}

}  // namespace
}  // namespace tremora::logger_config
