// The plotter object: the dictionary tables it keeps, the style of the
// statistics lines, and the clean-up of caller-supplied drawing options.
#include "tremora/fetching.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/tsplot.hpp"

namespace tremora::tsplot {

using logger_config::plotting_logger;

TSPlotter::TSPlotter(std::shared_ptr<db::Connection> connection, const PlotterOptions& o)
    : conn(std::move(connection)) {
  metastash::TimeseriesInfo info = fetching::timeseries_info(conn.get(), o.metadata_dir, o.refresh_metadata);
  stations_table = std::move(info.stations);
  points_table = std::move(info.points);
  items_table = std::move(info.items);
  stats_style = {{"mean_color", o.mean_color},         {"std_color", o.std_color},
                 {"mean_linestyle", o.mean_linestyle}, {"std_linestyle", o.std_linestyle},
                 {"mean_alpha", o.mean_alpha},         {"std_alpha", o.std_alpha},
                 {"mean_linewidth", o.mean_linewidth}, {"std_linewidth", o.std_linewidth}};
}

void TSPlotter::set_stats_style(const NamedOptions& options) {
  for (const auto& [name, value] : options) {
    auto it = stats_style.find(name);
    if (it == stats_style.end()) {
      plotting_logger.warning("未知的统计线样式参数: " + name);
      continue;
    }
    it->second = value;
  }
}

std::string TSPlotter::_get_plot_type(std::size_t index, const std::string& plot_type,
                                      const std::optional<std::vector<std::string>>& plot_types) const {
  if (plot_types && index < plot_types->size()) return (*plot_types)[index];
  return plot_type;
}

chart::StyleOptions TSPlotter::_sanitize_plot_kwargs(const chart::StyleOptions& kwargs) const {
  chart::StyleOptions options = kwargs;
  if (options.erase("remove_peaks_steps"))
    plotting_logger.warning("remove_peaks_steps is not a matplotlib plotting option; the value was ignored.");
  return options;
}

}  // namespace tremora::tsplot
