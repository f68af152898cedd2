// Reading a fixed-column earthquake catalogue into the event table.
#include <algorithm>
#include <cmath>
#include <string>

#include "fixed_columns.hpp"
#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "tremora/quakecat.hpp"
#include "tremora/text.hpp"

namespace tremora::quakecat {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Character positions of the fields (end exclusive).
struct FieldRange {
  std::size_t begin, end;
};
constexpr FieldRange kOriginTime{0, 14};
constexpr FieldRange kLatitude{15, 21};
constexpr FieldRange kLongitude{21, 27};
constexpr FieldRange kMagnitude{28, 32};
constexpr std::size_t kNameStart = 39;

std::string_view field(std::string_view line, FieldRange range) {
  return strip_whitespace(cut_characters(line, range.begin, range.end));
}

int digits_value(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// "%Y%m%d%H%M%S": exactly 14 digits naming a valid date and time, else NaT.
Timestamp parse_origin_time(std::string_view text) {
  if (text.size() != 14 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return {};
  try {
    return make_timestamp(digits_value(text.substr(0, 4)), digits_value(text.substr(4, 2)),
                          digits_value(text.substr(6, 2)), digits_value(text.substr(8, 2)),
                          digits_value(text.substr(10, 2)), digits_value(text.substr(12, 2)));
  } catch (const std::invalid_argument&) {
    return {};
  }
}

double decimal_or_nan(std::string_view text) { return parse_decimal(text).value_or(std::nan("")); }

// The columns of the event table, filled line by line.
class EventColumns {
 public:
  void append(std::string_view line) {
    times_.push_back(parse_origin_time(field(line, kOriginTime)).ns);
    latitudes_.push_back(decimal_or_nan(field(line, kLatitude)));
    longitudes_.push_back(decimal_or_nan(field(line, kLongitude)));
    magnitudes_.push_back(decimal_or_nan(field(line, kMagnitude)));
    std::string_view name = strip_whitespace(cut_characters(line, kNameStart));
    if (name.empty()) names_.append_null();
    else names_.append(name);
  }

  Table finish() {
    Table table({Column::from_timestamps("ind", std::move(times_)), Column::from_float64("lon", std::move(longitudes_)),
                 Column::from_float64("lat", std::move(latitudes_)),
                 Column::from_float64("magnitude", std::move(magnitudes_)), names_.finish("name")});
    table.set_key("ind");
    return table;
  }

 private:
  std::vector<int64_t> times_;
  std::vector<double> latitudes_, longitudes_, magnitudes_;
  StringColumnBuilder names_;
};

}  // namespace

Table parse_quakecat(std::string_view text, const std::string& source) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  EventColumns events;
  std::size_t line_number = 0;
  for (std::string_view line : split_lines_any_end(text)) {
    ++line_number;
    if (!is_valid_utf8(line))
      throw IOError("'" + source + "' line " + std::to_string(line_number) + " is not valid UTF-8 text");
    if (!strip_whitespace(line).empty()) events.append(line);
  }
  return events.finish();
}

Table read_quakecat(const std::filesystem::path& quakecat_dir) {
  return parse_quakecat(read_file(quakecat_dir), quakecat_dir.string());
}

}  // namespace tremora::quakecat
