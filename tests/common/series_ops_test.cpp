// Series ids and groups, time bins, backward filling and code texts: the
// table operations the post-processing and the charts build on.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

#include "test_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/table.hpp"
#include "tremora/time.hpp"

namespace tremora {
namespace {

Table codes(std::vector<std::optional<std::string>> station, std::vector<std::optional<std::string>> item) {
  Table t;
  t.add_column(Column::from_strings("STATIONID", station).dictionary_encoded());
  t.add_column(Column::from_strings("ITEMID", item));
  return t;
}

TEST(SeriesIds, AscendingKeyOrderMissingValuesAndTextForms) {
  Table t = codes({"37005", "37001", "37005", std::nullopt, "37001"}, {"4112", "4112", "3211", "4112", "4112"});
  // Ids follow the ascending order of (station, item): 37001/4112, 37005/3211, 37005/4112.
  SeriesIds ids = series_ids(t, {"STATIONID", "ITEMID"}, false);
  EXPECT_EQ(ids.count, 3u);
  EXPECT_EQ(ids.of_row, (std::vector<int32_t>{2, 0, 1, -1, 0}));
  // A missing station is a value of its own, sorted last.
  SeriesIds with_missing = series_ids(t, {"STATIONID", "ITEMID"}, true);
  EXPECT_EQ(with_missing.count, 4u);
  EXPECT_EQ(with_missing.of_row, (std::vector<int32_t>{2, 0, 1, 3, 0}));
  // No key columns: one series.
  SeriesIds one = series_ids(t, {}, false);
  EXPECT_EQ(one.count, 1u);
  EXPECT_EQ(one.of_row, (std::vector<int32_t>(5, 0)));
  // Numbers compare by their text form, as the codes are texts elsewhere.
  Table numbers;
  numbers.add_column(Column::from_int64("POINTID", {10, 9, 10}));
  EXPECT_EQ(series_ids(numbers, {"POINTID"}, false).of_row, (std::vector<int32_t>{0, 1, 0}));
  EXPECT_THROW(series_ids(t, {"POINTID"}, false), KeyError);
}

TEST(GroupRows, MembersInTableOrderOrInAGivenOrder) {
  Table t = codes({"b", "a", "b", std::nullopt, "a"}, {"1", "1", "1", "1", "1"});
  SeriesGroups g = group_rows(t, {"STATIONID"}, false);
  ASSERT_EQ(g.members.size(), 2u);
  EXPECT_EQ(g.members[0], (std::vector<int64_t>{1, 4}));
  EXPECT_EQ(g.members[1], (std::vector<int64_t>{0, 2}));
  std::vector<int64_t> reversed{4, 3, 2, 1, 0};
  SeriesGroups r = group_rows(t, {"STATIONID"}, true, reversed);
  ASSERT_EQ(r.members.size(), 3u);
  EXPECT_EQ(r.members[0], (std::vector<int64_t>{4, 1}));
  EXPECT_EQ(r.members[1], (std::vector<int64_t>{2, 0}));
  EXPECT_EQ(r.members[2], (std::vector<int64_t>{3}));
}

// A table of many rows is grouped in pieces of rows counted apart: the ids
// and members agree with a plain map of key pairs, in table order and in a
// given order, with missing keys left out or kept.
TEST(GroupRows, ManyRowsAgreeWithAPlainMap) {
  std::mt19937 rng(11);
  std::size_t n = 300'000;
  std::vector<std::optional<std::string>> station(n), item(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (rng() % 97) station[i] = std::to_string(rng() % 5);
    item[i] = std::to_string(rng() % 3);
  }
  Table t = codes(station, item);
  std::vector<int64_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = int64_t((i * 7919) % n);  // a permutation: 7919 is prime
  testing::ScopedEnv threads("TREMORA_THREADS", std::string("3"));
  for (bool keep_missing : {false, true}) {
    std::map<std::pair<std::string, std::string>, std::vector<int64_t>> in_order, by_order;
    for (std::size_t p = 0; p < n; ++p) {
      std::size_t row = std::size_t(order[p]);
      if (station[p] || keep_missing) in_order[{station[p].value_or("\xff"), *item[p]}].push_back(int64_t(p));
      if (station[row] || keep_missing) by_order[{station[row].value_or("\xff"), *item[row]}].push_back(int64_t(row));
    }
    SeriesGroups plain = group_rows(t, {"STATIONID", "ITEMID"}, keep_missing);
    SeriesGroups ordered = group_rows(t, {"STATIONID", "ITEMID"}, keep_missing, order);
    ASSERT_EQ(plain.members.size(), in_order.size());
    ASSERT_EQ(ordered.members.size(), by_order.size());
    std::size_t g = 0;
    for (const auto& [key, rows] : in_order) EXPECT_EQ(plain.members[g++], rows) << key.first << "/" << key.second;
    g = 0;
    for (const auto& [key, rows] : by_order) EXPECT_EQ(ordered.members[g++], rows) << key.first << "/" << key.second;
  }
}

int64_t at(int day, int hour, int minute = 0) { return make_timestamp(2024, 3, day, hour, minute).ns; }

TEST(BinByTime, BinsFromMidnightOfTheFirstDayEveryBinIncluded) {
  const int64_t hour = 3600 * kNanosPerSecond;
  Column when = Column::from_timestamps("T", {at(1, 1, 10), at(1, 1, 50), at(1, 4, 0), at(1, 2, 30), at(1, 5, 0)});
  Column values = Column::from_float64("V", {1, 2, 7, NAN, 4});
  Table t = codes({"s", "s", "s", "s", "t"}, {"1", "1", "1", "1", "1"});
  SeriesIds ids = series_ids(t, {"STATIONID"}, false);
  TimeBins mean = bin_by_time(when, values, ids, hour, Aggregate::Mean);
  // Series s: bins 01:00 .. 04:00 (02:00 holds only a missing value, 03:00 nothing); series t: 05:00.
  EXPECT_EQ(mean.starts, (std::vector<int64_t>{at(1, 1), at(1, 2), at(1, 3), at(1, 4), at(1, 5)}));
  EXPECT_EQ(mean.series_offset, (std::vector<std::size_t>{0, 4, 5}));
  EXPECT_EQ(mean.values[0], 1.5);
  EXPECT_TRUE(std::isnan(mean.values[1]));
  EXPECT_TRUE(std::isnan(mean.values[2]));
  EXPECT_EQ(mean.values[3], 7);
  EXPECT_EQ(mean.values[4], 4);
  EXPECT_EQ(mean.code_row, (std::vector<int64_t>{0, 4}));
  TimeBins sum = bin_by_time(when, values, ids, hour, Aggregate::Sum);
  EXPECT_EQ(sum.values, (std::vector<double>{3, 0, 0, 7, 4}));  // an empty bin sums to 0
  // The median of an even count is the mean of the middle two; max and min skip missing values.
  Column four = Column::from_timestamps("T", {at(2, 0), at(2, 6), at(2, 12), at(2, 18)});
  Column v4 = Column::from_float32("V", {4, 1, 10, 2});
  SeriesIds all = series_ids(Table(std::vector<Column>{v4}), {}, false);
  EXPECT_EQ(bin_by_time(four, v4, all, kNanosPerDay, Aggregate::Median).values, (std::vector<double>{3}));
  EXPECT_EQ(bin_by_time(four, v4, all, kNanosPerDay, Aggregate::Max).values, (std::vector<double>{10}));
  EXPECT_EQ(bin_by_time(four, v4, all, kNanosPerDay, Aggregate::Min).values, (std::vector<double>{1}));
  EXPECT_THROW(bin_by_time(four, Column::from_int64("V", {1, 2, 3, 4}), all, kNanosPerDay, Aggregate::Mean), TypeError);
}

TEST(BinByTime, DayBinsFollowTheWallClockOfTheZone) {
  // Berlin's clocks go forward on 31 March 2024: that day has 23 hours.
  Column when =
      Column::from_timestamps("T",
                              {local_to_utc(Timestamp{at(30, 12)}, "Europe/Berlin").ns,
                               local_to_utc(Timestamp{at(31, 23, 30)}, "Europe/Berlin").ns,
                               local_to_utc(Timestamp{make_timestamp(2024, 4, 1, 0, 30).ns}, "Europe/Berlin").ns},
                              "Europe/Berlin");
  Column values = Column::from_float64("V", {1, 2, 3});
  SeriesIds all = series_ids(Table(std::vector<Column>{values}), {}, false);
  TimeBins days = bin_by_time(when, values, all, kNanosPerDay, Aggregate::Sum);
  ASSERT_EQ(days.starts.size(), 3u);
  EXPECT_EQ(days.starts[0], local_to_utc(Timestamp{at(30, 0)}, "Europe/Berlin").ns);
  EXPECT_EQ(days.starts[1], local_to_utc(Timestamp{at(31, 0)}, "Europe/Berlin").ns);
  EXPECT_EQ(days.starts[2] - days.starts[1], 23 * 3600 * kNanosPerSecond);
  EXPECT_EQ(days.values, (std::vector<double>{1, 2, 3}));
}

TEST(BackwardFill, EachColumnFromTheNextValueItHas) {
  Table t;
  t.add_column(Column::from_float64("V", {NAN, 1, NAN, NAN, 4, NAN}));
  t.add_column(Column::from_strings("S", {std::nullopt, std::nullopt, "a", std::nullopt, "b", "c"}));
  t.add_column(Column::from_timestamps("T", {Timestamp::NaT, 5, Timestamp::NaT, 7, 8, Timestamp::NaT}));
  backward_fill(t);
  const auto& v = t.column("V").float64s();
  EXPECT_EQ(std::vector<double>(v.begin(), v.begin() + 5), (std::vector<double>{1, 1, 4, 4, 4}));
  EXPECT_TRUE(std::isnan(v[5]));  // nothing after the last value
  EXPECT_EQ(t.column("S").at(0), Value("a"));
  EXPECT_EQ(t.column("S").at(3), Value("b"));
  EXPECT_EQ(t.column("T").int64s(), (std::vector<int64_t>{5, 5, 7, 7, 8, Timestamp::NaT}));
}

TEST(PaddedCode, TextFormStrippedCutAtThePointAndPadded) {
  Column ints = Column::from_int64("C", {1, 60, 0}, {1, 1, 0});
  Column floats = Column::from_float64("C", {1.0, 90.5, NAN});
  Column texts = Column::from_strings("C", {" 01 ", "1", "2.7", "", std::nullopt});
  EXPECT_EQ(padded_code(ints, 0), "01");
  EXPECT_EQ(padded_code(ints, 1), "60");
  EXPECT_EQ(padded_code(ints, 2), std::nullopt);
  EXPECT_EQ(padded_code(floats, 0), "01");
  EXPECT_EQ(padded_code(floats, 1), "90");
  EXPECT_EQ(padded_code(floats, 2), std::nullopt);
  EXPECT_EQ(padded_code(texts, 0), "01");
  EXPECT_EQ(padded_code(texts, 1), "01");
  EXPECT_EQ(padded_code(texts, 2), "02");
  EXPECT_EQ(padded_code(texts, 3), "00");
  EXPECT_EQ(padded_code(texts, 4), std::nullopt);
  EXPECT_EQ(padded_code(ints, 0, 4), "0001");
  EXPECT_EQ(padded_code(Column::from_int64("C", {123}), 0, 2), "123");  // never cut to the width
}

TEST(FilterRows, ByAConditionAndByOneText) {
  Table t = codes({"a", "b", std::nullopt, "a"}, {"1", "2", "3", "4"});
  t.set_key_column(Column::from_int64("K", {10, 11, 12, 13}));
  Table odd = filter_rows(t, [](std::size_t row) { return row % 2 == 1; });
  EXPECT_EQ(odd.key().int64s(), (std::vector<int64_t>{11, 13}));
  Table of_a = rows_with_text(t, "STATIONID", "a");
  EXPECT_EQ(of_a.column("ITEMID").at(1), Value("4"));
  EXPECT_EQ(of_a.num_rows(), 2u);
  EXPECT_EQ(rows_with_text(t, "ITEMID", "a").num_rows(), 0u);
  EXPECT_THROW(rows_with_text(t, "NOPE", "a"), KeyError);
  t.add_column(Column::from_int64("N", {1, 2, 3, 4}));
  EXPECT_THROW(rows_with_text(t, "N", "1"), TypeError);
  EXPECT_EQ(row_mask(3, [](std::size_t row) { return row != 1; }), (std::vector<uint8_t>{1, 0, 1}));
}

// Name look-ups agree with the columns through every change of a wide
// table: appends, inserts, removals, renames through references, copies.
TEST(TableNames, LookupsFollowEveryChangeOfAWideTable) {
  Table t;
  for (int i = 0; i < 40; ++i) {
    std::string name = "c";
    name += std::to_string(i);
    t.add_column(Column::from_int64(name, {i}));
  }
  auto position = [&](const std::string& name) { return t.find_column(name); };
  EXPECT_EQ(position("c0"), 0u);
  EXPECT_EQ(position("c39"), 39u);
  EXPECT_FALSE(position("c40"));
  EXPECT_THROW(t.add_column(Column::from_int64("c7", {0})), std::invalid_argument);
  t.insert_column(0, Column::from_int64("first", {-1}));
  EXPECT_EQ(position("first"), 0u);
  EXPECT_EQ(position("c39"), 40u);
  t.remove_column("c10");
  EXPECT_FALSE(position("c10"));
  EXPECT_EQ(position("c11"), 11u);
  t.column(5).set_name("renamed");  // through a reference the table cannot see
  EXPECT_EQ(position("renamed"), 5u);
  EXPECT_FALSE(position("c4"));
  t.column("c20") = Column::from_int64("c20b", {20});
  EXPECT_EQ(position("c20b"), 20u);
  EXPECT_FALSE(position("c20"));
  t.add_column(Column::from_int64("last", {99}));  // the next change brings the index up to date
  EXPECT_EQ(position("renamed"), 5u);
  EXPECT_EQ(position("last"), t.num_columns() - 1);
  Table copy = t;
  copy.remove_column("first");
  EXPECT_EQ(copy.find_column("renamed"), 4u);
  EXPECT_EQ(position("renamed"), 5u);
  upper_case_column_names(t);
  EXPECT_EQ(position("RENAMED"), 5u);
  EXPECT_FALSE(position("renamed"));
  t.set_column(Column::from_int64("LAST", {100}));
  EXPECT_EQ(t.column("LAST").int64s()[0], 100);
  for (std::size_t i = 0; i < t.num_columns(); ++i) EXPECT_EQ(position(t.columns()[i].name()), i);
}

}  // namespace
}  // namespace tremora
