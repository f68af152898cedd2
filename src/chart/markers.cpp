#include "markers.hpp"

#include <cmath>
#include <utility>
#include <vector>

namespace tremora::chart {
namespace {

using Point = std::pair<double, double>;  // unit shape coordinates, y upwards

// A closed polygon through the points, scaled by `size` about (x, y).
void polygon(cairo_t* cr, const std::vector<Point>& pts, double x, double y, double size) {
  cairo_new_sub_path(cr);
  for (const auto& [px, py] : pts) cairo_line_to(cr, x + px * size, y - py * size);
  cairo_close_path(cr);
}

// The corners of a regular polygon (or, with an inner radius, a star) of
// radius 0.5 with a corner pointing up.
std::vector<Point> regular(int corners, double inner = 0) {
  std::vector<Point> pts;
  int steps = inner > 0 ? 2 * corners : corners;
  for (int k = 0; k < steps; ++k) {
    double r = inner > 0 && k % 2 ? inner : 0.5, a = M_PI / 2 + 2 * M_PI * k / steps;
    pts.emplace_back(r * std::cos(a), r * std::sin(a));
  }
  return pts;
}

std::vector<Point> turned(std::vector<Point> pts, double quarter_turns) {
  double a = quarter_turns * M_PI / 2, c = std::cos(a), s = std::sin(a);
  for (auto& p : pts) p = Point{p.first * c - p.second * s, p.first * s + p.second * c};
  return pts;
}

const std::vector<Point> kTriangleUp{{0, 0.5}, {-0.5, -0.5}, {0.5, -0.5}};
const std::vector<Point> kSquare{{-0.5, -0.5}, {0.5, -0.5}, {0.5, 0.5}, {-0.5, 0.5}};
const double kHalfDiagonal = std::sqrt(0.5);
const std::vector<Point> kDiamond{{0, -kHalfDiagonal}, {kHalfDiagonal, 0}, {0, kHalfDiagonal}, {-kHalfDiagonal, 0}};

void segment(cairo_t* cr, double x0, double y0, double x1, double y1) {
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
}

}  // namespace

bool is_marker(const std::string& code) {
  static const std::string kCodes[] = {"o", ".", ",", "s", "^", "v", "<", ">", "D",
                                       "d", "p", "h", "*", "+", "x", "|", "_"};
  for (const auto& c : kCodes)
    if (c == code) return true;
  return false;
}

bool is_line_marker(const std::string& code) { return code == "+" || code == "x" || code == "|" || code == "_"; }

void add_marker_path(cairo_t* cr, const std::string& code, double x, double y, double size) {
  double h = size / 2;
  if (code == "o" || code == ".") {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, code == "o" ? h : h / 2, 0, 2 * M_PI);
  } else if (code == ",") {
    double w = 1, unused = 1;  // one device pixel
    cairo_device_to_user_distance(cr, &w, &unused);
    cairo_rectangle(cr, x - w / 2, y - w / 2, w, w);
  } else if (code == "s") {
    polygon(cr, kSquare, x, y, size);
  } else if (code == "^" || code == "v" || code == "<" || code == ">") {
    double turns = code == "^" ? 0 : code == "<" ? 1 : code == "v" ? 2 : 3;
    polygon(cr, turned(kTriangleUp, turns), x, y, size);
  } else if (code == "D" || code == "d") {
    std::vector<Point> pts = kDiamond;
    if (code == "d")
      for (auto& p : pts) p.first *= 0.6;
    polygon(cr, pts, x, y, size);
  } else if (code == "p" || code == "h" || code == "*") {
    polygon(cr, code == "p" ? regular(5) : code == "h" ? regular(6) : regular(5, 0.5 * 0.381966), x, y, size);
  } else if (code == "+" || code == "|" || code == "_") {
    if (code != "_") segment(cr, x, y - h, x, y + h);
    if (code != "|") segment(cr, x - h, y, x + h, y);
  } else if (code == "x") {
    segment(cr, x - h, y - h, x + h, y + h);
    segment(cr, x - h, y + h, x + h, y - h);
  }
}

void finish_markers(cairo_t* cr, const std::string& code) {
  cairo_set_dash(cr, nullptr, 0, 0);
  cairo_set_line_width(cr, 1);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  if (code == ",") return cairo_fill(cr);  // a pixel has no edge
  if (!is_line_marker(code)) cairo_fill_preserve(cr);
  cairo_stroke(cr);
}

}  // namespace tremora::chart
