#include <gtest/gtest.h>

#include "tremora/time.hpp"

namespace tremora {
namespace {

TEST(DateText, AcceptsTheUsualFormsAndTimes) {
  Timestamp day = make_timestamp(2024, 3, 1);
  for (const char* text : {"20240301", "2024-03-01", "2024/03/01", "2024.03.01", "2024-3-1", "  2024-03-01 "}) {
    EXPECT_EQ(parse_timestamp(text), day) << text;
  }
  Timestamp evening = make_timestamp(2024, 3, 1, 18, 0, 0);
  EXPECT_EQ(parse_timestamp("2024-03-01 18:00"), evening);
  EXPECT_EQ(parse_timestamp("2024-03-01T18:00:00"), evening);
  EXPECT_EQ(parse_timestamp("20240301 18:00:00"), evening);
  EXPECT_EQ(parse_timestamp("2024-03-01 18:00:00.25").ns, evening.ns + 250'000'000);
  EXPECT_EQ(parse_timestamp("2024-03-01 18:00:00.000000001").ns, evening.ns + 1);
}

TEST(DateText, OffsetsGiveTheUtcInstant) {
  Timestamp utc = make_timestamp(2024, 3, 1, 10, 0, 0);
  EXPECT_EQ(parse_timestamp("2024-03-01T18:00+08:00"), utc);
  EXPECT_EQ(parse_timestamp("2024-03-01 18:00:00+0800"), utc);
  EXPECT_EQ(parse_timestamp("2024-03-01T18:00:00 +08"), utc);
  EXPECT_EQ(parse_timestamp("2024-03-01T10:00:00Z"), utc);
  EXPECT_EQ(parse_timestamp("2024-03-01T05:00:00-05:00"), utc);
  ParsedDate p = parse_date_text("2024-03-01T18:00+08:00");
  ASSERT_TRUE(p.utc_offset_seconds);
  EXPECT_EQ(*p.utc_offset_seconds, 8 * 3600);
  EXPECT_EQ(p.wall, make_timestamp(2024, 3, 1, 18, 0, 0));
  EXPECT_FALSE(parse_date_text("2024-03-01").utc_offset_seconds);
}

TEST(DateText, RejectsMalformedAndImpossibleDatesNamingTheText) {
  for (const char* text : {"", "2024", "2024-13-01", "2023-02-29", "2024-02-30", "2024-03-01 24:00",
                           "2024-03-01 12:60", "2024-03-01x", "2024-03/01", "202403011", "2024-03-01 18",
                           "2024-03-01T18:00+25:00", "tomorrow", "2024-03-01 18:00:00.1234567890"}) {
    try {
      parse_timestamp(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("'" + std::string(text) + "'"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(parse_timestamp("2024-02-29"), make_timestamp(2024, 2, 29));
}

TEST(Formatting, StrftimeSubsetAndIso) {
  Timestamp t{make_timestamp(2024, 5, 9, 7, 5, 3).ns + 123'456'789};
  EXPECT_EQ(format_timestamp(t, "%Y%m%d %H:%M:%S.%f %%"), "20240509 07:05:03.123456 %");
  EXPECT_EQ(iso_format(t), "2024-05-09T07:05:03.123456789");
  EXPECT_EQ(iso_format(make_timestamp(2024, 5, 9)), "2024-05-09T00:00:00");
  EXPECT_EQ(iso_format(Timestamp{make_timestamp(2024, 5, 9).ns + 500'000'000}), "2024-05-09T00:00:00.500");
  EXPECT_EQ(format_timestamp(Timestamp{}), "NaT");
  // Before the epoch the calendar still holds.
  EXPECT_EQ(iso_format(make_timestamp(1969, 12, 31, 23, 59, 59)), "1969-12-31T23:59:59");
  EXPECT_EQ(iso_format(make_timestamp(1900, 2, 28)), "1900-02-28T00:00:00");
  EXPECT_EQ(format_duration(Duration{kNanosPerDay + 2 * kNanosPerHour + 3 * kNanosPerSecond}), "1 days 02:00:03");
  EXPECT_EQ(format_duration(Duration{-kNanosPerMinute}), "-0 days 00:01:00");
}

TEST(TimeZones, ConvertsAndRejectsGapsAndRepeats) {
  Timestamp wall = make_timestamp(2024, 5, 10, 8, 0, 0);
  Timestamp utc = local_to_utc(wall, "Asia/Shanghai");
  EXPECT_EQ(utc, make_timestamp(2024, 5, 10, 0, 0, 0));
  EXPECT_EQ(utc_to_local(utc, "Asia/Shanghai"), wall);
  EXPECT_EQ(iso_format(utc, "Asia/Shanghai"), "2024-05-10T08:00:00+08:00");
  EXPECT_EQ(iso_format(utc, "UTC"), "2024-05-10T00:00:00Z");
  EXPECT_EQ(utc_offset_seconds(utc, "America/New_York"), -4 * 3600);
  // 2024-03-10 02:30 does not exist in New York; 2024-11-03 01:30 happens twice.
  EXPECT_THROW(local_to_utc(make_timestamp(2024, 3, 10, 2, 30, 0), "America/New_York"), std::invalid_argument);
  EXPECT_THROW(local_to_utc(make_timestamp(2024, 11, 3, 1, 30, 0), "America/New_York"), std::invalid_argument);
  EXPECT_THROW(local_to_utc(wall, "Mars/Olympus"), std::invalid_argument);
  EXPECT_TRUE(is_known_time_zone("Asia/Shanghai"));
  EXPECT_FALSE(is_known_time_zone("Mars/Olympus"));
  EXPECT_TRUE(local_to_utc(Timestamp{}, "Asia/Shanghai").is_nat());
}

TEST(Civil, RoundTripsAcrossYears) {
  for (int year : {1800, 1969, 1970, 2000, 2024, 2100}) {
    for (int month = 1; month <= 12; ++month) {
      CivilTime c{year, month, 28, 23, 59, 58, 999};
      EXPECT_EQ(to_civil(make_timestamp(c)).day, 28);
      CivilTime back = to_civil(make_timestamp(c));
      EXPECT_EQ(back.year, year);
      EXPECT_EQ(back.month, month);
      EXPECT_EQ(back.second, 58);
      EXPECT_EQ(back.nanosecond, 999);
    }
  }
  EXPECT_THROW(make_timestamp(2023, 2, 29), std::invalid_argument);
  EXPECT_THROW(to_civil(Timestamp{}), std::invalid_argument);
}

}  // namespace
}  // namespace tremora
