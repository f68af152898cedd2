// The quakes command: marks the catalogue events near a station.
#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "commands.hpp"
#include "tremora/quakecat.hpp"
#include "tremora/text.hpp"

namespace tremora::cli {
namespace {

// Two numbers "A<separator>B", or nothing.
std::optional<std::pair<double, double>> number_pair(std::string_view text, char separator) {
  std::vector<std::string_view> parts = split(text, separator);
  if (parts.size() != 2) return std::nullopt;
  auto first = parse_decimal(parts[0]), second = parse_decimal(parts[1]);
  if (!first || !second) return std::nullopt;
  return std::pair{*first, *second};
}

quakecat::Station parse_station(const std::string& text) {
  auto position = number_pair(text, ',');
  bool on_earth = position && std::abs(position->first) <= 90 && std::isfinite(position->second);
  if (!on_earth) throw std::invalid_argument("--station '" + text + "' is not LAT,LON in decimal degrees");
  return {position->first, position->second};
}

}  // namespace

std::vector<quakecat::Filter> parse_filters(const std::string& text) {
  std::vector<quakecat::Filter> filters;
  for (std::string_view part : split(text, ',')) {
    auto pair = number_pair(part, ':');
    if (!pair) throw std::invalid_argument("--filters '" + text + "': '" + std::string(part) + "' is not KM:MAGNITUDE");
    filters.push_back({pair->first, pair->second});
  }
  return filters;
}

namespace {

std::string one_decimal(double value) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(1) << value;
  return out.str();
}

void list_flagged(const Table& marked, std::size_t events_read, const std::string& catalogue) {
  const auto& flags = marked.column("flag").int64s();
  std::size_t flagged = std::count(flags.begin(), flags.end(), 1);
  std::cout << catalogue << ": " << events_read << " events, " << marked.num_rows() << " after 1970, " << flagged
            << " flagged\n";
  const Column& names = marked.column("name");
  for (std::size_t i = 0; i < marked.num_rows(); ++i) {
    if (flags[i] != 1) continue;
    std::cout << format_timestamp(Timestamp{marked.key().int64s()[i]}) << "  Ml"
              << python_float_text(marked.column("magnitude").float64s()[i]) << "  "
              << one_decimal(marked.column("distance").float64s()[i]) << " km  " << names.text(i) << '\n';
  }
}

}  // namespace

void add_quakes(CLI::App& app) {
  struct Args {
    std::string catalogue, station, filters, out;
  };
  auto a = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("quakes", "Mark the catalogue earthquakes near a station");
  cmd->add_option("CATALOGUE", a->catalogue, "Fixed-column earthquake catalogue file")->required();
  cmd->add_option("--station", a->station, "Station position LAT,LON in decimal degrees")->required();
  cmd->add_option("--filters", a->filters, "Filters KM:MAGNITUDE,...: events closer than KM with at least MAGNITUDE")
      ->default_str("300:3");
  cmd->add_option("--out", a->out, "Write the marked table to this .csv or .parquet file instead of listing");
  set_examples(cmd, {"tremora quakes sample-catalogue.txt --station 34.61,118.35 --filters 200:3,300:4"});
  cmd->callback([a] {
    refuse_same_files({{"CATALOGUE", a->catalogue}}, {{"--out", a->out}});
    quakecat::Station station = parse_station(a->station);
    std::optional<quakecat::Filters> filters;
    if (!a->filters.empty()) filters = parse_filters(a->filters);
    Table events = quakecat::read_quakecat(a->catalogue);
    Table marked = quakecat::filtered_quakecats(events, station, filters);
    if (a->out.empty()) return list_flagged(marked, events.num_rows(), a->catalogue);
    write_and_report(marked, a->out);
  });
}

}  // namespace tremora::cli
