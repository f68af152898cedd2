#include <gtest/gtest.h>

#include <cmath>

#include "test_support.hpp"
#include "tremora/chart.hpp"
#include "tremora/errors.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/plotkit.hpp"

namespace tremora::plotkit {
namespace {

using logger_config::Level;

TEST(Plotkit, StyleIsInForceAfterLoading) {
  EXPECT_EQ(std::get<bool>(*chart::setting("axes.spines.top")), false);
  EXPECT_EQ(std::get<bool>(*chart::setting("axes.spines.right")), false);
  EXPECT_EQ(std::get<double>(*chart::setting("axes.xmargin")), 0.01);
  EXPECT_EQ(std::get<double>(*chart::setting("font.size")), 12);
  EXPECT_EQ(std::get<std::vector<std::string>>(*chart::setting("font.serif")).front(), "STSong");
  EXPECT_EQ(font_title.size, 11);
  EXPECT_EQ(font_title.color, "black");
  EXPECT_FALSE(font_xlabel.color);
  EXPECT_EQ(font_suptitle.family, "SimHei");
  EXPECT_EQ(legend_font.size, 9);
  EXPECT_FALSE(legend_font.weight);
}

TEST(Plotkit, StepCodes) {
  auto s = [](double seconds) { return get_freq_str(Duration{int64_t(std::llround(seconds * 1e9))}); };
  EXPECT_EQ(s(30), "30s");
  EXPECT_EQ(s(59.9), "59s");
  EXPECT_EQ(s(0.5), "0s");
  EXPECT_EQ(s(60), "1min");
  EXPECT_EQ(s(90), "1min");
  EXPECT_EQ(s(3599), "59min");
  EXPECT_EQ(s(3600), "1h");
  EXPECT_EQ(s(7200), "2h");
  EXPECT_EQ(s(86399), "23h");
  EXPECT_EQ(s(86400), "1D");
  EXPECT_EQ(s(3 * 86400), "1D");
  EXPECT_THROW(get_freq_str(Duration{}), std::invalid_argument);
}

TEST(Plotkit, Statistics) {
  Table t(std::vector<Column>{Column::from_float64("OBSVALUE", {1, 2, NAN, 3, 4})});
  Stats st = calculate_stats(t);
  std::vector<std::string> keys;
  for (const auto& [k, v] : st.entries) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"mean", "median", "std", "min", "max", "lower_limit", "upper_limit"}));
  EXPECT_DOUBLE_EQ(st.at("mean"), 2.5);
  EXPECT_DOUBLE_EQ(st.at("median"), 2.5);
  EXPECT_NEAR(st.at("std"), 1.2909944487358056, 1e-15);
  EXPECT_EQ(st.at("min"), 1);
  EXPECT_EQ(st.at("max"), 4);
  EXPECT_DOUBLE_EQ(st.at("lower_limit"), 2.5 - 2 * st.at("std"));
  EXPECT_DOUBLE_EQ(calculate_stats(t, "OBSVALUE", 3).at("upper_limit"), 2.5 + 3 * st.at("std"));
  Stats one = calculate_stats(Table(std::vector<Column>{Column::from_float64("V", {7})}), "V");
  EXPECT_EQ(one.at("mean"), 7);
  EXPECT_EQ(one.at("median"), 7);
  EXPECT_TRUE(std::isnan(one.at("std")));
  EXPECT_TRUE(std::isnan(one.at("upper_limit")));
  Stats none = calculate_stats(Table(std::vector<Column>{Column::from_float64("V", {NAN, NAN})}), "V");
  for (const auto& [k, v] : none.entries) EXPECT_TRUE(std::isnan(v)) << k;
  EXPECT_THROW(calculate_stats(t, "NOPE"), KeyError);
  EXPECT_THROW(st.at("mode"), KeyError);
  // Texts are numbers only when they all read as numbers; other data fails.
  Table texts(std::vector<Column>{Column::from_strings("V", {"1", "2.5", std::nullopt, "abc"})});
  std::string error = testing::error_of([&] { calculate_stats(texts, "V"); });
  EXPECT_NE(error.find("'abc' (row 3)"), std::string::npos) << error;
  EXPECT_THROW(calculate_stats(texts, "V"), TypeError);
  Table numeric_texts(std::vector<Column>{Column::from_strings("V", {"1", "3", std::nullopt})});
  EXPECT_EQ(calculate_stats(numeric_texts, "V").at("mean"), 2);
  Table times(std::vector<Column>{Column::from_timestamps("V", {0, 1})});
  EXPECT_THROW(calculate_stats(times, "V"), TypeError);
}

Table keyed(const std::vector<int64_t>& minutes, std::optional<Column> rate = std::nullopt) {
  std::vector<int64_t> t;
  std::vector<double> v;
  for (int64_t m : minutes) t.push_back(make_timestamp(2024, 5, 1).ns + m * kNanosPerMinute), v.push_back(double(m));
  Table out(std::vector<Column>{Column::from_float64("OBSVALUE", v)});
  if (rate) out.add_column(*rate);
  out.set_key_column(Column::from_timestamps("STARTDATE", t));
  return out;
}

TEST(Plotkit, ReindexOnTheRateOrTheCommonInterval) {
  Table minute = keyed({0, 1, 4}, Column::from_strings("SAMPLERATE", {"01", "01", "01"}));
  Table r = reindex_df_by_interval(minute);
  ASSERT_EQ(r.num_rows(), 5u);
  EXPECT_TRUE(std::isnan(r.column("OBSVALUE").float64s()[2]));
  EXPECT_TRUE(r.column("SAMPLERATE").is_null(3));
  EXPECT_EQ(r.column("OBSVALUE").float64s()[4], 4);
  EXPECT_EQ(minute.num_rows(), 3u);  // the input is not changed
  // 60 as a number: hourly; 1.0 and " 01 " read as minutes.
  EXPECT_EQ(reindex_df_by_interval(keyed({0, 60, 180}, Column::from_int64("SAMPLERATE", {60, 60, 60}))).num_rows(), 4u);
  EXPECT_EQ(reindex_df_by_interval(keyed({0, 3}, Column::from_float64("SAMPLERATE", {1.0, 1.0}))).num_rows(), 4u);
  EXPECT_EQ(reindex_df_by_interval(keyed({0, 3}, Column::from_strings("SAMPLERATE", {" 01 ", "01"}))).num_rows(), 4u);
  // Without a usable rate: the most frequent step, with the fallback logged.
  logger_config::LogCapture capture;
  Table tens = keyed({0, 10, 20, 25, 30, 40, 50});
  Table g = reindex_df_by_interval(
      keyed({0, 10, 20, 25, 30, 40, 50}, Column::from_strings("SAMPLERATE", {"03", "", "", "", "", "", ""})));
  EXPECT_TRUE(capture.contains("plotting", Level::debug, "SAMPLERATE 列缺失或 ID 未识别，回退到动态计算频率"));
  EXPECT_EQ(g.num_rows(), 6u);  // 0, 10 ... 50; the row at 25 is dropped
  EXPECT_EQ(reindex_df_by_interval(tens).num_rows(), 6u);
  EXPECT_EQ(reindex_df_by_interval(keyed({7})).num_rows(), 1u);
  // Failures: repeated keys, a zero step, no rows.
  EXPECT_THROW(reindex_df_by_interval(keyed({0, 0, 1})), std::invalid_argument);
  Table fast(std::vector<Column>{Column::from_float64("OBSVALUE", {1, 2, 3})});
  fast.set_key_column(Column::from_timestamps("STARTDATE", {0, 500'000'000, 1'000'000'000}));
  EXPECT_THROW(reindex_df_by_interval(fast), std::invalid_argument);
  EXPECT_THROW(reindex_df_by_interval(keyed({}, Column::from_strings("SAMPLERATE", {}))), std::out_of_range);
  EXPECT_THROW(reindex_df_by_interval(keyed({})), std::invalid_argument);
  // Steps between rows centuries apart overflow no difference.
  Table far(std::vector<Column>{Column::from_float64("OBSVALUE", {1, 2})});
  far.set_key_column(
      Column::from_timestamps("STARTDATE", {make_timestamp(1700, 1, 1).ns, make_timestamp(2200, 1, 1).ns}));
  std::string error = testing::error_of([&] { reindex_df_by_interval(far); });
  EXPECT_NE(error.find("1700-01-01T00:00:00"), std::string::npos) << error;
}

TEST(Plotkit, FiguresFolderOnce) {
  testing::TempDir dir;
  testing::ScopedCwd cwd(dir.path());
  logger_config::LogCapture capture;
  create_figures_folder();
  create_figures_folder();
  EXPECT_TRUE(std::filesystem::is_directory(dir / "figures"));
  int created = 0, cwd_lines = 0;
  for (const auto& r : capture.records()) {
    created += r.message == "Created figures folder";
    cwd_lines += r.message.rfind("Current working directory: ", 0) == 0;
  }
  EXPECT_EQ(created, 1);
  EXPECT_EQ(cwd_lines, 2);
}

}  // namespace
}  // namespace tremora::plotkit
