// The plot command: stacked-panel charts of an observation table, by item
// or by station, written under ./figures/.
#include <nlohmann/json.hpp>

#include <fstream>
#include <iostream>

#include "commands.hpp"
#include "tremora/errors.hpp"
#include "tremora/fetching.hpp"
#include "tremora/files.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"
#include "tremora/tsplot.hpp"

namespace tremora::cli {
namespace {

using json = nlohmann::json;

struct PlotArgs {
  std::string table, db, metadata_dir, plot_types, std_multiplier = "2.0", quakecat, filters, start, end;
  std::string geomag_file, rainfall, annotations;
  bool no_set_zero = false, geomag = false;
  tsplot::PlotOptions o;
};

// The plotter with the dictionary tables of the alias's metadata cache (or
// of the folder given): through the connection when one can be opened, else
// from the cache folder of the alias's HOST.
tsplot::TSPlotter plotter_for(const PlotArgs& a) {
  if (a.db.empty()) return tsplot::TSPlotter(nullptr, {.metadata_dir = a.metadata_dir});
  if (auto conn = fetching::conn_to_Oracle(a.db)) return tsplot::TSPlotter(conn, {.metadata_dir = a.metadata_dir});
  return tsplot::TSPlotter(nullptr, {.metadata_dir = offline_cache_dir(a.db, a.metadata_dir)});
}

// 3 as a whole number of deviations, 2.0 or 2.5 as written.
tsplot::Multiplier multiplier(const std::string& text) {
  auto whole = parse_integer(text);
  if (whole) return tsplot::Multiplier(*whole);
  auto value = parse_decimal(text);
  if (!value) throw std::invalid_argument("--std-multiplier '" + text + "' is not a number");
  return tsplot::Multiplier(*value);
}

// A value of an annotation's option map.
chart::StyleValue option_value(const std::string& file, const std::string& key, const json& v) {
  if (v.is_boolean()) return v.get<bool>();
  if (v.is_number()) return v.get<double>();
  if (v.is_string()) return v.get<std::string>();
  throw std::invalid_argument(file + ": option '" + key + "' is not a number, text or truth value");
}

chart::StyleOptions options_of(const std::string& file, const json& map) {
  chart::StyleOptions out;
  if (!map.is_object()) throw std::invalid_argument(file + ": an option map is not a JSON object");
  for (const auto& [key, v] : map.items()) out[key] = option_value(file, key, v);
  return out;
}

const json& field(const std::string& file, const json& entry, const char* key) {
  if (!entry.contains(key)) throw KeyError(file + ": an annotation has no \"" + key + "\"");
  return entry.at(key);
}

tsplot::Annotation annotation_of(const std::string& file, const json& e) {
  tsplot::Annotation a{.text = field(file, e, "text").get<std::string>(),
                       .x = parse_date_text(field(file, e, "x").get<std::string>()).wall,
                       .y = field(file, e, "y").get<double>()};
  if (e.contains("xytext")) a.xytext = {e["xytext"].at(0).get<double>(), e["xytext"].at(1).get<double>()};
  if (e.contains("textcoords")) a.textcoords = e["textcoords"].get<std::string>();
  if (e.contains("arrowprops")) a.arrowprops = options_of(file, e["arrowprops"]);
  if (e.contains("props")) a.props = options_of(file, e["props"]);
  return a;
}

// {"ITEM": {"STATION_POINT": [{"text": ..., "x": "2024-05-10 12:00", "y": 0.5, ...}]}}
tsplot::Annotations read_annotations(const std::string& file) {
  json doc;
  try {
    doc = json::parse(read_file(file));
  } catch (const json::exception& e) {
    throw std::invalid_argument(file + ": not JSON: " + e.what());
  }
  tsplot::Annotations out;
  try {
    for (const auto& [item, by_series] : doc.items())
      for (const auto& [series, entries] : by_series.items())
        for (const auto& e : entries) out[item][series].push_back(annotation_of(file, e));
  } catch (const json::exception& e) {
    throw std::invalid_argument(file + ": " + e.what());
  }
  return out;
}

Table keyed_observations(const std::string& path) {
  Table t = read_observation_file(path);
  read_observation_types(t);
  t.set_key(qzdata::kStartDate);
  return t;
}

void run_plot(PlotArgs& a) {
  refuse_same_files({{"TABLE", a.table}, {"--rainfall", a.rainfall}, {"--quakecat", a.quakecat}}, {});
  tsplot::PlotOptions& o = a.o;
  o.set_zero = !a.no_set_zero;
  o.std_multiplier = multiplier(a.std_multiplier);
  if (!a.plot_types.empty()) {
    o.plot_types.emplace();
    for (std::string_view t : split(a.plot_types, ',')) o.plot_types->emplace_back(strip_whitespace(t));
  }
  if (!a.quakecat.empty()) o.quakecat_dir = a.quakecat;
  if (!a.filters.empty()) o.quakecat_filters = parse_filters(a.filters);
  if (!a.start.empty()) o.start_time = a.start;
  if (!a.end.empty()) o.end_time = a.end;
  o.show_geomag = a.geomag || !a.geomag_file.empty();
  if (!a.geomag_file.empty()) o.geomag_data = geomag::read_kp_file(a.geomag_file);
  if (!a.rainfall.empty()) o.rainfall = keyed_observations(a.rainfall);
  if (!a.annotations.empty()) o.annotations = read_annotations(a.annotations);
  Progress progress("plot", 3);
  progress.step("reading " + a.table);
  Table ts = keyed_observations(a.table);
  progress.step("loading the dictionary tables");
  tsplot::TSPlotter plotter = plotter_for(a);
  // The figures written, as the plotter reports them.
  logger_config::LogCapture capture;
  progress.step("drawing");
  tsplot::PlotResult r = plotter.plot(ts, o);
  progress.finish();
  std::size_t written = 0;
  for (const auto& rec : capture.records()) {
    if (rec.logger != "plotting") continue;
    if (rec.message.rfind("Figure ", 0) == 0) {
      std::string name = rec.message.substr(7, rec.message.find(" has been saved") - 7);
      std::cout << "wrote figures/" << name << '\n';
      ++written;
    } else if (rec.level >= logger_config::Level::warning && rec.level < logger_config::level()) {
      std::cerr << "tremora: " << rec.message << '\n';  // a cause the log level kept from standard error
    }
  }
  if (!r.figure) throw std::runtime_error("no chart was made (see the messages above)");
  std::cout << counted(written, "figure") << " in figures/\n";
}

}  // namespace

void add_plot(CLI::App& app) {
  auto a = std::make_shared<PlotArgs>();
  tsplot::PlotOptions& o = a->o;
  CLI::App* cmd = app.add_subcommand("plot", "Stacked-panel charts of an observation table, by item or by station");
  cmd->add_option("TABLE", a->table,
                  "Observation table (.csv or .parquet; STARTDATE, STATIONID, POINTID, ITEMID, OBSVALUE)")
      ->required();
  cmd->add_option("--groupby", o.groupby, "item or station");
  cmd->add_option("--db", a->db, "Database alias whose metadata cache names stations and items");
  cmd->add_option("--metadata-dir", a->metadata_dir, "Folder of the metadata cache (instead of ~/.tremo/metastash)");
  cmd->add_option("--prefix", o.prefix, "Put in front of every file name");
  cmd->add_option("--fig-label", o.fig_label, "Put into every file name");
  cmd->add_flag("--no-set-zero", a->no_set_zero, "Draw the values as they are, not centred on their mid-range");
  cmd->add_option("--subplots", o.number_of_subplots, "Most series per figure (by item)");
  cmd->add_flag("--invert-y", o.invert_y, "Larger values downwards");
  cmd->add_flag("--reindex", o.reindex, "Put each series on a regular time grid (gaps stay empty)");
  cmd->add_option("--fig-height", o.fig_height, "Height of one panel in inches");
  cmd->add_option("--plot-type", o.plot_type, "line, stem or scatter");
  cmd->add_option("--plot-types", a->plot_types, "Styles by panel position, as line,stem,scatter");
  cmd->add_flag("--show-mean", o.show_mean, "Draw the mean line");
  cmd->add_flag("--show-std", o.show_std, "Draw the lines at the mean ± the multiplier's standard deviations");
  cmd->add_option("--std-multiplier", a->std_multiplier, "Standard deviations of the band");
  cmd->add_option("--format", o.figure_format, "png, svg or pdf");
  cmd->add_option("--quakecat", a->quakecat, "Earthquake catalogue whose events near each station are marked");
  cmd->add_option("--filters", a->filters, "Catalogue filters KM:MAGNITUDE,... (300:3 when not given)");
  cmd->add_option("--start", a->start, "First time shown (2024-05-01, 2024-05-01T08:00, ...)");
  cmd->add_option("--end", a->end, "Last time shown");
  cmd->add_option("--xlabel", o.xlabel, "Label of the time axis");
  cmd->add_flag("--geomag", a->geomag, "Add a panel of the Kp index (from the GFZ service)");
  cmd->add_option("--geomag-file", a->geomag_file, "Kp file for that panel instead of the service (implies --geomag)");
  cmd->add_option("--tz", o.time_timezone, "Time zone of the chart's clock");
  cmd->add_flag("--daily", o.daily_mean_values, "By station: one value per day, the daily median");
  cmd->add_option("--rainfall", a->rainfall, "By station: a rainfall table (STARTDATE, OBSVALUE) drawn as bars");
  cmd->add_option("--annotations", a->annotations, "JSON file {ITEM: {STATION_POINT: [{text, x, y, ...}]}}");
  set_examples(cmd,
               {"tremora plot data/water_minutes.parquet --db sample --show-mean --show-std --quakecat "
                "sample-catalogue.txt --geomag-file Kp_def2024.wdc --prefix example_",
                "tremora plot data/tancheng_hours.parquet --db sample --groupby station --daily --prefix example_"});
  cmd->callback([a] { run_plot(*a); });
}

}  // namespace tremora::cli
