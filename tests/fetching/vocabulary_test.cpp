#include <gtest/gtest.h>

#include "tremora/fetching.hpp"

namespace tremora::fetching {
namespace {

TEST(DatabaseType, CodesByExactName) {
  EXPECT_EQ(DatabaseType::get_id("原始库"), "DYS");
  EXPECT_EQ(DatabaseType::get_id(DatabaseType::PREPROCESSED), "DYU");
  EXPECT_EQ(DatabaseType::get_id("产品库"), "CP");
  for (const char* other : {"PRODUCT", "RAW", "", " 产品库", "DLG", "产品"})
    EXPECT_FALSE(DatabaseType::get_id(other)) << other;
}

TEST(SampleRateType, RecordsByNameOrAlias) {
  const SampleRateConfig day{"90", 86400, 1};
  EXPECT_EQ(SampleRateType::get_config("日值"), day);
  EXPECT_EQ(SampleRateType::get_config("日均值"), day);
  EXPECT_EQ(SampleRateType::get_config("秒值"), (SampleRateConfig{"02", 1, 86400}));
  EXPECT_EQ(SampleRateType::get_config(SampleRateType::MINUTE), (SampleRateConfig{"01", 60, 1440}));
  EXPECT_EQ(SampleRateType::get_config("分值"), (SampleRateConfig{"01", 60, 1440}));
  EXPECT_EQ(SampleRateType::get_config("整点值"), (SampleRateConfig{"60", 3600, 24}));
  EXPECT_EQ(SampleRateType::get_config("小时值"), (SampleRateConfig{"60", 3600, 24}));
  for (const char* other : {"DAY", "日", "", "MINUTE", "分钟"})
    EXPECT_FALSE(SampleRateType::get_config(other)) << other;
}

TEST(SampleRateType, RateByCodeWithoutPadding) {
  EXPECT_EQ(SampleRateType::get_rate_by_id(60), 3600);
  EXPECT_EQ(SampleRateType::get_rate_by_id(int64_t{90}), 86400);
  EXPECT_EQ(SampleRateType::get_rate_by_id("01"), 60);
  EXPECT_EQ(SampleRateType::get_rate_by_id(std::string("02")), 1);
  EXPECT_EQ(SampleRateType::get_rate_by_id("60"), 3600);
  EXPECT_FALSE(SampleRateType::get_rate_by_id("1"));
  EXPECT_FALSE(SampleRateType::get_rate_by_id(1));
  EXPECT_FALSE(SampleRateType::get_rate_by_id(2));
  EXPECT_FALSE(SampleRateType::get_rate_by_id(60.0));
  EXPECT_FALSE(SampleRateType::get_rate_by_id(Value()));
  EXPECT_FALSE(SampleRateType::get_rate_by_id(" 01"));
}

}  // namespace
}  // namespace tremora::fetching
