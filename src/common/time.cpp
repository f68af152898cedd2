#include "tremora/time.hpp"

#include <date/date.h>
#include <date/tz.h>
#include <fmt/format.h>

#include <cctype>
#include <chrono>
#include <stdexcept>

#include "tremora/text.hpp"

namespace tremora {
namespace {

using SysNanos = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;
using LocalNanos = std::chrono::time_point<date::local_t, std::chrono::nanoseconds>;

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

bool fields_valid(const CivilTime& t) {
  // date::year holds a short: years beyond it would wrap before any check.
  if (t.year < -32767 || t.year > 32767) return false;
  if (t.month < 1 || t.month > 12 || t.day < 1) return false;
  auto ymd = date::year{t.year} / date::month{unsigned(t.month)} / date::day{unsigned(t.day)};
  return ymd.ok() && t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 &&
         t.second >= 0 && t.second < 60 && t.nanosecond >= 0 && t.nanosecond < kNanosPerSecond;
}

const date::time_zone* find_zone(const std::string& zone) {
  try {
    return date::locate_zone(zone);
  } catch (const std::exception&) {
    throw std::invalid_argument("unknown time zone: '" + zone + "'");
  }
}

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
    throw std::invalid_argument(fmt::format("outside the range of timestamps (1677-09-21 to 2262-04-11): "
                                            "{:04d}-{:02d}-{:02d}", t.year, t.month, t.day));
  }
  return Timestamp{ns};
}

Timestamp make_timestamp(int year, int month, int day, int hour, int minute, int second) {
  return make_timestamp(CivilTime{year, month, day, hour, minute, second, 0});
}

CivilTime to_civil(Timestamp t) {
  if (t.is_nat()) throw std::invalid_argument("NaT has no calendar date");
  int64_t days = floor_div(t.ns, kNanosPerDay);
  int64_t rest = t.ns - days * kNanosPerDay;
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
  if (!utc_offset_seconds || wall.is_nat()) return wall;
  return Timestamp{wall.ns - int64_t{*utc_offset_seconds} * kNanosPerSecond};
}

ParsedDate parse_date_text(std::string_view text) {
  auto fail = [&]() -> ParsedDate {
    throw std::invalid_argument("cannot parse date text '" + std::string(text) + "'");
  };
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
  result.wall = make_timestamp(t);
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
      default: out += '%'; out += format[i]; break;
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
  std::string out = iso_format(Timestamp{utc.ns + int64_t{offset} * kNanosPerSecond});
  if (offset == 0 && (zone == "UTC" || zone == "Etc/UTC")) return out + "Z";
  int32_t a = offset < 0 ? -offset : offset;
  return out + fmt::format("{}{:02d}:{:02d}", offset < 0 ? '-' : '+', a / 3600, a / 60 % 60);
}

std::string format_duration(Duration d) {
  if (d.is_nat()) return "NaT";
  bool negative = d.ns < 0;
  uint64_t ns = negative ? uint64_t(0) - uint64_t(d.ns) : uint64_t(d.ns);
  uint64_t days = ns / kNanosPerDay;
  uint64_t rest = ns % kNanosPerDay;
  std::string out = fmt::format("{}{} days {:02d}:{:02d}:{:02d}", negative ? "-" : "", days,
                                rest / kNanosPerHour, rest / kNanosPerMinute % 60,
                                rest / kNanosPerSecond % 60);
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
  int64_t per = unit == "D" ? kNanosPerDay
                : unit == "h" || unit == "H" ? kNanosPerHour
                : unit == "min" || unit == "T" ? kNanosPerMinute
                : unit == "s" || unit == "S" ? kNanosPerSecond
                                             : 0;
  if (per == 0 || count < 1)
    throw std::invalid_argument("unsupported frequency '" + code + "' (use a count and D, h, min or s, as in '1h')");
  return count * per;
}

bool is_known_time_zone(const std::string& zone) {
  try {
    date::locate_zone(zone);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

Timestamp local_to_utc(Timestamp wall, const std::string& zone) {
  if (wall.is_nat()) return wall;
  const date::time_zone* tz = find_zone(zone);
  LocalNanos local{std::chrono::nanoseconds{wall.ns}};
  try {
    return Timestamp{tz->to_sys(local).time_since_epoch().count()};
  } catch (const date::nonexistent_local_time&) {
    throw std::invalid_argument("local time " + iso_format(wall) + " does not exist in time zone " + zone);
  } catch (const date::ambiguous_local_time&) {
    throw std::invalid_argument("local time " + iso_format(wall) + " is ambiguous in time zone " + zone);
  }
}

Timestamp utc_to_local(Timestamp utc, const std::string& zone) {
  if (utc.is_nat()) return utc;
  return Timestamp{utc.ns + int64_t{utc_offset_seconds(utc, zone)} * kNanosPerSecond};
}

int32_t utc_offset_seconds(Timestamp utc, const std::string& zone) {
  const date::time_zone* tz = find_zone(zone);
  auto seconds = std::chrono::floor<std::chrono::seconds>(SysNanos{std::chrono::nanoseconds{utc.ns}});
  return int32_t(tz->get_info(seconds).offset.count());
}

}  // namespace tremora
