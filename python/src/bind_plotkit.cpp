// tremora.plotkit: the chart style, the font settings, statistics, the
// figures folder, step codes and the regular time grid; and the chart
// objects (Figure, Axes) every plotter hands back.
#include <algorithm>

#include "args.hpp"
#include "chart_objects.hpp"
#include "doc_plotkit.hpp"
#include "plot_args.hpp"
#include "tremora/plotkit.hpp"
#include "tremora/qzdata.hpp"

namespace tremora::python {
namespace {

const char* const kFontKeys[] = {"family", "color", "weight", "size"};

py::dict font_dict(const plotkit::FontSpec& font) {
  py::dict out;
  if (font.family) out["family"] = *font.family;
  if (font.color) out["color"] = *font.color;
  if (font.weight) out["weight"] = *font.weight;
  if (font.size) out["size"] = *font.size;
  return out;
}

std::optional<std::string> optional_text(const py::dict& d, const char* key, const char* argument) {
  if (!d.contains(key) || d[key].is_none()) return std::nullopt;
  return cast_arg<std::string>(d[key], (std::string(argument) + "['" + key + "']").c_str(), "a str");
}

plotkit::FontSpec font_arg(py::handle value, const char* argument) {
  if (!py::isinstance<py::dict>(value)) wrong_kind(value, argument, "a dict of font settings");
  auto d = value.cast<py::dict>();
  for (auto [key, v] : d)
    if (std::find(std::begin(kFontKeys), std::end(kFontKeys), py::str(key).cast<std::string>()) == std::end(kFontKeys))
      throw py::value_error(std::string(argument) + ": unknown font setting " + std::string(py::repr(key)) +
                            " (family, color, weight, size)");
  plotkit::FontSpec font{optional_text(d, "family", argument), optional_text(d, "color", argument),
                         optional_text(d, "weight", argument), std::nullopt};
  if (d.contains("size") && !d["size"].is_none()) font.size = cast_arg<double>(d["size"], argument, "sizes in points");
  return font;
}

// A text style from a dict as text_style returns it (a colour may also be
// given by name).
chart::TextStyle base_style_arg(py::handle value) {
  chart::TextStyle base;
  if (value.is_none()) return base;
  if (!py::isinstance<py::dict>(value)) wrong_kind(value, "base", "a dict of text-style settings");
  auto d = value.cast<py::dict>();
  if (d.contains("size")) base.size = cast_arg<double>(d["size"], "base['size']", "a number");
  if (d.contains("family")) base.family = cast_arg<std::string>(d["family"], "base['family']", "a str");
  if (d.contains("weight")) base.weight = cast_arg<std::string>(d["weight"], "base['weight']", "a str");
  if (d.contains("italic")) base.italic = cast_arg<bool>(d["italic"], "base['italic']", "a bool");
  if (d.contains("color")) {
    py::object c = d["color"];
    if (py::isinstance<py::str>(c)) {
      base.color = chart::parse_color(c.cast<std::string>());
    } else {
      auto rgba = cast_arg<std::vector<double>>(c, "base['color']", "a colour name or (r, g, b, a)");
      if (rgba.size() != 4) throw py::value_error("base['color'] must have four components (r, g, b, a)");
      base.color = {rgba[0], rgba[1], rgba[2], rgba[3]};
    }
  }
  return base;
}

py::dict stats_dict(const plotkit::Stats& stats) {
  py::dict out;
  for (const auto& [key, value] : stats.entries) out[key.c_str()] = value;
  return out;
}

std::vector<int64_t> times_arg(py::handle value) {
  py::object index;
  try {
    index = py::module_::import("pandas").attr("DatetimeIndex")(value);
  } catch (const py::error_already_set&) {
    wrong_kind(value, "times", "a sequence of date-times");
  }
  return index.attr("asi8").cast<std::vector<int64_t>>();
}

}  // namespace

void bind_plotkit(py::module_& m) {
  bind_chart_objects(m);

  m.attr("font_title") = font_dict(plotkit::font_title);
  m.attr("font_xlabel") = font_dict(plotkit::font_xlabel);
  m.attr("font_unit") = font_dict(plotkit::font_unit);
  m.attr("font_suptitle") = font_dict(plotkit::font_suptitle);
  m.attr("legend_font") = font_dict(plotkit::legend_font);
  m.attr("id_to_freq") = py::cast(plotkit::id_to_freq());

  m.def("apply_chart_style", &plotkit::apply_chart_style, doc::apply_chart_style);

  m.def(
      "text_style",
      [](py::object font, py::object base) {
        return text_style_dict(plotkit::text_style(font_arg(font, "font"), base_style_arg(base)));
      },
      "font"_a, "base"_a = py::none(), doc::text_style);

  m.def("create_figures_folder", &plotkit::create_figures_folder, LongWork(), doc::create_figures_folder);

  m.def(
      "calculate_stats",
      [](const FrameObject& df, const std::string& column, double multiplier) {
        Table table = from_dataframe(df.object, "df");
        return stats_dict(without_gil([&] { return plotkit::calculate_stats(table, column, multiplier); }));
      },
      "df"_a, "column"_a = qzdata::kObsValue, "multiplier"_a = 2.0, doc::calculate_stats);

  m.def(
      "get_freq_str", [](py::object timedelta) { return plotkit::get_freq_str(duration_arg(timedelta, "timedelta")); },
      "timedelta"_a, doc::get_freq_str);

  m.def(
      "most_frequent_step", [](py::object times) { return plotkit::most_frequent_step(times_arg(times)); }, "times"_a,
      doc::most_frequent_step);

  m.def(
      "reindex_df_by_interval",
      [](const FrameObject& df) {
        Table table = from_dataframe(df.object, "df");
        return without_gil([&] { return plotkit::reindex_df_by_interval(table); });
      },
      "df"_a, doc::reindex_df_by_interval);
}

}  // namespace tremora::python
