// The mathematical notation of labels: "$…$" parts with superscripts,
// subscripts, Greek letters and a few symbols, turned into Pango markup.
#pragma once

#include <string>

namespace tremora::chart {

/// True when the text holds a pair of unescaped "$".
bool has_math(const std::string& text);

/// Pango markup for a text at `size` points: plain parts escaped, math
/// parts in STIX with italic letters, raised and lowered scripts at 0.7 of
/// the size, "-" as a minus sign. std::invalid_argument naming an unknown
/// command or an unbalanced group.
std::string math_markup(const std::string& text, double size);

}  // namespace tremora::chart
