// What can be measured of drawn charts: files, sizes, pixel colours.
#include <cairo.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>

#include "panel.hpp"
#include "png_encoder.hpp"
#include "test_support.hpp"
#include "text_layout.hpp"
#include "tremora/chart.hpp"
#include "tremora/errors.hpp"

namespace tremora::chart {
namespace {

// Red, green, blue (0..255) of a pixel of an image surface.
std::array<int, 3> rgb(cairo_surface_t* s, int x, int y) {
  uint32_t v;
  std::memcpy(&v, cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s) + 4 * x, 4);
  return {int((v >> 16) & 255), int((v >> 8) & 255), int(v & 255)};
}

struct Image {
  cairo_surface_t* s;
  explicit Image(const std::filesystem::path& p) : s(cairo_image_surface_create_from_png(p.c_str())) {}
  ~Image() { cairo_surface_destroy(s); }
  int width() const { return cairo_image_surface_get_width(s); }
  int height() const { return cairo_image_surface_get_height(s); }
  std::array<int, 3> at(int x, int y) const { return rgb(s, x, y); }
  bool white_row(int y) const {
    for (int x = 0; x < width(); ++x)
      if (at(x, y) != std::array<int, 3>{255, 255, 255}) return false;
    return true;
  }
};

TEST(Colors, NamesHexGreyAndViridis) {
  EXPECT_EQ(parse_color("r"), (Color{1, 0, 0, 1}));
  EXPECT_EQ(parse_color("green"), (Color{0, 128 / 255.0, 0, 1}));
  EXPECT_EQ(parse_color("g"), (Color{0, 0.5, 0, 1}));
  EXPECT_EQ(parse_color("y"), (Color{0.75, 0.75, 0, 1}));
  EXPECT_EQ(parse_color("#ff000080").a, 128 / 255.0);
  EXPECT_EQ(parse_color("0.8"), (Color{0.8, 0.8, 0.8, 1}));
  EXPECT_EQ(parse_color("C3"), parse_color("#d62728"));
  try {
    parse_color("reddish");
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("'reddish'"), std::string::npos);
  }
  auto hex = [](const Color& c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", int(std::lround(c.r * 255)), int(std::lround(c.g * 255)),
                  int(std::lround(c.b * 255)));
    return std::string(buf);
  };
  EXPECT_EQ(hex(viridis(0)), "#440154");
  EXPECT_EQ(hex(viridis(1.0 / 3)), "#31688e");
  EXPECT_EQ(hex(viridis(2.0 / 3)), "#35b779");
  EXPECT_EQ(hex(viridis(1)), "#fde725");
  EXPECT_EQ(hex(viridis(-1)), "#440154");
  EXPECT_EQ(hex(viridis(2)), "#fde725");
}

TEST(Text, ChineseAndLatinFindFonts) {
  EXPECT_EQ(unknown_glyphs("郯城 水位 直流单装置地电阻率 Ω·m"), 0);
  EXPECT_EQ(unknown_glyphs("+2.0σ 2024-May"), 0);
}

TEST(Figure, FormatsCropAndARedLineWhereItBelongs) {
  testing::TempDir dir;
  Figure f(4, 3);
  Axes* a = f.subplots(1)[0];
  a->plot({0, 1, 2, 3}, {1, 2, 1, 2}, {.color = parse_color("k")});
  a->set_ylim(0, 10);
  a->axhline(5, {.color = parse_color("r"), .linewidth = 2});
  a->set_title("郯城");
  f.save(dir / "c.png", 100);
  Image img(dir / "c.png");
  EXPECT_EQ(std::make_pair(img.width(), img.height()), f.last_pixel_size());
  // 0.1 inch of white around the drawing, at 100 dpi about 10 pixels.
  int first = 0;
  while (first < img.height() && img.white_row(first)) ++first;
  EXPECT_GE(first, 9);
  EXPECT_LE(first, 13);
  // The left frame line: the leftmost long dark vertical run.
  int spine_x = -1, top = 0, bottom = 0;
  for (int x = 0; x < img.width() && bottom - top <= 100; ++x) {
    int run = 0, best = 0, end = 0;
    for (int y = 0; y < img.height(); ++y) {
      auto p = img.at(x, y);
      run = p[0] < 160 && p[1] < 160 && p[2] < 160 ? run + 1 : 0;
      if (run > best) best = run, end = y;
    }
    if (best > bottom - top) spine_x = x, top = end - best + 1, bottom = end;
  }
  ASSERT_GT(bottom - top, 100);
  // A row of red pixels halfway up the frame: y = 5 of 0..10.
  int red_row = -1, most = 0;
  for (int y = top; y <= bottom; ++y) {
    int red = 0;
    for (int x = spine_x; x < img.width(); ++x) {
      auto p = img.at(x, y);
      red += p[0] > 200 && p[1] < 60 && p[2] < 60;
    }
    if (red > most) most = red, red_row = y;
  }
  EXPECT_GT(most, 200);
  EXPECT_NEAR(red_row, (top + bottom) / 2.0, 2.5);
  // Vector formats, and a name the layer does not know.
  f.save(dir / "c.svg");
  f.save(dir / "c.pdf");
  EXPECT_NE(testing::read_text(dir / "c.svg").find("<svg"), std::string::npos);
  EXPECT_EQ(testing::read_text(dir / "c.pdf").substr(0, 5), "%PDF-");
  EXPECT_EQ(testing::read_text(dir / "c.png").substr(1, 3), "PNG");
  try {
    f.save(dir / "c.jpg");
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("'.jpg'"), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "c.jpg"));
  // Twice the resolution, twice the pixels.
  f.save(dir / "c2.png", 200);
  EXPECT_NEAR(f.last_pixel_size().first, 2 * img.width(), 2);
}

}  // namespace
}  // namespace tremora::chart

#include "mathtext.hpp"

namespace tremora::chart {
namespace {

TEST(MathText, ScriptsGreekAndErrors) {
  EXPECT_FALSE(has_math("+2.0σ"));
  EXPECT_TRUE(has_math("$ 10^{-3} $角秒"));
  std::string m = math_markup("$ 10^{-3} $角秒", 12);
  EXPECT_NE(m.find("10<span size=\"8602\" rise=\"4339\">\u22123</span>"), std::string::npos) << m;
  EXPECT_NE(m.find("</span>角秒"), std::string::npos) << m;
  std::string sub = math_markup("$x_{i}$", 12);
  EXPECT_NE(sub.find("rise=\"-1627\""), std::string::npos) << sub;
  EXPECT_NE(sub.find("<i>x</i>"), std::string::npos);
  EXPECT_NE(math_markup("$\\sigma$", 12).find("<i>σ</i>"), std::string::npos);
  EXPECT_NE(math_markup("a<b $\\Delta$", 12).find("a&lt;b"), std::string::npos);
  EXPECT_THROW(math_markup("$\\frobnicate$", 12), std::invalid_argument);
  EXPECT_THROW(math_markup("$10^{-3$", 12), std::invalid_argument);
  EXPECT_EQ(unknown_glyphs("$ 10^{-3} $角秒"), 0);
}

}  // namespace
}  // namespace tremora::chart

namespace tremora::chart {
namespace {

// The row (in pixels) with most pixels near the given colour.
int row_of_colour(const std::filesystem::path& png, std::array<int, 3> want) {
  Image im(png);
  int best = -1, most = 0;
  for (int y = 0; y < im.height(); ++y) {
    int n = 0;
    for (int x = 0; x < im.width(); ++x) {
      auto c = im.at(x, y);
      n += std::abs(c[0] - want[0]) < 40 && std::abs(c[1] - want[1]) < 40 && std::abs(c[2] - want[2]) < 40;
    }
    if (n > most) most = n, best = y;
  }
  return best;
}

TEST(Figure, InvertedAxisTransparencyAndTickChecks) {
  testing::TempDir dir;
  Figure f(4, 3);
  Axes* a = f.subplots(1)[0];
  a->plot({0, 1}, {0, 10}, {.color = parse_color("k")});
  a->set_ylim(0, 10);
  a->axhline(8, {.color = parse_color("r"), .linewidth = 2});
  f.save(dir / "up.png", 100);
  int up = row_of_colour(dir / "up.png", {255, 0, 0});
  a->invert_yaxis();
  f.set_transparent();
  f.save(dir / "down.png", 100);
  int down = row_of_colour(dir / "down.png", {255, 0, 0});
  EXPECT_GT(down, up + 100);  // y = 8 moves from near the top to near the bottom
  cairo_surface_t* s = cairo_image_surface_create_from_png((dir / "down.png").c_str());
  uint32_t corner;
  std::memcpy(&corner, cairo_image_surface_get_data(s), 4);
  EXPECT_EQ(corner >> 24, 0u);  // the corner is fully transparent
  cairo_surface_destroy(s);
  EXPECT_THROW(a->set_xticks({1, 2}, {"one"}), std::invalid_argument);
  // An annotation of a point outside the panel is left out: the image stays the same.
  Figure g(4, 3);
  Axes* b = g.subplots(1)[0];
  b->plot({0, 1}, {0, 1});
  g.save(dir / "plain.png", 100);
  b->annotate("外面", 5, 5, 10, 10, 12, true);
  g.save(dir / "outside.png", 100);
  EXPECT_EQ(testing::read_text(dir / "plain.png"), testing::read_text(dir / "outside.png"));
  b->annotate("里面", 0.5, 0.5, 10, 10, 12, true);
  g.save(dir / "inside.png", 100);
  EXPECT_NE(testing::read_text(dir / "plain.png"), testing::read_text(dir / "inside.png"));
}

TEST(Figure, TightLayoutMakesRoomForLabelsBetweenPanels) {
  testing::TempDir dir;
  // The space between the panels in pixels, from lines drawn at known heights.
  auto space = [&](bool tight, const std::string& name) {
    Figure f(5, 4);
    auto axes = f.subplots(2, 0.0);
    for (Axes* a : axes) {
      a->plot({0, 1}, {0, 10}, {.color = parse_color("k")});
      a->set_ylim(0, 10);
      a->set_title("标题 Title", 14);
      a->set_xlabel("时间 Time", 12);
    }
    axes[0]->axhline(9, {.color = parse_color("g"), .linewidth = 2});
    axes[0]->axhline(1, {.color = parse_color("r"), .linewidth = 2});
    axes[1]->axhline(9, {.color = parse_color("b"), .linewidth = 2});
    if (tight) f.tight_layout();
    f.save(dir / name, 100);
    auto [w, h] = f.last_pixel_size();
    EXPECT_LE(w, 500 + 30);  // the content stays within the figure (plus the saving pad)
    EXPECT_LE(h, 400 + 30);
    double green = row_of_colour(dir / name, {0, 128, 0}), red = row_of_colour(dir / name, {255, 0, 0}),
           blue = row_of_colour(dir / name, {0, 0, 255});
    double panel = (red - green) / 0.8;
    return blue - red - 0.2 * panel;
  };
  EXPECT_NEAR(space(false, "packed.png"), 0, 3);  // no gap: the lower title runs into the upper panel
  // A 14 pt title at 100 dpi is about 20 pixels, and the pad adds about 14 more.
  double tight = space(true, "tight.png");
  EXPECT_GT(tight, 30);
  EXPECT_LT(tight, 80);
}

// Strokes a line mark on a white 400 x 200 pixel image (1 point per pixel),
// reduced per column of the given width in pixels.
// One mark drawn on a white image as large as the view's rectangle;
// `column` is the device column width of line reduction.
cairo_surface_t* drawn(const Axes::Mark& m, const PanelView& v, double column = 1) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, int(v.rect.width), int(v.rect.height));
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  draw_mark(cr, m, v, column);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  return s;
}

// A line of points 0, 1, 2, ... between -4 and 4 on a 400 x 200 image.
cairo_surface_t* stroked(const Axes::Mark& m, double column) {
  return drawn(m, PanelView{{0, 0, 400, 200}, {0, double(m.x.size())}, {-4, 4}}, column);
}

// How many pixels of two grey images differ by more than 8 levels.
int differing_pixels(cairo_surface_t* a, cairo_surface_t* b) {
  int n = 0;
  for (int y = 0; y < cairo_image_surface_get_height(a); ++y)
    for (int x = 0; x < cairo_image_surface_get_width(a); ++x) n += std::abs(rgb(a, x, y)[2] - rgb(b, x, y)[2]) > 8;
  return n;
}

TEST(Marks, ReducingALineToPixelColumnsKeepsThePicture) {
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0, 1);
  Axes::Mark m;
  for (int i = 0; i < 60000; ++i) {
    m.x.push_back(i);
    m.y.push_back(i % 7000 == 0 ? NAN : std::sin(i / 3000.0) * 2 + noise(rng));  // gaps, too
  }
  m.style.linewidth = 1;
  cairo_surface_t* full = stroked(m, 1e-9);  // every point its own column
  cairo_surface_t* reduced = stroked(m, 1);
  // 150 noisy points per pixel is the hardest case: what differs is the
  // antialiasing of the ragged band edges, where a filled column is as
  // wide as the pixel and the lone segment of a spike thinner (measured:
  // 10.5 % of the pixels).
  int differing = differing_pixels(reduced, full);
  EXPECT_LT(differing, 400 * 200 * 11 / 100);
  // A dashed line is only stroked: the kept points alone leave light
  // streaks in the band (measured: 37 %, against the same dashes unreduced).
  m.style.linestyle = LineStyle::Dashed;
  cairo_surface_t *dashed_full = stroked(m, 1e-9), *dashed = stroked(m, 1);
  EXPECT_GT(differing_pixels(dashed, dashed_full), 2 * differing);
  // A translucent line keeps its look and is no darker where the fill meets the stroke.
  m.style.linestyle = LineStyle::Solid;
  m.style.alpha = 0.5;
  cairo_surface_t *faint_full = stroked(m, 1e-9), *faint = stroked(m, 1);
  EXPECT_LT(differing_pixels(faint, faint_full), 400 * 200 / 10);
  int darkest = 255;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 400; ++x) darkest = std::min(darkest, rgb(faint, x, y)[2]);
  EXPECT_GE(darkest, 126);  // black at half opacity on white, never more
  for (auto* s : {full, reduced, dashed_full, dashed, faint_full, faint}) cairo_surface_destroy(s);

  // A smooth, steep curve of as many points keeps its stroke (and its true
  // width on the steep parts): next to no pixel differs.
  Axes::Mark smooth;
  for (int i = 0; i < 60000; ++i) smooth.x.push_back(i), smooth.y.push_back(3.5 * std::sin(i / 900.0));
  smooth.style.linewidth = 2;
  cairo_surface_t *smooth_full = stroked(smooth, 1e-9), *smooth_reduced = stroked(smooth, 1);
  EXPECT_LT(differing_pixels(smooth_reduced, smooth_full), 400 * 200 / 100);  // measured: 0.7 %
  for (auto* s : {smooth_full, smooth_reduced}) cairo_surface_destroy(s);
}

// One mark on a white 100 x 100 pt image whose data coordinates are its
// pixel coordinates (y upwards).
cairo_surface_t* drawn(const Axes::Mark& m) { return drawn(m, PanelView{{0, 0, 100, 100}, {0, 100}, {0, 100}}); }

// Red, or red blended by antialiasing into the white around it.
bool red_at(cairo_surface_t* s, int x, int y) {
  auto c = rgb(s, x, y);
  return c[0] > 200 && c[1] < c[0] - 80 && c[1] == c[2];
}
bool white_at(cairo_surface_t* s, int x, int y) { return rgb(s, x, y) == std::array<int, 3>{255, 255, 255}; }

TEST(Marks, MarkerShapesForScatterAndLines) {
  Axes::Mark m;
  m.kind = &mark_kind("scatter");
  m.x = {50}, m.y = {50}, m.sizes = {1600};  // 40 pt wide, centred at pixel (50, 50)
  m.color = parse_color("r");
  auto shape = [&](const std::string& code) {
    m.style.marker = code;
    return drawn(m);
  };
  cairo_surface_t* circle = shape("o");
  cairo_surface_t* square = shape("s");
  EXPECT_TRUE(red_at(circle, 50, 50) && red_at(square, 50, 50));
  EXPECT_TRUE(white_at(circle, 67, 67));  // 24 pt from the centre: outside the disc
  EXPECT_TRUE(red_at(square, 67, 67));    // inside the square's corner
  cairo_surface_t* up = shape("^");
  EXPECT_TRUE(red_at(up, 50, 33) && red_at(up, 33, 67) && red_at(up, 67, 67));  // apex and base corners
  EXPECT_TRUE(white_at(up, 33, 33) && white_at(up, 67, 33));
  cairo_surface_t* down = shape("v");
  EXPECT_TRUE(red_at(down, 50, 67) && white_at(down, 33, 67) && red_at(down, 33, 33));
  cairo_surface_t* cross = shape("x");
  EXPECT_TRUE(red_at(cross, 60, 60) && red_at(cross, 39, 60));      // on both diagonals
  EXPECT_TRUE(white_at(cross, 50, 35) && white_at(cross, 65, 50));  // an outline: nothing between the arms

  // A line of markers only: the points are marked, nothing joins them.
  Axes::Mark line;
  line.x = {10, 90}, line.y = {50, 50};
  line.color = parse_color("r");
  line.style.linestyle = LineStyle::None;
  line.style.marker = "o";
  line.style.markersize = 10;
  cairo_surface_t* dots = drawn(line);
  EXPECT_TRUE(red_at(dots, 10, 50) && red_at(dots, 90, 50) && red_at(dots, 13, 50));
  EXPECT_TRUE(white_at(dots, 50, 50) && white_at(dots, 17, 50));
  // Markers of a translucent noisy line are laid on in the line's colour,
  // also where they reach past the band (y 40..60; the markers at y = 60
  // reach up to 62, image row 38).
  Axes::Mark faint;
  std::mt19937 rng(3);
  for (int i = 0; i < 4000; ++i) faint.x.push_back(i / 40.0), faint.y.push_back(50 + double(rng() % 21) - 10);
  faint.color = parse_color("blue");
  faint.style.alpha = 0.5;
  faint.style.marker = "s";
  faint.style.markersize = 4;
  cairo_surface_t* band = drawn(faint);
  auto above = rgb(band, 50, 38);
  EXPECT_EQ(above[2], 255);
  EXPECT_LT(above[0], 200) << "no marker past the band";
  // Translucent markers are laid on one by one: where two overlap the
  // colour is deeper (as each marker is composited on its own), also when
  // they are drawn from one image, and at twice the resolution.
  Axes::Mark pair;
  pair.kind = &mark_kind("scatter");
  pair.x = {40, 60, 20}, pair.y = {50, 50, 20}, pair.sizes = {900};  // 30 pt wide: the first two overlap
  pair.color = parse_color("blue");
  pair.style.alpha = 0.5;
  for (double column : {1.0, 0.5}) {
    cairo_surface_t* two = drawn(pair, PanelView{{0, 0, 100, 100}, {0, 100}, {0, 100}}, column);
    auto alone = rgb(two, 20, 80), overlap = rgb(two, 50, 50);
    EXPECT_LT(overlap[0], alone[0] - 40) << column;  // less red and green: a deeper blue
    EXPECT_EQ(overlap[2], 255);
    EXPECT_TRUE(white_at(two, 20, 60));  // 40 pt above the lone marker's centre
    cairo_surface_destroy(two);
  }
  for (auto* s : {circle, square, up, down, cross, dots, band}) cairo_surface_destroy(s);

  Figure f(2, 2);
  Axes* a = f.subplots(1)[0];
  EXPECT_THROW(a->scatter({1}, {1}, {10}, {.marker = "Q"}), std::invalid_argument);
  EXPECT_THROW(a->plot({1}, {1}, {.marker = "oo"}), std::invalid_argument);
}

TEST(Marks, DrawingOptionsByName) {
  Style style;
  std::vector<std::string> unknown = apply_style_options(style, {{"color", "gray"},
                                                                 {"linewidth", 0.5},
                                                                 {"linestyle", "--"},
                                                                 {"alpha", 0.3},
                                                                 {"marker", "*"},
                                                                 {"markersize", 4.0},
                                                                 {"label", "水位"},
                                                                 {"zorder", 5.0},
                                                                 {"picker", true},
                                                                 {"drawstyle", "steps"}});
  EXPECT_EQ(unknown, (std::vector<std::string>{"drawstyle", "picker"}));
  EXPECT_EQ(style.color, parse_color("gray"));
  EXPECT_EQ(style.linewidth, 0.5);
  EXPECT_EQ(style.linestyle, LineStyle::Dashed);
  EXPECT_EQ(style.alpha, 0.3);
  EXPECT_EQ(style.marker, "*");
  EXPECT_EQ(style.markersize, 4.0);
  EXPECT_EQ(style.label, "水位");
  EXPECT_EQ(style.zorder, 5);
  apply_style_options(style, {{"linestyle", "None"}, {"marker", "None"}});
  EXPECT_EQ(style.linestyle, LineStyle::None);
  EXPECT_EQ(style.marker, "");
  EXPECT_THROW(apply_style_options(style, {{"linewidth", "thick"}}), TypeError);
  EXPECT_THROW(apply_style_options(style, {{"color", 1.0}}), TypeError);
  EXPECT_THROW(apply_style_options(style, {{"linestyle", "~~"}}), std::invalid_argument);
  EXPECT_THROW(apply_style_options(style, {{"marker", "Q"}}), std::invalid_argument);
  EXPECT_THROW(apply_style_options(style, {{"alpha", NAN}}), std::invalid_argument);
  EXPECT_THROW(apply_style_options(style, {{"alpha", 0.9}, {"color", "nocolour"}}), std::invalid_argument);
  EXPECT_EQ(style.alpha, 0.3);  // a failed call changes nothing
}

// A title that would meet the y axis's offset text ("1e-5") is raised
// above it; a short title in the middle stays where it is.
TEST(Figure, TitleClearsTheYOffsetText) {
  testing::TempDir dir;
  auto height = [&](double scale, const std::string& title, const std::string& name) {
    Figure f(4, 3);
    Axes* a = f.subplots(1)[0];
    a->plot({0, 1, 2}, {1 * scale, 3 * scale, 2 * scale});
    a->set_title(title, 12);
    f.save(dir / name, 100);
    return Image(dir / name).height();
  };
  std::string wide = "一个很长的标题，从面板左端一直写到右端为止的标题";
  int plain = height(1, wide, "plain.png"), raised = height(1e-5, wide, "raised.png");
  EXPECT_GT(raised, plain + 8) << "the title was not raised over the offset text";
  EXPECT_EQ(height(1e-5, "短", "short.png"), height(1, "短", "short_plain.png"));
}

// With "svg.fonttype" "none" an SVG file holds its texts as text elements:
// words, multi-line labels and raised scripts that a reader can select.
TEST(Figure, SvgKeepsTextsAsText) {
  testing::TempDir dir;
  auto svg_of = [&](const std::string& fonttype) {
    set_setting("svg.fonttype", fonttype);
    Figure f(4, 3);
    Axes* a = f.subplots(1)[0];
    a->plot({0, 1, 2}, {1, 3, 2});
    a->set_title("郯城 & 泰安", 12);
    a->set_ylabel("$10^{-3}$角秒", 11);
    a->text(1, 2, "A\n12.5km", 10);
    f.save(dir / "t.svg");
    return testing::read_text(dir / "t.svg");
  };
  std::string as_text = svg_of("none"), as_paths = svg_of("path");
  set_setting("svg.fonttype", std::string("none"));
  EXPECT_EQ(as_paths.find("<text"), std::string::npos);
  EXPECT_NE(as_text.find(">郯城 &amp; 泰安</text>"), std::string::npos);
  EXPECT_NE(as_text.find("rotate(-90.000)"), std::string::npos);  // the y label reads upwards
  // "-3" is raised off the baseline; "角秒" returns to it.
  std::size_t script = as_text.find("3</tspan>");  // "−3", with a minus sign
  ASSERT_NE(script, std::string::npos);
  std::size_t raised = as_text.rfind("y=\"-", script), back = as_text.find("<tspan y=\"0.000\">角秒", script);
  EXPECT_NE(raised, std::string::npos);
  EXPECT_NE(back, std::string::npos);
  // Two lines, the second one line pitch below the first.
  EXPECT_NE(as_text.find("<tspan x=\"0.000\" y=\"0.000\">A</tspan><tspan x=\"0.000\" y=\"1"), std::string::npos);
  EXPECT_LT(as_text.size(), as_paths.size());  // no glyph outlines
}

// Our PNG writer's files read back pixel for pixel, translucent ones too,
// and carry the resolution.
TEST(Png, EncodedImagesReadBack) {
  testing::TempDir dir;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 3, 2);
  const uint32_t pixels[6] = {0xffffffff, 0x80800000, 0x00000000, 0xff112233, 0x40102030, 0xff000000};
  for (int y = 0; y < 2; ++y)
    std::memcpy(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s), pixels + 3 * y, 12);
  cairo_surface_mark_dirty(s);
  for (bool opaque : {false, true}) {
    std::string png = encode_png(s, opaque, 300);
    EXPECT_EQ(png[25], opaque ? 2 : 6);  // the colour type in IHDR
    std::size_t phys = png.find("pHYs");
    ASSERT_NE(phys, std::string::npos);
    EXPECT_EQ(uint8_t(png[phys + 6]) * 256 + uint8_t(png[phys + 7]), 11811);  // 300 dpi in pixels per metre
    auto file = dir.write("p.png", png);
    Image back(file);
    ASSERT_EQ(back.width(), 3);
    for (int i = 0; i < 6; ++i) {
      uint32_t v;
      std::memcpy(
          &v, cairo_image_surface_get_data(back.s) + (i / 3) * cairo_image_surface_get_stride(back.s) + 4 * (i % 3), 4);
      uint32_t want = opaque ? (pixels[i] | 0xff000000) : pixels[i];
      EXPECT_EQ(v, want) << "pixel " << i << (opaque ? " opaque" : " translucent");
    }
  }
  cairo_surface_destroy(s);
}

TEST(Figure, LegendGoesWhereItIsAsked) {
  testing::TempDir dir;
  // Where the opaque white legend frame lies on a panel filled red: the
  // share of white pixels in each quarter of the image.
  auto white_quarters = [&](const std::string& location) {
    Figure f(4, 3);
    Axes* a = f.subplots(1)[0];
    a->fill_between({0, 1}, {1, 1}, 0, {.color = parse_color("r"), .label = "红"});
    a->set_xlim(0, 1);
    a->set_ylim(0, 1);
    a->legend({.size = 20}, "", 1, location);
    f.save(dir / "legend.png", 100);
    Image im(dir / "legend.png");
    std::array<int, 4> white{};  // upper left, upper right, lower left, lower right
    for (int y = im.height() / 6; y < im.height() * 5 / 6; ++y)
      for (int x = im.width() / 6; x < im.width() * 5 / 6; ++x)
        white[2 * (y >= im.height() / 2) + (x >= im.width() / 2)] += im.at(x, y) == std::array<int, 3>{255, 255, 255};
    return white;
  };
  auto upper_left = white_quarters("upper left"), lower_right = white_quarters("lower right");
  EXPECT_GT(upper_left[0], 500);
  EXPECT_EQ(upper_left[3], 0);
  EXPECT_GT(lower_right[3], 500);
  EXPECT_EQ(lower_right[0], 0);
  Figure f(4, 3);
  EXPECT_THROW(f.subplots(1)[0]->legend({}, "", 1, "top"), std::invalid_argument);
}

}  // namespace
}  // namespace tremora::chart

namespace tremora::chart {
namespace {

// A PNG of several strips, each deflated on its own (or in parts of rows,
// from a part of one row up) against the data before it, is one valid
// stream: it reads back pixel for pixel; and a figure's file
// has the same bytes at 1, 2 and 4 threads (lines, drawn strips in
// parallel, and markers, drawn a strip at a time).
TEST(Png, StripsDeflatedApartReadBackAndTheFileIsTheSameAtEveryThreadCount) {
  testing::TempDir dir;
  const int width = 200, heights[] = {512, 512, 77};
  std::mt19937 gen(3);
  std::vector<cairo_surface_t*> strips;
  PngWriter png(width, 512 + 512 + 77, true, 72);
  for (int k = 0; k < 3; ++k) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, heights[k]);
    unsigned char* data = cairo_image_surface_get_data(s);
    for (int y = 0; y < heights[k]; ++y)  // runs of repeated rows and noise, for matches across strips
      for (int x = 0; x < width; ++x) {
        uint32_t v = 0xff000000u | (y % 5 ? uint32_t(x * 977) : uint32_t(gen()));
        std::memcpy(data + y * cairo_image_surface_get_stride(s) + 4 * x, &v, 4);
      }
    cairo_surface_mark_dirty(s);
    strips.push_back(s);
    cairo_surface_t* above = k ? strips[k - 1] : nullptr;
    if (k == 0) png.add(png.deflate_strip(s, above, false));
    std::vector<int> cuts = k == 1 ? std::vector<int>{0, 1, 2, 200, 512} : std::vector<int>{0, 40, 77};
    for (std::size_t p = 0; k > 0 && p + 1 < cuts.size(); ++p)
      png.add(png.deflate_rows(s, cuts[p], cuts[p + 1], above, k == 2 && p + 2 == cuts.size()));
  }
  EXPECT_THROW(png.deflate_rows(strips[2], 40, 78, strips[1], false), std::logic_error);
  EXPECT_THROW(png.deflate_rows(strips[2], 40, 40, strips[1], false), std::logic_error);
  Image back(dir.write("strips.png", png.finish()));
  ASSERT_EQ(back.height(), 1101);
  std::size_t differing = 0;
  for (int k = 0, top = 0; k < 3; top += heights[k++])
    for (int y = 0; y < heights[k]; ++y)
      for (int x = 0; x < width; ++x) differing += back.at(x, top + y) != rgb(strips[k], x, y);
  EXPECT_EQ(differing, 0u);
  for (cairo_surface_t* s : strips) cairo_surface_destroy(s);

  Figure f(6, 8);
  std::vector<Axes*> axes = f.subplots(3);
  std::vector<double> x(4000), y(4000);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = double(i), y[i] = std::sin(double(i) / 37.0) + 0.1 * double(i % 7);
  axes[0]->plot(x, y);
  axes[2]->plot(x, y, {.linestyle = LineStyle::Dashed});
  std::vector<std::string> lines, markers;
  for (const char* threads : {"1", "2", "4"}) {
    testing::ScopedEnv env("TREMORA_THREADS", std::string(threads));
    lines.push_back(f.render("png", 300));
  }
  axes[1]->scatter(x, y, {10}, {.alpha = 0.3});
  for (const char* threads : {"1", "2", "4"}) {
    testing::ScopedEnv env("TREMORA_THREADS", std::string(threads));
    markers.push_back(f.render("png", 300));
  }
  for (std::size_t t = 1; t < 3; ++t) {  // (not EXPECT_EQ: a differing file would be printed whole)
    EXPECT_TRUE(lines[t] == lines[0]) << "lines at " << (t == 1 ? 2 : 4) << " threads";
    EXPECT_TRUE(markers[t] == markers[0]) << "markers at " << (t == 1 ? 2 : 4) << " threads";
  }
  EXPECT_GT(Image(dir.write("f.png", lines[0])).height(), 3 * 512);  // several strips
}

// Strips Cairo cannot make (wider than its 32767 pixels) end the drawing
// with Cairo's reason, on one thread as on several (none waits for a strip
// that will never be drawn).
TEST(Png, StripsThatCannotBeMadeFailTheDrawing) {
  Figure f(150, 4);  // its ink 35,000 pixels wide at 300 dpi, in several strips
  f.subplots(1)[0]->plot({0, 1, 2}, {1, 3, 2});
  for (const char* threads : {"1", "2", "4"}) {
    testing::ScopedEnv env("TREMORA_THREADS", std::string(threads));
    try {
      f.render("png", 300);
      ADD_FAILURE() << "drawn at " << threads << " threads";
    } catch (const IOError& e) {
      EXPECT_NE(std::string(e.what()).find("cannot draw the png image: invalid value"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(f.render("png", 100).substr(1, 3), "PNG");  // 11,700 pixels wide: drawn
}

}  // namespace
}  // namespace tremora::chart
