// The checks of each series over the period, made with the library's own
// filter, statistics and time bins, so that the page's numbers are those
// the library gives.
#include <algorithm>
#include <map>
#include <numeric>
#include <set>

#include "tremora/plotkit.hpp"
#include "tremora/postprocessing.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/review.hpp"

namespace tremora::review {
namespace {

using Key = std::tuple<std::string, std::string, std::string>;  // station, point, item

Key key_of(const SeriesName& n) { return {n.station, n.point, n.item}; }

// The rows of each series of an observation table, in time order.
std::map<Key, std::vector<int64_t>> rows_by_series(const Table& t) {
  std::map<Key, std::vector<int64_t>> out;
  if (t.num_rows() == 0) return out;
  Column station = to_text(t.column(qzdata::kStationId)), point = to_text(t.column(qzdata::kPointId)),
         item = to_text(t.column(qzdata::kItemId));
  for (std::size_t r = 0; r < t.num_rows(); ++r)
    out[{std::string(station.text(r)), std::string(point.text(r)), std::string(item.text(r))}].push_back(int64_t(r));
  const std::vector<int64_t>& times = t.key().int64s();
  for (auto& [key, rows] : out)
    std::stable_sort(rows.begin(), rows.end(), [&](int64_t a, int64_t b) { return times[a] < times[b]; });
  return out;
}

// The rows of a table and its values as numbers (converted once).
struct Rows {
  const Table& table;
  Column values;
  std::map<Key, std::vector<int64_t>> of_series;

  explicit Rows(const Table& t)
      : table(t),
        values(t.num_rows() ? to_number(t.column(qzdata::kObsValue)) : Column()),
        of_series(rows_by_series(t)) {}

  // One series' rows as a table of STARTDATE and OBSVALUE (float64).
  Table series(const Key& key) const {
    std::vector<int64_t> at;
    std::vector<double> v;
    if (auto found = of_series.find(key); found != of_series.end())
      for (int64_t r : found->second) at.push_back(table.key().int64s()[r]), v.push_back(values.float64s()[r]);
    Table out(std::vector<Column>{Column::from_float64(qzdata::kObsValue, std::move(v))});
    out.set_key_column(Column::from_timestamps(qzdata::kStartDate, std::move(at)));
    return out;
  }
};

const std::vector<double>& values_of(const Table& s) { return s.column(qzdata::kObsValue).float64s(); }

// Slots with a value, and the longest run of slots without one.
void completeness(SeriesCheck& c, const Table& s, const Period& p, int64_t step) {
  c.expected = p.days() * (kNanosPerDay / step);
  std::vector<uint8_t> held(std::size_t(std::max<int64_t>(c.expected, 0)), 0);
  const std::vector<int64_t>& times = s.key().int64s();
  const std::vector<double>& v = values_of(s);
  for (std::size_t i = 0; i < times.size(); ++i)
    if (!std::isnan(v[i]) && times[i] >= p.first.ns && times[i] < p.end.ns)
      held[std::size_t((times[i] - p.first.ns) / step)] = 1;
  c.present = std::accumulate(held.begin(), held.end(), int64_t(0));
  c.completeness = c.expected ? 100.0 * double(c.present) / double(c.expected) : 0;
  std::size_t best = 0, best_at = 0;
  for (std::size_t i = 0; i < held.size();) {
    std::size_t j = i;
    while (j < held.size() && !held[j]) ++j;
    if (j - i > best) best = j - i, best_at = i;
    i = j + 1;
  }
  if (best) c.gap_start = Timestamp{p.first.ns + int64_t(best_at) * step}, c.gap_ns = int64_t(best) * step;
}

// The largest and the median change between consecutive values.
void steps(SeriesCheck& c, const Table& s) {
  std::vector<double> d;
  const std::vector<double>& v = values_of(s);
  std::optional<std::size_t> last;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (std::isnan(v[i])) continue;
    if (last) {
      double step = std::abs(v[i] - v[*last]);
      if (d.empty() || step > c.largest_step) c.largest_step = step, c.largest_step_at = Timestamp{s.key().int64s()[i]};
      d.push_back(step);
    }
    last = i;
  }
  if (d.empty()) return;
  Table t(std::vector<Column>{Column::from_float64("step", std::move(d))});
  c.typical_step = plotkit::calculate_stats(t, "step").at("median");
}

// The days whose mean leaves the band of the reference days.
void band_exits(SeriesCheck& c, const Table& s, const Table& reference, double k) {
  plotkit::Stats ref = plotkit::calculate_stats(reference, qzdata::kObsValue, k);
  double lo = ref.at("lower_limit"), hi = ref.at("upper_limit");
  if (std::isnan(lo) || std::isnan(hi)) return;
  c.band = {lo, hi};
  if (s.num_rows() == 0) return;
  TimeBins days =
      bin_by_time(s.key(), s.column(qzdata::kObsValue), series_ids(s, {}, false), kNanosPerDay, Aggregate::Mean);
  for (std::size_t i = 0; i < days.values.size(); ++i)
    if (days.values[i] < lo || days.values[i] > hi) c.band_exit_days.push_back(Timestamp{days.starts[i]});
}

// The log entries of each series within the period.
std::map<Key, std::vector<std::pair<Timestamp, std::string>>> log_by_series(const Table& log, const Period& p) {
  std::map<Key, std::vector<std::pair<Timestamp, std::string>>> out;
  if (log.num_rows() == 0 || !log.has_column("startdate")) return out;
  Column station = to_text(log.column("stationid")), point = to_text(log.column("pointid")),
         item = to_text(log.column("itemid")), note = to_text(log.column("note"));
  const Column& when = log.column("startdate");
  for (std::size_t r = 0; r < log.num_rows(); ++r) {
    Timestamp t{when.int64s()[r]};
    if (t.is_nat() || t < p.first || t >= p.end) continue;
    out[{std::string(station.text(r)), std::string(point.text(r)), std::string(item.text(r))}].emplace_back(
        t, note.is_null(r) ? "" : std::string(note.text(r)));
  }
  return out;
}

void check_one(SeriesCheck& c, const Table& s, const Table& reference, const Period& p, int64_t step,
               const ReviewOptions& o) {
  completeness(c, s, p, step);
  Column filtered = postprocessing::filter_with_fast_mad(s.column(qzdata::kObsValue));
  const std::vector<double>& values = values_of(s);
  for (std::size_t i = 0; i < filtered.size(); ++i) {
    double before = values[i], after = filtered.float64s()[i];
    c.mad_replaced += !std::isnan(before) && !std::isnan(after) && before != after;
  }
  steps(c, s);
  plotkit::Stats stats = plotkit::calculate_stats(s, qzdata::kObsValue, o.band_k);
  c.mean = stats.at("mean"), c.std = stats.at("std");
  band_exits(c, s, reference, o.band_k);
}

}  // namespace

std::vector<std::string> SeriesCheck::flags(double incomplete_below) const {
  std::vector<std::string> out;
  if (!error.empty()) out.emplace_back("error");
  if (error.empty() && completeness < incomplete_below) out.emplace_back("incomplete");
  if (!band_exit_days.empty()) out.emplace_back("band");
  if (!log.empty()) out.emplace_back("log");
  return out;
}

std::vector<SeriesCheck> check_series(const Table& period_rows, const Table& reference_rows, const Table& log,
                                      const std::vector<SeriesName>& expected, const Period& period, int64_t step_ns,
                                      const ReviewOptions& options) {
  if (step_ns <= 0 || kNanosPerDay % step_ns) throw std::invalid_argument("the sampling interval must divide a day");
  Rows rows(period_rows), reference(reference_rows);
  std::map<Key, SeriesName> names;
  std::set<std::pair<std::string, std::string>> with_rows;  // station, item
  for (const auto& [key, r] : rows.of_series) {
    names.try_emplace(key,
                      SeriesName{.station = std::get<0>(key), .point = std::get<1>(key), .item = std::get<2>(key)});
    with_rows.emplace(std::get<0>(key), std::get<2>(key));
  }
  // An expected series without a known point is one of the station's
  // series of that item with rows, if there is one.
  for (const SeriesName& n : expected)
    if (!n.point.empty() || !with_rows.contains({n.station, n.item})) names.emplace(key_of(n), n);
  auto logs = log_by_series(log, period);
  std::vector<SeriesCheck> out;
  for (const auto& [key, name] : names) {
    SeriesCheck c{.name = name};
    if (auto l = logs.find(key); l != logs.end()) c.log = l->second;
    try {
      check_one(c, rows.series(key), reference.series(key), period, step_ns, options);
    } catch (const std::exception& e) {
      c = SeriesCheck{.name = name, .log = c.log, .error = e.what()};
    }
    out.push_back(std::move(c));
  }
  return out;
}

}  // namespace tremora::review
