// The checks as the table of series.csv; the page shows the same cells.
#include <fmt/format.h>

#include "tremora/review.hpp"
#include "tremora/text.hpp"

namespace tremora::review {
namespace {

// Six significant digits, as an analyst reads them (the CSV holds exactly
// what the page shows).
double shown(double x) { return std::isfinite(x) ? std::stod(fmt::format("{:.6g}", x)) : x; }

std::optional<std::string> time_text(const std::optional<Timestamp>& t) {
  if (!t) return std::nullopt;
  return format_timestamp(*t, "%Y-%m-%d %H:%M");
}

std::string exit_days(const SeriesCheck& c) {
  if (!c.error.empty()) return "";
  if (!c.band) return "no reference";
  std::vector<std::string> days;
  for (Timestamp d : c.band_exit_days) days.push_back(format_timestamp(d, "%Y-%m-%d"));
  return join(days, " ");
}

}  // namespace

Table checks_table(const std::vector<SeriesCheck>& checks, double incomplete_below) {
  using Texts = std::vector<std::optional<std::string>>;
  std::vector<Texts> text(12);
  std::vector<std::vector<double>> number(10);
  std::vector<std::vector<int64_t>> count(4);
  for (const SeriesCheck& c : checks) {
    const SeriesName& n = c.name;
    std::size_t t = 0, k = 0, i = 0;
    for (const std::string* s : {&n.station, &n.station_name, &n.point, &n.point_name, &n.item, &n.item_name, &n.unit})
      text[t++].emplace_back(*s);
    for (int64_t v : {c.expected, c.present}) count[i++].push_back(v);
    number[k++].push_back(std::round(c.completeness * 100) / 100);
    text[t++].push_back(time_text(c.gap_start));
    number[k++].push_back(double(c.gap_ns) / 60e9);
    count[i++].push_back(c.mad_replaced);
    number[k++].push_back(shown(c.largest_step));
    text[t++].push_back(time_text(c.largest_step_at));
    for (double v : {c.typical_step, c.mean, c.std}) number[k++].push_back(shown(v));
    number[k++].push_back(c.band ? shown(c.band->first) : NAN);
    number[k++].push_back(c.band ? shown(c.band->second) : NAN);
    text[t++].emplace_back(exit_days(c));
    count[i++].push_back(int64_t(c.log.size()));
    text[t++].emplace_back(join(c.flags(incomplete_below), " "));
    text[t++].emplace_back(c.error);
  }
  auto texts = [&](std::size_t i, const char* name) { return Column::from_strings(name, text[i]); };
  auto numbers = [&](std::size_t i, const char* name) { return Column::from_float64(name, number[i]); };
  auto counts = [&](std::size_t i, const char* name) { return Column::from_int64(name, count[i]); };
  return Table(std::vector<Column>{texts(0, "station"),
                                   texts(1, "station_name"),
                                   texts(2, "point"),
                                   texts(3, "point_name"),
                                   texts(4, "item"),
                                   texts(5, "item_name"),
                                   texts(6, "unit"),
                                   texts(10, "flags"),
                                   counts(0, "expected"),
                                   counts(1, "present"),
                                   numbers(0, "completeness_pct"),
                                   texts(7, "gap_start"),
                                   numbers(1, "gap_minutes"),
                                   counts(2, "mad_replaced"),
                                   numbers(2, "largest_step"),
                                   texts(8, "largest_step_at"),
                                   numbers(3, "typical_step"),
                                   numbers(4, "mean"),
                                   numbers(5, "std"),
                                   numbers(6, "band_low"),
                                   numbers(7, "band_high"),
                                   texts(9, "band_exit_days"),
                                   counts(3, "log_entries"),
                                   texts(11, "error")});
}

}  // namespace tremora::review
