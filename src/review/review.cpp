// The review's road: the period, the reference days and the log fetched,
// every series checked, then the table, the charts and the page written.
#include <fmt/format.h>

#include <map>
#include <set>

#include "review_page.hpp"
#include "tremora/csv.hpp"
#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "tremora/geomag.hpp"
#include "tremora/metastash.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/review.hpp"
#include "tremora/text.hpp"
#include "tremora/tsplot.hpp"

namespace tremora::review {
namespace {

namespace fs = std::filesystem;

Timestamp day_of(Timestamp t) { return Timestamp{t.ns - ((t.ns % kNanosPerDay) + kNanosPerDay) % kNanosPerDay}; }

Table fetched(db::Connection* conn, Timestamp first, Timestamp last, const ReviewOptions& o,
              const fetching::ItemNames& items = std::string(fetching::kAll), const std::string& station = "",
              const std::string& point = "") {
  std::optional<Table> t =
      fetching::fetching_data(conn, first, last, o.method, station.empty() ? o.station : station, o.rate, o.type,
                              {.item_name = items, .gzip_flag = o.gzip, .point_id = point});
  return t ? std::move(*t) : Table();
}

using SeriesKey = std::tuple<std::string, std::string, std::string>;  // station, point, item

// Rows of a span, and the series whose rows could not be read.
struct Fetched {
  Table rows;
  std::map<SeriesKey, std::string> errors;
};

// The rows of a span. When a day row cannot be read (its bytes do not
// inflate), the span is fetched again series by series, so that only the
// series of that row fails, with the fetch's message.
Fetched fetch_span(db::Connection* conn, Timestamp first, Timestamp last, const ReviewOptions& o,
                   const std::vector<SeriesName>& series) {
  try {
    return {fetched(conn, first, last, o), {}};
  } catch (const IOError&) {
  }
  Fetched out;
  std::vector<Table> parts;
  for (const SeriesName& n : series) {
    try {
      Table t = fetched(conn, first, last, o, std::vector<std::string>{n.item_name}, n.station_name, n.point);
      if (t.num_rows())
        parts.push_back(rows_with_text(rows_with_text(t, qzdata::kStationId, n.station), qzdata::kItemId, n.item));
    } catch (const IOError& e) {
      out.errors[{n.station, n.point, n.item}] = e.what();
    }
  }
  if (!parts.empty()) out.rows = concat(parts);
  return out;
}

// Texts of one column by the texts of others, from a dictionary table.
std::map<std::string, std::string> names_by(const Table& t, std::initializer_list<const char*> key, const char* value) {
  std::map<std::string, std::string> out;
  if (t.num_rows() == 0 || !t.has_column(value)) return out;
  std::vector<Column> keys;
  for (const char* k : key) keys.push_back(to_text(t.column(k)));
  Column v = to_text(t.column(value));
  for (std::size_t r = 0; r < t.num_rows(); ++r) {
    std::string k;
    for (const Column& c : keys) k += std::string(c.text(r)) + '\x1f';
    if (!v.is_null(r)) out[k] = std::string(v.text(r));
  }
  return out;
}

std::string looked_up(const std::map<std::string, std::string>& m, std::initializer_list<std::string> key) {
  std::string k;
  for (const std::string& part : key) k += part + '\x1f';
  auto found = m.find(k);
  return found == m.end() ? "" : found->second;
}

// The names of stations, points and items, and the items' units.
struct Dictionary {
  std::map<std::string, std::string> stations, points, items, units;

  explicit Dictionary(const tsplot::TSPlotter& p)
      : stations(names_by(p.stations_table, {qzdata::kStationId}, "STATIONNAME")),
        points(names_by(p.points_table, {qzdata::kStationId, qzdata::kPointId}, "POINTNAME")),
        items(names_by(p.items_table, {qzdata::kItemId}, "ITEMNAME")),
        units(names_by(p.items_table, {qzdata::kItemId}, "UNIT")) {}

  void name(SeriesName& n) const {
    if (n.station_name.empty()) n.station_name = looked_up(stations, {n.station});
    if (n.point_name.empty()) n.point_name = looked_up(points, {n.station, n.point});
    if (n.item_name.empty()) n.item_name = looked_up(items, {n.item});
    if (n.unit.empty()) n.unit = looked_up(units, {n.item});
  }
};

// Codes of a one-column look-up result.
std::set<std::string> codes(const std::optional<Table>& t, const char* column) {
  std::set<std::string> out;
  if (!t || t->num_rows() == 0) return out;
  Column c = to_text(t->column(column));
  for (std::size_t r = 0; r < c.size(); ++r)
    if (!c.is_null(r)) out.emplace(c.text(r));
  return out;
}

// The series the station dictionary expects of the request: every station
// item whose method (the item code's first three characters) has a table
// of the type and rate, at the point the dictionary gives or, when it gives
// none, the station's only point.
std::vector<SeriesName> expected_series(db::Connection* conn, const ReviewOptions& o, const std::string& rate_id,
                                        const Table& points) {
  Table methods = fetching::MetadataFetcher::get_method_ids(conn, o.method, o.cache_dir);
  auto type_id = fetching::DatabaseType::get_id(o.type);
  if (!type_id || methods.num_rows() == 0) return {};
  std::set<std::string> with_tables;
  for (const std::string& name :
       codes(fetching::MetadataFetcher::get_table_names(conn, methods, *type_id, rate_id), "table_name"))
    if (name.size() >= 6) with_tables.insert(name.substr(3, 3));
  std::set<std::string> stations =
      codes(fetching::MetadataFetcher::get_station_ids(conn, o.station, o.cache_dir), "stationid");
  bool all_stations = o.station == fetching::kAll;
  Table pairs = metastash::MetadataCache::get_table("stationitems", conn, o.cache_dir);
  std::map<std::string, std::vector<std::string>> points_of;
  if (points.num_rows()) {
    Column s = to_text(points.column(qzdata::kStationId)), p = to_text(points.column(qzdata::kPointId));
    for (std::size_t r = 0; r < s.size(); ++r) points_of[std::string(s.text(r))].emplace_back(p.text(r));
  }
  std::vector<SeriesName> out;
  Column station = to_text(pairs.column(qzdata::kStationId)), item = to_text(pairs.column(qzdata::kItemId));
  std::optional<Column> point;
  if (pairs.has_column(qzdata::kPointId)) point = to_text(pairs.column(qzdata::kPointId));
  for (std::size_t r = 0; r < pairs.num_rows(); ++r) {
    std::string st(station.text(r)), it(item.text(r));
    if (!with_tables.contains(it.substr(0, 3)) || (!all_stations && !stations.contains(st))) continue;
    std::string pt = point && !point->is_null(r) ? std::string(point->text(r)) : "";
    if (pt.empty() && points_of[st].size() == 1) pt = points_of[st].front();
    out.push_back(SeriesName{.station = st, .point = pt, .item = it});
  }
  return out;
}

// Kp over the period, for the charts (nothing when not asked for or when
// it cannot be had) and the page (its maximum and stormy days, or why not).
std::optional<Table> period_kp(const Period& p, const ReviewOptions& o, PageFacts& facts) {
  if (!o.geomag) return std::nullopt;
  facts.kp.emplace();
  const std::string zone = qzdata::kChartTimeZone;
  try {
    Timestamp last{p.end.ns - 1};
    Table kp =
        o.geomag_data ? geomag::normalize_geomag(*o.geomag_data, zone) : geomag::fetch_geomag(p.first, last, zone);
    geomag::UtcRange range = geomag::kp_range(p.first, last, zone);
    Table in = geomag::overlapping_intervals(kp, range.start, range.end);
    ZoneClock clock(zone);
    std::set<std::string> stormy;
    Column kp_values = to_number(in.column("Kp"));
    const std::vector<double>& values = kp_values.float64s();
    for (std::size_t r = 0; r < in.num_rows(); ++r) {
      if (std::isnan(values[r])) continue;
      if (std::isnan(facts.kp->max) || values[r] > facts.kp->max) facts.kp->max = values[r];
      if (values[r] >= 5) stormy.insert(format_timestamp(clock.to_local(Timestamp{in.key().int64s()[r]}), "%Y-%m-%d"));
    }
    facts.kp->stormy_days.assign(stormy.begin(), stormy.end());
    return kp;
  } catch (const std::exception& e) {
    facts.kp->error = e.what();
    return std::nullopt;
  }
}

// The catalogue's events of the period that pass the filters for a station
// of the review, each with its nearest such station; an unreadable
// catalogue is noted on the page and left out of the charts.
bool period_quakes(const Period& p, const ReviewOptions& o, const Table& stations, const std::set<std::string>& codes,
                   PageFacts& facts) {
  if (!o.quakecat) return false;
  std::map<std::pair<int64_t, std::string>, PageFacts::Quake> nearest;
  facts.quakes.emplace();
  Table events;
  try {
    events = quakecat::read_quakecat(*o.quakecat);
  } catch (const std::exception& e) {
    facts.quake_error = e.what();
    return false;
  }
  Column id = to_text(stations.column(qzdata::kStationId)), name = to_text(stations.column("STATIONNAME"));
  Column lat = to_number(stations.column("LATITUDE")), lon = to_number(stations.column("LONGITUDE"));
  for (std::size_t s = 0; s < stations.num_rows(); ++s) {
    if (!codes.contains(std::string(id.text(s)))) continue;
    Table copy = events;
    Table near = quakecat::filtered_quakecats(copy, {lat.float64s()[s], lon.float64s()[s]}, o.quake_filters);
    Column ev = to_text(near.column("name"));
    const auto& flag = near.column("flag").int64s();
    const auto& km = near.column("distance").float64s();
    Column magnitudes = to_number(near.column("magnitude"));
    const auto& magnitude = magnitudes.float64s();
    for (std::size_t r = 0; r < near.num_rows(); ++r) {
      Timestamp t{near.key().int64s()[r]};
      if (!flag[r] || t < p.first || t >= p.end) continue;
      std::string event = ev.is_null(r) ? "" : std::string(ev.text(r));
      auto [it, fresh] = nearest.try_emplace({t.ns, event});
      if (fresh || km[r] < it->second.distance)
        it->second = {format_timestamp(t, "%Y-%m-%d %H:%M"), event, magnitude[r], km[r], std::string(name.text(s))};
    }
  }
  for (auto& [key, q] : nearest) facts.quakes->push_back(q);
  return true;
}

}  // namespace

Table review(std::shared_ptr<db::Connection> conn, const fetching::DateArg& start, const fetching::DateArg& end,
             const fs::path& out, const ReviewOptions& o) {
  auto rate = fetching::SampleRateType::get_config(o.rate);
  if (!rate) throw std::invalid_argument("'" + o.rate + "' is not a sampling rate");
  Period period{day_of(start.timestamp()), Timestamp{day_of(end.timestamp()).ns + kNanosPerDay}};
  if (period.days() < 1) throw std::invalid_argument("the review's end lies before its start");
  tsplot::TSPlotter plotter(conn, {.metadata_dir = o.cache_dir});
  Dictionary dictionary(plotter);
  std::vector<SeriesName> expected = expected_series(conn.get(), o, rate->id, plotter.points_table);
  for (SeriesName& n : expected) dictionary.name(n);
  Timestamp last{period.end.ns - 1};
  Fetched rows = fetch_span(conn.get(), period.first, last, o, expected), reference;
  if (o.reference_days > 0)
    reference = fetch_span(conn.get(), Timestamp{period.first.ns - o.reference_days * kNanosPerDay},
                           Timestamp{period.first.ns - 1}, o, expected);
  std::optional<Table> log = fetching::fetching_dialog(
      conn.get(), {.startdate = period.first, .enddate = last, .methodname = o.method, .stationname = o.station});
  std::vector<SeriesCheck> checks =
      check_series(rows.rows, reference.rows, log ? *log : Table(), expected, period, rate->rate * 1'000'000'000, o);
  for (SeriesCheck& c : checks) {
    dictionary.name(c.name);
    auto failed = rows.errors.find({c.name.station, c.name.point, c.name.item});
    if (failed != rows.errors.end())
      c = SeriesCheck{.name = c.name, .expected = c.expected, .log = c.log, .error = failed->second};
  }
  Table table = checks_table(checks, o.incomplete_below);
  fs::create_directories(out);
  write_csv(table, out / "series.csv");

  PageFacts facts{.request = o.method + " · " + o.station,
                  .period = period,
                  .type = o.type,
                  .rate = o.rate,
                  .made_at = format_timestamp(local_now(), "%Y-%m-%d %H:%M"),
                  .version = TREMORA_VERSION};
  std::set<std::string> stations, points, items;
  for (const SeriesCheck& c : checks)
    stations.insert(c.name.station), points.insert(c.name.station + "/" + c.name.point), items.insert(c.name.item);
  facts.stations = stations.size(), facts.points = points.size(), facts.items = items.size();
  ReviewOptions drawn = o;  // Kp fetched once for every chart; an unreadable catalogue left out
  drawn.geomag_data = period_kp(period, o, facts);
  drawn.geomag = drawn.geomag_data.has_value();
  if (!period_quakes(period, o, plotter.stations_table, stations, facts)) drawn.quakecat.reset();
  for (const std::string& item : items) {
    Table of_item = rows.rows.num_rows() ? rows_with_text(rows.rows, qzdata::kItemId, item) : Table();
    if (of_item.num_rows() == 0) continue;
    tsplot::PlotResult result = plotter.plot_by_items(of_item, {.prefix = "item_",
                                                                .keep_figures = true,
                                                                .show_mean = true,
                                                                .show_std = true,
                                                                .figure_format = "svg",
                                                                .figures_dir = out,
                                                                .quakecat_dir = drawn.quakecat,
                                                                .quakecat_filters = drawn.quake_filters,
                                                                .show_geomag = drawn.geomag,
                                                                .geomag_data = drawn.geomag_data});
    std::vector<std::string> files;
    for (std::size_t i = 0; i < result.saved.size(); ++i) files.push_back(fmt::format("item_{}_{}.svg", item, i + 1));
    facts.item_charts.emplace_back(item, files);
  }
  for (std::size_t i = 0; i < checks.size(); ++i) {
    const SeriesName& n = checks[i].name;
    if (checks[i].flags(o.incomplete_below).empty()) continue;
    Table own = rows.rows.num_rows()
                    ? rows_with_text(rows_with_text(rows_with_text(rows.rows, qzdata::kStationId, n.station),
                                                    qzdata::kPointId, n.point),
                                     qzdata::kItemId, n.item)
                    : Table();
    std::string prefix = fmt::format("series_{}_{}_", n.station, n.point);
    std::string file;
    if (own.num_rows()) {
      tsplot::PlotResult r = plotter.plot_by_items(
          own, {.prefix = prefix, .show_mean = true, .show_std = true, .figure_format = "svg", .figures_dir = out});
      if (r.figure) file = prefix + n.item + "_1.svg";
    }
    facts.series_charts.emplace_back(i, file);
  }
  std::string page = review_page(facts, checks, table, o.incomplete_below);
  write_file_atomically(out / "index.html", [&](std::ostream& s) { s << page; });
  return table;
}

}  // namespace tremora::review
