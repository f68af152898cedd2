#include "text_layout.hpp"

#include "mathtext.hpp"
#include "tremora/text.hpp"

#include <pango/pangocairo.h>

#include <cmath>
#include <memory>

namespace tremora::chart {
namespace {

struct LayoutDeleter {
  void operator()(PangoLayout* l) const { g_object_unref(l); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, LayoutDeleter>;

// The families of a text: its own, or the "font.serif" setting, then the
// fonts that are sure to be there.
std::string families(const TextStyle& style) {
  if (!style.family.empty()) return style.family + ", Noto Serif CJK SC, DejaVu Serif, serif";
  auto configured = setting("font.serif");
  if (auto list = configured ? std::get_if<std::vector<std::string>>(&*configured) : nullptr) {
    std::string out;
    for (const auto& f : *list) out += f + ", ";
    return out + "Noto Serif CJK SC, DejaVu Serif, serif";
  }
  return kTextFamilies;
}

// A layout whose sizes are in points (one point per Cairo unit).
LayoutPtr make_layout(cairo_t* cr, const std::string& text, const TextStyle& style) {
  double size = style.size;
  LayoutPtr layout(pango_cairo_create_layout(cr));
  pango_cairo_context_set_resolution(pango_layout_get_context(layout.get()), 72);
  pango_layout_context_changed(layout.get());
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, families(style).c_str());
  pango_font_description_set_weight(font, style.weight == "bold" ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(font, style.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font);
  pango_font_description_free(font);
  if (has_math(text)) {
    std::string markup = math_markup(text, size);
    pango_layout_set_markup(layout.get(), markup.c_str(), int(markup.size()));
  } else {
    pango_layout_set_text(layout.get(), text.c_str(), int(text.size()));
  }
  return layout;
}

TextExtent extent_of(PangoLayout* layout) {
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  TextExtent e;
  e.width = double(logical.width) / PANGO_SCALE;
  e.height = double(logical.height) / PANGO_SCALE;
  e.baseline = double(pango_layout_get_baseline(layout)) / PANGO_SCALE;
  return e;
}

thread_local TextCapture* capturing = nullptr;

// The ascent and descent of a line of text as matplotlib sets them: the
// height of its ink above and below the baseline, at least those of "lp"
// in the same font.
std::pair<double, double> ink_ascent_descent(cairo_t* cr, PangoLayout* layout, const TextStyle& style) {
  auto of = [](PangoLayout* l) {
    PangoRectangle ink;
    pango_layout_get_extents(l, &ink, nullptr);
    double baseline = pango_layout_get_baseline(l);
    return std::pair{(baseline - ink.y) / PANGO_SCALE, (ink.y + ink.height - baseline) / PANGO_SCALE};
  };
  auto [a, d] = of(layout);
  auto [a_lp, d_lp] = of(make_layout(cr, "lp", style).get());
  return {std::max(a, a_lp), std::max(d, d_lp)};
}

// The lines of a text of several lines, set as matplotlib sets them: each
// line aligned on its own as `h` says, the baseline of each below the one
// above by that line's descent plus 1.2 times the ascent of the line below
// it; `v` places the block (with "baseline" the last line's baseline is on
// the anchor). The start of each line's baseline from the anchor; `box`,
// when given, gets the block's box (its baseline that of the last line).
std::vector<std::pair<double, double>> set_lines(cairo_t* cr, const std::vector<std::string>& lines,
                                                 const TextStyle& style, HAlign h, VAlign v,
                                                 TextExtent* box = nullptr) {
  constexpr double kLineSpacing = 1.2;
  std::vector<std::pair<double, double>> out;
  double first_ascent = 0, last_descent = 0, widest = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    LayoutPtr layout = make_layout(cr, lines[i].empty() ? " " : lines[i], style);
    auto [a, d] = ink_ascent_descent(cr, layout.get(), style);
    double w = lines[i].empty() ? 0 : extent_of(layout.get()).width;
    widest = std::max(widest, w);
    double x = h == HAlign::Left ? 0 : h == HAlign::Center ? -w / 2 : -w;
    if (i == 0) first_ascent = a, out.push_back({x, 0});
    else out.push_back({x, out.back().second + last_descent + kLineSpacing * a});
    last_descent = d;
  }
  double last = out.back().second;
  if (box) *box = {widest, first_ascent + last + last_descent, first_ascent + last};
  double shift = v == VAlign::Baseline ? -last
                 : v == VAlign::Top    ? first_ascent
                 : v == VAlign::Bottom ? -last - last_descent
                                       : (first_ascent - last) / 2;  // the block's middle on the anchor
  for (auto& line : out) line.second += shift;
  return out;
}

}  // namespace

HAlign halign_of(const std::string& s) {
  if (s == "left") return HAlign::Left;
  if (s == "center") return HAlign::Center;
  if (s == "right") return HAlign::Right;
  throw std::invalid_argument("unknown horizontal alignment '" + s + "' (left, center, right)");
}

VAlign valign_of(const std::string& s) {
  if (s == "baseline") return VAlign::Baseline;
  if (s == "top") return VAlign::Top;
  if (s == "center" || s == "center_baseline") return VAlign::CenterBaseline;
  if (s == "bottom") return VAlign::Bottom;
  throw std::invalid_argument("unknown vertical alignment '" + s +
                              "' (top, center, center_baseline, baseline, bottom)");
}

TextCoords text_coords_of(const std::string& s) {
  if (s == "offset points") return TextCoords::OffsetPoints;
  if (s == "data") return TextCoords::Data;
  if (s == "axes fraction") return TextCoords::AxesFraction;
  throw std::invalid_argument("unknown text coordinates '" + s + "' (offset points, data, axes fraction)");
}

TextCapture::TextCapture() : outer_(capturing) { capturing = this; }
TextCapture::~TextCapture() { capturing = outer_; }

int unknown_glyphs(const std::string& text, double size) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
  cairo_t* cr = cairo_create(surface);
  int unknown = pango_layout_get_unknown_glyphs_count(make_layout(cr, text, TextStyle{.size = size}).get());
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return unknown;
}

void draw_text_lines(cairo_t* cr, const std::string& text, const TextStyle& style, double x, double y, HAlign h,
                     VAlign v, double rotation) {
  std::vector<std::string> lines;
  for (std::string_view line : split(text, '\n')) lines.emplace_back(line);
  std::vector<std::pair<double, double>> at = set_lines(cr, lines, style, h, v);
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_rotate(cr, -rotation * M_PI / 180);
  if (capturing) {
    // One text of several lines, each a span at its own start.
    PlacedText placed{text, style, families(style), at[0].first, at[0].second, rotation, {}, {}};
    for (const auto& [lx, ly] : at)
      placed.line_offsets.push_back(ly - at[0].second), placed.line_x.push_back(lx - at[0].first);
    cairo_user_to_device(cr, &placed.x, &placed.y);
    capturing->texts_.push_back(std::move(placed));
  } else {
    for (std::size_t i = 0; i < lines.size(); ++i)
      draw_text(cr, lines[i], style, at[i].first, at[i].second, HAlign::Left, VAlign::Baseline, 0);
  }
  cairo_restore(cr);
}

// A text's box as matplotlib sets it: as wide as the text's advance, from
// the top of its ascent to the bottom of its descent (ink, at least that of
// "lp"), its baseline that of the last line.
TextExtent measure_text(cairo_t* cr, const std::string& text, const TextStyle& style) {
  if (text.find('\n') != std::string::npos) {
    std::vector<std::string> lines;
    for (std::string_view line : split(text, '\n')) lines.emplace_back(line);
    TextExtent box;
    set_lines(cr, lines, style, HAlign::Left, VAlign::Baseline, &box);
    return box;
  }
  LayoutPtr layout = make_layout(cr, text, style);
  auto [a, d] = ink_ascent_descent(cr, layout.get(), style);
  return {extent_of(layout.get()).width, a + d, a};
}

void draw_text(cairo_t* cr, const std::string& text, const TextStyle& style, double x, double y, HAlign h, VAlign v,
               double rotation) {
  if (text.empty()) return;
  if (text.find('\n') != std::string::npos) return draw_text_lines(cr, text, style, x, y, h, v, rotation);
  const Color& color = style.color;
  LayoutPtr layout = make_layout(cr, text, style);
  TextExtent e = extent_of(layout.get());
  double dx = h == HAlign::Left ? 0 : h == HAlign::Center ? -e.width / 2 : -e.width;
  // The box of "top" and "bottom" is the text's ascent and descent as
  // matplotlib measures them; "center_baseline" puts the anchor halfway
  // between the baseline and the top of the ascent. `dy` is where the
  // layout's top goes, e.baseline below it its baseline.
  auto [ascent, descent] = ink_ascent_descent(cr, layout.get(), style);
  double dy = v == VAlign::Top        ? ascent - e.baseline
              : v == VAlign::Baseline ? -e.baseline
              : v == VAlign::Bottom   ? -descent - e.baseline
                                      : ascent / 2 - e.baseline;
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_rotate(cr, -rotation * M_PI / 180);
  if (capturing) {
    double bx = dx, by = dy + e.baseline;
    cairo_user_to_device(cr, &bx, &by);
    capturing->texts_.push_back({text, style, families(style), bx, by, rotation, {}, {}});
    cairo_restore(cr);
    return;
  }
  cairo_move_to(cr, dx, dy);
  cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a);
  pango_cairo_show_layout(cr, layout.get());
  cairo_restore(cr);
}

}  // namespace tremora::chart
