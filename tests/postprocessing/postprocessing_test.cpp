#include <gtest/gtest.h>

#include <map>

#include <algorithm>
#include <cmath>
#include <random>

#include "test_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/postprocessing.hpp"

namespace tremora::postprocessing {
namespace {

const int64_t kDay0 = make_timestamp(2024, 5, 1).ns;

// An observation table with STARTDATE as a column, one series per code.
Table observations(const std::vector<int64_t>& times, const std::vector<double>& values,
                   const std::vector<std::optional<std::string>>& stations) {
  std::size_t n = times.size();
  Table t;
  t.add_column(Column::from_timestamps("STARTDATE", times));
  t.add_column(Column::from_strings("STATIONID", stations));
  t.add_column(Column::from_strings("POINTID", std::vector<std::optional<std::string>>(n, "1")));
  t.add_column(Column::from_strings("ITEMID", std::vector<std::optional<std::string>>(n, "4112")));
  t.add_column(Column::from_float64("OBSVALUE", values));
  return t;
}

using testing::error_of;

TEST(Resample, HoursToDaysWithEmptyDays) {
  std::vector<int64_t> times;
  std::vector<double> values;
  for (int h = 0; h < 72; ++h) {
    if (h >= 24 && h < 48) continue;  // 2 May has no values
    times.push_back(kDay0 + h * kNanosPerHour);
    values.push_back(h);
  }
  Table t = observations(times, values, std::vector<std::optional<std::string>>(times.size(), "37001"));
  Table mean = resample_timeseries_data(t, "1D");
  EXPECT_EQ(mean.column_names(), (std::vector<std::string>{"STARTDATE", "OBSVALUE", "STATIONID", "POINTID", "ITEMID"}));
  ASSERT_EQ(mean.num_rows(), 3u);
  EXPECT_EQ(mean.column("STARTDATE").int64s()[1], kDay0 + kNanosPerDay);
  EXPECT_EQ(mean.column("OBSVALUE").float64s()[0], 11.5);
  EXPECT_TRUE(std::isnan(mean.column("OBSVALUE").float64s()[1]));
  EXPECT_EQ(mean.column("OBSVALUE").float64s()[2], 59.5);
  Table sum = resample_timeseries_data(t, "1D", "sum");
  EXPECT_EQ(sum.column("OBSVALUE").float64s()[1], 0);
  EXPECT_EQ(resample_timeseries_data(t, "24h", "max").column("OBSVALUE").float64s()[2], 71);
  EXPECT_EQ(resample_timeseries_data(t, "D", "median").column("OBSVALUE").float64s()[0], 11.5);
  EXPECT_FALSE(mean.has_key());
  // Bins are anchored at midnight of the first day.
  Table late = observations({kDay0 + 10 * kNanosPerHour + 25 * kNanosPerMinute, kDay0 + 12 * kNanosPerHour}, {1, 2},
                            {"37001", "37001"});
  Table hourly = resample_timeseries_data(late, "1h");
  EXPECT_EQ(hourly.column("STARTDATE").int64s()[0], kDay0 + 10 * kNanosPerHour);
  EXPECT_EQ(hourly.num_rows(), 3u);
  EXPECT_EQ(resample_timeseries_data(late, "90min").column("STARTDATE").int64s()[0], kDay0 + 9 * kNanosPerHour);
}

TEST(Resample, SeriesOrderChecksAndErrors) {
  Table t = observations({kDay0, kDay0, kDay0 + kNanosPerHour, kDay0}, {1, 2, 3, 4},
                         {"41001", "37001", "41001", std::nullopt});
  Table r = resample_timeseries_data(t, "1h", "min");
  ASSERT_EQ(r.num_rows(), 3u);  // the row without a station is left out
  EXPECT_EQ(r.column("STATIONID").text(0), "37001");
  EXPECT_EQ(r.column("STATIONID").text(2), "41001");
  EXPECT_EQ(r.column("OBSVALUE").float64s()[2], 3);
  Table no_point = t;
  no_point.remove_column("POINTID");
  EXPECT_EQ(error_of([&] { resample_timeseries_data(no_point, "1h"); }), "缺少必要的列: POINTID");
  EXPECT_EQ(error_of([&] { resample_timeseries_data(t, "1h", "Mean"); }),
            "不支持的聚合方法，请选择'mean', 'sum', 'median', 'max', 'min'之一");
  Table keyed = t;
  keyed.set_key("STARTDATE");
  EXPECT_EQ(error_of([&] { resample_timeseries_data(keyed, "1h"); }), "缺少必要的列: STARTDATE");
  Table none = observations({kDay0}, {1}, {std::nullopt});
  EXPECT_THROW(resample_timeseries_data(none, "1h", "Mean"), std::invalid_argument);
  EXPECT_NE(error_of([&] { resample_timeseries_data(none, "1h", "Mean"); }).find("nothing to resample"),
            std::string::npos);
  for (const char* bad : {"1W", "0h", "h1", "", "1.5h", "1 h"})
    EXPECT_NE(error_of([&] { frequency_nanos(bad); }).find(std::string("'") + bad + "'"), std::string::npos) << bad;
  EXPECT_EQ(frequency_nanos("15min"), 15 * kNanosPerMinute);
  EXPECT_EQ(frequency_nanos("T"), kNanosPerMinute);
  // Date texts are read; a bad one is named.
  Table texts = t;
  texts.column("STARTDATE") =
      Column::from_strings("STARTDATE", {"2024-05-01", "2024-05-01", "2024-05-01 01:00", "2024-05-01"});
  EXPECT_EQ(resample_timeseries_data(texts, "1h").num_rows(), 3u);
  texts.column("STARTDATE") = Column::from_strings("STARTDATE", {"2024-05-01", "May 1", "2024-05-01", "2024-05-01"});
  EXPECT_NE(error_of([&] { resample_timeseries_data(texts, "1h"); }).find("'May 1'"), std::string::npos);
}

// Bins follow the wall clock of the times' zone, not the UTC day.
TEST(Resample, DaysOfTheTimesOwnZone) {
  auto local = [](const char* zone, int y, int mo, int d, int h, int mi) {
    return local_to_utc(make_timestamp(y, mo, d, h, mi, 0), zone).ns;
  };
  Table t = observations({local("Asia/Shanghai", 2024, 5, 1, 8, 30), local("Asia/Shanghai", 2024, 5, 1, 13, 0)}, {1, 2},
                         {"37001", "37001"});
  t.column("STARTDATE").set_zone("Asia/Shanghai");
  Table daily = resample_timeseries_data(t, "1D");
  ASSERT_EQ(daily.num_rows(), 1u);
  EXPECT_EQ(daily.column("STARTDATE").int64s()[0], local("Asia/Shanghai", 2024, 5, 1, 0, 0));
  EXPECT_EQ(daily.column("STARTDATE").zone(), "Asia/Shanghai");
  Table five = resample_timeseries_data(t, "5h");
  ASSERT_EQ(five.num_rows(), 2u);
  EXPECT_EQ(five.column("STARTDATE").int64s()[0], local("Asia/Shanghai", 2024, 5, 1, 5, 0));
  EXPECT_EQ(five.column("STARTDATE").int64s()[1], local("Asia/Shanghai", 2024, 5, 1, 10, 0));

  // Texts with an offset: 02:00, 10:00 and 23:00 on 1 March are one day.
  Table texts = observations({0, 0, 0}, {1, 2, 4}, {"37001", "37001", "37001"});
  texts.column("STARTDATE") =
      Column::from_strings("STARTDATE", {"2024-03-01 02:00+08:00", "2024-03-01 10:00+08:00", "2024-03-01 23:00+08:00"});
  Table sum = resample_timeseries_data(texts, "1D", "sum");
  ASSERT_EQ(sum.num_rows(), 1u);
  EXPECT_EQ(sum.column("OBSVALUE").float64s()[0], 7);
  EXPECT_EQ(sum.column("STARTDATE").zone(), "+08:00");
  EXPECT_EQ(iso_format(Timestamp{sum.column("STARTDATE").int64s()[0]}, "+08:00"), "2024-03-01T00:00:00+08:00");

  // New York's 3 November 2024 has 25 hours: a day bin holds all of them,
  // hour bins stay one hour long through the repeated hour.
  std::vector<int64_t> hours;
  for (int h = 0; h < 73; ++h) hours.push_back(local("America/New_York", 2024, 11, 2, 0, 0) + h * kNanosPerHour);
  Table ny = observations(hours, std::vector<double>(hours.size(), 1.0),
                          std::vector<std::optional<std::string>>(hours.size(), "37001"));
  ny.column("STARTDATE").set_zone("America/New_York");
  Table days = resample_timeseries_data(ny, "1D", "sum");
  ASSERT_EQ(days.num_rows(), 3u);
  EXPECT_EQ(days.column("OBSVALUE").float64s(), (std::vector<double>{24, 25, 24}));
  EXPECT_EQ(days.column("STARTDATE").int64s()[2], local("America/New_York", 2024, 11, 4, 0, 0));
  EXPECT_EQ(resample_timeseries_data(ny, "1h", "sum").num_rows(), 73u);
}

// Times near the ends of the range and bins wider than durations reach are
// errors naming the values, never bins in another century.
TEST(Resample, RefusesTimeArithmeticOutOfRange) {
  std::string before = error_of([&] {
    resample_timeseries_data(observations({make_timestamp(1677, 9, 21, 12, 0, 0).ns}, {1}, {"37001"}), "1h");
  });
  EXPECT_NE(before.find("1677-09-21T12:00:00"), std::string::npos) << before;
  std::string span = error_of([&] {
    resample_timeseries_data(
        observations({make_timestamp(1700, 1, 1).ns, make_timestamp(2200, 1, 1).ns}, {1, 2}, {"37001", "37001"}), "1D");
  });
  EXPECT_NE(span.find("2200-01-01"), std::string::npos) << span;
  Table t = observations({kDay0}, {1}, {"37001"});
  for (const char* wide : {"106752D", "200000D", "213504D"})
    EXPECT_NE(error_of([&] { resample_timeseries_data(t, wide); }).find(wide), std::string::npos) << wide;
  EXPECT_EQ(resample_timeseries_data(t, "106751D").column("STARTDATE").int64s()[0], make_timestamp(2024, 5, 1).ns);
}

// Resampling agrees with a plain per-bin computation on irregular times.
TEST(Resample, AgreesWithAPlainReference) {
  std::mt19937_64 rng(21);
  for (int round = 0; round < 20; ++round) {
    std::vector<int64_t> times;
    std::vector<double> values;
    std::vector<std::optional<std::string>> stations;
    for (int i = 0; i < 400; ++i) {
      int s = int(rng() % 2);
      int64_t day = int64_t(rng() % 5) * 2;  // days 0, 2, 4, 6, 8: empty days between
      times.push_back(kDay0 + (day + s) * kNanosPerDay + int64_t(rng() % uint64_t(kNanosPerDay)));
      values.push_back(rng() % 9 == 0 ? std::nan("") : double(rng() % 50));
      stations.push_back(s ? "B" : "A");
    }
    Table t = observations(times, values, stations);
    int64_t width = (1 + int64_t(rng() % 12)) * kNanosPerHour;
    for (const char* agg : {"mean", "sum", "median", "max", "min"}) {
      Table r = resample_timeseries_data(t, std::to_string(width / kNanosPerHour) + "h", agg);
      std::size_t row = 0;
      for (const char* station : {"A", "B"}) {
        std::vector<std::pair<int64_t, double>> mine;
        for (std::size_t i = 0; i < times.size(); ++i)
          if (*stations[i] == station) mine.emplace_back(times[i], values[i]);
        int64_t lo = std::min_element(mine.begin(), mine.end())->first;
        int64_t hi = std::max_element(mine.begin(), mine.end())->first;
        int64_t origin = lo / kNanosPerDay * kNanosPerDay;
        for (int64_t edge = origin + (lo - origin) / width * width; edge <= hi; edge += width, ++row) {
          std::vector<double> in;
          for (auto [when, v] : mine)
            if (when >= edge && when < edge + width && !std::isnan(v)) in.push_back(v);
          std::sort(in.begin(), in.end());
          double expected = std::nan("");
          std::string a = agg;
          if (a == "sum") expected = 0;
          if (!in.empty()) {
            double total = 0;
            for (double v : in) total += v;
            expected = a == "mean"     ? total / double(in.size())
                       : a == "sum"    ? total
                       : a == "max"    ? in.back()
                       : a == "min"    ? in.front()
                       : in.size() % 2 ? in[in.size() / 2]
                                       : (in[in.size() / 2 - 1] + in[in.size() / 2]) / 2;
          }
          ASSERT_LT(row, r.num_rows());
          EXPECT_EQ(r.column("STARTDATE").int64s()[row], edge);
          EXPECT_EQ(r.column("STATIONID").text(row), station);
          double got = r.column("OBSVALUE").float64s()[row];
          if (std::isnan(expected)) EXPECT_TRUE(std::isnan(got)) << agg << " row " << row;
          else EXPECT_DOUBLE_EQ(got, expected) << agg << " row " << row;
        }
      }
      EXPECT_EQ(row, r.num_rows()) << agg;
    }
  }
}

Table keyed_series(const std::vector<int64_t>& keys, const std::vector<std::optional<std::string>>& values,
                   const std::vector<std::optional<std::string>>& stations) {
  Table t;
  t.add_column(Column::from_strings("STATIONID", stations));
  t.add_column(Column::from_strings("OBSVALUE", values));
  t.set_key_column(Column::from_timestamps("STARTDATE", keys));
  return t;
}

std::vector<double> values_of(const Table& t) { return t.column("OBSVALUE").float64s(); }

bool same(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!(a[i] == b[i] || (std::isnan(a[i]) && std::isnan(b[i])))) return false;
  return true;
}

TEST(FirstDifference, SeriesLagsAndOrder) {
  const double nan = std::nan("");
  Table one = keyed_series({1, 2, 3}, {"10", "12", "15"}, {"A", "A", "A"});
  EXPECT_TRUE(same(values_of(first_difference(one)), {2, 3}));
  Table all = first_difference(one, {.keep_first = true});
  EXPECT_TRUE(same(values_of(all), {nan, 2, 3}));
  EXPECT_EQ(all.key().int64s(), (std::vector<int64_t>{1, 2, 3}));
  // Two interleaved series; the result keeps the input's row order.
  Table two = keyed_series({1, 1, 2, 2, 3}, {"1", "100", "3", "110", "6"}, {"A", "B", "A", "B", "A"});
  EXPECT_TRUE(same(values_of(first_difference(two, {.keep_first = true})), {nan, nan, 2, 10, 3}));
  // An empty group list makes one sequence of the whole table.
  EXPECT_TRUE(same(values_of(first_difference(two, {.group_cols = std::vector<std::string>{}, .keep_first = true})),
                   {nan, 99, -97, 107, -104}));
  // Lag 2; a text that is no number spoils its own row and the one two later.
  Table lag = keyed_series({1, 2, 3, 4}, {"1", "2", "4", "8"}, {"A", "A", "A", "A"});
  EXPECT_TRUE(same(values_of(first_difference(lag, {.periods = 2, .keep_first = true})), {nan, nan, 3, 6}));
  Table bad = keyed_series({1, 2, 3, 4}, {"1", "x", "4", "8"}, {"A", "A", "A", "A"});
  EXPECT_TRUE(same(values_of(first_difference(bad, {.periods = 2, .keep_first = true})), {nan, nan, 3, nan}));
  // Series of unequal lengths, a lag longer than one of them, and a lag far
  // beyond every series.
  Table uneven = keyed_series({1, 2, 3, 4, 5, 6}, {"1", "50", "3", "7", "60", "15"}, {"A", "B", "A", "A", "B", "A"});
  EXPECT_TRUE(
      same(values_of(first_difference(uneven, {.periods = 3, .keep_first = true})), {nan, nan, nan, nan, nan, 14}));
  EXPECT_TRUE(same(values_of(first_difference(uneven, {.periods = 1, .keep_first = true})), {nan, nan, 2, 4, 10, 8}));
  EXPECT_EQ(first_difference(uneven, {.periods = int64_t{1} << 40}).num_rows(), 0u);
  // Keys out of order: sorted for the computation, unless sort is off.
  Table shuffled = keyed_series({3, 1, 2}, {"15", "10", "12"}, {"A", "A", "A"});
  EXPECT_TRUE(same(values_of(first_difference(shuffled, {.keep_first = true})), {3, nan, 2}));
  EXPECT_TRUE(same(values_of(first_difference(shuffled, {.keep_first = true, .sort = false})), {nan, -5, 2}));
  // Missing station codes form a series of their own.
  Table missing = keyed_series({1, 2, 3, 4}, {"1", "5", "2", "9"}, {std::nullopt, "A", std::nullopt, "A"});
  EXPECT_TRUE(same(values_of(first_difference(missing, {.keep_first = true})), {nan, nan, 1, 4}));
}

TEST(FirstDifference, CopyAndErrors) {
  Table t = keyed_series({1, 2, 3}, {"10", "12", "15"}, {"A", "A", "A"});
  t.add_column(Column::from_int64("FLAG", {1, 2, 3}));
  Table out = first_difference(t);
  EXPECT_EQ(out.column_names(), t.column_names());  // the value column keeps its place
  EXPECT_EQ(out.column("FLAG").int64s(), (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(out.column("OBSVALUE").float64s(), (std::vector<double>{2, 3}));
  EXPECT_EQ(t.column("OBSVALUE").type(), DataType::String);  // untouched
  Table in_place = first_difference(t, {.copy = false});
  EXPECT_EQ(in_place.num_rows(), 2u);
  EXPECT_EQ(t.column("OBSVALUE").type(), DataType::Float64);  // the caller's column was replaced
  EXPECT_TRUE(std::isnan(t.column("OBSVALUE").float64s()[0]));
  EXPECT_EQ(t.num_rows(), 3u);
  EXPECT_THROW(first_difference(t, {.value_col = "NOPE"}), KeyError);
  EXPECT_EQ(error_of([&] { first_difference(t, {.periods = 0}); }), "periods must be a positive integer");
  EXPECT_EQ(error_of([&] {
              first_difference(t, {.group_cols = std::vector<std::string>{"X", "STATIONID", "Y"}});
            }),
            "Missing group columns: ['X', 'Y']");
}

TEST(MadFilter, ExamplesOfTheRule) {
  std::vector<double> flat(30, 1.0);
  flat[15] = 100;
  Column out = filter_with_fast_mad(Column::from_float64("v", flat));
  for (std::size_t i = 0; i < 30; ++i) EXPECT_EQ(out.float64s()[i], 1.0) << i;
  // Near the start a sample is judged by the first complete window.
  std::vector<double> ramp;
  for (int i = 0; i < 40; ++i) ramp.push_back(i % 2 ? 1.0 : 2.0);
  ramp[2] = 50;
  EXPECT_EQ(filter_with_fast_mad(Column::from_float64("v", ramp)).float64s()[2], 2.0);
  // Shorter than a window: unchanged.
  std::vector<double> short_series{1, 100, 1};
  EXPECT_EQ(filter_with_fast_mad(Column::from_float64("v", short_series)).float64s(), short_series);
  EXPECT_EQ(filter_with_fast_mad(Column::from_float64("v", short_series), int64_t{1} << 40).float64s(), short_series);
  // A missing sample stays missing; equal to the threshold is no outlier.
  std::vector<double> gap(30, 1.0);
  gap[10] = std::nan("");
  gap[25] = 100;
  Column g = filter_with_fast_mad(Column::from_float64("v", gap));
  EXPECT_TRUE(std::isnan(g.float64s()[10]));
  EXPECT_EQ(g.float64s()[25], 1.0);
  // Window 3 over (0, 3, 1): median 1, MAD 1.4826; the 3 lies 2 away.
  std::vector<double> edge{0, 3, 1};
  double factor = 2.0 / 1.4826;
  while (factor * 1.4826 > 2.0) factor = std::nextafter(factor, 0.0);
  while (factor * 1.4826 < 2.0) factor = std::nextafter(factor, 10.0);
  ASSERT_EQ(factor * 1.4826, 2.0);
  EXPECT_EQ(filter_with_fast_mad(Column::from_float64("v", edge), 3, factor).float64s()[1], 3);  // equal: kept
  EXPECT_EQ(filter_with_fast_mad(Column::from_float64("v", edge), 3, std::nextafter(factor, 0.0)).float64s()[1], 1);
  EXPECT_DOUBLE_EQ(fast_mad(std::vector<double>{1, 2, 3, 4, 100}), 1.4826);
  EXPECT_TRUE(std::isnan(fast_mad(std::vector<double>{1, std::nan("")})));
  // Tables: only OBSVALUE, its type kept; bad arguments refused.
  Table t(std::vector<Column>{Column::from_float32("OBSVALUE", std::vector<float>(flat.begin(), flat.end()))});
  Table ft = filter_with_fast_mad(t);
  EXPECT_EQ(ft.column("OBSVALUE").type(), DataType::Float32);
  EXPECT_EQ(ft.column("OBSVALUE").float32s()[15], 1.0f);
  EXPECT_EQ(t.column("OBSVALUE").float32s()[15], 100.0f);
  EXPECT_THROW(filter_with_fast_mad(t, 0), std::invalid_argument);
  EXPECT_THROW(filter_with_fast_mad(t, 15, INFINITY), std::invalid_argument);
  EXPECT_THROW(filter_with_fast_mad(Table(std::vector<Column>{Column::from_float64("X", {1})})), KeyError);
}

// Two stations' samples interleaved by time, as a network fetch gives
// them (and one out of time order): each series is filtered on its own, in
// time order, exactly as alone, and the rows keep their places.
TEST(MadFilter, EachSeriesOfATableOnItsOwn) {
  std::vector<int64_t> times;
  std::vector<std::string> stations;
  std::vector<float> values;
  std::map<std::string, std::vector<float>> alone;
  for (int k = 0; k < 60; ++k)
    for (const char* station : {"37001", "41001"}) {
      bool first = station[0] == '3';
      float v = first ? 10.0f + float(k % 3) : -5.0f + float(k % 2);
      if (k == 20 + (first ? 0 : 7)) v += 80;  // one spike a series
      times.push_back(make_timestamp(2024, 5, 1, 0, k).ns);
      stations.emplace_back(station);
      values.push_back(v);
      alone[station].push_back(v);
    }
  std::swap(times[0], times[2]);  // the first rows of 37001 out of time order
  std::swap(values[0], values[2]);
  std::vector<std::optional<std::string>> codes(stations.begin(), stations.end());
  Table t(std::vector<Column>{Column::from_strings(qzdata::kStationId, codes),
                              Column::from_float32(qzdata::kObsValue, values)});
  t.set_key_column(Column::from_timestamps(qzdata::kStartDate, times));
  Table f = filter_with_fast_mad(t);
  ASSERT_EQ(f.column(qzdata::kObsValue).type(), DataType::Float32);
  std::map<std::string, std::vector<float>> expected;
  for (const auto& [station, series] : alone)
    expected[station] = filter_with_fast_mad(Column::from_float32("v", series)).float32s();
  std::map<std::string, std::size_t> seen;
  for (std::size_t row = 0; row < f.num_rows(); ++row) {
    std::size_t k = seen[stations[row]]++;
    if (row == 0) k = 1;  // the swapped pair: row 0 holds the second time, row 2 the first
    if (row == 2) k = 0;
    EXPECT_EQ(f.column(qzdata::kObsValue).float32s()[row], expected[stations[row]][k]) << row;
  }
  for (float v : f.column(qzdata::kObsValue).float32s()) EXPECT_LT(v, 50.0f);  // both spikes gone
}

// The rule by sorting every complete window, its statistics filled forward
// then backward where missing.
std::vector<double> filtered_by_sorting(const std::vector<double>& x, std::size_t w, double threshold) {
  std::size_t n = x.size(), after = (w - 1) / 2, before = w - 1 - after;
  std::vector<double> median(n, std::nan("")), mad(n, std::nan(""));
  for (std::size_t i = before; i + after < n; ++i) {
    std::vector<double> win(x.begin() + std::ptrdiff_t(i - before), x.begin() + std::ptrdiff_t(i + after + 1));
    if (std::any_of(win.begin(), win.end(), [](double v) { return std::isnan(v); })) continue;
    std::sort(win.begin(), win.end());
    double m = w % 2 ? win[w / 2] : (win[w / 2 - 1] + win[w / 2]) / 2;
    std::vector<double> dev;
    for (double v : win) dev.push_back(std::fabs(v - m));
    median[i] = m;
    if (std::any_of(dev.begin(), dev.end(), [](double d) { return std::isnan(d); })) continue;  // inf - inf
    std::sort(dev.begin(), dev.end());
    mad[i] = 1.4826 * (w % 2 ? dev[w / 2] : (dev[w / 2 - 1] + dev[w / 2]) / 2);
  }
  for (auto* v : {&median, &mad}) {
    for (std::size_t i = 1; i < n; ++i)
      if (std::isnan((*v)[i])) (*v)[i] = (*v)[i - 1];
    for (std::size_t i = n; i-- > 1;)
      if (std::isnan((*v)[i - 1])) (*v)[i - 1] = (*v)[i];
  }
  std::vector<double> expected = x;
  for (std::size_t i = 0; i < n; ++i)
    if (std::fabs(x[i] - median[i]) > threshold * mad[i]) expected[i] = median[i];
  return expected;
}

// Long series are gathered in pieces: infinite samples late in one series
// (whose windows then have missing statistics, infinity minus infinity)
// change how that series alone is judged.
TEST(MadFilter, LongSeriesOfATableWithInfiniteSamplesInOne) {
  std::mt19937 rng(11);
  std::size_t per_series = 150'000, w = 9;
  std::vector<double> values;
  std::vector<std::optional<std::string>> stations;
  std::map<std::string, std::vector<double>> alone;
  for (std::size_t k = 0; k < per_series; ++k)
    for (const char* station : {"37001", "41001", "53002"}) {
      bool late_infinity = station[0] == '4' && k >= 140'000 && k < 140'000 + w && k % 3 != 0;
      double v = late_infinity ? INFINITY : double(rng() % 100) + (rng() % 500 == 0 ? 1e4 : 0.0);
      values.push_back(v);
      stations.emplace_back(station);
      alone[station].push_back(v);
    }
  Table t(std::vector<Column>{Column::from_strings(qzdata::kStationId, stations),
                              Column::from_float64(qzdata::kObsValue, values)});
  Table f = filter_with_fast_mad(t, int64_t(w));
  std::map<std::string, std::vector<double>> expected;
  for (const auto& [station, series] : alone)
    expected[station] = filter_with_fast_mad(Column::from_float64("v", series), int64_t(w)).float64s();
  std::map<std::string, std::size_t> seen;
  const std::vector<double>& got = f.column(qzdata::kObsValue).float64s();
  for (std::size_t row = 0; row < f.num_rows(); ++row) {
    const std::string& station = *stations[row];
    double want = expected[station][seen[station]++];
    ASSERT_TRUE(got[row] == want || (std::isnan(got[row]) && std::isnan(want))) << station << " row " << row;
  }
}

// The sliding computation agrees with sorting every complete window. The
// last rounds are long: they are judged in pieces, with missing values
// across the pieces' edges and over a whole piece.
TEST(MadFilter, AgreesWithSortingEachWindow) {
  std::mt19937_64 rng(5);
  for (int round = 0; round < 63; ++round) {
    bool is_long = round >= 60;
    // Small windows mostly; every fourth round a large one (another code path).
    std::size_t n = is_long ? 200'000 : 1 + rng() % 300,
                w = round % 4 == 3 && !is_long ? 60 + rng() % 120 : 1 + rng() % 16;
    std::vector<double> x(n);
    for (auto& v : x) v = rng() % 25 == 0 ? std::nan("") : double(rng() % 6) + (rng() % 3 == 0 ? 0.5 : 0.0);
    if (is_long) {
      for (auto [from, to] : {std::pair{3, 20}, {65'000, 66'000}, {120'000, 200'000 - 3}})
        std::fill(x.begin() + from, x.begin() + to, std::nan(""));
      std::fill(x.begin() + 130'000, x.begin() + 131'000, 1.5);  // the last complete windows
    }
    if (round % 5 == 0) x[rng() % n] = 1e6;  // a spike
    if (round % 7 == 6 ||
        round == 62) {  // infinite samples: statistics that are NaN (inf - inf) are filled like missing ones
      std::size_t at = rng() % n;
      for (std::size_t k = 0; k < std::min<std::size_t>(w, n - at); ++k) x[at + k] = k % 3 ? INFINITY : 2.0;
    }
    double threshold = 0.5 + double(rng() % 40) / 10;
    std::vector<double> expected = filtered_by_sorting(x, w, threshold);
    Column got = filter_with_fast_mad(Column::from_float64("v", x), int64_t(w), threshold);
    ASSERT_TRUE(same(got.float64s(), expected)) << "round " << round << " n " << n << " w " << w;
    // float samples slide as floats: the same result, rounded to float
    // (every sample here is a float exactly).
    Column got32 =
        filter_with_fast_mad(Column::from_float32("v", std::vector<float>(x.begin(), x.end())), int64_t(w), threshold);
    std::vector<double> got32_wide(got32.float32s().begin(), got32.float32s().end()), expected32;
    for (double e : expected) expected32.push_back(double(float(e)));
    ASSERT_TRUE(same(got32_wide, expected32)) << "float round " << round << " n " << n << " w " << w;
  }
}

TEST(NormalizedDates, ReferenceYearAndLeapDays) {
  EXPECT_TRUE(_is_leap_year(2000));
  EXPECT_TRUE(_is_leap_year(2024));
  EXPECT_FALSE(_is_leap_year(1900));
  EXPECT_FALSE(_is_leap_year(2023));
  Table t(std::vector<Column>{Column::from_float64("OBSVALUE", {1, 2})});
  t.set_key_column(Column::from_timestamps(
      "STARTDATE", {make_timestamp(2019, 3, 5, 17, 45, 0).ns, make_timestamp(2020, 2, 29, 8, 0, 0).ns}));
  Table& same_table = create_normalized_dates(t);
  EXPECT_EQ(&same_table, &t);
  EXPECT_EQ(t.column("datetime_norm").int64s()[0], make_timestamp(2024, 3, 5).ns);
  EXPECT_EQ(t.column("datetime_norm").int64s()[1], make_timestamp(2024, 2, 29).ns);
  create_normalized_dates(t, 2023);
  EXPECT_EQ(t.column("datetime_norm").int64s()[1], make_timestamp(2023, 2, 28).ns);
  EXPECT_EQ(t.num_columns(), 2u);  // the column is replaced, not added twice
  // Text keys are converted; unreadable ones leave the table as it was.
  Table texts(std::vector<Column>{Column::from_float64("OBSVALUE", {1})});
  texts.set_key_column(Column::from_strings("STARTDATE", {"2021-07-01 12:00"}));
  create_normalized_dates(texts);
  EXPECT_EQ(texts.key().type(), DataType::Timestamp);
  EXPECT_EQ(texts.column("datetime_norm").int64s()[0], make_timestamp(2024, 7, 1).ns);
  Table junk(std::vector<Column>{Column::from_float64("OBSVALUE", {1})});
  junk.set_key_column(Column::from_strings("STARTDATE", {"not a date"}));
  create_normalized_dates(junk);
  EXPECT_FALSE(junk.has_column("datetime_norm"));
  EXPECT_EQ(junk.key().type(), DataType::String);
}

TEST(NormalizedDates, TheDayWrittenAndYearsInRange) {
  Table t(std::vector<Column>{Column::from_float64("OBSVALUE", {1, 2})});
  t.set_key_column(Column::from_strings("STARTDATE", {"2024-03-01 02:00+08:00", "2023-01-01 07:59+08:00"}));
  create_normalized_dates(t);
  const Column& norm = t.column("datetime_norm");
  EXPECT_EQ(norm.zone(), "+08:00");
  EXPECT_EQ(iso_format(Timestamp{norm.int64s()[0]}, norm.zone()), "2024-03-01T00:00:00+08:00");
  EXPECT_EQ(iso_format(Timestamp{norm.int64s()[1]}, norm.zone()), "2024-01-01T00:00:00+08:00");
  // A zone whose midnight is skipped: the day starts at the change.
  Table santiago(std::vector<Column>{Column::from_float64("OBSVALUE", {1})});
  santiago.set_key_column(Column::from_timestamps(
      "STARTDATE", {local_to_utc(make_timestamp(2023, 9, 3, 12, 0, 0), "America/Santiago").ns}, "America/Santiago"));
  create_normalized_dates(santiago, 2023);
  EXPECT_EQ(iso_format(Timestamp{santiago.column("datetime_norm").int64s()[0]}, "America/Santiago"),
            "2023-09-03T01:00:00-03:00");
  for (int64_t year : {int64_t{9999999999}, int64_t{-1}, int64_t{1677}, int64_t{2262}})
    EXPECT_NE(error_of([&] { create_normalized_dates(t, year); }).find(std::to_string(year)), std::string::npos)
        << year;
  EXPECT_NO_THROW(create_normalized_dates(t, 1678));
  EXPECT_NO_THROW(create_normalized_dates(t, 2261));
}

}  // namespace
}  // namespace tremora::postprocessing
