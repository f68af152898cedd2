// The network review of the small sample network: its table against the
// samples themselves, a series without data, the page and its charts.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <regex>

#include "small_sample_db.hpp"
#include "sqlite_file.hpp"
#include "test_database.hpp"
#include "tremora/csv.hpp"
#include "tremora/fetching.hpp"
#include "tremora/files.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/review.hpp"

namespace tremora {
namespace {

namespace fs = std::filesystem;

// Row of `t` whose station and item are these.
std::size_t row_of(const Table& t, const std::string& station, const std::string& item) {
  Column s = to_text(t.column("station")), i = to_text(t.column("item"));
  for (std::size_t r = 0; r < t.num_rows(); ++r)
    if (s.text(r) == station && i.text(r) == item) return r;
  ADD_FAILURE() << "no row for " << station << "/" << item;
  return 0;
}

double number(const Table& t, const char* column, std::size_t row) {
  return to_number(t.column(column)).float64s()[row];
}

TEST(Review, TableOfEverySeriesFromItsSamplesAndAPageThatLinksWhatItShows) {
  testing::TempHome home;
  testing::TempDir dir;
  // The sample without any minute row of 郑州 (41001), whose water level the
  // station dictionary still lists, and with a day row of 泰安's (37005)
  // electric field whose bytes do not inflate.
  fs::copy_file(testing::small_sample_db(), dir / "sample.db");
  testing::make_sqlite_file(dir,
                            {"DELETE FROM QZ_411_DYU_01 WHERE STATIONID = '41001'",
                             "UPDATE QZ_321_DYU_01 SET OBSVALUE = X'1f8b0800deadbeef' WHERE STATIONID = '37005' AND "
                             "ITEMID = '3211' AND STARTDATE = 2460440.5"},
                            "sample.db");
  auto conn = testing::open_test_db(dir / "sample.db");
  conn->info()["tremora_cache_namespace"] = "review";
  fetching::refresh_metastash(*conn);
  review::ReviewOptions o{.gzip = true, .reference_days = 1};
  Table table = review::review(conn, "20240510", "20240510", dir / "page", o);

  // The CSV is the table returned, one row per series.
  Table csv = read_csv(dir / "page" / "series.csv");
  ASSERT_EQ(csv.num_rows(), table.num_rows());
  // Every series of the unchanged sample is listed.
  auto whole = fetching::fetching_data(testing::open_test_db(testing::small_sample_db()).get(), "20240510", "20240510",
                                       "全部", "全部", "分钟值", "预处理库", {.gzip_flag = true});
  ASSERT_TRUE(whole);
  SeriesGroups groups = group_rows(*whole, {qzdata::kStationId, qzdata::kPointId, qzdata::kItemId}, false);
  EXPECT_EQ(table.num_rows(), groups.members.size());

  // The series of the unreadable row says why on its row; the others are checked.
  std::size_t bad = row_of(csv, "37005", "3211");
  EXPECT_EQ(to_text(csv.column("flags")).text(bad), "error");
  EXPECT_NE(to_text(csv.column("error")).text(bad).find("cannot inflate"), std::string::npos);
  EXPECT_GT(number(csv, "present", row_of(csv, "37005", "3212")), 0);
  auto samples = fetching::fetching_data(conn.get(), "20240510", "20240510", "水位", "郯城", "分钟值", "预处理库",
                                         {.gzip_flag = true});
  ASSERT_TRUE(samples);

  // The series without data is listed, incomplete.
  std::size_t none = row_of(csv, "41001", "4112");
  EXPECT_EQ(number(csv, "present", none), 0);
  EXPECT_EQ(number(csv, "completeness_pct", none), 0);
  EXPECT_NE(to_text(csv.column("flags")).text(none).find("incomplete"), std::string::npos);

  // 郯城's water level: counts, mean and the largest step from the samples.
  Table own = rows_with_text(rows_with_text(*samples, qzdata::kStationId, "37001"), qzdata::kItemId, "4112");
  std::vector<double> v = to_number(own.column(qzdata::kObsValue)).float64s();
  double sum = 0, largest = 0, last = NAN;
  int present = 0;
  for (double x : v) {
    if (std::isnan(x)) continue;
    if (!std::isnan(last)) largest = std::max(largest, std::abs(x - last));
    sum += x, ++present, last = x;
  }
  std::size_t r = row_of(csv, "37001", "4112");
  EXPECT_EQ(number(csv, "expected", r), 1440);
  EXPECT_EQ(number(csv, "present", r), present);
  EXPECT_NEAR(number(csv, "completeness_pct", r), 100.0 * present / 1440, 0.005);
  EXPECT_NEAR(number(csv, "mean", r), sum / present, 1e-5 * std::abs(sum / present));
  EXPECT_NEAR(number(csv, "largest_step", r), largest, 1e-5 * largest);
  EXPECT_EQ(to_text(csv.column("station_name")).text(r), "郯城");

  // The page: one table row per series, and every chart it shows is there.
  std::string page = read_file(dir / "page" / "index.html");
  std::size_t body = page.find("<tbody>"), end = page.find("</tbody>");
  std::size_t rows = 0;
  for (std::size_t at = body; (at = page.find("<tr", at + 1)) < end;) ++rows;
  EXPECT_EQ(rows, table.num_rows());
  std::regex image("<img src=\"([^\"]+)\"");
  std::size_t images = 0;
  for (std::sregex_iterator i(page.begin(), page.end(), image), e; i != e; ++i, ++images)
    EXPECT_TRUE(fs::exists(dir / "page" / (*i)[1].str())) << (*i)[1].str();
  EXPECT_GT(images, 0u);
  EXPECT_EQ(page.find("http"), std::string::npos);  // nothing fetched from elsewhere
}

}  // namespace
}  // namespace tremora
