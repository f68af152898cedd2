// Marker shapes for scatter marks and the points of lines.
#pragma once

#include <cairo.h>

#include <string>

namespace tremora::chart {

/// True for the marker codes drawn: "o" circle, "." point, "," pixel,
/// "s" square, "^" "v" "<" ">" triangles, "D" diamond, "d" thin diamond,
/// "p" pentagon, "h" hexagon, "*" star, "+" plus, "x" cross, "|" and "_".
bool is_marker(const std::string& code);

/// True for the markers that are outlines only ("+", "x", "|", "_").
bool is_line_marker(const std::string& code);

/// Adds the outline of one marker centred at (x, y) to the path; `size` is
/// its width in points (the square around a circle). Filled markers are
/// closed sub-paths; line markers are open strokes.
void add_marker_path(cairo_t* cr, const std::string& code, double x, double y, double size);

/// Fills (filled markers) and strokes with a 1 pt edge the marker path in
/// the current source, then clears the path.
void finish_markers(cairo_t* cr, const std::string& code);

}  // namespace tremora::chart
