// The whole fetch road on generated databases: query texts, name look-ups
// with their cache fallback, data and log fetches, and the canned loaders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "recording_connection.hpp"
#include "small_sample_db.hpp"
#include "sqlite_file.hpp"
#include "table_checks.hpp"
#include "test_database.hpp"
#include "tremora/errors.hpp"
#include "tremora/fetching.hpp"
#include "tremora/gzip.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/postprocessing.hpp"
#include "zone_now.hpp"

namespace tremora::fetching {
namespace {

using logger_config::Level;
using logger_config::LogCapture;

using testing::texts;

Table names(std::vector<std::optional<std::string>> v, const std::string& column) {
  return Table(std::vector<Column>{Column::from_strings(column, v)});
}

// A folder for HOME and the metadata cache of one test.
using Offline = testing::TempHome;

std::shared_ptr<db::Connection> sample() {
  auto conn = testing::open_test_db(testing::small_sample_db());
  conn->info()["tremora_cache_namespace"] = "sample";
  return conn;
}

// A small database made by SQL statements, for cases the sample lacks.
std::shared_ptr<db::Connection> mini_db(const testing::TempDir& dir, const std::vector<std::string>& statements) {
  return testing::open_test_db(testing::make_sqlite_file(dir, statements));
}

const std::vector<std::string> kMiniDictionaries{
    "CREATE TABLE QZ_DICT_METHODS (METHODID TEXT, METHODNAME TEXT)",
    "INSERT INTO QZ_DICT_METHODS VALUES ('411', '水位'), ('312', '直流单装置地电阻率')",
    "CREATE TABLE QZ_DICT_STATIONS (STATIONID TEXT, STATIONNAME TEXT, LONGITUDE REAL, LATITUDE REAL)",
    "INSERT INTO QZ_DICT_STATIONS VALUES ('37001', '郯城', 118.35, 34.61), ('370082', '测试台', 117, 36)",
    "CREATE TABLE QZ_DICT_ITEMS (ITEMID TEXT, ITEMNAME TEXT, UNIT TEXT)",
    "INSERT INTO QZ_DICT_ITEMS VALUES ('4112', '水位', 'm'), ('3211', '地电场NS', 'mV/km')",
    "CREATE TABLE QZ_DICT_STATIONITEMS (STATIONID TEXT, ITEMID TEXT)",
    "INSERT INTO QZ_DICT_STATIONITEMS VALUES ('37001', '4112'), ('370082', '3211')",
};

TEST(QueryBuilder, TextsOfTheExamples) {
  Table t = names({"T"}, "table_name");
  EXPECT_EQ(*QueryBuilder::build_data_query(t, "20240301", "20240302", names({"37005"}, "stationid")),
            "SELECT * FROM QZDATA.\"T\" \nWHERE STARTDATE >= TO_DATE('20240301', 'yyyymmdd') \n"
            "AND STARTDATE < TO_DATE('20240302', 'yyyymmdd')+1 AND (STATIONID=37005)");
  Table two = names({"A", "B"}, "table_name");
  std::string a =
      "SELECT * FROM QZDATA.\"A\" \nWHERE STARTDATE >= TO_DATE('20240301', 'yyyymmdd') \n"
      "AND STARTDATE < TO_DATE('20240301', 'yyyymmdd')+1";
  std::string b = "SELECT * FROM QZDATA.\"B\"" + a.substr(std::string("SELECT * FROM QZDATA.\"A\"").size());
  EXPECT_EQ(*QueryBuilder::build_data_query(two, "2024-03-01 18:00", Timestamp{make_timestamp(2024, 3, 1, 23).ns}),
            a + " UNION ALL " + b);
  // A table name is one quoted name, whatever it holds.
  std::string quoted = *QueryBuilder::build_data_query(names({"A\" B"}, "table_name"), "20240301", "20240301");
  EXPECT_EQ(quoted.substr(0, 29), "SELECT * FROM QZDATA.\"A\"\" B\" ");
  std::string filtered = *QueryBuilder::build_data_query(
      t, "20240301", "20240302", names({"37005", "41001"}, "stationid"), names({"3211", "3212"}, "itemid"), "2");
  EXPECT_NE(filtered.find("+1 AND (STATIONID=37005 OR STATIONID=41001) AND (ITEMID='3211' OR ITEMID='3212') "
                          "AND (POINTID='2')"),
            std::string::npos)
      << filtered;
  std::string dialog =
      *QueryBuilder::build_dialog_query(two, "20240301", "20240302", "313", std::nullopt, names({"4112"}, "itemid"));
  EXPECT_EQ(dialog.find("AND EVTID IN (:evt_id) AND (ITEMID='4112')") != std::string::npos, true) << dialog;
  std::size_t binds = 0;
  for (std::size_t p = dialog.find(":evt_id"); p != std::string::npos; p = dialog.find(":evt_id", p + 1)) ++binds;
  EXPECT_EQ(binds, 2u);
  EXPECT_EQ(dialog.find("POINTID"), std::string::npos);
  // Codes cannot smuggle SQL into the text.
  std::string hostile = *QueryBuilder::build_data_query(t, "20240301", "20240301", names({"1 OR 1=1"}, "stationid"),
                                                        names({"x'y"}, "itemid"), "2') OR ('1");
  EXPECT_NE(hostile.find("(STATIONID='1 OR 1=1') AND (ITEMID='x''y') AND (POINTID='2'') OR (''1')"), std::string::npos)
      << hostile;
  LogCapture capture;
  EXPECT_FALSE(QueryBuilder::build_data_query(names({}, "table_name"), "20240301", "20240302"));
  EXPECT_TRUE(capture.contains("fetching", Level::error, "没有找到匹配的表名!"));
  // A station or item look-up that found no code (or only missing ones) builds no query, never "AND ()".
  EXPECT_FALSE(QueryBuilder::build_data_query(t, "20240301", "20240302", names({}, "stationid")));
  EXPECT_TRUE(capture.contains("fetching", Level::error, "没有找到匹配的台站!"));
  EXPECT_FALSE(QueryBuilder::build_dialog_query(t, "20240301", "20240302", "313", std::nullopt,
                                                names({std::nullopt}, "itemid")));
  EXPECT_TRUE(capture.contains("fetching", Level::error, "没有找到匹配的测项!"));
  EXPECT_THROW(QueryBuilder::build_data_query(t, "2024-13-01", "20240302"), std::invalid_argument);
}

TEST(MetadataFetcher, LookupsOnlineAndFromTheCache) {
  Offline offline;
  auto conn = sample();
  EXPECT_EQ(texts(MetadataFetcher::get_method_ids(conn.get(), "电磁"), "methodid"),
            (std::vector<std::string>{"312", "321"}));
  EXPECT_EQ(texts(MetadataFetcher::get_method_ids(conn.get(), "流体"), "methodid"),
            (std::vector<std::string>{"411", "491"}));
  // By name against the database: 417 stays; against the cache it goes.
  EXPECT_EQ(texts(MetadataFetcher::get_method_ids(conn.get(), "水位"), "methodid"),
            (std::vector<std::string>{"411", "417"}));
  EXPECT_THROW(MetadataFetcher::get_method_ids(nullptr, "水位"), FileNotFoundError);  // no cache yet
  refresh_metastash(*conn);
  const std::string ns = "sample";
  testing::RecordingConnection down;
  down.fail = true;
  down.info()["tremora_cache_namespace"] = ns;
  EXPECT_EQ(texts(MetadataFetcher::get_method_ids(&down, "水位"), "methodid"), (std::vector<std::string>{"411"}));
  EXPECT_EQ(texts(MetadataFetcher::get_method_ids(&down, "全部"), "methodid"),
            (std::vector<std::string>{"411", "491", "312", "321"}));
  EXPECT_EQ(texts(*MetadataFetcher::get_station_ids(conn.get(), "郯城"), "stationid"),
            (std::vector<std::string>{"37001"}));
  EXPECT_EQ(texts(*MetadataFetcher::get_station_ids(&down, "郑州"), "stationid"), (std::vector<std::string>{"41001"}));
  EXPECT_FALSE(MetadataFetcher::get_station_ids(nullptr, "全部"));
  EXPECT_FALSE(MetadataFetcher::get_item_ids(nullptr, "全部"));
  std::vector<std::string> two{"水位", "直流单装置地电阻率"};
  EXPECT_EQ(texts(*MetadataFetcher::get_item_ids(&down, two), "itemid"), (std::vector<std::string>{"3121", "4112"}));
  EXPECT_EQ(texts(*MetadataFetcher::get_item_ids(&down, "地电场"), "itemid"),
            (std::vector<std::string>{"3211", "3212"}));
  EXPECT_EQ(texts(*MetadataFetcher::get_item_ids(conn.get(), std::vector<std::string>{"水位", "it's"}), "itemid"),
            (std::vector<std::string>{"4112"}));
  // Table names: keyword clause for products, no development tables, no offline fallback.
  Table m312 = names({"312"}, "methodid");
  EXPECT_EQ(texts(*MetadataFetcher::get_table_names(conn.get(), m312, "CP", "60"), "table_name"),
            (std::vector<std::string>{"QZ_312_CP_AVG_60", "QZ_312_CP_INS_60"}));
  EXPECT_EQ(texts(*MetadataFetcher::get_table_names(conn.get(), names({"411"}, "methodid"), "DYU", "01"), "table_name"),
            (std::vector<std::string>{"QZ_411_DYU_01"}));
  EXPECT_FALSE(MetadataFetcher::get_table_names(conn.get(), names({}, "methodid"), "DYU", "01"));
  EXPECT_THROW(MetadataFetcher::get_table_names(&down, m312, "DYU", "60"), DatabaseError);
  auto info = timeseries_info(&down);
  EXPECT_EQ(info.stations.num_rows(), 3u);
}

TEST(MetadataFetcher, MissingCacheNamesItsFolder) {
  Offline offline;
  try {
    MetadataFetcher::get_timeseries_info(nullptr);
    FAIL();
  } catch (const std::runtime_error& e) {
    std::string dir = (offline.home_dir.path() / ".tremo/metastash").string();
    EXPECT_EQ(std::string(e.what()), "未找到本地元数据缓存，请先联网执行 refresh_metastash()。缓存目录: " + dir);
    try {
      std::rethrow_if_nested(e);
      FAIL() << "no cause attached";
    } catch (const FileNotFoundError& cause) {
      EXPECT_NE(std::string(cause.what()).find("stations.parquet"), std::string::npos);
    }
  }
}

TEST(DataFetcher, EveryRateAndDatabaseType) {
  Offline offline;
  auto conn = sample();
  // Minute data, compressed: one row per sample, in time order.
  auto minute =
      fetching_data(conn.get(), "20240509", "20240510", "水位", "郯城", "分钟值", "预处理库", {.gzip_flag = true});
  ASSERT_TRUE(minute);
  EXPECT_EQ(minute->num_rows(), 2u * 1440);
  EXPECT_EQ(minute->key().name(), "STARTDATE");
  EXPECT_EQ(minute->key().int64s()[1] - minute->key().int64s()[0], kNanosPerMinute);
  EXPECT_EQ(minute->column("OBSVALUE").type(), DataType::Float32);
  EXPECT_EQ(minute->column_names(),
            (std::vector<std::string>{"STATIONID", "POINTID", "ITEMID", "SAMPLERATE", "OBSVALUE"}));
  EXPECT_EQ(minute->column("STATIONID").text(0), "37001");
  // Second data of both geo-electric items.
  auto second =
      fetching_data(conn.get(), "20240510", "20240510", "地电场", "泰安", "秒值", "原始库", {.gzip_flag = true});
  ASSERT_TRUE(second);
  EXPECT_EQ(second->num_rows(), 2u * 86400);
  EXPECT_EQ(second->column("ITEMID").type(), DataType::String);  // numeric codes of the raw tables become texts
  // Hour products: the AVG and the INS table.
  auto hour =
      fetching_data(conn.get(), "20240401", "20240402", "地电阻率", "全部", "整点值", "产品库", {.gzip_flag = true});
  ASSERT_TRUE(hour);
  EXPECT_EQ(hour->num_rows(), 2u * 24 * 2);
  EXPECT_TRUE(hour->has_column("QUALITY"));
  // Day data by item name, and day rows without splitting.
  auto day = fetching_data(conn.get(), "20240401", "20240430", "流体", "全部", "日值", "原始库", {.item_name = "水位"});
  ASSERT_TRUE(day);
  EXPECT_EQ(day->num_rows(), 30u * 2);  // 郯城 and 郑州
  auto rows = fetching_data(conn.get(), "20240509", "20240511", "水位", "郯城", "分钟值", "预处理库",
                            {.gzip_flag = true, .my_split_lines = false, .point_id = "1"});
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->num_rows(), 3u);
  EXPECT_FALSE(rows->has_key());
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(std::count(rows->column("OBSVALUE").text(i).begin(), rows->column("OBSVALUE").text(i).end(), ' '), 1439);
  // Nothing found: an empty table with upper-case columns.
  LogCapture capture;
  auto none = fetching_data(conn.get(), "20300101", "20300102", "水位", "郯城", "日均值", "预处理库");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->num_rows(), 0u);
  EXPECT_TRUE(none->has_column("OBSVALUE"));
  EXPECT_TRUE(capture.contains("fetching", Level::debug, "查询结果为空!"));
}

TEST(DataFetcher, RequestsThatCannotBeResolved) {
  Offline offline;
  auto conn = sample();
  LogCapture capture;
  EXPECT_FALSE(fetching_data(conn.get(), "20240401", "20240402", "水位", "全部", "日", "预处理库"));
  EXPECT_TRUE(capture.contains("fetching", Level::error, "未选择数据类型!"));
  EXPECT_FALSE(fetching_data(conn.get(), "20240401", "20240402", "水位", "全部", "日值", "PRODUCT"));
  EXPECT_TRUE(capture.contains("fetching", Level::error, "未选择数据库类型!"));
  EXPECT_FALSE(fetching_data(conn.get(), "20240401", "20240402", "地电阻率", "全部", "分钟值", "预处理库"));
  EXPECT_TRUE(capture.contains("fetching", Level::debug, "未找到匹配的表名!"));
  // Names that match no station or item: nothing, with the reason logged, not broken SQL.
  EXPECT_FALSE(fetching_data(conn.get(), "20240401", "20240402", "水位", "无此台", "日值", "预处理库"));
  EXPECT_TRUE(capture.contains("fetching", Level::error, "没有找到匹配的台站!"));
  EXPECT_FALSE(fetching_data(conn.get(), "20240401", "20240402", "水位", "全部", "日值", "预处理库",
                             {.item_name = std::vector<std::string>{"无此测项", "水"}}));
  EXPECT_TRUE(capture.contains("fetching", Level::error, "没有找到匹配的测项!"));
  EXPECT_FALSE(fetching_dialog(conn.get(), {.stationname = "无此台"}));
  EXPECT_TRUE(capture.contains("fetching", Level::error, "未生成SQL查询!"));
  EXPECT_THROW(fetching_data(conn.get(), "2024-04-31", "20240402", "水位", "全部", "日值", "预处理库"),
               std::invalid_argument);
  // A NUL ends a name inside LIKE ("\0" matched every station): refused, naming the argument.
  std::string nul("\0", 1);
  std::string error =
      testing::error_of([&] { fetching_data(conn.get(), "20240401", "20240402", "水位", nul, "日值", "预处理库"); });
  EXPECT_EQ(error, "station_name holds a NUL character, which no name has");
  EXPECT_THROW(MetadataFetcher::get_method_ids(conn.get(), std::string("水") + nul), std::invalid_argument);
  EXPECT_THROW(MetadataFetcher::get_item_ids(conn.get(), std::vector<std::string>{"水位", nul}), std::invalid_argument);
  EXPECT_THROW(fetching_dialog(conn.get(), {.itemname = nul}), std::invalid_argument);
}

// The outcome names the argument and value at fault, with the messages the
// fetch logged, and its look-ups are the fetch's own: a request that
// fails costs the same statements as the plain fetch.
TEST(DataFetcher, OutcomeSaysWhichArgumentMatchedNothing) {
  Offline offline;
  auto rec = std::make_shared<testing::RecordingConnection>(sample());
  using R = Unresolved::Reason;
  struct Case {
    std::string method, station, rate, type;
    ItemNames items;
    R reason;
    std::string argument, value, text;
    std::vector<std::string> logged;
  };
  const std::vector<Case> cases{
      {"无此方法",
       "全部",
       "日值",
       "预处理库",
       std::string(kAll),
       R::NoMethod,
       "method_name",
       "无此方法",
       "method_name '无此方法' matches no method or discipline",
       {"未找到匹配的表名!"}},
      {"水位",
       "无此台",
       "日值",
       "预处理库",
       std::string(kAll),
       R::NoStation,
       "station_name",
       "无此台",
       "station_name '无此台' matches no station",
       {"没有找到匹配的台站!", "未生成SQL查询!"}},
      {"水位",
       "全部",
       "秒钟值",
       "预处理库",
       std::string(kAll),
       R::NoTable,
       "method_name",
       "水位",
       "method_name '水位' has no table of this base_type and data_type",
       {"未找到匹配的表名!"}},
      {"水位",
       "全部",
       "日值",
       "预处理库",
       std::vector<std::string>{"无此测项", "水"},
       R::NoItem,
       "item_name",
       "无此测项', '水",
       "item_name '无此测项', '水' matches no item",
       {"没有找到匹配的测项!", "未生成SQL查询!"}},
      {"水位",
       "全部",
       "日",
       "预处理库",
       std::string(kAll),
       R::UnknownRate,
       "data_type",
       "日",
       "data_type '日' is not a sampling rate",
       {"未选择数据类型!"}},
      {"水位",
       "全部",
       "日值",
       "RAW",
       std::string(kAll),
       R::UnknownType,
       "base_type",
       "RAW",
       "base_type 'RAW' is not a database type",
       {"未选择数据库类型!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    rec->statements.clear();
    FetchOptions options{.item_name = c.items};
    EXPECT_FALSE(
        DataFetcher::fetch_data(rec.get(), "20240401", "20240402", c.method, c.station, c.rate, c.type, options));
    std::size_t plain = rec->statements.size();
    rec->statements.clear();
    LogCapture capture;
    FetchOutcome outcome = DataFetcher::fetch_data_outcome(rec.get(), "20240401", "20240402", c.method, c.station,
                                                           c.rate, c.type, options);
    EXPECT_EQ(rec->statements.size(), plain);
    ASSERT_FALSE(outcome.table);
    ASSERT_TRUE(outcome.unresolved);
    const Unresolved& why = *outcome.unresolved;
    EXPECT_EQ(why.reason, c.reason);
    EXPECT_EQ(why.argument, c.argument);
    EXPECT_EQ(why.value, c.value);
    EXPECT_EQ(why.text(), c.text);
    EXPECT_EQ(why.logged, c.logged);
    std::vector<std::string> logged;
    for (const auto& r : capture.records())
      if (r.logger == "fetching" && r.level >= Level::warning) logged.push_back(r.message);
    if (c.reason != R::NoMethod && c.reason != R::NoTable) {  // those two log at debug
      EXPECT_EQ(logged, c.logged);
    }
  }
  // A request that resolves gives its table and no reason; the log fetch says which method has no log table.
  FetchOutcome found =
      DataFetcher::fetch_data_outcome(rec.get(), "20240401", "20240402", "水位", "郯城", "日值", "预处理库");
  ASSERT_TRUE(found.table);
  EXPECT_FALSE(found.unresolved);
  FetchOutcome no_log = DataFetcher::fetch_dialog_outcome(rec.get(), "20240401", "20240530", {.method_name = "降雨量"});
  ASSERT_TRUE(no_log.unresolved);
  EXPECT_EQ(no_log.unresolved->text(), "method_name '降雨量' has no log table");
  FetchOutcome no_station =
      DataFetcher::fetch_dialog_outcome(rec.get(), "20240401", "20240530", {.station_name = "无此台"});
  ASSERT_TRUE(no_station.unresolved);
  EXPECT_EQ(no_station.unresolved->reason, R::NoStation);
}

// A minute table holding compressed values, one on each day, with the
// dictionaries.
std::vector<std::string> minute_values_db(const std::vector<std::pair<std::string, std::string>>& day_values) {
  std::vector<std::string> sql = kMiniDictionaries;
  sql.push_back(
      "CREATE TABLE QZ_411_DYU_01 (STARTDATE DATE, STATIONID TEXT, POINTID TEXT, ITEMID TEXT, OBSVALUE BLOB)");
  for (const auto& [day, compressed] : day_values) {
    std::string hex;
    for (unsigned char c : compressed) {
      const char* digits = "0123456789abcdef";
      hex += digits[c >> 4];
      hex += digits[c & 15];
    }
    sql.push_back("INSERT INTO QZ_411_DYU_01 VALUES (julianday('" + day + "'), '37001', '1', '4112', x'" + hex + "')");
  }
  return sql;
}

std::vector<std::string> minute_value_db(const std::string& day, const std::string& compressed) {
  return minute_values_db({{day, compressed}});
}

// Values are inflated straight into the column when their gzip trailer
// tells their size. Whatever the trailer says, every value must come out
// as inflating it on its own does: the same text, or the same error.
TEST(DataFetcher, InflatedTextsDoNotDependOnWhatTrailersSay) {
  Offline offline;
  testing::ScopedEnv threads("TREMORA_THREADS", std::string("2"));
  auto stating = [](std::string gz, uint32_t size) {
    for (int i = 0; i < 4; ++i) gz[gz.size() - 4 + i] = char((size >> (8 * i)) & 0xff);
    return gz;
  };
  auto day = [](std::size_t i) {
    return format_timestamp(add_nanos(make_timestamp(2024, 1, 1), int64_t(i) * 86'400'000'000'000), "%Y-%m-%d");
  };
  const std::string text = "1.5 2.5 NULL 3";
  const std::vector<std::string> values{
      gzip_compress(text),
      gzip_compress(text) + gzip_compress("4 5"),  // the trailer tells the last member's size
      zlib_compress(text),                         // no trailer size
      gzip_compress(""),
      gzip_compress("NULLALL"),
      gzip_compress(std::string(300, '9')),
  };
  std::vector<std::pair<std::string, std::string>> rows;
  for (std::size_t i = 0; i < 130; ++i) rows.emplace_back(day(i), values[i % values.size()]);  // several runs
  testing::TempDir dir;
  auto conn = mini_db(dir, minute_values_db(rows));
  auto days = fetching_data(conn.get(), "20240101", "20240601", "水位", "全部", "分钟值", "预处理库",
                            {.gzip_flag = true, .my_split_lines = false});
  ASSERT_TRUE(days);
  ASSERT_EQ(days->num_rows(), rows.size());
  const Column& texts = days->column("OBSVALUE");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::string expected = gzip_decompress(rows[i].second);
    if (expected == "NULLALL") {  // a day of minutes, all null
      expected = "NULL";
      for (int k = 1; k < 1440; ++k) expected += " NULL";
    }
    EXPECT_EQ(texts.text(i), expected) << i;
  }
  // A trailer stating another size than the data has is corrupt data.
  for (uint32_t stated : {uint32_t(text.size() + 1), uint32_t(text.size() - 1), 0xffffffffu}) {
    std::string lying = stating(gzip_compress(text), stated);
    std::string why;
    try {
      gzip_decompress(lying);
    } catch (const std::runtime_error& e) {
      why = e.what();
    }
    ASSERT_FALSE(why.empty()) << stated;
    testing::TempDir lying_dir;
    auto lying_conn = mini_db(lying_dir, minute_values_db({{day(0), gzip_compress(text)}, {day(1), lying}}));
    EXPECT_EQ(testing::error_of([&] {
                fetching_data(lying_conn.get(), "20240101", "20240102", "水位", "全部", "分钟值", "预处理库",
                              {.gzip_flag = true, .my_split_lines = false});
              }),
              "cannot inflate OBSVALUE of station 37001, item 4112, " + day(1) + " 00:00:00: " + why);
  }
}

// A compressed day value may inflate only to what a day of its rate can
// hold; past that it is refused, naming its row. A row of more samples
// than a day has is split as it is, with a warning naming it.
TEST(DataFetcher, InflatedValuesAreBoundedByTheirDay) {
  Offline offline;
  const std::size_t minute_limit = max_inflated_value_bytes(60);
  EXPECT_EQ(minute_limit, 1440 * kMaxInflatedBytesPerSample);
  testing::TempDir dir;
  auto conn = mini_db(dir, minute_value_db("2024-05-04", gzip_compress(std::string(minute_limit + 1, '7'), 9)));
  EXPECT_EQ(testing::error_of([&] {
              fetching_data(conn.get(), "20240504", "20240504", "水位", "全部", "分钟值", "预处理库",
                            {.gzip_flag = true, .my_split_lines = false});
            }),
            "cannot inflate OBSVALUE of station 37001, item 4112, 2024-05-04 00:00:00: gzip: the data expands beyond " +
                std::to_string(minute_limit) + " bytes");

  std::string day_and_more;
  for (int k = 0; k < 1450; ++k) day_and_more += k ? " 1.5" : "1.5";
  testing::TempDir full_dir;
  auto full = mini_db(full_dir, minute_value_db("2024-05-04", gzip_compress(day_and_more)));
  LogCapture capture;
  auto samples =
      fetching_data(full.get(), "20240504", "20240504", "水位", "全部", "分钟值", "预处理库", {.gzip_flag = true});
  // Compressed values fetched as if they were text: the error says what to set.
  EXPECT_NE(testing::error_of([&] {
              fetching_data(full.get(), "20240504", "20240504", "水位", "全部", "分钟值", "预处理库");
            }).find("fetch them with gzip_flag=True (--gzip)"),
            std::string::npos);
  ASSERT_TRUE(samples);
  EXPECT_EQ(samples->num_rows(), 1450u);
  EXPECT_TRUE(capture.contains("fetching", Level::warning,
                               "OBSVALUE of station 37001, item 4112, 2024-05-04 00:00:00 holds 1450 samples, more "
                               "than the 1440 of a day: the last ones fall on the next day"));
}

// A table whose name is not plain letters, digits, _, $ and # is skipped
// with a warning, and its name never becomes SQL.
TEST(DataFetcher, TablesWithHostileNamesAreSkipped) {
  Offline offline;
  testing::TempDir dir;
  std::vector<std::string> sql = minute_value_db("2024-05-04", gzip_compress("1 2"));
  const std::string hostile = "QZ_411_DYU_01 UNION ALL SELECT * FROM QZ_411_DYU_01 --";
  sql.push_back("CREATE TABLE \"" + hostile +
                "\" (STARTDATE DATE, STATIONID TEXT, POINTID TEXT, ITEMID TEXT, "
                "OBSVALUE BLOB)");
  auto conn = mini_db(dir, sql);
  LogCapture capture;
  auto days = fetching_data(conn.get(), "20240504", "20240504", "水位", "全部", "分钟值", "预处理库",
                            {.gzip_flag = true, .my_split_lines = false});
  ASSERT_TRUE(days);
  EXPECT_EQ(days->num_rows(), 1u);
  EXPECT_TRUE(capture.contains("fetching", Level::warning,
                               "skipping table '" + hostile + "': its name is not one of letters, digits, _, $ and #"));
}

TEST(DataFetcher, SampleRateCodesNullDaysAndBadValues) {
  Offline offline;
  testing::TempDir dir;
  std::string blob = gzip_compress("1.5 NULL 2.5");
  std::vector<std::string> sql = kMiniDictionaries;
  sql.insert(
      sql.end(),
      {
          "CREATE TABLE QZ_411_DYU_60 (STARTDATE DATE, STATIONID TEXT, POINTID TEXT, ITEMID TEXT, SAMPLERATE REAL, "
          "OBSVALUE TEXT)",
          "INSERT INTO QZ_411_DYU_60 VALUES (julianday('2024-05-02'), '37001', '1', '4112', 7, 'NULLALL'),"
          " (julianday('2024-05-01'), '37001', '1', '4112', 7, '" +
              [] {
                std::string day;
                for (int i = 0; i < 24; ++i) {
                  if (i) day += ' ';
                  day += std::to_string(i);
                }
                return day;
              }() +
              "')",
          "CREATE TABLE QZ_411_DYU_01 (STARTDATE DATE, STATIONID TEXT, POINTID TEXT, ITEMID TEXT, SAMPLERATE TEXT, "
          "OBSVALUE BLOB)",
          "INSERT INTO QZ_411_DYU_01 VALUES (julianday('2024-05-01'), '37001', '1', '4112', ' 1.0 ', x'00ff00ff'),"
          " (julianday('2024-05-02'), '37001', '1', '4112', '1', NULL)",
      });
  auto conn = mini_db(dir, sql);
  LogCapture capture;
  auto hour = fetching_data(conn.get(), "20240501", "20240502", "水位", "全部", "整点值", "预处理库");
  ASSERT_TRUE(hour);
  EXPECT_TRUE(capture.contains("fetching", Level::warning, "无法识别数据库中的采样率ID: 07, 采用请求配置值"));
  ASSERT_EQ(hour->num_rows(), 48u);
  EXPECT_EQ(hour->key().int64s()[23], make_timestamp(2024, 5, 1, 23).ns);
  EXPECT_EQ(hour->column("OBSVALUE").float32s()[23], 23);
  for (std::size_t i = 24; i < 48; ++i) EXPECT_TRUE(std::isnan(hour->column("OBSVALUE").float32s()[i])) << i;
  // Day rows keep the expanded NULLALL text.
  auto days = fetching_data(conn.get(), "20240501", "20240502", "水位", "全部", "整点值", "预处理库",
                            {.my_split_lines = false});
  std::string filler = std::string(days->column("OBSVALUE").text(1));
  EXPECT_EQ(std::count(filler.begin(), filler.end(), ' '), 23);
  EXPECT_EQ(filler.substr(0, 9), "NULL NULL");
  // Inflated bytes must be UTF-8 text.
  testing::TempDir bad_dir;
  auto bad_conn = mini_db(bad_dir, minute_value_db("2024-05-03", gzip_compress("1.5 \xff\xfe 2")));
  try {
    fetching_data(bad_conn.get(), "20240501", "20240503", "水位", "全部", "分钟值", "预处理库", {.gzip_flag = true});
    FAIL();
  } catch (const IOError& e) {
    EXPECT_NE(std::string(e.what()).find("station 37001, item 4112, 2024-05-03 00:00:00 is not UTF-8"),
              std::string::npos)
        << e.what();
  }
  // A value that does not inflate names its row.
  try {
    fetching_data(conn.get(), "20240501", "20240502", "水位", "全部", "分钟值", "预处理库", {.gzip_flag = true});
    FAIL();
  } catch (const IOError& e) {
    EXPECT_NE(std::string(e.what()).find("station 37001, item 4112, 2024-05-01 00:00:00"), std::string::npos)
        << e.what();
  }
}

TEST(DataFetcher, DialogRows) {
  Offline offline;
  auto conn = sample();
  auto log = fetching_dialog(conn.get(), {.startdate = "20240401", .enddate = "20240530"});
  ASSERT_TRUE(log);
  ASSERT_GT(log->num_rows(), 0u);
  EXPECT_TRUE(log->has_column("evtid"));
  for (const auto& e : texts(*log, "evtid")) EXPECT_EQ(e, "313");
  auto narrow = DataFetcher::fetch_dialog(conn.get(), "20240401", "20240530",
                                          {.method_name = "水位", .station_name = "郑州", .log_type = "101"});
  ASSERT_TRUE(narrow);
  for (const auto& s : texts(*narrow, "stationid")) EXPECT_EQ(s, "41001");
  LogCapture capture;
  // Methods without log tables: nothing, with a warning.
  EXPECT_FALSE(DataFetcher::fetch_dialog(conn.get(), "20240401", "20240530", {.method_name = "降雨量"}));
  EXPECT_TRUE(capture.contains("fetching", Level::warning, "未找到匹配的表名!"));
}

TEST(CannedLoaders, RequestsAndPostTreatments) {
  Offline offline;
  // The daily loader asks for the method at all stations, from three days ago.
  auto rec = std::make_shared<testing::RecordingConnection>(sample());
  load_Oracle_data_daily(rec.get(), 3, "预处理库", "水位", "分钟值");
  const std::string& data_sql = rec->statements.back();
  Timestamp now = load_time();
  EXPECT_NE(data_sql.find("QZDATA.\"QZ_411_DYU_01\""), std::string::npos);
  EXPECT_EQ(data_sql.find("STATIONID="), std::string::npos);
  std::string today = format_timestamp(Timestamp{now.ns}, "%Y%m%d");
  EXPECT_NE(data_sql.find("TO_DATE('" + today + "', 'yyyymmdd')+1"), std::string::npos) << data_sql;
  // The dialog defaults are the load day and the day before.
  fetching_dialog(rec.get());
  const std::string& log_sql = rec->statements.back();
  EXPECT_NE(log_sql.find("TO_DATE('" + format_timestamp(Timestamp{now.ns - kNanosPerDay}, "%Y%m%d") + "'"),
            std::string::npos)
      << log_sql;

  testing::TempDir dir;
  std::vector<std::string> sql = kMiniDictionaries;
  sql.insert(
      sql.end(),
      {
          "CREATE TABLE QZ_312_DYU_60 (STARTDATE DATE, STATIONID TEXT, POINTID TEXT, ITEMID TEXT, OBSVALUE TEXT)",
          "INSERT INTO QZ_312_DYU_60 VALUES (julianday('2024-05-01'), '370082', '1', '3211', '" +
              [] {
                std::string s = "7.5 9 3 8";  // then twenty samples of 8
                for (int i = 0; i < 20; ++i) s += " 8";
                return s;
              }() +
              "'), (julianday('2024-05-01'), '37001', '1', '4112', '" +
              [] {
                std::string s = "1";
                for (int i = 1; i < 24; ++i) s += " 1";
                return s;
              }() +
              "')",
          "CREATE TABLE QZ_411_DYU_90 (STARTDATE DATE, STATIONID TEXT, POINTID TEXT, ITEMID TEXT, OBSVALUE TEXT, NOTE "
          "TEXT)",
          "INSERT INTO QZ_411_DYU_90 VALUES (julianday('2024-05-01'), '37001', '1', '4112', '5.5', 'ok'),"
          " (julianday('2024-05-05'), '37001', '1', '4112', '6.5', 'from 37005h'),"
          " (julianday('2024-05-06'), '37001', '1', '4112', 'NULLALL', 'x'),"
          " (julianday('2024-05-07'), '37001', '1', '4112', '7.5', 'y')",
      });
  auto mini = mini_db(dir, sql);
  Table res = load_Oracle_data_resistivity_year(mini.get(), "20240501");
  std::vector<float> v370082, v37001;
  for (std::size_t i = 0; i < res.num_rows(); ++i)
    (res.column("STATIONID").text(i) == "370082" ? v370082 : v37001).push_back(res.column("OBSVALUE").float32s()[i]);
  ASSERT_EQ(v370082.size(), 24u);
  EXPECT_TRUE(std::isnan(v370082[0]));  // 7.5 < 8
  EXPECT_EQ(v370082[1], 9);
  EXPECT_TRUE(std::isnan(v370082[2]));
  EXPECT_EQ(v370082[3], 8);                // 8 is kept
  for (float x : v37001) EXPECT_EQ(x, 1);  // other stations untouched
  Table water = load_Oracle_data_water_year(mini.get());
  ASSERT_EQ(water.num_rows(), 7u);  // 1 to 7 May, every day
  const auto& w = water.column("OBSVALUE").float32s();
  EXPECT_EQ(w[0], 5.5f);
  for (int d = 1; d <= 4; ++d) EXPECT_EQ(w[d], 6.5f) << d;  // the gap takes the next day's value
  EXPECT_EQ(w[5], 7.5f);                                    // the NULLALL day is filled from the day after it
  EXPECT_EQ(water.column("NOTE").text(4), "from 37005H");
  EXPECT_EQ(water.key().int64s()[3], make_timestamp(2024, 5, 4).ns);
  // A range without rows: the resistivity loader gives the empty table, the
  // water loader has no day to start its grid from.
  Table none = load_Oracle_data_resistivity_year(mini.get(), "20250101");
  EXPECT_EQ(none.num_rows(), 0u);
}

using testing::zone_now;

std::string day_of(const DateArg& d) { return format_timestamp(d.timestamp(), "%Y%m%d"); }

TEST(LocalDays, DailyLoaderDaysFollowTz) {
  // Pago Pago (-11:00) or Kiritimati (+14:00) is on another date than UTC at every hour.
  for (const char* zone : {"Asia/Shanghai", "Pacific/Pago_Pago", "Pacific/Kiritimati"}) {
    testing::ScopedEnv tz("TZ", zone);
    std::string before = format_timestamp(zone_now(zone), "%Y%m%d");
    auto [start, end] = daily_load_dates(0);
    std::string after = format_timestamp(zone_now(zone), "%Y%m%d");
    EXPECT_TRUE(day_of(end) == before || day_of(end) == after) << zone << ": " << day_of(end);
    EXPECT_EQ(day_of(start), day_of(end)) << zone;
  }
}

// Run in a process started with TZ=zone: the load time is the zone's wall
// clock then, and fetching_dialog's default days are its day and the day
// before. Exits 0 when so.
[[noreturn]] void check_load_time_and_exit(const std::string& zone) {
  Timestamp now = zone_now(zone), loaded = load_time();
  auto [start, end] = fetching_dialog_dates({});
  auto [given_start, given_end] = fetching_dialog_dates({.startdate = "20240401", .enddate = "20240530"});
  bool ok = loaded < add_nanos(now, kNanosPerSecond) && now < add_nanos(loaded, 60 * kNanosPerSecond) &&
            end.timestamp() == loaded && start.timestamp() == add_nanos(loaded, -kNanosPerDay) &&
            day_of(given_start) == "20240401" && day_of(given_end) == "20240530";
  std::fprintf(stderr, "load time %s, %s now %s\n", iso_format(loaded).c_str(), zone.c_str(), iso_format(now).c_str());
  std::exit(ok ? 0 : 1);
}

TEST(LocalDays, LoadTimeFollowsTzOfTheProcess) {
  // The "threadsafe" style runs the statement in a fresh run of this test
  // program, which inherits TZ and loads the library anew.
  std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const char* zone : {"Asia/Shanghai", "Pacific/Pago_Pago"}) {
    testing::ScopedEnv tz("TZ", zone);
    EXPECT_EXIT(check_load_time_and_exit(zone), ::testing::ExitedWithCode(0), "") << zone;
  }
  GTEST_FLAG_SET(death_test_style, style);
}

// A stored date beyond 2262 is an error naming it, not a time in another century.
TEST(FetchRoad, DatesOutsideTheRangeOfTimestamps) {
  testing::TempDir dir;
  auto conn = mini_db(
      dir, {"CREATE TABLE T (D DATE)", "INSERT INTO T VALUES (julianday('2262-04-11')), (julianday('3000-01-01'))"});
  std::string error = testing::error_of([&] { conn->query("SELECT D FROM QZDATA.T"); });
  EXPECT_NE(error.find("2816787.5"), std::string::npos) << error;
  EXPECT_THROW(conn->query("SELECT D FROM QZDATA.T"), DatabaseError);
  Table in_range = conn->query("SELECT D FROM QZDATA.T WHERE D < 2600000");
  ASSERT_EQ(in_range.num_rows(), 1u);
  EXPECT_EQ(in_range.column("D").int64s()[0], make_timestamp(2262, 4, 11).ns);
}

}  // namespace
}  // namespace tremora::fetching

namespace tremora::fetching {
namespace {

// The day rows are inflated and split in parallel, the MAD filter runs
// series by series and hourly medians bin by bin in parallel: the tables
// are the same at 1, 2 and 4 threads, and a bad row is named the same.
TEST(FetchRoad, SameTablesAndSameErrorAtEveryThreadCount) {
  testing::TempHome offline;
  testing::TempDir dir;
  std::vector<Table> tables, filtered, hourly;
  for (const char* threads : {"1", "2", "4"}) {
    testing::ScopedEnv env("TREMORA_THREADS", std::string(threads));
    auto conn = testing::open_test_db(testing::small_sample_db());
    conn->info()["tremora_cache_namespace"] = "threads";
    auto t =
        fetching_data(conn.get(), "20240509", "20240511", "全部", "全部", "分钟值", "预处理库", {.gzip_flag = true});
    ASSERT_TRUE(t);
    filtered.push_back(postprocessing::filter_with_fast_mad(*t));
    Table with_start = *t;
    with_start.add_column(with_start.key());
    hourly.push_back(postprocessing::resample_timeseries_data(with_start, "1h", "median"));
    tables.push_back(std::move(*t));
  }
  ASSERT_GT(tables[0].num_rows(), 3000u);
  for (std::size_t i = 1; i < 3; ++i) {
    testing::expect_same(tables[i], tables[0]);
    testing::expect_same(filtered[i], filtered[0]);
    testing::expect_same(hourly[i], hourly[0]);
  }
  EXPECT_GT(hourly[0].num_rows(), 256u);  // more bins than one task takes
  // The filter replaced some of the sample's spikes.
  const auto &before = tables[0].column("OBSVALUE").float32s(), &after = filtered[0].column("OBSVALUE").float32s();
  std::size_t replaced = 0;
  for (std::size_t i = 0; i < before.size(); ++i) replaced += before[i] == before[i] && before[i] != after[i];
  EXPECT_GT(replaced, 0u);

  std::filesystem::copy_file(testing::small_sample_db(), dir / "bad.db");
  testing::make_sqlite_file(
      dir, {"UPDATE QZ_411_DYU_01 SET OBSVALUE = X'1f8b0800deadbeef' WHERE STARTDATE >= 2460440.5"}, "bad.db");
  std::vector<std::string> errors;
  for (const char* threads : {"1", "2", "4"}) {
    testing::ScopedEnv env("TREMORA_THREADS", std::string(threads));
    auto conn = testing::open_test_db(dir / "bad.db");
    conn->info()["tremora_cache_namespace"] = "threads";
    try {
      fetching_data(conn.get(), "20240509", "20240511", "水位", "全部", "分钟值", "预处理库", {.gzip_flag = true});
      ADD_FAILURE() << "no error at " << threads << " threads";
    } catch (const IOError& e) {
      errors.emplace_back(e.what());
    }
  }
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[1], errors[0]);
  EXPECT_EQ(errors[2], errors[0]);
  EXPECT_NE(errors[0].find("2024-05-10"), std::string::npos) << errors[0];
}

}  // namespace
}  // namespace tremora::fetching
