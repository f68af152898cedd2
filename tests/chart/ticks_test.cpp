// Tick positions and labels for a table of view ranges, from seconds to
// decades, and for numeric ranges of many magnitudes.
#include <gtest/gtest.h>

#include <cmath>

#include "tremora/chart.hpp"

namespace tremora::chart {
namespace {

double at(const std::string& text) { return to_days(parse_timestamp(text)); }

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& p : parts) {
    if (!out.empty()) out += ' ';
    out += p;
  }
  return out;
}

struct DateCase {
  const char* from;
  const char* to;
  DateUnit unit;
  int interval;
  const char* labels;
  const char* offset;
};

TEST(DateTicks, UnitsIntervalsLabelsAndOffsets) {
  const DateCase cases[] = {
      {"2023-03-14 08:17:05", "2023-03-14 08:17:50", DateUnit::Secondly, 5, "05 10 15 20 25 30 35 40 45 50",
       "2023-Mar-14 08:17"},
      {"2023-03-14 08:17", "2023-03-14 08:23", DateUnit::Minutely, 1, "08:17 08:18 08:19 08:20 08:21 08:22 08:23",
       "2023-Mar-14"},
      {"2023-03-14 08:17", "2023-03-14 09:17", DateUnit::Minutely, 10, "08:20 08:30 08:40 08:50 09:00 09:10",
       "2023-Mar-14"},
      {"2023-03-14 08:17", "2023-03-14 11:17", DateUnit::Minutely, 30, "08:30 09:00 09:30 10:00 10:30 11:00",
       "2023-Mar-14"},
      {"2023-03-14 08:17", "2023-03-14 14:17", DateUnit::Hourly, 1, "09:00 10:00 11:00 12:00 13:00 14:00",
       "2023-Mar-14"},
      {"2023-03-14", "2023-03-15", DateUnit::Hourly, 3, "Mar-14 03:00 06:00 09:00 12:00 15:00 18:00 21:00 Mar-15",
       "2023-Mar-15"},
      {"2023-03-14 08:17", "2023-03-15 08:17", DateUnit::Hourly, 3, "09:00 12:00 15:00 18:00 21:00 Mar-15 03:00 06:00",
       "2023-Mar-15"},
      {"2023-03-14 08:17", "2023-03-17 08:17", DateUnit::Hourly, 12, "12:00 Mar-15 12:00 Mar-16 12:00 Mar-17",
       "2023-Mar-17"},
      {"2023-03-14 08:17", "2023-03-19 08:17", DateUnit::Daily, 1, "15 16 17 18 19", "2023-Mar"},
      {"2023-03-14 08:17", "2023-03-24 08:17", DateUnit::Daily, 1, "15 16 17 18 19 20 21 22 23 24", "2023-Mar"},
      {"2023-12-25", "2024-01-06", DateUnit::Daily, 2, "25 27 29 31 Jan 03 05", "2024-Jan"},
      {"2023-03-14", "2023-04-03", DateUnit::Daily, 2, "15 17 19 21 23 25 27 29 31 Apr 03", "2023-Apr"},
      {"2023-03-14", "2023-04-14", DateUnit::Daily, 4, "17 21 25 29 Apr 05 09 13", "2023-Apr"},
      {"2023-03-14", "2023-06-14", DateUnit::Daily, 14, "15 Apr 15 May 15 Jun", "2023-Jun"},
      {"2023-03-14", "2023-08-11", DateUnit::Daily, 14, "15 Apr 15 May 15 Jun 15 Jul 15 Aug", "2023-Aug"},
      {"2023-03-14", "2023-09-13", DateUnit::Monthly, 1, "Apr May Jun Jul Aug Sep", "2023"},
      {"2023-01-01", "2023-07-01", DateUnit::Monthly, 1, "2023 Feb Mar Apr May Jun Jul", ""},
      {"2023-03-14", "2024-03-13", DateUnit::Monthly, 1, "Apr May Jun Jul Aug Sep Oct Nov Dec 2024 Feb Mar", ""},
      {"2023-01-01", "2024-01-01", DateUnit::Monthly, 2, "2023 Mar May Jul Sep Nov 2024", ""},
      {"2021-03-14", "2024-03-13", DateUnit::Monthly, 4, "May Sep 2022 May Sep 2023 May Sep 2024", ""},
      {"2018-03-14", "2023-02-04", DateUnit::Monthly, 6, "Jul 2019 Jul 2020 Jul 2021 Jul 2022 Jul 2023", ""},
      {"2023-02-28 19:12:36", "2023-03-21 03:47:24", DateUnit::Daily, 2, "Mar 03 05 07 09 11 13 15 17 19 21",
       "2023-Mar"},
  };
  for (const auto& c : cases) {
    DateTicks t = auto_date_ticks(at(c.from), at(c.to));
    EXPECT_EQ(t.unit, c.unit) << c.from << " → " << c.to;
    EXPECT_EQ(t.interval, c.interval) << c.from << " → " << c.to;
    ConciseLabels labels = concise_date_labels(t.ticks);
    EXPECT_EQ(joined(labels.labels), c.labels) << c.from << " → " << c.to;
    EXPECT_EQ(labels.offset, c.offset) << c.from << " → " << c.to;
    EXPECT_EQ(t.visible, t.ticks) << c.from;
  }
}

TEST(DateTicks, YearlyTicksReachPastTheView) {
  DateTicks decade = auto_date_ticks(at("2013-03-14"), at("2023-03-15"));
  EXPECT_EQ(decade.unit, DateUnit::Yearly);
  EXPECT_EQ(decade.interval, 1);
  EXPECT_EQ(decade.ticks.front(), at("2013-01-01"));
  EXPECT_EQ(decade.ticks.back(), at("2023-01-01"));
  ASSERT_EQ(decade.visible.size(), 10u);
  EXPECT_EQ(decade.visible.front(), at("2014-01-01"));
  ConciseLabels labels = concise_date_labels(decade.ticks);
  EXPECT_EQ(labels.labels[1], "2014");
  EXPECT_EQ(labels.offset, "");
  DateTicks thirty = auto_date_ticks(at("1993-03-14"), at("2023-03-07"));
  EXPECT_EQ(thirty.interval, 4);
  ASSERT_EQ(thirty.visible.size(), 7u);
  EXPECT_EQ(thirty.visible.front(), at("1996-01-01"));
  EXPECT_EQ(thirty.visible.back(), at("2020-01-01"));
  // A view of zero width is widened by two years each side.
  DateTicks single = auto_date_ticks(at("2024-05-10"), at("2024-05-10"));
  EXPECT_EQ(single.unit, DateUnit::Monthly);
  EXPECT_GT(single.visible.size(), 5u);
}

struct NumberCase {
  double lo, hi, length;
  const char* labels;
  const char* offset;
};

// Views at the ends of the range of timestamps tick without wrapping into
// another century; days beyond the range are refused.
TEST(DateTicks, EdgesOfTheRangeOfTimestamps) {
  DateTicks months = auto_date_ticks(at("2261-06-01"), at("2262-04-11 12:00"));
  ASSERT_FALSE(months.ticks.empty());
  EXPECT_EQ(format_timestamp(from_days(months.ticks.back()), "%Y-%m-%d"), "2262-04-01");
  DateTicks hours = auto_date_ticks(at("2262-04-11 12:00"), at("2262-04-11 23:30"));
  EXPECT_EQ(format_timestamp(from_days(hours.ticks.back()), "%Y-%m-%d"), "2262-04-11");
  DateTicks early = auto_date_ticks(at("1677-09-21 01:00"), at("1677-09-21 12:00"));
  EXPECT_EQ(format_timestamp(from_days(early.ticks.front()), "%Y-%m-%d"), "1677-09-21");
  EXPECT_THROW(from_days(1e9), std::invalid_argument);
  EXPECT_THROW(from_days(std::nan("")), std::invalid_argument);
}

TEST(NumericTicks, StepsLabelsAndOffsets) {
  const NumberCase cases[] = {
      {0, 1, 216, "0.0 0.2 0.4 0.6 0.8 1.0", ""},
      {0, 170, 62.4, "0 100", ""},
      {30, 350, 62.4, "100 200 300", ""},
      {-3.3, 3.3, 62.4, "-2.5 0.0 2.5", ""},
      {0, 100, 245, "0 20 40 60 80 100", ""},
      {0.5, 13.7, 216, "2 4 6 8 10 12", ""},
      {-0.0123, 0.0456, 216, "-0.01 0.00 0.01 0.02 0.03 0.04", ""},
      {1234.5, 1236.7, 216, "1234.50 1234.75 1235.00 1235.25 1235.50 1235.75 1236.00 1236.25 1236.50", ""},
      {2e6, 9e6, 216, "2 3 4 5 6 7 8 9", "1e6"},
      {3.2e-6, 7.9e-6, 216, "4 5 6 7", "1e-6"},
      {0, 1e7, 216, "0.0 0.2 0.4 0.6 0.8 1.0", "1e7"},
      {100000.5, 100003.7, 216, "0.5 1.0 1.5 2.0 2.5 3.0 3.5", "+1e5"},
  };
  for (const auto& c : cases) {
    NumericTicks t = auto_numeric_ticks(c.lo, c.hi, c.length, 12, true);
    ScalarLabels labels = scalar_labels(t.visible, t.ticks);
    EXPECT_EQ(joined(labels.labels), c.labels) << c.lo << " … " << c.hi;
    EXPECT_EQ(labels.offset_text, c.offset) << c.lo << " … " << c.hi;
  }
  // Along x the room per label is three label sizes.
  EXPECT_EQ(auto_numeric_ticks(0, 100, 72, 12, false).visible, (std::vector<double>{0, 50, 100}));
}

TEST(NumericTicks, LabelsOfFixedTicks) {
  struct Fixed {
    std::vector<double> ticks;
    const char* labels;
    const char* offset;
  } cases[] = {
      {{-2.99997, 0, 2.99997}, "-3 0 3", ""},
      {{-5.123456, 0, 5.123456}, "-5.12 0.00 5.12", ""},
      {{-0.0123456, 0, 0.0234567}, "-0.01235 0.00000 0.02346", ""},
      {{12.3, 17.85, 23.4}, "12.30 17.85 23.40", ""},
      {{987.65, 988.0, 988.35}, "987.65 988.00 988.35", ""},
      {{1234.5678, 1234.7777, 1234.9876}, "0.5678 0.7777 0.9876", "+1.234e3"},
      {{-123456.7, 0, 654321.1}, "-123457 0 654321", ""},
      {{1.2e-5, 3.4e-5, 5.6e-5}, "1.2 3.4 5.6", "1e-5"},
      {{-1e-7, 0, 2e-7}, "-1 0 2", "1e-7"},
      {{0, 3, 6, 9}, "0 3 6 9", ""},
  };
  for (const auto& c : cases) {
    ScalarLabels labels = scalar_labels(c.ticks, c.ticks);
    EXPECT_EQ(joined(labels.labels), c.labels) << c.labels;
    EXPECT_EQ(labels.offset_text, c.offset) << c.labels;
  }
}

}  // namespace
}  // namespace tremora::chart
