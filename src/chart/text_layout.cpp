#include "text_layout.hpp"

#include "mathtext.hpp"

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

// How far below the first line's baseline each line's baseline lies.
std::vector<double> line_offsets(PangoLayout* layout) {
  std::vector<double> out;
  PangoLayoutIter* it = pango_layout_get_iter(layout);
  double first = double(pango_layout_iter_get_baseline(it)) / PANGO_SCALE;
  do out.push_back(double(pango_layout_iter_get_baseline(it)) / PANGO_SCALE - first);
  while (pango_layout_iter_next_line(it));
  pango_layout_iter_free(it);
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

TextExtent measure_text(cairo_t* cr, const std::string& text, const TextStyle& style) {
  return extent_of(make_layout(cr, text, style).get());
}

void draw_text(cairo_t* cr, const std::string& text, const TextStyle& style, double x, double y, HAlign h, VAlign v,
               double rotation) {
  if (text.empty()) return;
  const Color& color = style.color;
  LayoutPtr layout = make_layout(cr, text, style);
  TextExtent e = extent_of(layout.get());
  double dx = h == HAlign::Left ? 0 : h == HAlign::Center ? -e.width / 2 : -e.width;
  // "center_baseline": the anchor halfway between the baseline and the top of the ascent.
  PangoFontMetrics* metrics = pango_context_get_metrics(pango_layout_get_context(layout.get()),
                                                        pango_layout_get_font_description(layout.get()), nullptr);
  double ascent = double(pango_font_metrics_get_ascent(metrics)) / PANGO_SCALE;
  pango_font_metrics_unref(metrics);
  double dy = v == VAlign::Top        ? 0
              : v == VAlign::Baseline ? -e.baseline
              : v == VAlign::Bottom   ? -e.height
                                      : -e.baseline + ascent / 2;
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_rotate(cr, -rotation * M_PI / 180);
  if (capturing) {
    double bx = dx, by = dy + e.baseline;
    cairo_user_to_device(cr, &bx, &by);
    capturing->texts_.push_back({text, style, families(style), bx, by, rotation, line_offsets(layout.get())});
    cairo_restore(cr);
    return;
  }
  cairo_move_to(cr, dx, dy);
  cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a);
  pango_cairo_show_layout(cr, layout.get());
  cairo_restore(cr);
}

}  // namespace tremora::chart
