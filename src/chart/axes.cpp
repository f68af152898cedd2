// The panel's methods that add marks and set its axes, title and legend:
// each mark made with its kind (marks.cpp), data and style.
#include <cmath>
#include <stdexcept>
#include <string>

#include "markers.hpp"
#include "panel.hpp"
#include "text_layout.hpp"

namespace tremora::chart {
namespace {

// The default colour cycle, "C0" to "C9".
const char* const kCycle[] = {"C0", "C1", "C2", "C3", "C4", "C5", "C6", "C7", "C8", "C9"};

}  // namespace

Axes::Axes() = default;
Axes::~Axes() = default;

std::shared_ptr<Axes::Mark> Axes::add(std::shared_ptr<Mark> m) {
  m->order = marks_.size();
  marks_.push_back(m);
  return m;
}

Color Axes::next_line_color() { return parse_color(kCycle[cycle_++ % 10]); }
Color Axes::next_patch_color() { return parse_color(kCycle[patch_cycle_++ % 10]); }

namespace {

std::shared_ptr<Axes::Mark> make(const MarkKind& kind, std::vector<double> x, std::vector<double> y, const Style& s,
                                 const char* what) {
  if (x.size() != y.size())
    throw std::invalid_argument(std::string(what) + ": x has " + std::to_string(x.size()) + " values, y " +
                                std::to_string(y.size()));
  auto m = std::make_shared<Axes::Mark>();
  m->kind = &kind;
  m->x = std::move(x);
  m->y = std::move(y);
  m->style = s;
  if (!s.marker.empty() && !is_marker(s.marker))
    throw std::invalid_argument(std::string(what) + ": unknown marker '" + s.marker + "'");
  return m;
}

}  // namespace

void Axes::plot(std::vector<double> x, std::vector<double> y, const Style& style) {
  auto m = add(make(mark_kind("line"), std::move(x), std::move(y), style, "plot"));
  m->color = style.color.value_or(next_line_color());
}

void Axes::plot_float32(std::vector<double> x, std::vector<float> y, const Style& style) {
  if (x.size() != y.size())
    throw std::invalid_argument("plot: x has " + std::to_string(x.size()) + " values, y " + std::to_string(y.size()));
  auto m = make(mark_kind("line"), {}, {}, style, "plot");
  m->x = std::move(x);
  m->y32 = std::move(y);
  add(m)->color = style.color.value_or(next_line_color());
}

void Axes::axhline(double y, const Style& style) {
  auto m = add(make(mark_kind("hline"), {0}, {y}, style, "axhline"));
  m->color = style.color.value_or(parse_color("C0"));
}

void Axes::axvline(double x, const Style& style) {
  auto m = add(make(mark_kind("vline"), {x}, {0}, style, "axvline"));
  m->color = style.color.value_or(parse_color("C0"));
}

void Axes::axvspan(double x0, double x1, const Style& style) {
  auto m = add(make(mark_kind("vspan"), {x0, x1}, {0, 0}, style, "axvspan"));
  m->style.zorder = style.zorder == 2 ? 1 : style.zorder;
  m->color = style.color.value_or(next_patch_color());
}

void Axes::stem(std::vector<double> x, std::vector<double> y, const Style& style) {
  auto m = add(make(mark_kind("stem"), std::move(x), std::move(y), style, "stem"));
  m->color = style.color.value_or(next_line_color());
}

void Axes::scatter(std::vector<double> x, std::vector<double> y, std::vector<double> areas, const Style& style) {
  auto m = add(make(mark_kind("scatter"), std::move(x), std::move(y), style, "scatter"));
  m->sizes = std::move(areas);
  m->style.zorder = style.zorder == 2 ? 1 : style.zorder;
  m->color = style.color.value_or(next_patch_color());
}

void Axes::bar(std::vector<double> x, std::vector<double> heights, double width, const Style& style,
               const std::string& align) {
  if (align != "center" && align != "edge")
    throw std::invalid_argument("bar: unknown alignment '" + align + "' (use center or edge)");
  auto m = add(make(mark_kind("bar"), std::move(x), std::move(heights), style, "bar"));
  m->width = width;
  m->edge_aligned = align == "edge";
  m->style.zorder = style.zorder == 2 ? 1 : style.zorder;
  m->color = style.color.value_or(next_patch_color());
}

void Axes::bar(const std::vector<std::string>& categories, std::vector<double> heights, double width,
               const Style& style) {
  std::vector<double> x;
  for (std::size_t i = 0; i < categories.size(); ++i) x.push_back(double(i));
  x_ticks_.categories = categories;
  bar(std::move(x), std::move(heights), width, style);
}

void Axes::fill_between(std::vector<double> x, std::vector<double> y, double level, const Style& style) {
  auto m = add(make(mark_kind("fill"), std::move(x), std::move(y), style, "fill_between"));
  m->level = level;
  m->style.zorder = style.zorder == 2 ? 1 : style.zorder;
  m->color = style.color.value_or(next_patch_color());
}

namespace {

// The text of a text mark; words sit above the other marks and are black
// unless a colour is given.
void set_words(Axes::Mark& m, const std::string& text, double size, const Style& style) {
  m.text = text;
  m.text_style.size = size;
  m.style.zorder = style.zorder == 2 ? 3 : style.zorder;
  m.color = style.color.value_or(Color{});
}

// The same for a text in its own style (colour and opacity included).
void set_words(Axes::Mark& m, const std::string& text, const TextStyle& style) {
  m.text = text;
  m.text_style = style;
  m.style.zorder = 3;
  m.color = style.color;
}

}  // namespace

void Axes::legend(const TextStyle& style, const std::string& title, double frame_alpha, const std::string& location) {
  static const std::map<std::string, std::pair<double, double>> places = {
      {"upper left", {0, 0}},    {"upper right", {1, 0}},    {"lower left", {0, 1}},
      {"lower right", {1, 1}},   {"upper center", {0.5, 0}}, {"lower center", {0.5, 1}},
      {"center left", {0, 0.5}}, {"center right", {1, 0.5}}, {"center", {0.5, 0.5}}};
  auto place = places.find(location);
  if (place == places.end()) throw std::invalid_argument("unknown legend location '" + location + "'");
  legend_ = true, legend_style_ = style, legend_title_ = title, legend_alpha_ = frame_alpha;
  std::tie(legend_fx_, legend_fy_) = place->second;
}

void Axes::set_xtick_rotation(double degrees, const std::string& halign) {
  x_ticks_.rotation = degrees, x_ticks_.halign = halign_of(halign);
}

void Axes::text(double x, double y, const std::string& text, double size, const std::string& halign,
                const std::string& valign, bool panel_coords, const Style& style) {
  HAlign h = halign_of(halign);  // an unknown alignment fails here, before the mark is added
  VAlign va = valign_of(valign);
  auto m = add(make(mark_kind("text"), {x}, {y}, style, "text"));
  set_words(*m, text, size, style);
  m->halign = h;
  m->valign = va;
  m->panel_coords = panel_coords;
}

void Axes::annotate(const std::string& text, double x, double y, double dx_pt, double dy_pt, double size, bool arrow,
                    const Style& style) {
  auto m = add(make(mark_kind("annotation"), {x}, {y}, style, "annotate"));
  set_words(*m, text, size, style);
  m->placement = TextPlacement{dx_pt, dy_pt};
  if (arrow) m->arrow = Arrow{};
}

void Axes::annotate(const std::string& text, double x, double y, const TextPlacement& at, const TextStyle& style,
                    const std::optional<Arrow>& arrow) {
  auto m = add(make(mark_kind("annotation"), {x}, {y}, {}, "annotate"));
  set_words(*m, text, style);
  m->placement = at;
  m->arrow = arrow;
}

void Axes::text(double x, double y, const std::string& text, const TextStyle& style, const std::string& halign,
                const std::string& valign, bool panel_coords) {
  HAlign h = halign_of(halign);  // an unknown alignment fails here, before the mark is added
  VAlign va = valign_of(valign);
  auto m = add(make(mark_kind("text"), {x}, {y}, {}, "text"));
  set_words(*m, text, style);
  m->halign = h;
  m->valign = va;
  m->panel_coords = panel_coords;
}

void Axes::set_xticks(std::vector<double> ticks, std::vector<std::string> labels) {
  if (!labels.empty() && labels.size() != ticks.size())
    throw std::invalid_argument("set_xticks: " + std::to_string(ticks.size()) + " ticks but " +
                                std::to_string(labels.size()) + " labels");
  x_ticks_.fixed = std::move(ticks);
  x_ticks_.fixed_labels = std::move(labels);
}

void Axes::set_yticks(std::vector<double> ticks) { y_ticks_.fixed = std::move(ticks); }

Axes* Axes::twinx() {
  if (!twin_) {
    twin_ = std::make_unique<Axes>();
    twin_->is_twin_ = true;
  }
  return twin_.get();
}

}  // namespace tremora::chart
