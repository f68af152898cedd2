#include "tremora/time.hpp"

#include <date/date.h>
#include <date/tz.h>
#include <fmt/format.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "tremora/text.hpp"

namespace tremora {
namespace {

using SysNanos = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;
using LocalNanos = std::chrono::time_point<date::local_t, std::chrono::nanoseconds>;

bool fields_valid(const CivilTime& t) {
  // date::year holds a short: years beyond it would wrap before any check.
  if (t.year < -32767 || t.year > 32767) return false;
  if (t.month < 1 || t.month > 12 || t.day < 1) return false;
  auto ymd = date::year{t.year} / date::month{unsigned(t.month)} / date::day{unsigned(t.day)};
  return ymd.ok() && t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60 &&
         t.nanosecond >= 0 && t.nanosecond < kNanosPerSecond;
}

// The offset of a fixed-offset zone name "+08:00" / "-05:30", in seconds.
std::optional<int32_t> fixed_offset_of(std::string_view zone) {
  auto digit = [&](std::size_t i) { return std::isdigit(static_cast<unsigned char>(zone[i])) != 0; };
  if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' || !digit(1) || !digit(2) || !digit(4) ||
      !digit(5))
    return std::nullopt;
  int hours = (zone[1] - '0') * 10 + (zone[2] - '0'), minutes = (zone[4] - '0') * 10 + (zone[5] - '0');
  if (hours > 23 || minutes > 59) return std::nullopt;
  int32_t seconds = hours * 3600 + minutes * 60;
  return zone[0] == '-' ? -seconds : seconds;
}

// A zone as the conversions need it: an IANA zone, or a fixed offset when
// `tz` is null.
struct ZoneRule {
  const date::time_zone* tz = nullptr;
  int32_t fixed_seconds = 0;
};

ZoneRule find_zone(const std::string& zone) {
  if (auto fixed = fixed_offset_of(zone)) return ZoneRule{nullptr, *fixed};
  try {
    return ZoneRule{date::locate_zone(zone), 0};
  } catch (const std::exception&) {
    throw std::invalid_argument("unknown time zone: '" + zone + "'");
  }
}

// Whole seconds as nanoseconds, held at the ends of int64 (the offset
// periods of a zone begin and end at such far times).
int64_t seconds_to_nanos_clamped(int64_t seconds) {
  if (seconds > INT64_MAX / kNanosPerSecond) return INT64_MAX;
  if (seconds < INT64_MIN / kNanosPerSecond) return INT64_MIN;
  return seconds * kNanosPerSecond;
}

date::local_seconds local_seconds_of(Timestamp wall) {
  return std::chrono::floor<std::chrono::seconds>(LocalNanos{std::chrono::nanoseconds{wall.ns}});
}

date::sys_seconds sys_seconds_of(Timestamp utc) {
  return std::chrono::floor<std::chrono::seconds>(SysNanos{std::chrono::nanoseconds{utc.ns}});
}

// The system's zone files, where TZ names are looked up.
const char* const kZoneinfoDir = "/usr/share/zoneinfo";

// The database name of a zone file: its path below the zoneinfo folder once
// links are resolved ("PRC" is "Asia/Shanghai"); none for a file elsewhere or
// one the database does not list.
std::optional<std::string> zone_of_file(const std::filesystem::path& file) {
  std::error_code ec;
  std::filesystem::path real = std::filesystem::canonical(file, ec);
  if (ec || !std::filesystem::is_regular_file(real, ec)) return std::nullopt;
  std::filesystem::path root = std::filesystem::canonical(kZoneinfoDir, ec);
  if (ec) return std::nullopt;
  std::filesystem::path name = real.lexically_relative(root);
  if (name.empty() || *name.begin() == "..") return std::nullopt;
  if (!is_known_time_zone(name.generic_string())) return std::nullopt;
  return name.generic_string();
}

// The zone a TZ value names: a name or an absolute path, either after an
// optional ':'. None for "" and for a value that names no zone file.
std::optional<std::string> zone_of_tz(std::string_view tz) {
  if (!tz.empty() && tz.front() == ':') tz.remove_prefix(1);
  if (tz.empty()) return std::nullopt;
  std::filesystem::path file(tz);
  return zone_of_file(file.is_absolute() ? file : kZoneinfoDir / file);
}

// The local zone (see local_now): TZ's when set, else /etc/localtime's.
std::string local_zone() {
  if (const char* tz = std::getenv("TZ")) return zone_of_tz(tz).value_or("UTC");
  try {
    return date::current_zone()->name();
  } catch (const std::exception&) {
    return "UTC";
  }
}

const char* const kTimestampRange = "the range of timestamps (1677-09-21 to 2262-04-11)";
const char* const kDurationRange = "the range of durations (about 292 years)";

// A cursor over a date text for parse_date_text.
struct Scanner {
  std::string_view s;
  std::size_t i = 0;

  bool done() const { return i >= s.size(); }
  char peek() const { return done() ? '\0' : s[i]; }
  bool take(char c) {
    if (peek() != c) return false;
    ++i;
    return true;
  }
  // Reads between min and max digits; nothing when fewer than min are there.
  std::optional<int64_t> digits(int min, int max, int* count = nullptr) {
    int64_t v = 0;
    int n = 0;
    while (n < max && !done() && std::isdigit(static_cast<unsigned char>(s[i]))) {
      v = v * 10 + (s[i] - '0');
      ++i;
      ++n;
    }
    if (count) *count = n;
    if (n < min) return std::nullopt;
    return v;
  }
};

bool read_date(Scanner& sc, CivilTime& t) {
  int n = 0;
  auto year = sc.digits(4, 8, &n);
  if (!year) return false;
  if (n == 8) {  // 20240301
    t.year = int(*year / 10000);
    t.month = int(*year / 100 % 100);
    t.day = int(*year % 100);
    return true;
  }
  if (n != 4) return false;
  char sep = sc.peek();
  if (sep != '-' && sep != '/' && sep != '.') return false;
  ++sc.i;
  auto month = sc.digits(1, 2);
  if (!month || !sc.take(sep)) return false;
  auto day = sc.digits(1, 2);
  if (!day) return false;
  t.year = int(*year);
  t.month = int(*month);
  t.day = int(*day);
  return true;
}

bool read_time(Scanner& sc, CivilTime& t) {
  auto hour = sc.digits(2, 2);
  if (!hour || !sc.take(':')) return false;
  auto minute = sc.digits(2, 2);
  if (!minute) return false;
  t.hour = int(*hour);
  t.minute = int(*minute);
  if (!sc.take(':')) return true;
  auto second = sc.digits(2, 2);
  if (!second) return false;
  t.second = int(*second);
  if (!sc.take('.')) return true;
  int n = 0;
  auto frac = sc.digits(1, 9, &n);
  if (!frac) return false;
  int64_t ns = *frac;
  for (int k = n; k < 9; ++k) ns *= 10;
  t.nanosecond = ns;
  return !std::isdigit(static_cast<unsigned char>(sc.peek()));
}

bool read_offset(Scanner& sc, std::optional<int32_t>& offset) {
  if (sc.take('Z')) {
    offset = 0;
    return true;
  }
  char sign = sc.peek();
  if (sign != '+' && sign != '-') return false;
  ++sc.i;
  auto hours = sc.digits(2, 2);
  if (!hours) return false;
  int64_t minutes = 0;
  if (sc.take(':')) {
    auto m = sc.digits(2, 2);
    if (!m) return false;
    minutes = *m;
  } else if (!sc.done()) {
    auto m = sc.digits(2, 2);
    if (!m) return false;
    minutes = *m;
  }
  if (*hours > 23 || minutes > 59) return false;
  int32_t total = int32_t(*hours * 3600 + minutes * 60);
  offset = sign == '-' ? -total : total;
  return true;
}

std::string two(int v) { return fmt::format("{:02d}", v); }

// The error of a date text, naming it; `why` adds the reason when there is one.
[[noreturn]] void date_text_error(std::string_view text, std::string_view why = {}) {
  std::string message = "cannot parse date text " + quoted_excerpt(text);
  if (!why.empty()) message += ": " + std::string(why);
  throw std::invalid_argument(message);
}

}  // namespace

Timestamp make_timestamp(const CivilTime& t) {
  if (!fields_valid(t)) {
    throw std::invalid_argument(fmt::format("not a valid date and time: {:04d}-{:02d}-{:02d} {:02d}:{:02d}:{:02d}",
                                            t.year, t.month, t.day, t.hour, t.minute, t.second));
  }
  auto days = date::sys_days(date::year{t.year} / date::month{unsigned(t.month)} / date::day{unsigned(t.day)});
  int64_t d = days.time_since_epoch().count();
  int64_t time_of_day = t.hour * kNanosPerHour + t.minute * kNanosPerMinute + t.second * kNanosPerSecond + t.nanosecond;
  // Nanoseconds since 1970 in int64 reach from 1677-09-21 to 2262-04-11;
  // a time outside would wrap around (or land on NaT), so it is refused.
  // Before 1970 the day is counted from its end, so that the first day of the
  // range (whose midnight is out of range) still takes its later times.
  if (d < 0) {
    d += 1;
    time_of_day -= kNanosPerDay;
  }
  int64_t ns = 0;
  if (__builtin_mul_overflow(d, kNanosPerDay, &ns) || __builtin_add_overflow(ns, time_of_day, &ns) ||
      ns == Timestamp::NaT) {
    throw std::invalid_argument(
        fmt::format("outside the range of timestamps (1677-09-21 to 2262-04-11): "
                    "{:04d}-{:02d}-{:02d}",
                    t.year, t.month, t.day));
  }
  return Timestamp{ns};
}

Timestamp make_timestamp(int year, int month, int day, int hour, int minute, int second) {
  return make_timestamp(CivilTime{year, month, day, hour, minute, second, 0});
}

CivilTime to_civil(Timestamp t) {
  if (t.is_nat()) throw std::invalid_argument("NaT has no calendar date");
  // Day and time of day without forming days * kNanosPerDay, which lies
  // below the range for the first day of it (1677-09-21).
  int64_t rest = t.ns % kNanosPerDay;
  int64_t days = t.ns / kNanosPerDay;
  if (rest < 0) rest += kNanosPerDay, days -= 1;
  date::year_month_day ymd{date::sys_days{date::days{days}}};
  CivilTime c;
  c.year = int(ymd.year());
  c.month = int(unsigned(ymd.month()));
  c.day = int(unsigned(ymd.day()));
  c.hour = int(rest / kNanosPerHour);
  c.minute = int(rest / kNanosPerMinute % 60);
  c.second = int(rest / kNanosPerSecond % 60);
  c.nanosecond = rest % kNanosPerSecond;
  return c;
}

Timestamp ParsedDate::instant() const {
  if (!utc_offset_seconds) return wall;
  return add_nanos(wall, -int64_t{*utc_offset_seconds} * kNanosPerSecond);
}

ParsedDate parse_date_text(std::string_view text) {
  auto fail = [&]() -> ParsedDate { date_text_error(text); };
  Scanner sc{strip_whitespace(text)};
  CivilTime t;
  ParsedDate result;
  if (!read_date(sc, t)) return fail();
  if (!sc.done()) {
    std::size_t before = sc.i;
    if ((sc.take('T') || sc.take(' ')) && std::isdigit(static_cast<unsigned char>(sc.peek()))) {
      if (!read_time(sc, t)) return fail();
    } else {
      sc.i = before;
    }
  }
  if (!sc.done()) {
    sc.take(' ');
    if (!read_offset(sc, result.utc_offset_seconds) || !sc.done()) return fail();
  }
  if (!fields_valid(t)) return fail();
  // Both the wall time and the instant must be timestamps; checked here,
  // where the text is known, so that instant() of a parsed text never fails.
  try {
    result.wall = make_timestamp(t);
    result.instant();
  } catch (const std::invalid_argument& e) {
    date_text_error(text, e.what());
  }
  return result;
}

Timestamp parse_timestamp(std::string_view text) { return parse_date_text(text).instant(); }

std::string format_timestamp(Timestamp t, std::string_view format) {
  if (t.is_nat()) return "NaT";
  CivilTime c = to_civil(t);
  std::string out;
  out.reserve(format.size() + 16);
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      out += format[i];
      continue;
    }
    switch (format[++i]) {
      case 'Y': out += fmt::format("{:04d}", c.year); break;
      case 'm': out += two(c.month); break;
      case 'd': out += two(c.day); break;
      case 'H': out += two(c.hour); break;
      case 'M': out += two(c.minute); break;
      case 'S': out += two(c.second); break;
      case 'f': out += fmt::format("{:06d}", c.nanosecond / kNanosPerMicro); break;
      case '%': out += '%'; break;
      default:
        out += '%';
        out += format[i];
        break;
    }
  }
  return out;
}

std::string iso_format(Timestamp t) {
  if (t.is_nat()) return "NaT";
  std::string out = format_timestamp(t, "%Y-%m-%dT%H:%M:%S");
  int64_t frac = to_civil(t).nanosecond;
  if (frac == 0) return out;
  if (frac % 1'000'000 == 0) return out + fmt::format(".{:03d}", frac / 1'000'000);
  if (frac % 1'000 == 0) return out + fmt::format(".{:06d}", frac / 1'000);
  return out + fmt::format(".{:09d}", frac);
}

std::string iso_format(Timestamp utc, const std::string& zone) {
  if (utc.is_nat()) return "NaT";
  if (zone.empty()) return iso_format(utc);
  int32_t offset = utc_offset_seconds(utc, zone);
  std::string out = iso_format(add_nanos(utc, int64_t{offset} * kNanosPerSecond));
  if (offset == 0 && (zone == "UTC" || zone == "Etc/UTC")) return out + "Z";
  int32_t a = offset < 0 ? -offset : offset;
  return out + fmt::format("{}{:02d}:{:02d}", offset < 0 ? '-' : '+', a / 3600, a / 60 % 60);
}

std::string iso_format_micros(Timestamp t) {
  if (t.is_nat()) return "NaT";
  bool whole_second = to_civil(t).nanosecond / kNanosPerMicro == 0;
  return format_timestamp(t, whole_second ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%dT%H:%M:%S.%f");
}

std::string format_duration(Duration d) {
  if (d.is_nat()) return "NaT";
  bool negative = d.ns < 0;
  uint64_t ns = negative ? uint64_t(0) - uint64_t(d.ns) : uint64_t(d.ns);
  uint64_t days = ns / kNanosPerDay;
  uint64_t rest = ns % kNanosPerDay;
  std::string out = fmt::format("{}{} days {:02d}:{:02d}:{:02d}", negative ? "-" : "", days, rest / kNanosPerHour,
                                rest / kNanosPerMinute % 60, rest / kNanosPerSecond % 60);
  if (rest % kNanosPerSecond) out += fmt::format(".{:09d}", rest % kNanosPerSecond);
  return out;
}

int64_t step_code_nanos(const std::string& code) {
  std::size_t digits = 0;
  while (digits < code.size() && code[digits] >= '0' && code[digits] <= '9') ++digits;
  std::string unit = code.substr(digits);
  int64_t count = 1;
  if (digits) {
    if (digits > 9) throw std::invalid_argument("step '" + code + "' has a count that is too large");
    count = std::stoll(code.substr(0, digits));
  }
  int64_t per = unit == "D"                    ? kNanosPerDay
                : unit == "h" || unit == "H"   ? kNanosPerHour
                : unit == "min" || unit == "T" ? kNanosPerMinute
                : unit == "s" || unit == "S"   ? kNanosPerSecond
                                               : 0;
  if (per == 0 || count < 1)
    throw std::invalid_argument("unsupported frequency '" + code + "' (use a count and D, h, min or s, as in '1h')");
  try {
    return multiply_nanos(count, per);
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument("frequency '" + code + "' is too long: " + e.what());
  }
}

Timestamp add_nanos(Timestamp t, int64_t ns) {
  if (t.is_nat()) return t;
  int64_t sum = 0;
  if (__builtin_add_overflow(t.ns, ns, &sum) || sum == Timestamp::NaT) {
    std::string length = format_duration(Duration{ns});
    if (ns < 0) length.erase(0, 1);
    throw std::invalid_argument(
        fmt::format("{} {} {} lies outside {}", iso_format(t), ns < 0 ? '-' : '+', length, kTimestampRange));
  }
  return Timestamp{sum};
}

int64_t nanos_between(Timestamp from, Timestamp to) {
  if (from.is_nat() || to.is_nat()) throw std::invalid_argument("no time span between NaT and a time");
  int64_t span = 0;
  if (__builtin_sub_overflow(to.ns, from.ns, &span) || span == Timestamp::NaT)
    throw std::invalid_argument("the span from " + iso_format(from) + " to " + iso_format(to) + " exceeds " +
                                kDurationRange);
  return span;
}

int64_t multiply_nanos(int64_t count, int64_t unit) {
  int64_t product = 0;
  if (__builtin_mul_overflow(count, unit, &product) || product == Timestamp::NaT)
    throw std::invalid_argument(
        fmt::format("{} x {} exceeds {}", count, format_duration(Duration{unit}), kDurationRange));
  return product;
}

int64_t nanos_from_count(double count, int64_t unit) {
  // 2^63 as a double: products at or beyond it do not fit.
  constexpr double kLimit = 9223372036854775808.0;
  if (std::isfinite(count) && std::trunc(count) == count && std::fabs(count) < kLimit)
    return multiply_nanos(int64_t(count), unit);
  double ns = std::isfinite(count) ? std::round(count * double(unit)) : NAN;
  if (!(ns > -kLimit && ns < kLimit))
    throw std::invalid_argument(
        fmt::format("{} x {} exceeds {}", count, format_duration(Duration{unit}), kDurationRange));
  return int64_t(ns);
}

Timestamp floor_to_step(Timestamp t, int64_t step) {
  if (step <= 0) throw std::invalid_argument(fmt::format("a time step must be positive, not {} ns", step));
  if (t.is_nat()) return t;
  int64_t rest = t.ns % step;
  if (rest < 0) rest += step;
  int64_t start = 0;
  if (__builtin_sub_overflow(t.ns, rest, &start) || start == Timestamp::NaT)
    throw std::invalid_argument("the step of " + format_duration(Duration{step}) + " that holds " + iso_format(t) +
                                " begins before " + kTimestampRange);
  return Timestamp{start};
}

std::string fixed_offset_zone(int32_t offset_seconds) {
  int32_t a = offset_seconds < 0 ? -offset_seconds : offset_seconds;
  return fmt::format("{}{:02d}:{:02d}", offset_seconds < 0 ? '-' : '+', a / 3600, a / 60 % 60);
}

bool is_known_time_zone(const std::string& zone) {
  try {
    find_zone(zone);
    return true;
  } catch (const std::invalid_argument&) {
    return false;
  }
}

Timestamp local_to_utc(Timestamp wall, const std::string& zone) {
  if (wall.is_nat()) return wall;
  ZoneRule rule = find_zone(zone);
  if (!rule.tz) return add_nanos(wall, -int64_t{rule.fixed_seconds} * kNanosPerSecond);
  date::local_info info = rule.tz->get_info(local_seconds_of(wall));
  if (info.result == date::local_info::nonexistent)
    throw std::invalid_argument("local time " + iso_format(wall) + " does not exist in time zone " + zone);
  if (info.result == date::local_info::ambiguous)
    throw std::invalid_argument("local time " + iso_format(wall) + " is ambiguous in time zone " + zone);
  return add_nanos(wall, -seconds_to_nanos_clamped(info.first.offset.count()));
}

Timestamp utc_to_local(Timestamp utc, const std::string& zone) {
  if (utc.is_nat()) return utc;
  return add_nanos(utc, int64_t{utc_offset_seconds(utc, zone)} * kNanosPerSecond);
}

Timestamp local_now() {
  auto now = std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
  Timestamp utc{now.time_since_epoch().count()};
  try {
    return utc_to_local(utc, local_zone());
  } catch (const std::exception&) {
    return utc;
  }
}

int32_t utc_offset_seconds(Timestamp utc, const std::string& zone) {
  ZoneRule rule = find_zone(zone);
  if (!rule.tz) return rule.fixed_seconds;
  return int32_t(rule.tz->get_info(sys_seconds_of(utc)).offset.count());
}

bool offset_changes_between(Timestamp from_utc, Timestamp to_utc, const std::string& zone) {
  ZoneRule rule = find_zone(zone);
  if (!rule.tz || from_utc.is_nat() || to_utc.is_nat() || to_utc <= from_utc) return false;
  return rule.tz->get_info(sys_seconds_of(from_utc)).end <= sys_seconds_of(to_utc);
}

ZoneClock::ZoneClock(const std::string& zone) : begin_(INT64_MIN), end_(INT64_MAX) {
  if (zone.empty()) return;
  ZoneRule rule = find_zone(zone);
  zone_ = rule.tz;
  offset_ = int64_t{rule.fixed_seconds} * kNanosPerSecond;
  if (zone_) end_ = begin_;  // no period known yet
}

void ZoneClock::look_up(Timestamp utc) {
  date::sys_info info = static_cast<const date::time_zone*>(zone_)->get_info(sys_seconds_of(utc));
  begin_ = seconds_to_nanos_clamped(info.begin.time_since_epoch().count());
  end_ = seconds_to_nanos_clamped(info.end.time_since_epoch().count());
  offset_ = seconds_to_nanos_clamped(info.offset.count());
}

Timestamp ZoneClock::to_local(Timestamp utc) {
  if (utc.is_nat()) return utc;
  if (zone_ && (utc.ns < begin_ || utc.ns >= end_)) look_up(utc);
  return add_nanos(utc, offset_);
}

Timestamp ZoneClock::start_of(Timestamp wall) {
  if (wall.is_nat() || !zone_) return add_nanos(wall, -offset_);
  date::local_info info = static_cast<const date::time_zone*>(zone_)->get_info(local_seconds_of(wall));
  if (info.result == date::local_info::nonexistent)
    return Timestamp{seconds_to_nanos_clamped(info.second.begin.time_since_epoch().count())};
  return add_nanos(wall, -seconds_to_nanos_clamped(info.first.offset.count()));
}

Timestamp ZoneClock::start_of_day(Timestamp utc) { return start_of(floor_to_step(to_local(utc), kNanosPerDay)); }

}  // namespace tremora
