// Reading GFZ's Kp files: the service's JSON reply saved to a file, the
// three-hourly text layout and the WDC daily layout.
#include <cmath>
#include <stdexcept>

#include "reply.hpp"
#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "tremora/geomag.hpp"
#include "tremora/text.hpp"

namespace tremora::geomag {
namespace {

// Kp rows gathered from a text layout.
struct KpRows {
  std::vector<int64_t> starts;
  std::vector<double> kp;
  std::vector<std::optional<std::string>> status;

  void add(Timestamp start, double value, std::string flag) {
    starts.push_back(start.ns);
    kp.push_back(value);
    status.push_back(std::move(flag));
  }
};

// One line of a text file, for error messages that name where it failed.
struct Line {
  const std::string& source;
  std::size_t number;
  std::string_view text;

  [[noreturn]] void fail(const std::string& what) const {
    throw IOError(source + ":" + std::to_string(number) + ": " + what);
  }
  int64_t integer(std::string_view field, const char* what) const {
    auto value = parse_integer(field);
    if (!value) fail(std::string("bad ") + what + " " + quoted_excerpt(field));
    return *value;
  }
  Timestamp day(int64_t year, int64_t month, int64_t day_of_month) const {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day_of_month < 1 || day_of_month > 31)
      fail("no such date " + std::to_string(year) + "-" + std::to_string(month) + "-" + std::to_string(day_of_month));
    try {
      return make_timestamp(int(year), int(month), int(day_of_month));
    } catch (const std::invalid_argument&) {
      fail("no such date " + std::to_string(year) + "-" + std::to_string(month) + "-" + std::to_string(day_of_month));
    }
  }
  // A time `ns` after the start of a day; the last day of the range of
  // timestamps ends before its last intervals.
  Timestamp after(Timestamp start_of_day, int64_t ns) const {
    try {
      return add_nanos(start_of_day, ns);
    } catch (const std::invalid_argument& e) {
      fail(e.what());
    }
  }
};

// "YYYY MM DD hh.h hh._m days days_m Kp ap D"; Kp -1 is missing, D is 1 for
// definitive and 0 for preliminary values.
void read_three_hourly_line(const Line& line, KpRows& rows) {
  std::vector<std::string_view> f = split_whitespace(line.text);
  if (f.size() < 10) line.fail("expected 10 fields, found " + std::to_string(f.size()));
  Timestamp day = line.day(line.integer(f[0], "year"), line.integer(f[1], "month"), line.integer(f[2], "day"));
  std::optional<double> hour = parse_decimal(f[3]);
  std::optional<double> kp = parse_decimal(f[7]);
  if (!hour || *hour < 0 || *hour >= 24) line.fail("bad hour " + quoted_excerpt(f[3]));
  if (!kp) line.fail("bad Kp " + quoted_excerpt(f[7]));
  int64_t flag = line.integer(f[9], "definitive flag");
  if (flag != 0 && flag != 1) line.fail("bad definitive flag " + quoted_excerpt(f[9]));
  double value = *kp < 0 ? std::nan("") : *kp;
  rows.add(line.after(day, nanos_from_count(std::round(*hour * 3600.0), kNanosPerSecond)), value, flag ? "def" : "pre");
}

// A WDC Kp code: tenths with the thirds written 0, 3 and 7 ("37" is 4-,
// 3.667; "40" is 4o; "43" is 4+, 4.333), read as the service writes thirds.
double wdc_kp(const Line& line, std::string_view code) {
  if (strip_whitespace(code).empty()) return std::nan("");
  int64_t tenths = line.integer(code, "Kp code");
  static constexpr double kThirds[10] = {0.0, -1, -1, 0.333, -1, -1, -1, 0.667, -1, -1};
  double third = tenths >= 0 ? kThirds[tenths % 10] : -1;
  if (third < 0 || tenths > 90) line.fail("bad Kp code " + quoted_excerpt(code));
  return double(tenths / 10) + third;
}

// Columns 1-2 year, 3-4 month, 5-6 day, 13-28 eight Kp codes of the UT day.
void read_wdc_line(const Line& line, KpRows& rows) {
  if (line.text.size() < 28) line.fail("a WDC line needs 28 characters");
  int64_t yy = line.integer(line.text.substr(0, 2), "year");
  int64_t year = yy < 32 ? 2000 + yy : 1900 + yy;  // the series begins in 1932
  Timestamp day =
      line.day(year, line.integer(line.text.substr(2, 2), "month"), line.integer(line.text.substr(4, 2), "day"));
  for (int k = 0; k < 8; ++k)
    rows.add(line.after(day, k * kKpIntervalNanos), wdc_kp(line, line.text.substr(12 + 2 * k, 2)), "def");
}

bool is_comment_or_blank(std::string_view line) {
  std::string_view s = strip_whitespace(line);
  return s.empty() || s.front() == '#';
}

// The three-hourly layout starts its data lines with a four-digit year and
// a blank; WDC lines run the two-digit year into the month.
bool is_three_hourly(std::string_view line) {
  std::vector<std::string_view> f = split_whitespace(line);
  return f.size() >= 10 && f[0].size() == 4;
}

Table gfz_table(KpRows rows) {
  Table table({Column::from_float64("Kp", std::move(rows.kp)), Column::from_strings("status", rows.status)});
  table.set_key_column(Column::from_timestamps("datetime", std::move(rows.starts), "UTC"));
  table.attributes() = {{"source", "GFZ Potsdam"}, {"license", "CC BY 4.0"}};
  return table;
}

Table read_text_layout(std::string_view content, const std::string& source) {
  KpRows rows;
  std::vector<std::string_view> lines = split(content, '\n');
  void (*read_line)(const Line&, KpRows&) = nullptr;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view text = lines[i];
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (is_comment_or_blank(text)) continue;
    if (!read_line) read_line = is_three_hourly(text) ? read_three_hourly_line : read_wdc_line;
    read_line(Line{source, i + 1, text}, rows);
  }
  if (!read_line) throw IOError(source + ": no Kp data lines");
  return gfz_table(std::move(rows));
}

Table read_json_layout(std::string_view content, const std::string& source) {
  try {
    nlohmann::json payload = parse_json(std::string(content), source);
    Table table = kp_table_from_reply(payload);
    table.attributes() = {{"source", "GFZ Potsdam"}, {"license", "CC BY 4.0"}};
    if (auto meta = payload.find("meta"); meta != payload.end() && meta->is_object())
      for (const char* name : {"source", "license"})
        if (auto it = meta->find(name); it != meta->end() && it->is_string()) table.attributes()[name] = *it;
    return table;
  } catch (const std::invalid_argument& e) {
    throw IOError(source + ": " + e.what());
  }
}

}  // namespace

Table parse_kp_text(std::string_view content, const std::string& source) {
  std::string_view body = content;
  if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
  if (!is_valid_utf8(body)) throw IOError(source + ": not a text file");
  std::string_view start = strip_whitespace(body);
  if (!start.empty() && (start.front() == '{' || start.front() == '[')) return read_json_layout(body, source);
  return read_text_layout(body, source);
}

Table read_kp_file(const std::filesystem::path& path) { return parse_kp_text(read_file(path), path.string()); }

}  // namespace tremora::geomag
