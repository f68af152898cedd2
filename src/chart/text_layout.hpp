// Text on a Cairo context through Pango: measured and drawn in points, with
// fontconfig's per-glyph fallback so that Chinese always renders.
#pragma once

#include <cairo.h>

#include <string>

#include "tremora/chart.hpp"

namespace tremora::chart {

/// The preferred text fonts, the Chinese ones first.
inline constexpr const char* kTextFamilies = "STSong, SimSun, DengXian, Times New Roman, Noto Serif CJK SC, DejaVu Serif, serif";

enum class HAlign { Left, Center, Right };
enum class VAlign { Top, CenterBaseline, Baseline, Bottom };

struct TextExtent {
  double width = 0, height = 0, baseline = 0;  // points; baseline from the top
};

TextExtent measure_text(cairo_t* cr, const std::string& text, const TextStyle& style);
inline TextExtent measure_text(cairo_t* cr, const std::string& text, double size) {
  return measure_text(cr, text, TextStyle{.size = size});
}

/// The number of characters of `text` that no available font can show.
int unknown_glyphs(const std::string& text, double size = 12);

/// Draws text anchored at (x, y); `rotation` in degrees counter-clockwise
/// turns the text about the anchor after alignment.
void draw_text(cairo_t* cr, const std::string& text, const TextStyle& style, double x, double y, HAlign h, VAlign v,
               double rotation = 0);
inline void draw_text(cairo_t* cr, const std::string& text, double size, double x, double y, HAlign h, VAlign v,
                      const Color& color = {}, double rotation = 0) {
  draw_text(cr, text, TextStyle{.size = size, .color = color}, x, y, h, v, rotation);
}

}  // namespace tremora::chart
