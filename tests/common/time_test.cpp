#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "test_support.hpp"
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
  for (const char* text : {"", "2024", "2024-13-01", "2023-02-29", "2024-02-30", "2024-03-01 24:00", "2024-03-01 12:60",
                           "2024-03-01x", "2024-03/01", "202403011", "2024-03-01 18", "2024-03-01T18:00+25:00",
                           "tomorrow", "2024-03-01 18:00:00.1234567890",
                           // real dates outside the range of timestamps, on the wall clock or as instants
                           "1677-09-21 00:12:43.145224192", "2262-04-12", "2262-04-11T23:00-05:00"}) {
    try {
      parse_timestamp(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("'" + std::string(text) + "'"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(parse_timestamp("2024-02-29"), make_timestamp(2024, 2, 29));
  // A huge field is named by its start and size, not copied whole.
  std::string huge = "2024-03-01" + std::string(1 << 20, '9');
  try {
    parse_timestamp(huge);
    ADD_FAILURE() << "accepted a megabyte of digits";
  } catch (const std::invalid_argument& e) {
    std::string message = e.what();
    EXPECT_LT(message.size(), 200u);
    EXPECT_NE(message.find("'2024-03-01999"), std::string::npos) << message;
    EXPECT_NE(message.find("(1048586 bytes)"), std::string::npos) << message;
  }
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

TEST(Formatting, IsoToTheMicrosecond) {
  int64_t midnight = make_timestamp(2024, 5, 9).ns;
  EXPECT_EQ(iso_format_micros(Timestamp{midnight}), "2024-05-09T00:00:00");
  // Always six digits when there is a fraction, never three or nine.
  EXPECT_EQ(iso_format_micros(Timestamp{midnight + 500'000'000}), "2024-05-09T00:00:00.500000");
  EXPECT_EQ(iso_format_micros(Timestamp{midnight + 250'000}), "2024-05-09T00:00:00.000250");
  EXPECT_EQ(iso_format_micros(Timestamp{midnight + 123'456'789}), "2024-05-09T00:00:00.123456");
  // Less than a microsecond is no fraction.
  EXPECT_EQ(iso_format_micros(Timestamp{midnight + 999}), "2024-05-09T00:00:00");
  EXPECT_EQ(iso_format_micros(Timestamp{}), "NaT");
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

const Timestamp kFirstInstant{Timestamp::NaT + 1};  // 1677-09-21T00:12:43.145224193
const Timestamp kLastInstant{INT64_MAX};            // 2262-04-11T23:47:16.854775807
using testing::error_of;

bool mentions(const std::string& message, const std::string& part) { return message.find(part) != std::string::npos; }

TEST(CheckedTime, ResultsOutsideTheRangeAreErrorsNamingTheValues) {
  // The first and last days of the range keep their calendar.
  CivilTime first = to_civil(kFirstInstant), last = to_civil(kLastInstant);
  EXPECT_EQ(first.year * 10000 + first.month * 100 + first.day, 16770921);
  EXPECT_EQ(first.hour * 10000 + first.minute * 100 + first.second, 1243);
  EXPECT_EQ(first.nanosecond, 145'224'193);
  EXPECT_EQ(last.year * 10000 + last.month * 100 + last.day, 22620411);
  EXPECT_EQ(last.hour * 10000 + last.minute * 100 + last.second, 234716);
  EXPECT_EQ(iso_format(kFirstInstant), "1677-09-21T00:12:43.145224193");

  Timestamp late = make_timestamp(2262, 4, 11, 23, 0, 0);
  EXPECT_EQ(add_nanos(late, 30 * kNanosPerMinute), make_timestamp(2262, 4, 11, 23, 30, 0));
  std::string past = error_of([&] { add_nanos(late, kNanosPerHour); });
  EXPECT_TRUE(mentions(past, "2262-04-11T23:00:00 + 0 days 01:00:00")) << past;
  EXPECT_TRUE(mentions(error_of([&] { add_nanos(kFirstInstant, -1); }), "1677-09-21T00:12:43.145224193 - "));
  EXPECT_THROW(add_nanos(Timestamp{0}, INT64_MIN), std::invalid_argument);  // would land on NaT
  EXPECT_TRUE(add_nanos(Timestamp{}, kNanosPerDay).is_nat());

  EXPECT_EQ(nanos_between(make_timestamp(2024, 1, 1), make_timestamp(2024, 1, 2)), kNanosPerDay);
  std::string span = error_of([&] { nanos_between(make_timestamp(1700, 1, 1), make_timestamp(2200, 1, 1)); });
  EXPECT_TRUE(mentions(span, "1700-01-01T00:00:00") && mentions(span, "2200-01-01T00:00:00")) << span;

  EXPECT_EQ(multiply_nanos(106751, kNanosPerDay), 106751 * kNanosPerDay);
  EXPECT_TRUE(mentions(error_of([&] { multiply_nanos(106752, kNanosPerDay); }), "106752 x 1 days 00:00:00"));
  for (const char* step : {"106752D", "200000D", "213504D", "999999999D"})
    EXPECT_TRUE(mentions(error_of([&] { step_code_nanos(step); }), std::string("'") + step + "'")) << step;

  EXPECT_EQ(nanos_from_count(1.5, kNanosPerDay), 36 * kNanosPerHour);
  EXPECT_EQ(nanos_from_count(1'700'000'000'123.0, 1'000'000), 1'700'000'000'123'000'000);  // exact
  for (double bad : {1e300, -1e300, std::nan(""), 106752.0})
    EXPECT_THROW(nanos_from_count(bad, kNanosPerDay), std::invalid_argument) << bad;

  // The step that holds a time may begin before the range does.
  EXPECT_EQ(floor_to_step(make_timestamp(2024, 5, 1, 13, 0, 0), 3 * kNanosPerHour),
            make_timestamp(2024, 5, 1, 12, 0, 0));
  EXPECT_EQ(floor_to_step(make_timestamp(1969, 12, 31, 23, 0, 0), kNanosPerDay), make_timestamp(1969, 12, 31));
  EXPECT_TRUE(mentions(error_of([&] { floor_to_step(make_timestamp(1677, 9, 21, 1, 0, 0), kNanosPerDay); }),
                       "1677-09-21T01:00:00"));
  // An offset text whose instant falls outside the range.
  EXPECT_THROW(parse_timestamp("2262-04-11T23:00-05:00"), std::invalid_argument);
  EXPECT_THROW(iso_format(make_timestamp(2262, 4, 11, 23, 0, 0), "Asia/Shanghai"), std::invalid_argument);
}

TEST(TimeZones, FixedOffsetsAndWallClockDays) {
  EXPECT_EQ(fixed_offset_zone(8 * 3600), "+08:00");
  EXPECT_EQ(fixed_offset_zone(-(5 * 3600 + 30 * 60)), "-05:30");
  EXPECT_TRUE(is_known_time_zone("+08:00"));
  EXPECT_FALSE(is_known_time_zone("+8:00"));
  EXPECT_FALSE(is_known_time_zone("+24:00"));
  Timestamp utc = make_timestamp(2024, 2, 29, 18, 0, 0);
  EXPECT_EQ(utc_to_local(utc, "+08:00"), make_timestamp(2024, 3, 1, 2, 0, 0));
  EXPECT_EQ(local_to_utc(make_timestamp(2024, 3, 1, 2, 0, 0), "+08:00"), utc);
  EXPECT_EQ(utc_offset_seconds(utc, "-05:30"), -(5 * 3600 + 30 * 60));
  EXPECT_EQ(iso_format(utc, "+08:00"), "2024-03-01T02:00:00+08:00");

  ZoneClock shanghai("Asia/Shanghai");
  EXPECT_EQ(shanghai.to_local(utc), make_timestamp(2024, 3, 1, 2, 0, 0));
  EXPECT_EQ(shanghai.start_of_day(utc), make_timestamp(2024, 2, 29, 16, 0, 0));
  ZoneClock naive("");
  EXPECT_EQ(naive.start_of_day(utc), make_timestamp(2024, 2, 29));
  // New York: 2024-03-10 02:00-03:00 is skipped, 2024-11-03 01:00-02:00
  // happens twice. A skipped time starts at the change, a repeated one at
  // its first occurrence.
  ZoneClock new_york("America/New_York");
  EXPECT_EQ(new_york.start_of(make_timestamp(2024, 3, 10, 2, 30, 0)), make_timestamp(2024, 3, 10, 7, 0, 0));
  EXPECT_EQ(new_york.start_of(make_timestamp(2024, 11, 3, 1, 30, 0)), make_timestamp(2024, 11, 3, 5, 30, 0));
  EXPECT_EQ(new_york.start_of_day(make_timestamp(2024, 11, 3, 12, 0, 0)), make_timestamp(2024, 11, 3, 4, 0, 0));
  // Periods are looked up again when a time leaves the one in hand.
  EXPECT_EQ(new_york.to_local(make_timestamp(2024, 1, 15, 12, 0, 0)), make_timestamp(2024, 1, 15, 7, 0, 0));
  EXPECT_EQ(new_york.to_local(make_timestamp(2024, 7, 15, 12, 0, 0)), make_timestamp(2024, 7, 15, 8, 0, 0));
  EXPECT_EQ(new_york.to_local(make_timestamp(2024, 1, 16, 12, 0, 0)), make_timestamp(2024, 1, 16, 7, 0, 0));
  EXPECT_THROW(ZoneClock("Mars/Olympus"), std::invalid_argument);
}

// The wall-clock time now by the system's `date` command (the C library's
// reading of TZ), to the second; in UTC with `utc`.
Timestamp date_command_now(bool utc) {
  FILE* out = popen(utc ? "date -u '+%F %T'" : "date '+%F %T'", "r");
  char line[64] = {};
  bool read = out && std::fgets(line, sizeof line, out);
  if (out) pclose(out);
  if (!read) throw std::runtime_error("`date` printed nothing");
  return parse_timestamp(line);
}

// With TZ set to `tz` (unset for nullopt), local_now() lies between two
// readings of `date` taken around it.
void expect_clock_of_date_command(const std::optional<std::string>& tz, bool utc = false) {
  SCOPED_TRACE("TZ=" + tz.value_or("(unset)"));
  testing::ScopedEnv env("TZ", tz);
  Timestamp before = date_command_now(utc), now = local_now(), after = date_command_now(utc);
  EXPECT_LE(before, now);
  EXPECT_LT(now, add_nanos(after, kNanosPerSecond));
}

TEST(LocalClock, FollowsTheZoneTzNames) {
  testing::TempDir dir;
  // Pago Pago (-11:00) and Kiritimati (+14:00) have different dates from UTC at every hour.
  for (std::string zone : {"Asia/Shanghai", "Pacific/Pago_Pago", "Pacific/Kiritimati"}) {
    std::string file = "/usr/share/zoneinfo/" + zone, link = (dir / "link").string();
    std::filesystem::remove(link);
    std::filesystem::create_symlink(file, link);
    for (const std::string& tz : {zone, ":" + zone, file, ":" + file, link}) expect_clock_of_date_command(tz);
  }
  expect_clock_of_date_command("PRC");  // a link of the zoneinfo folder
  expect_clock_of_date_command("posix/Asia/Shanghai");
  expect_clock_of_date_command(std::nullopt);  // /etc/localtime
}

TEST(LocalClock, TzThatNamesNoZoneIsUtc) {
  // The C library reads these as UTC too.
  for (const char* tz : {"", ":", "Asia/Shanghia", ":Mars/Olympus", "/usr/share/zoneinfo", "/etc/passwd"})
    expect_clock_of_date_command(tz);
  // These it reads as +08:00 (a rule, a copy of a zone file outside the
  // zoneinfo folder): no zone here, so UTC.
  testing::TempDir dir;
  std::filesystem::copy_file("/usr/share/zoneinfo/Asia/Shanghai", dir / "Shanghai");
  for (const std::string& tz : {std::string("CST-8"), std::string(":CST-8"), (dir / "Shanghai").string()})
    expect_clock_of_date_command(tz, true);
}

}  // namespace
}  // namespace tremora
