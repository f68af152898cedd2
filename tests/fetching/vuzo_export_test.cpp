// DataFetcher's VUZO export: the records of the dictionaries, the export
// time, the file written and what happens when there is nothing to write or
// the write fails.
#include <gtest/gtest.h>

#include <regex>

#include "small_sample_db.hpp"
#include "table_checks.hpp"
#include "test_database.hpp"
#include "tremora/errors.hpp"
#include "tremora/export.hpp"
#include "tremora/fetching.hpp"
#include "tremora/logger_config.hpp"
#include "zone_now.hpp"

namespace tremora::fetching {
namespace {

namespace fs = std::filesystem;
using logger_config::Level;
using logger_config::LogCapture;
using testing::error_of;

// A folder for HOME and the metadata cache of one test.
using Offline = testing::TempHome;

Table strings(const std::vector<std::pair<std::string, std::vector<std::optional<std::string>>>>& columns) {
  Table t;
  for (const auto& [name, values] : columns) t.add_column(Column::from_strings(name, values));
  return t;
}

// A cache without namespace (no connection) whose stations table lists
// 37001 twice, after 41001.
void write_cache() {
  using metastash::MetadataCache;
  MetadataCache::save_table("stations", strings({{"STATIONID", {"41001", "37001", "37005", "37001"}},
                                                 {"STATIONNAME", {"郑州", "郯城", "泰安", "郯城旧址"}}}));
  MetadataCache::save_table("points", strings({{"STATIONID", {"37001"}}, {"POINTID", {"1"}}}));
  MetadataCache::save_table(
      "items", strings({{"ITEMID", {"4112", "3211", std::nullopt}}, {"ITEMNAME", {"水位", "地电场NS", "无码"}}}));
}

// Minute samples keyed by STARTDATE, `per_station` rows for each station.
Table samples(const std::vector<std::string>& stations, std::size_t per_station) {
  std::vector<int64_t> times;
  std::vector<std::optional<std::string>> ids, items;
  std::vector<float> values;
  for (const auto& s : stations)
    for (std::size_t i = 0; i < per_station; ++i) {
      times.push_back(make_timestamp(2024, 5, 10).ns + int64_t(i) * kNanosPerMinute);
      ids.push_back(s);
      items.push_back("4112");
      values.push_back(float(i));
    }
  Table t;
  t.add_column(Column::from_strings("STATIONID", ids).dictionary_encoded());
  t.add_column(Column::from_strings("ITEMID", items).dictionary_encoded());
  t.add_column(Column::from_float32("OBSVALUE", values));
  t.add_column(Column::from_timestamps("STARTDATE", times));
  t.set_key("STARTDATE");
  return t;
}

using testing::texts;

using testing::zone_now;

exchange::VuzoContext context_of(const std::optional<Table>& vuzo) {
  if (!vuzo) throw std::logic_error("no VUZO table");
  return exchange::context_of(*vuzo);
}

TEST(VuzoExport, RecordsFollowTheDictionaryRows) {
  Offline offline;
  write_cache();
  // Many rows of 37001 and of 41001: each matching dictionary row once, in
  // the dictionary's order.
  auto c = context_of(DataFetcher::to_vuzo(nullptr, samples({"37001", "41001"}, 500), 60));
  EXPECT_EQ(texts(c.station_info, "STATIONID"), (std::vector<std::string>{"41001", "37001", "37001"}));
  EXPECT_EQ(texts(c.station_info, "STATIONNAME"), (std::vector<std::string>{"郑州", "郯城", "郯城旧址"}));
  EXPECT_EQ(texts(c.item_info, "ITEMNAME"), (std::vector<std::string>{"水位"}));
  EXPECT_EQ(c.sampling_rate, 60);
  // A station the cache does not know: no station records, the export goes on.
  auto unknown = DataFetcher::to_vuzo(nullptr, samples({"99999"}, 3), 3600);
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->attributes().at("station_info"), "[]");
  EXPECT_EQ(unknown->num_rows(), 3u);
  // Codes are matched by value: the text "4112" is not the number 4112, a
  // missing code matches nothing.
  Table numbers = samples({"37001"}, 2);
  numbers.set_column(Column::from_int64("ITEMID", {4112, 4112}));
  EXPECT_EQ(context_of(DataFetcher::to_vuzo(nullptr, numbers, 60)).item_info.num_rows(), 0u);
  Table missing = samples({"37001"}, 2);
  missing.set_column(Column::from_strings("ITEMID", {std::nullopt, std::nullopt}));
  EXPECT_EQ(context_of(DataFetcher::to_vuzo(nullptr, missing, 60)).item_info.num_rows(), 0u);
  Table no_items = samples({"37001"}, 2);
  no_items.remove_column("ITEMID");
  EXPECT_THROW(DataFetcher::to_vuzo(nullptr, no_items, 60), KeyError);
}

TEST(VuzoExport, ExportTimeIsTheLocalTimeOfTheConversion) {
  Offline offline;
  write_cache();
  Table df = samples({"37001"}, 2);  // "fetched" before the conversion
  // The wall clock of the zone TZ names, between two readings around the conversion.
  for (const char* zone : {"Asia/Shanghai", "Pacific/Pago_Pago"}) {
    testing::ScopedEnv tz("TZ", zone);
    Timestamp before = zone_now(zone);
    std::string text = context_of(DataFetcher::to_vuzo(nullptr, df, 60)).export_time;
    Timestamp after = zone_now(zone);
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d{6})?)"))) << text;
    Timestamp t = parse_timestamp(text);
    EXPECT_LE(before, t) << zone << ": " << text;
    EXPECT_LT(t, add_nanos(after, kNanosPerSecond)) << zone << ": " << text;
  }
}

TEST(VuzoExport, NothingToExportIsLoggedAndWritesNothing) {
  Offline offline;  // no cache: an empty table needs none
  fs::path out = offline.home_dir / "out.vuzo";
  LogCapture capture;
  EXPECT_FALSE(DataFetcher::to_vuzo(nullptr, std::optional<Table>(), 60));
  EXPECT_FALSE(DataFetcher::to_vuzo(nullptr, samples({}, 0), 60));
  DataFetcher::export_vuzo(nullptr, std::optional<Table>(), out, 60);
  EXPECT_TRUE(capture.contains("fetching", Level::error, "导出失败：无法生成 VUZO Table"));
  capture.clear();
  DataFetcher::export_vuzo(nullptr, samples({}, 0), out, 60);
  EXPECT_TRUE(capture.contains("fetching", Level::error, "导出失败：无法生成 VUZO Table"));
  EXPECT_FALSE(fs::exists(out));
}

TEST(VuzoExport, MissingCacheReachesTheCaller) {
  Offline offline;
  fs::path out = offline.home_dir / "out.vuzo";
  std::string expected = "未找到本地元数据缓存，请先联网执行 refresh_metastash()。缓存目录: " +
                         (offline.home_dir / ".tremo/metastash").string();
  EXPECT_EQ(error_of([] { DataFetcher::to_vuzo(nullptr, samples({"37001"}, 2), 60); }), expected);
  EXPECT_EQ(error_of([&] { DataFetcher::export_vuzo(nullptr, samples({"37001"}, 2), out, 60); }), expected);
  EXPECT_FALSE(fs::exists(out));
}

TEST(VuzoExport, FilesAreReplacedWholeOrNotAtAll) {
  Offline offline;
  write_cache();
  testing::TempDir dir;
  fs::path out = dir / "water.vuzo";
  LogCapture capture;
  DataFetcher::export_vuzo(nullptr, samples({"37001"}, 5), out, 60);
  EXPECT_TRUE(capture.contains("fetching", Level::info, "数据已自动关联元数据并导出至: " + out.string()));
  // An existing file is replaced.
  DataFetcher::export_vuzo(nullptr, samples({"41001"}, 7), out, 60);
  exchange::VuzoFile first = exchange::read_vuzo(out);
  EXPECT_EQ(first.table.num_rows(), 7u);
  EXPECT_EQ(texts(first.context.station_info, "STATIONNAME"), std::vector<std::string>{"郑州"});
  // A write that fails half-way (a text that is not UTF-8) leaves the
  // previous file as it was, and no temporary file.
  capture.clear();
  Table bad = samples({"37001"}, 3);
  bad.add_column(Column::from_strings("NOTE", {"ok", std::string("\xff\xfe", 2), "ok"}));
  EXPECT_THROW(DataFetcher::export_vuzo(nullptr, bad, out, 60), std::invalid_argument);
  EXPECT_FALSE(capture.contains("fetching", Level::info, "数据已自动关联元数据并导出至: " + out.string()));
  testing::expect_same(exchange::read_vuzo(out).table, first.table);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  // A folder that does not exist, or a path through a file: the error names
  // the path and nothing is made.
  for (fs::path nowhere : {dir / "missing/water.vuzo", out / "water.vuzo"}) {
    std::string message = error_of([&] { DataFetcher::export_vuzo(nullptr, samples({"37001"}, 3), nowhere, 60); });
    EXPECT_NE(message.find("'" + nowhere.string() + "'"), std::string::npos) << message;
    EXPECT_THROW(DataFetcher::export_vuzo(nullptr, samples({"37001"}, 3), nowhere, 60), IOError);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(VuzoExport, FetchedMinuteDataRoundTrips) {
  Offline offline;
  auto conn = testing::open_test_db(testing::small_sample_db());
  conn->info()["tremora_cache_namespace"] = "sample";
  refresh_metastash(*conn);
  auto df =
      fetching_data(conn.get(), "20240509", "20240510", "水位", "郯城", "分钟值", "预处理库", {.gzip_flag = true});
  ASSERT_TRUE(df);
  testing::TempDir dir;
  DataFetcher::export_vuzo(conn.get(), df, dir / "water.vuzo", 60);
  exchange::VuzoFile back = exchange::read_vuzo(dir / "water.vuzo");
  Table expected = *df;
  expected.reset_key();
  testing::expect_same(back.table, expected);
  EXPECT_EQ(texts(back.context.station_info, "STATIONNAME"), std::vector<std::string>{"郯城"});
  EXPECT_EQ(back.context.station_info.column_names(),
            (std::vector<std::string>{"STATIONID", "STATIONNAME", "LONGITUDE", "LATITUDE"}));
  EXPECT_EQ(texts(back.context.item_info, "ITEMID"), std::vector<std::string>{"4112"});
  EXPECT_EQ(back.context.sampling_rate, 60);
}

}  // namespace
}  // namespace tremora::fetching
