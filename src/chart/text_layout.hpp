// Text on a Cairo context through Pango: measured and drawn in points, with
// fontconfig's per-glyph fallback so that Chinese always renders.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "tremora/chart.hpp"

namespace tremora::chart {

/// The preferred text fonts, the Chinese ones first.
inline constexpr const char* kTextFamilies =
    "STSong, SimSun, DengXian, Times New Roman, Noto Serif CJK SC, DejaVu Serif, serif";

struct TextExtent {
  double width = 0, height = 0, baseline = 0;  // points; baseline from the top
};

/// The box matplotlib gives a text: its advance wide, from the top of its
/// ascent to the bottom of its descent (of its ink, at least those of "lp"
/// in its font); the baseline that of its last line.
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

/// Draws a text of several lines (draw_text does for texts with a line break).
void draw_text_lines(cairo_t* cr, const std::string& text, const TextStyle& style, double x, double y, HAlign h,
                     VAlign v, double rotation);

/// A text as draw_text would have set it: the start of its baseline in
/// device units, its turn in degrees counter-clockwise, its style and the
/// font families it asks for.
struct PlacedText {
  std::string text;
  TextStyle style;
  std::string families;
  double x = 0, y = 0, rotation = 0;
  /// The baseline of each line below the first one's, for texts of several lines.
  std::vector<double> line_offsets;
  /// The start of each line right of the first one's.
  std::vector<double> line_x;
};

/// While one exists, draw_text on this thread records its texts here
/// instead of drawing them (an SVG file then writes them as text).
class TextCapture {
 public:
  TextCapture();
  ~TextCapture();
  TextCapture(const TextCapture&) = delete;
  TextCapture& operator=(const TextCapture&) = delete;
  const std::vector<PlacedText>& texts() const { return texts_; }

 private:
  friend void draw_text(cairo_t*, const std::string&, const TextStyle&, double, double, HAlign, VAlign, double);
  friend void draw_text_lines(cairo_t*, const std::string&, const TextStyle&, double, double, HAlign, VAlign, double);
  std::vector<PlacedText> texts_;
  TextCapture* outer_;
};

}  // namespace tremora::chart
