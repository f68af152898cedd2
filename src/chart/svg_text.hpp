// Texts of an SVG file written as SVG text elements (selectable and
// editable) instead of glyph outlines.
#pragma once

#include <string>
#include <vector>

#include "text_layout.hpp"

namespace tremora::chart {

/// SVG <text> elements for captured texts, moved by (dx, dy) points. Math
/// parts ("$…$") become nested tspans with their fonts, sizes and raised
/// or lowered scripts; texts of several lines one tspan per line.
std::string svg_text_elements(const std::vector<PlacedText>& texts, double dx, double dy);

/// Puts `elements` just before the closing "</svg>" of an SVG document.
void insert_before_svg_end(std::string& svg, const std::string& elements);

}  // namespace tremora::chart
