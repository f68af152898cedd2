#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "test_support.hpp"
#include "tremora/cleaning.hpp"
#include "tremora/errors.hpp"
#include "tremora/logger_config.hpp"

namespace tremora::cleaning {
namespace {

const int64_t kDay = make_timestamp(2024, 1, 1).ns;

// Day rows with STATIONID, STARTDATE, POINTID and OBSVALUE.
Table day_rows(const std::vector<std::optional<std::string>>& values, std::vector<int64_t> starts = {}) {
  if (starts.empty()) starts.assign(values.size(), kDay);
  std::vector<std::optional<std::string>> stations, points;
  for (std::size_t i = 0; i < values.size(); ++i) {
    stations.push_back("3700" + std::to_string(i));
    points.push_back("1");
  }
  Table t;
  t.add_column(Column::from_strings("STATIONID", stations));
  t.add_column(Column::from_timestamps("STARTDATE", starts));
  t.add_column(Column::from_strings("POINTID", points));
  t.add_column(Column::from_strings("OBSVALUE", values));
  return t;
}

std::vector<int64_t> keys_of(const Table& t) { return t.key().int64s(); }

TEST(SplitLines, MinuteRowBecomesOneRowPerSample) {
  logger_config::LogCapture capture;
  Table days = day_rows({" 1.5 2.5 3.5 "});
  days.set_key_column(Column::from_int64("label", {42}));
  Table t = split_lines(days, 60);
  EXPECT_TRUE(capture.contains("cleaning", logger_config::Level::debug, "Splitting data..."));
  EXPECT_EQ(t.key().name(), "STARTDATE");
  EXPECT_EQ(keys_of(t), (std::vector<int64_t>{kDay, kDay + kNanosPerMinute, kDay + 2 * kNanosPerMinute}));
  EXPECT_EQ(t.column_names(), (std::vector<std::string>{"STATIONID", "POINTID", "OBSVALUE"}));
  EXPECT_EQ(t.column("OBSVALUE").float32s(), (std::vector<float>{1.5f, 2.5f, 3.5f}));
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(t.column("STATIONID").text(i), "37000");
  // The input is untouched in the split case.
  EXPECT_EQ(days.num_rows(), 1u);
  EXPECT_EQ(days.column("OBSVALUE").type(), DataType::String);
  EXPECT_EQ(days.key().name(), "label");
}

TEST(SplitLines, OffsetUnitFollowsTheSpacing) {
  struct Case {
    double spacing;
    int64_t unit;
  } cases[] = {{1, kNanosPerSecond},    {1.0, kNanosPerSecond}, {60, kNanosPerMinute}, {3600, kNanosPerHour},
               {3600.0, kNanosPerHour}, {600, kNanosPerMinute}, {30, kNanosPerMinute}, {2, kNanosPerMinute}};
  for (const auto& c : cases) {
    Table t = split_lines(day_rows({"1 2 3"}), c.spacing);
    EXPECT_EQ(keys_of(t), (std::vector<int64_t>{kDay, kDay + c.unit, kDay + 2 * c.unit})) << c.spacing;
  }
}

TEST(SplitLines, SingleSpaceSeparatorAndEmptyParts) {
  Table t = split_lines(day_rows({"1  2"}), 60);
  ASSERT_EQ(t.num_rows(), 3u);
  const auto& v = t.column("OBSVALUE").float32s();
  EXPECT_EQ(v[0], 1);
  EXPECT_TRUE(std::isnan(v[1]));
  EXPECT_EQ(v[2], 2);
  EXPECT_EQ(keys_of(t)[2], kDay + 2 * kNanosPerMinute);
  // A tab is not a separator: it stays inside its part, which then is no number.
  Table tab = split_lines(day_rows({"1\t2 3"}), 60);
  ASSERT_EQ(tab.num_rows(), 2u);
  EXPECT_TRUE(std::isnan(tab.column("OBSVALUE").float32s()[0]));
  EXPECT_EQ(tab.column("OBSVALUE").float32s()[1], 3);
  // Blank text: one empty part at position 0.
  Table blank = split_lines(day_rows({"   "}), 60);
  ASSERT_EQ(blank.num_rows(), 1u);
  EXPECT_EQ(keys_of(blank)[0], kDay);
  EXPECT_TRUE(std::isnan(blank.column("OBSVALUE").float32s()[0]));
}

TEST(SplitLines, UnreadableSamplesAreMissingNotErrors) {
  Table t = split_lines(day_rows({"12.5x NULL 7 1e2 -0.5 nan"}), 3600);
  const auto& v = t.column("OBSVALUE").float32s();
  ASSERT_EQ(v.size(), 6u);
  EXPECT_TRUE(std::isnan(v[0]));
  EXPECT_TRUE(std::isnan(v[1]));
  EXPECT_EQ(v[2], 7);
  EXPECT_EQ(v[3], 100);
  EXPECT_EQ(v[4], -0.5f);
  EXPECT_TRUE(std::isnan(v[5]));
}

TEST(SplitLines, RowsOfDifferentLengthsAndMissingRows) {
  Table days = day_rows({"1 2 3", std::nullopt, "9"}, {kDay, kDay + kNanosPerDay, kDay + 5 * kNanosPerMinute});
  Table t = split_lines(days, 60);
  ASSERT_EQ(t.num_rows(), 5u);
  // Sorted by time, the missing key last; rows with equal keys both stay.
  EXPECT_EQ(keys_of(t), (std::vector<int64_t>{kDay, kDay + kNanosPerMinute, kDay + 2 * kNanosPerMinute,
                                              kDay + 5 * kNanosPerMinute, Timestamp::NaT}));
  EXPECT_EQ(t.column("STATIONID").text(3), "37002");
  EXPECT_EQ(t.column("STATIONID").text(4), "37001");
  EXPECT_TRUE(std::isnan(t.column("OBSVALUE").float32s()[4]));
  Table same = split_lines(day_rows({"1", "2"}), 60);
  EXPECT_EQ(same.num_rows(), 2u);
  EXPECT_EQ(keys_of(same)[0], keys_of(same)[1]);
}

TEST(SplitLines, InterleavesSeriesByTime) {
  // Two series of two days each, as the fetcher orders them (series, then date).
  int64_t d = kNanosPerDay;
  Table days = day_rows({"1 2", "3 4", "5 6", "7 8"}, {kDay, kDay + d, kDay, kDay + d});
  Table t = split_lines(days, 3600);
  EXPECT_EQ(t.column("OBSVALUE").float32s(), (std::vector<float>{1, 5, 2, 6, 3, 7, 4, 8}));
  for (std::size_t i = 1; i < t.num_rows(); ++i) EXPECT_LE(keys_of(t)[i - 1], keys_of(t)[i]);
  // Repeated codes become dictionary codes rather than copies.
  EXPECT_TRUE(t.column("STATIONID").is_dictionary());
  EXPECT_EQ(t.column("STATIONID").dictionary().size(), 4u);
}

// The result is the stable time order of all samples (missing times last),
// whether the rows give that order (series of the same days, with rows
// without a time or a text) or the samples must be sorted (spans that
// overlap, lengths that differ): checked against sorting every sample.
TEST(SplitLines, AgreesWithSortingEverySample) {
  testing::ScopedEnv threads("TREMORA_THREADS", std::string("3"));
  std::mt19937 rng(5);
  const int64_t unit = kNanosPerMinute;
  for (int round = 0; round < 40; ++round) {
    bool same_days = round % 2 == 0;
    std::size_t rows = round < 36 ? 1 + rng() % 40 : 1500 + rng() % 500;
    std::size_t day_length = 1 + rng() % 5;
    std::vector<std::optional<std::string>> values;
    std::vector<int64_t> starts;
    struct Sample {
      int64_t when;
      std::size_t row;
      float value;
    };
    std::vector<Sample> samples;
    for (std::size_t r = 0; r < rows; ++r) {
      bool no_text = rng() % 15 == 0, no_start = rng() % 15 == 0;
      int64_t start = no_start    ? Timestamp::NaT
                      : same_days ? kDay + int64_t(rng() % 4) * int64_t(day_length) * unit
                                  : kDay + int64_t(rng() % 12) * unit;
      std::size_t n = same_days ? day_length : 1 + rng() % 5;
      std::string text;
      for (std::size_t k = 0; k < n; ++k) {
        float v = float(r * 10 + k);
        if (k) text += ' ';
        text += std::to_string(int(v));
        if (!no_text) samples.push_back({start == Timestamp::NaT ? start : start + int64_t(k) * unit, r, v});
      }
      if (no_text) samples.push_back({Timestamp::NaT, r, std::nanf("")});
      starts.push_back(start);
      values.push_back(no_text ? std::nullopt : std::optional<std::string>(text));
    }
    std::stable_sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
      return a.when != Timestamp::NaT && (b.when == Timestamp::NaT || a.when < b.when);
    });
    Table t = split_lines(day_rows(values, starts), 60);
    ASSERT_EQ(t.num_rows(), samples.size()) << "round " << round;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      ASSERT_EQ(keys_of(t)[i], samples[i].when) << "round " << round << " sample " << i;
      ASSERT_EQ(t.column("STATIONID").text(i), "3700" + std::to_string(samples[i].row)) << "round " << round;
      float v = t.column("OBSVALUE").float32s()[i];
      ASSERT_TRUE(v == samples[i].value || (std::isnan(v) && std::isnan(samples[i].value))) << "round " << round;
    }
  }
}

TEST(SplitLines, ValuesAreFloat32) {
  Table t = split_lines(day_rows({"0.1 16777217"}), 60);
  EXPECT_EQ(t.column("OBSVALUE").type(), DataType::Float32);
  EXPECT_EQ(t.column("OBSVALUE").float32s()[0], 0.1f);
  EXPECT_NE(double(t.column("OBSVALUE").float32s()[0]), 0.1);
  EXPECT_EQ(t.column("OBSVALUE").float32s()[1], 16777216.0f);
}

TEST(SplitLines, DailyCaseWorksOnTheCallersTable) {
  Table days = day_rows({"12.5", "1 2", std::nullopt, "7"},
                        {kDay + 2 * kNanosPerDay, kDay, kDay + kNanosPerDay, Timestamp::NaT});
  days.set_key_column(Column::from_int64("label", {0, 1, 2, 3}));
  Table t = split_lines(days, 86400);
  for (const Table* x : {&t, &days}) {
    EXPECT_EQ(x->key().name(), "STARTDATE");
    EXPECT_EQ(x->key().int64s(),
              (std::vector<int64_t>{kDay, kDay + kNanosPerDay, kDay + 2 * kNanosPerDay, Timestamp::NaT}));
    EXPECT_EQ(x->column_names(), (std::vector<std::string>{"STATIONID", "POINTID", "OBSVALUE"}));
    const auto& v = x->column("OBSVALUE").float32s();
    EXPECT_TRUE(std::isnan(v[0]));  // "1 2" holds two values: not a number
    EXPECT_TRUE(std::isnan(v[1]));
    EXPECT_EQ(v[2], 12.5f);
    EXPECT_EQ(v[3], 7);
    EXPECT_FALSE(x->has_column("timespan"));
  }
  // Numbers are kept, only narrowed.
  Table numbers;
  numbers.add_column(Column::from_timestamps("STARTDATE", {kDay}));
  numbers.add_column(Column::from_float64("OBSVALUE", {0.1}));
  const Table kept = numbers;
  Table n = split_lines(kept, 86400.0);
  EXPECT_EQ(n.column("OBSVALUE").float32s()[0], 0.1f);
  EXPECT_EQ(kept.column("OBSVALUE").type(), DataType::Float64);
  Table moved = split_lines(std::move(numbers), 90000);
  EXPECT_EQ(moved.column("OBSVALUE").type(), DataType::Float32);
}

TEST(SplitLines, BadTablesNameTheColumnAndChangeNothing) {
  auto message = [](Table t, double spacing) {
    Table before = t;
    try {
      split_lines(t, spacing);
    } catch (const std::exception& e) {
      EXPECT_EQ(t.column_names(), before.column_names());
      EXPECT_EQ(t.has_key(), before.has_key());
      return std::string(e.what());
    }
    return std::string("no error");
  };
  Table no_obs = day_rows({"1"});
  no_obs.remove_column("OBSVALUE");
  Table no_start = day_rows({"1"});
  no_start.remove_column("STARTDATE");
  Table numbers = day_rows({"1"});
  numbers.column("OBSVALUE") = Column::from_float64("OBSVALUE", {1.0});
  Table text_dates = day_rows({"1"});
  text_dates.column("STARTDATE") = Column::from_strings("STARTDATE", {"2024-01-01"});
  for (double spacing : {60.0, 86400.0}) {
    EXPECT_NE(message(no_obs, spacing).find("'OBSVALUE'"), std::string::npos);
    EXPECT_NE(message(no_start, spacing).find("'STARTDATE'"), std::string::npos);
  }
  EXPECT_THROW(split_lines(numbers, 60), TypeError);
  EXPECT_NE(message(numbers, 60).find("'OBSVALUE'"), std::string::npos);
  EXPECT_THROW(split_lines(text_dates, 60), TypeError);
  EXPECT_NE(message(text_dates, 60).find("'STARTDATE'"), std::string::npos);
  // Daily data may carry dates of any sortable type.
  EXPECT_EQ(split_lines(text_dates, 86400).key().type(), DataType::String);
  // A day row whose samples would run past 2262-04-11 is refused, naming
  // the row, instead of stamping samples in 1677.
  int64_t late = make_timestamp(2262, 4, 11, 23, 0, 0).ns;
  std::string fifty_minutes = "0";
  for (int k = 1; k < 50; ++k) fifty_minutes.append(" ").append(std::to_string(k));
  Table near_end = day_rows({"1 2", fifty_minutes}, {late, late});
  EXPECT_EQ(keys_of(split_lines(near_end, 1)).back(), late + 49 * kNanosPerSecond);  // 23:00:49 is in range
  EXPECT_NE(message(near_end, 60).find("row 1"), std::string::npos);
  EXPECT_THROW(split_lines(near_end, 60), std::invalid_argument);
}

}  // namespace
}  // namespace tremora::cleaning
