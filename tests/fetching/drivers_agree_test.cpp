// The fetch road gives the same tables through the sqlite driver and
// through the oracle driver over the stand-in client library: the metadata
// cache refresh, data of every rate and database type (gzip values, days
// without data), day rows, and log entries.
#include <gtest/gtest.h>

#include "small_sample_db.hpp"
#include "table_checks.hpp"
#include "test_database.hpp"
#include "tremora/fetching.hpp"

namespace tremora::fetching {
namespace {

struct Request {
  const char* method;
  const char* station;
  const char* rate;
  const char* type;
  bool gzip;
  bool split = true;
};

TEST(Drivers, FetchRoadGivesIdenticalTables) {
  testing::TempHome home;
  auto sqlite = db::open_sqlite(testing::small_sample_db());
  auto oracle = testing::open_through_standin(testing::small_sample_db());
  sqlite->info()["tremora_cache_namespace"] = "by-sqlite";
  oracle->info()["tremora_cache_namespace"] = "by-oracle";
  auto cache_sqlite = refresh_metastash(*sqlite), cache_oracle = refresh_metastash(*oracle);
  ASSERT_EQ(cache_sqlite.size(), 5u);
  for (const auto& [name, table] : cache_sqlite) {
    SCOPED_TRACE(name);
    testing::expect_same(cache_oracle.at(name), table);
  }
  const Request requests[] = {
      {"水位", "郯城", "分钟值", "预处理库", true},       {"水位", "全部", "分钟值", "原始库", true},
      {"地电场", "泰安", "秒钟值", "预处理库", true},     {"全部", "郯城", "小时值", "预处理库", false},
      {"全部", "全部", "日均值", "预处理库", false},      {"直流单装置地电阻率", "泰安", "小时值", "产品库", false},
      {"水位", "郑州", "分钟值", "预处理库", true, false}};
  for (const Request& r : requests) {
    SCOPED_TRACE(std::string(r.method) + " " + r.station + " " + r.rate + " " + r.type);
    FetchOptions o{.gzip_flag = r.gzip, .my_split_lines = r.split};
    auto a = fetching_data(sqlite.get(), "20240509", "20240511", r.method, r.station, r.rate, r.type, o);
    auto b = fetching_data(oracle.get(), "20240509", "20240511", r.method, r.station, r.rate, r.type, o);
    ASSERT_EQ(a.has_value(), b.has_value());
    if (!a) continue;
    EXPECT_GT(a->num_rows(), 0u);
    testing::expect_same(*b, *a);
  }
  auto dialog_a = fetching_dialog(sqlite.get(), {.startdate = "20240401", .enddate = "20240530"});
  auto dialog_b = fetching_dialog(oracle.get(), {.startdate = "20240401", .enddate = "20240530"});
  ASSERT_TRUE(dialog_a && dialog_b);
  EXPECT_GT(dialog_a->num_rows(), 0u);
  testing::expect_same(*dialog_b, *dialog_a);
}

}  // namespace
}  // namespace tremora::fetching
