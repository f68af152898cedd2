// The decorations of a series panel (title, unit label, y ticks, statistics
// lines, annotations) and the saving of a finished figure.
#include <fmt/format.h>

#include "plot_support.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/plotkit.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"

namespace tremora::tsplot {
namespace {

using logger_config::plotting_logger;

// Units shown in their usual notation; the first rule whose text the unit
// contains wins.
std::string unit_label(const std::string& unit) {
  if (contains(unit, "ms")) return "$ 10^{-3} $角秒";
  if (contains(unit, "10-10")) return "应变/$ 10^{-10} $";
  if (contains(unit, "10-9")) return "应变/$ 10^{-9} $";
  return unit;
}

// A statistics line's style from the stats_style keys with the prefix
// ("mean_" or "std_").
chart::Style line_style(const std::map<std::string, chart::StyleValue>& stats, const std::string& prefix,
                        const std::string& label) {
  chart::Style style{.label = label};
  chart::apply_style_options(style, {{"color", stats.at(prefix + "color")},
                                     {"linestyle", stats.at(prefix + "linestyle")},
                                     {"alpha", stats.at(prefix + "alpha")},
                                     {"linewidth", stats.at(prefix + "linewidth")}});
  return style;
}

void warn_unknown(const std::vector<std::string>& names, const char* what) {
  for (const auto& name : names) plotting_logger.warning(fmt::format("unknown {} option '{}' was ignored", what, name));
}

}  // namespace

std::string Multiplier::text() const { return whole ? fmt::format("{}", int64_t(value)) : python_float_text(value); }

void TSPlotter::_setup_axis(chart::Axes& ax, const std::string& title, const std::string& unit,
                            const std::vector<double>& y_ticks, bool invert_y, const std::string& xlabel) const {
  ax.set_title(title, plotkit::text_style(plotkit::font_title));
  if (!unit.empty()) ax.set_ylabel(unit_label(unit), plotkit::text_style(plotkit::font_unit));
  if (!y_ticks.empty()) ax.set_yticks(y_ticks);
  if (invert_y) ax.invert_yaxis();
  ax.set_xlabel(xlabel, plotkit::text_style(plotkit::font_xlabel));
}

void add_statistics_lines(chart::Axes& ax, const plotkit::Stats& stats,
                          const std::map<std::string, chart::StyleValue>& style, bool show_mean, bool show_std,
                          Multiplier multiplier) {
  if (show_mean) ax.axhline(stats.at("mean"), line_style(style, "mean_", "Mean"));
  if (!show_std) return;
  ax.axhline(stats.at("upper_limit"), line_style(style, "std_", fmt::format("+{}σ", multiplier.text())));
  ax.axhline(stats.at("lower_limit"), line_style(style, "std_", fmt::format("-{}σ", multiplier.text())));
}

std::optional<plotkit::Stats> line_statistics(const Table& data, bool show_mean, bool show_std, Multiplier multiplier) {
  const Column& values = data.column(qzdata::kObsValue);
  if (!show_mean && !show_std) return std::nullopt;
  if (data.num_rows() == 0 || values.null_count() == values.size()) return std::nullopt;
  return plotkit::calculate_stats(data, qzdata::kObsValue, multiplier.value);
}

void TSPlotter::_add_statistics(chart::Axes& ax, const Table& data, bool show_mean, bool show_std,
                                Multiplier multiplier) const {
  if (auto stats = line_statistics(data, show_mean, show_std, multiplier))
    add_statistics_lines(ax, *stats, stats_style, show_mean, show_std, multiplier);
}

void TSPlotter::_add_annotations(chart::Axes& ax, const std::vector<Annotation>& annotations) const {
  for (const Annotation& a : annotations) {
    chart::TextStyle style;
    warn_unknown(chart::apply_text_options(style, a.props), "annotation text");
    std::optional<chart::Arrow> arrow;
    if (!a.arrowprops.empty()) {
      arrow.emplace();
      warn_unknown(chart::apply_arrow_options(*arrow, a.arrowprops), "annotation arrow");
    }
    ax.annotate(a.text, chart::to_days(a.x), a.y,
                chart::TextPlacement{a.xytext.first, a.xytext.second, chart::text_coords_of(a.textcoords)}, style,
                arrow);
  }
}

void TSPlotter::_save_figure(chart::Figure& fig, const std::string& filename, const std::string& format, double dpi,
                             const std::filesystem::path& folder) const {
  std::string name = filename + "." + format;
  if (folder == "figures") {
    plotkit::create_figures_folder();
    fig.save(std::filesystem::path("./figures") / name, dpi);
    plotting_logger.info("Figure " + name + " has been saved to current folder.");
    return;
  }
  std::filesystem::create_directories(folder);
  fig.save(folder / name, dpi);
  plotting_logger.info("Figure " + name + " has been saved to " + folder.string() + ".");
}

}  // namespace tremora::tsplot
