// Drawing options given by name, as the plotting functions pass them on.
#include <cmath>

#include "markers.hpp"
#include "tremora/chart.hpp"
#include "tremora/errors.hpp"

namespace tremora::chart {
namespace {

template <typename T>
const T& value_as(const std::string& name, const StyleValue& value, const char* kind) {
  if (const T* v = std::get_if<T>(&value)) return *v;
  throw TypeError("drawing option '" + name + "' must be " + kind);
}

double number(const std::string& name, const StyleValue& value) {
  double v = value_as<double>(name, value, "a number");
  if (!std::isfinite(v)) throw std::invalid_argument("drawing option '" + name + "' must be finite");
  return v;
}

const std::string& text(const std::string& name, const StyleValue& value) {
  return value_as<std::string>(name, value, "a text");
}

LineStyle line_style(const std::string& code) {
  if (code == "-" || code == "solid") return LineStyle::Solid;
  if (code == "--" || code == "dashed") return LineStyle::Dashed;
  if (code == ":" || code == "dotted") return LineStyle::Dotted;
  if (code == "-." || code == "dashdot") return LineStyle::DashDot;
  if (code == "None" || code == "none" || code.empty() || code == " ") return LineStyle::None;
  throw std::invalid_argument("unknown line style '" + code + "'");
}

}  // namespace

std::vector<std::string> apply_style_options(Style& target, const StyleOptions& options) {
  // Set on a copy, so that a bad option leaves the caller's style as it was.
  Style style = target;
  std::vector<std::string> unknown;
  for (const auto& [name, value] : options) {
    if (name == "color") style.color = parse_color(text(name, value));
    else if (name == "linewidth") style.linewidth = number(name, value);
    else if (name == "edgecolor") style.edgecolor = parse_color(text(name, value));
    else if (name == "linestyle") style.linestyle = line_style(text(name, value));
    else if (name == "alpha") style.alpha = number(name, value);
    else if (name == "markersize") style.markersize = number(name, value);
    else if (name == "label") style.label = text(name, value);
    else if (name == "zorder") style.zorder = int(std::lround(number(name, value)));
    else if (name == "marker") {
      const std::string& code = text(name, value);
      if (!code.empty() && code != "None" && !is_marker(code))
        throw std::invalid_argument("unknown marker '" + code + "'");
      style.marker = code == "None" ? "" : code;
    } else {
      unknown.push_back(name);
    }
  }
  target = style;
  return unknown;
}

std::vector<std::string> apply_text_options(TextStyle& target, const StyleOptions& options) {
  TextStyle style = target;
  std::optional<double> alpha;
  std::vector<std::string> unknown;
  for (const auto& [name, value] : options) {
    if (name == "color") {
      double a = style.color.a;
      style.color = parse_color(text(name, value));
      style.color.a = a;
    } else if (name == "alpha") {
      alpha = number(name, value);
    } else if (name == "fontsize" || name == "size") {
      style.size = number(name, value);
    } else if (name == "family" || name == "fontfamily") {
      style.family = text(name, value);
    } else if (name == "weight" || name == "fontweight") {
      const std::string& w = text(name, value);
      if (w != "normal" && w != "bold") throw std::invalid_argument("unknown font weight '" + w + "'");
      style.weight = w;
    } else if (name == "style" || name == "fontstyle") {
      const std::string& s = text(name, value);
      if (s != "normal" && s != "italic" && s != "oblique")
        throw std::invalid_argument("unknown font style '" + s + "'");
      style.italic = s != "normal";
    } else {
      unknown.push_back(name);
    }
  }
  if (alpha) style.color.a = *alpha;
  target = style;
  return unknown;
}

std::vector<std::string> apply_arrow_options(Arrow& target, const StyleOptions& options) {
  Arrow arrow = target;
  std::vector<std::string> unknown;
  for (const auto& [name, value] : options) {
    if (name == "arrowstyle") {
      const std::string& s = text(name, value);
      if (s != "->" && s != "<-" && s != "<->" && s != "-|>" && s != "-")
        throw std::invalid_argument("unknown arrow style '" + s + "' (use ->, <-, <->, -|> or -)");
      arrow.style = s;
    } else if (name == "color") {
      arrow.color = parse_color(text(name, value));
    } else if (name == "linewidth" || name == "lw") {
      arrow.linewidth = number(name, value);
    } else {
      unknown.push_back(name);
    }
  }
  target = arrow;
  return unknown;
}

}  // namespace tremora::chart
