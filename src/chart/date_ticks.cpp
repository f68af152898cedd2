// Automatic date ticks on calendar positions, and concise date labels.
#include <algorithm>
#include <array>
#include <cmath>
#include <set>

#include "tremora/chart.hpp"

namespace tremora::chart {
namespace {

constexpr int kMinDateTicks = 5;
constexpr std::array<int, 7> kMaxTicks{11, 12, 11, 12, 11, 11, 8};
const std::array<std::vector<int>, 7> kIntervals{{
    {1, 2, 4, 5, 10, 20, 40, 50, 100, 200, 400, 500, 1000, 2000, 4000, 5000, 10000},
    {1, 2, 3, 4, 6},
    {1, 2, 4, 7, 14},
    {1, 2, 3, 4, 6, 12},
    {1, 5, 10, 15, 30},
    {1, 5, 10, 15, 30},
    {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000, 100000, 200000, 500000, 1000000},
}};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int days_in_month(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return month == 2 && leap ? 29 : days[month - 1];
}

// t plus whole months, the day clipped to the length of the month reached.
Timestamp add_months(Timestamp t, int months) {
  CivilTime c = to_civil(t);
  int index = c.year * 12 + (c.month - 1) + months;
  c.year = index / 12;
  c.month = index % 12 + 1;
  c.day = std::min(c.day, days_in_month(c.year, c.month));
  return make_timestamp(c);
}

// Whole years, months, days, hours, minutes and seconds in a span.
std::array<double, 7> unit_counts(Timestamp a, Timestamp b) {
  CivilTime ca = to_civil(a), cb = to_civil(b);
  int months = (cb.year - ca.year) * 12 + (cb.month - ca.month);
  while (months > 0 && b < add_months(a, months)) --months;
  int64_t rest = nanos_between(add_months(a, months), b);
  int64_t rest_hours = rest / kNanosPerHour % 24, rest_minutes = rest / kNanosPerMinute % 60;
  double total_seconds = (double(b.ns) - double(a.ns)) / double(kNanosPerSecond);
  double days = std::floor(total_seconds / 86400);
  double hours = days * 24 + double(rest_hours);
  double minutes = hours * 60 + double(rest_minutes);
  return {double(months / 12),       double(months / 12 * 12 + months % 12), days, hours, minutes,
          std::floor(total_seconds), std::floor(total_seconds * 1e6)};
}

// The values a calendar field may take for an interval.
std::vector<int> allowed_values(DateUnit unit, int interval) {
  std::vector<int> v;
  auto every = [&](int first, int last) {
    for (int x = first; x <= last; x += interval) v.push_back(x);
  };
  switch (unit) {
    case DateUnit::Monthly: every(1, 12); break;
    case DateUnit::Daily:
      if (interval == 14) v = {1, 15};
      else if (interval == 7) v = {1, 8, 15, 22};
      else every(1, 31);
      break;
    case DateUnit::Hourly: every(0, 23); break;
    default: every(0, 59); break;
  }
  return v;
}

// The instants in [a, b] whose field of `unit` is allowed and whose finer
// fields are at their first value.
std::vector<double> calendar_ticks(Timestamp a, Timestamp b, DateUnit unit, const std::vector<int>& allowed) {
  std::set<int> ok(allowed.begin(), allowed.end());
  std::vector<double> out;
  auto consider = [&](Timestamp t, int field) {
    if (ok.count(field) && t >= a && t <= b) out.push_back(to_days(t));
  };
  CivilTime ca = to_civil(a), cb = to_civil(b);
  if (unit == DateUnit::Monthly) {
    // Counted in months, so that no month past b (perhaps past the range of
    // timestamps) is formed.
    int months = (cb.year - ca.year) * 12 + (cb.month - ca.month);
    Timestamp first = make_timestamp(ca.year, ca.month, 1);
    for (int k = 0; k <= months; ++k) {
      Timestamp t = add_months(first, k);
      consider(t, to_civil(t).month);
    }
    return out;
  }
  int64_t step = unit == DateUnit::Daily      ? kNanosPerDay
                 : unit == DateUnit::Hourly   ? kNanosPerHour
                 : unit == DateUnit::Minutely ? kNanosPerMinute
                                              : kNanosPerSecond;
  Timestamp first = floor_to_step(a, step);
  int64_t steps = nanos_between(first, b) / step;
  for (int64_t k = 0; k <= steps; ++k) {
    Timestamp t{first.ns + k * step};
    CivilTime c = to_civil(t);
    int field = unit == DateUnit::Daily      ? c.day
                : unit == DateUnit::Hourly   ? c.hour
                : unit == DateUnit::Minutely ? c.minute
                                             : c.second;
    consider(t, field);
  }
  return out;
}

std::string two(int v) {
  std::string s = std::to_string(v);
  if (v < 10) s.insert(s.begin(), '0');
  return s;
}

// The strftime subset of the labels: %Y %b %d %H %M %S %f.
std::string format(const CivilTime& c, const std::string& f) {
  std::string out;
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i] != '%' || i + 1 == f.size()) {
      out += f[i];
      continue;
    }
    switch (f[++i]) {
      case 'Y': out += std::to_string(c.year); break;
      case 'b': out += kMonthNames[c.month - 1]; break;
      case 'd': out += two(c.day); break;
      case 'H': out += two(c.hour); break;
      case 'M': out += two(c.minute); break;
      case 'S': out += two(c.second); break;
      case 'f': {
        std::string us = std::to_string(c.nanosecond / 1000);
        out += std::string(6 - us.size(), '0') + us;
        break;
      }
      default: out += f[i];
    }
  }
  return out;
}

}  // namespace

double to_days(Timestamp t) { return double(t.ns) / double(kNanosPerDay); }

Timestamp from_days(double days) { return Timestamp{nanos_from_count(std::round(days * 86400e6), 1000)}; }

DateTicks auto_date_ticks(double dmin, double dmax) {
  if (dmax < dmin) std::swap(dmin, dmax);
  if (dmin == dmax) dmin -= 730, dmax += 730;
  Timestamp a = from_days(dmin), b = from_days(dmax);
  std::array<double, 7> counts = unit_counts(a, b);
  DateTicks out;
  std::size_t unit = 0;
  while (unit < 6 && counts[unit] < kMinDateTicks) ++unit;
  const auto& candidates = kIntervals[unit];
  int interval = candidates.back();
  for (int c : candidates)
    if (counts[unit] <= double(c) * (kMaxTicks[unit] - 1)) {
      interval = c;
      break;
    }
  out.unit = DateUnit(unit);
  out.interval = interval;
  if (out.unit == DateUnit::Yearly) {
    int first = int(std::floor(double(to_civil(a).year) / interval)) * interval;
    int last = int(std::ceil(double(to_civil(b).year) / interval)) * interval;
    for (int y = first; y <= last; y += interval) out.ticks.push_back(to_days(make_timestamp(y, 1, 1)));
  } else if (out.unit == DateUnit::Microsecondly) {
    double step = interval / 86400e6;
    for (double k = std::ceil(dmin / step); k * step <= dmax; k += 1) out.ticks.push_back(k * step);
  } else {
    out.ticks = calendar_ticks(a, b, out.unit, allowed_values(out.unit, interval));
    if (out.ticks.empty()) out.ticks = {dmin, dmax};
  }
  double tolerance = 1e-10 * (dmax - dmin);
  for (double t : out.ticks)
    if (t >= dmin - tolerance && t <= dmax + tolerance) out.visible.push_back(t);
  return out;
}

ConciseLabels concise_date_labels(const std::vector<double>& ticks) {
  static const char* const kFormats[] = {"%Y", "%b", "%d", "%H:%M", "%H:%M", "%S.%f"};
  static const char* const kZeroFormats[] = {"", "%Y", "%b", "%b-%d", "%H:%M", "%H:%M"};
  static const char* const kOffsetFormats[] = {"", "%Y", "%Y-%b", "%Y-%b-%d", "%Y-%b-%d", "%Y-%b-%d %H:%M"};
  static const int kZeroValues[] = {0, 1, 1, 0, 0, 0};
  ConciseLabels out;
  if (ticks.empty()) return out;
  std::vector<CivilTime> c;
  for (double t : ticks) c.push_back(to_civil(from_days(t)));
  auto field = [](const CivilTime& x, int level) {
    const int v[] = {x.year, x.month, x.day, x.hour, x.minute, x.second};
    return v[level];
  };
  int level = 5;
  bool show_offset = true;
  for (int l = 5; l >= 0; --l) {
    std::set<int> distinct;
    for (const auto& x : c) distinct.insert(field(x, l));
    if (distinct.size() > 1) {
      level = l;
      if (l < 2 && distinct.count(1)) show_offset = false;
      break;
    }
  }
  for (const auto& x : c) {
    bool zero = level < 5 ? field(x, level) == kZeroValues[level] : x.second == 0 && x.nanosecond / 1000 == 0;
    out.labels.push_back(format(x, zero ? kZeroFormats[level] : kFormats[level]));
  }
  if (level == 5) {
    std::size_t trailing = SIZE_MAX;
    for (const auto& s : out.labels)
      if (s.find('.') != std::string::npos) trailing = std::min(trailing, s.size() - 1 - s.find_last_not_of('0'));
    if (trailing != SIZE_MAX && trailing > 0) {
      for (auto& s : out.labels) {
        if (s.find('.') == std::string::npos) continue;
        s.resize(s.size() - trailing);
        if (!s.empty() && s.back() == '.') s.pop_back();
      }
    }
  }
  if (show_offset) out.offset = format(c.back(), kOffsetFormats[level]);
  return out;
}

}  // namespace tremora::chart
