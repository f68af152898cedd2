// The annual command: the same season of every year of a table in one chart.
#include <iostream>

#include "commands.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"
#include "tremora/yearplot.hpp"

namespace tremora::cli {
namespace {

// "12x8": width and height in inches.
std::pair<double, double> figure_size(const std::string& text) {
  std::vector<std::string_view> parts = split(text, 'x');
  std::optional<double> w, h;
  if (parts.size() == 2) w = parse_decimal(parts[0]), h = parse_decimal(parts[1]);
  if (!w || !h || !(*w > 0) || !(*h > 0))
    throw std::invalid_argument("--figsize '" + text + "' is not WIDTHxHEIGHT in inches");
  return {*w, *h};
}

}  // namespace

void add_annual(CLI::App& app) {
  struct Args {
    std::string table, figsize = "12x8";
    bool no_grid = false;
    yearplot::AnnualOptions o;
  };
  auto a = std::make_shared<Args>();
  yearplot::AnnualOptions& o = a->o;
  CLI::App* cmd = app.add_subcommand("annual", "Lay every year of a table over one month-day axis");
  cmd->add_option("TABLE", a->table, "Observation table (.csv or .parquet; STARTDATE, OBSVALUE)")->required();
  cmd->add_option("--out", o.output_file, "Image file, under ./figures/ (png, svg or pdf by its extension)");
  cmd->add_flag("--subtract-mean", o.subtract_mean, "Draw each year minus its mean");
  cmd->add_flag("--invert-y", o.invert_y, "Larger values downwards");
  cmd->add_option("--y-label", o.y_label, "Label of the y axis");
  cmd->add_option("--dpi", o.dpi, "Resolution of the image");
  cmd->add_option("--figsize", a->figsize, "Width x height in inches");
  cmd->add_flag("--no-grid", a->no_grid, "Leave out the grid");
  cmd->add_option("--station-name", o.station_name, "Leads the title");
  cmd->add_option("--direction", o.direction, "Follows the station name in the title");
  cmd->add_option("--rolling-window", o.rolling_window, "Rows of the moving average");
  set_examples(cmd, {"tremora annual data/water_days_2022_2024.parquet --station-name 郯城 --y-label \"水位 (m)\" "
                     "--out tancheng_years.png"});
  cmd->callback([a] {
    yearplot::AnnualOptions o = a->o;
    o.figsize = figure_size(a->figsize);
    o.grid = !a->no_grid;
    Table t = read_observation_file(a->table);
    read_observation_types(t);
    t.set_key(qzdata::kStartDate);
    // The chart's save is guarded: its messages say whether it was written.
    // A failed save was logged as an error, which standard error always
    // shows, so the failure's own line does not repeat it.
    logger_config::LogCapture capture;
    yearplot::plot_annual_comparison(t, o);
    for (const auto& r : capture.records()) {
      if (r.message.rfind("Error saving chart: ", 0) == 0)
        throw std::runtime_error("the chart was not written (see the message above)");
      if (r.message.rfind("Annual comparison chart saved as: ", 0) == 0)
        std::cout << "wrote " << r.message.substr(std::string("Annual comparison chart saved as: ").size()) << '\n';
    }
  });
}

}  // namespace tremora::cli
