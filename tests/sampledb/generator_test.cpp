#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "small_sample_db.hpp"
#include "tremora/db.hpp"
#include "tremora/errors.hpp"
#include "tremora/gzip.hpp"
#include "tremora/text.hpp"

namespace tremora::sampledb {
namespace {

std::shared_ptr<db::Connection> open() { return db::open_sqlite(testing::small_sample_db()); }

std::set<std::string> table_names(db::Connection& c) {
  std::set<std::string> names;
  Table t = c.query("SELECT TABLE_NAME FROM ALL_TABLES");
  for (std::size_t i = 0; i < t.num_rows(); ++i) names.emplace(t.column(0).text(i));
  return names;
}

TEST(SampleDb, TablesForEveryRateTypeAndMethod) {
  auto conn = open();
  auto names = table_names(*conn);
  for (const char* n :
       {"QZ_DICT_METHODS", "QZ_DICT_STATIONS", "QZ_DICT_STATIONPOINTS", "QZ_DICT_ITEMS", "QZ_DICT_STATIONITEMS",
        "QZ_411_DYS_01", "QZ_411_DYU_01", "QZ_411_DYU_60", "QZ_411_CP_AVG_60", "QZ_411_CP_INS_90", "QZ_321_DYU_02",
        "QZ_321_DYS_02", "QZ_312_CP_AVG_90", "QZ_417_DYU_01", "QZ_411_DYU_DEV_01", "QZ_411_DLG", "QZ_312_DLG"})
    EXPECT_TRUE(names.count(n)) << n;
  EXPECT_FALSE(names.count("QZ_312_DYU_01"));  // resistivity has no minute data
  Table methods = conn->query("SELECT METHODID, METHODNAME FROM QZDATA.QZ_DICT_METHODS");
  std::set<char> disciplines;
  for (std::size_t i = 0; i < methods.num_rows(); ++i) disciplines.insert(methods.column(0).text(i)[0]);
  EXPECT_EQ(disciplines, (std::set<char>{'2', '3', '4'}));
  Table units = conn->query("SELECT UNIT FROM QZDATA.QZ_DICT_ITEMS WHERE ITEMID = '3121'");
  EXPECT_EQ(units.column(0).text(0), "Ω·m");
  Table st = conn->query("SELECT STATIONNAME, LATITUDE FROM QZDATA.QZ_DICT_STATIONS WHERE STATIONID = '37001'");
  EXPECT_EQ(st.column(0).text(0), "郯城");
  EXPECT_NEAR(st.column(1).float64s()[0], 34.6, 0.1);
}

TEST(SampleDb, DayRowsHoldADayOfSamples) {
  auto conn = open();
  // Minute rows: compressed, 1440 samples each, or NULLALL.
  Table minute = conn->query("SELECT OBSVALUE, SAMPLERATE FROM QZDATA.QZ_321_DYU_01");
  ASSERT_EQ(minute.num_rows(), 3u * 2);  // 3 days, 2 series (3211, 3212)
  for (std::size_t i = 0; i < minute.num_rows(); ++i) {
    std::string text = gzip_decompress(minute.column("OBSVALUE").text(i));
    if (text == "NULLALL") continue;
    EXPECT_EQ(std::count(text.begin(), text.end(), ' '), 1439);
    EXPECT_TRUE(parse_decimal(text.substr(0, text.find(' '))) || text.rfind("NULL", 0) == 0) << text.substr(0, 20);
  }
  Table second = conn->query("SELECT OBSVALUE FROM QZDATA.QZ_321_DYS_02");
  std::string sec = gzip_decompress(second.column(0).text(0));
  EXPECT_TRUE(sec == "NULLALL" || std::count(sec.begin(), sec.end(), ' ') == 86399);
  // Hour rows are plain text of 24 samples; product tables keep SAMPLERATE as text.
  Table hour = conn->query("SELECT OBSVALUE, SAMPLERATE, QUALITY FROM QZDATA.QZ_411_CP_AVG_60");
  EXPECT_EQ(hour.column("OBSVALUE").type(), DataType::String);
  EXPECT_EQ(hour.column("SAMPLERATE").text(0), "60");
  std::size_t nullall = 0, nulls = 0;
  for (std::size_t i = 0; i < hour.num_rows(); ++i) {
    std::string_view t = hour.column("OBSVALUE").text(i);
    if (t == "NULLALL") {
      ++nullall;
      continue;
    }
    EXPECT_EQ(std::count(t.begin(), t.end(), ' '), 23);
  }
  // Over all hour tables some days are wholly missing and some samples are NULL.
  for (const char* table : {"QZ_411_DYS_60", "QZ_411_DYU_60", "QZ_312_DYS_60", "QZ_312_DYU_60", "QZ_491_DYU_60"}) {
    Table t = conn->query(std::string("SELECT OBSVALUE FROM QZDATA.") + table);
    for (std::size_t i = 0; i < t.num_rows(); ++i) {
      std::string_view v = t.column(0).text(i);
      nullall += v == "NULLALL";
      nulls += v != "NULLALL" && contains(v, "NULL");
    }
  }
  EXPECT_GT(nullall, 0u);
  EXPECT_GT(nulls, 0u);
}

TEST(SampleDb, SeriesArePlausibleAndTheStormShows) {
  auto conn = open();
  // Water level at 郯城 stays within a few metres of its level.
  Table level = conn->query("SELECT OBSVALUE FROM QZDATA.QZ_411_DYU_90 WHERE STATIONID = '37001' AND ITEMID = '4112'");
  std::vector<double> v;
  for (std::size_t i = 0; i < level.num_rows(); ++i)
    if (auto x = parse_decimal(level.column(0).text(i))) v.push_back(*x);
  ASSERT_GT(v.size(), 50u);
  auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  EXPECT_LT(*hi - *lo, 2.0);
  // The geo-electric field swings far more on 11 May 2024 (storm) than on 9 May.
  auto spread = [&](const char* day) {
    Table t = conn->query(std::string("SELECT OBSVALUE FROM QZDATA.QZ_321_DYU_01 WHERE ITEMID = '3211' AND "
                                      "STARTDATE = TO_DATE('") +
                          day + "', 'yyyymmdd')");
    std::string text = gzip_decompress(t.column(0).text(0));
    double a = 1e9, b = -1e9;
    for (std::size_t p = 0; p < text.size();) {
      std::size_t q = text.find(' ', p);
      if (q == std::string::npos) q = text.size();
      if (auto x = parse_decimal(std::string_view(text).substr(p, q - p))) a = std::min(a, *x), b = std::max(b, *x);
      p = q + 1;
    }
    return b - a;
  };
  EXPECT_GT(spread("20240511"), 3 * spread("20240509"));
}

TEST(SampleDb, DeterministicAndChecked) {
  testing::TempDir dir;
  Options o = testing::small_sample_options();
  o.rates = {"90"};
  write_database(dir / "a.db", o);
  write_database(dir / "b.db", o);
  auto a = db::open_sqlite(dir / "a.db"), b = db::open_sqlite(dir / "b.db");
  std::string q = "SELECT STARTDATE, STATIONID, ITEMID, OBSVALUE FROM QZDATA.QZ_411_DYS_90";
  Table ta = a->query(q), tb = b->query(q);
  ASSERT_EQ(ta.num_rows(), tb.num_rows());
  for (std::size_t i = 0; i < ta.num_rows(); ++i) EXPECT_EQ(ta.column("OBSVALUE").at(i), tb.column("OBSVALUE").at(i));
  EXPECT_FALSE(table_names(*a).count("QZ_411_DYU_01"));
  Options bad = o;
  bad.stations = {"99999"};
  EXPECT_THROW(write_database(dir / "c.db", bad), std::invalid_argument);
  bad = o;
  bad.rates = {"07"};
  EXPECT_THROW(write_database(dir / "c.db", bad), std::invalid_argument);
  EXPECT_FALSE(std::filesystem::exists(dir / "c.db"));
}

TEST(SampleDb, CatalogueUsesTheFixedColumns) {
  testing::TempDir dir;
  write_catalogue(dir / "quakes.txt");
  std::string text = testing::read_text(dir / "quakes.txt");
  std::size_t lines = 0;
  for (std::size_t p = 0; p < text.size();) {
    std::size_t q = text.find('\n', p);
    std::string line = text.substr(p, q - p);
    p = q + 1;
    ++lines;
    ASSERT_GE(line.size(), 40u);
    EXPECT_NO_THROW(parse_timestamp(line.substr(0, 8)));  // the date part of the 14 digits
    auto lat = parse_decimal(line.substr(15, 6)), lon = parse_decimal(line.substr(21, 6)),
         mag = parse_decimal(line.substr(28, 4));
    ASSERT_TRUE(lat && lon && mag) << line;
    EXPECT_GT(*lat, 20);
    EXPECT_LT(*lat, 45);
    EXPECT_GT(*lon, 105);
    EXPECT_LT(*lon, 125);
    EXPECT_EQ(line.substr(32, 7), std::string(7, ' '));
    EXPECT_FALSE(strip_whitespace(line.substr(39)).empty());
  }
  EXPECT_GT(lines, 40u);
  EXPECT_NE(text.find("19760728034254"), std::string::npos);  // Tangshan 1976, before and after the 1970 cut
}

}  // namespace
}  // namespace tremora::sampledb
