// What a figure reports of its panels, and the decorations the plotters
// need: twin axes in a colour, outlined bars, texts in their own style,
// arrows, title and label pads, figure texts.
#include <cairo.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <regex>

#include "test_support.hpp"
#include "tremora/chart.hpp"
#include "tremora/errors.hpp"

namespace tremora::chart {
namespace {

std::array<int, 3> pixel(const std::filesystem::path& png, int x, int y) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
  uint32_t v;
  std::memcpy(&v, cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s) + 4 * x, 4);
  cairo_surface_destroy(s);
  return {int((v >> 16) & 255), int((v >> 8) & 255), int(v & 255)};
}

// The baseline height (y of its translate) of the first SVG text element holding `text`.
double svg_text_y(const std::string& svg, const std::string& text) {
  std::size_t at = svg.find(">" + text + "</text>");
  if (at == std::string::npos) return NAN;
  std::size_t open = svg.rfind("<text", at);
  std::smatch m;
  std::string element = svg.substr(open, at - open);
  if (!std::regex_search(element, m, std::regex("translate\\(([-0-9.]+) ([-0-9.]+)\\)"))) return NAN;
  return std::stod(m[2]);
}

TEST(PanelInfo, ViewsTicksLabelsAndMarksAsDrawn) {
  Figure f(10, 4.5);
  auto axes = f.subplots(3);
  double t0 = to_days(make_timestamp(2024, 5, 1));
  axes[0]->plot({t0, t0 + 1, t0 + 2}, {-5, 0, 5}, {.color = parse_color("C1"), .label = "水位"});
  axes[0]->set_yticks({-5, 0, 5});
  axes[0]->set_title("郯城/1/水位", {.size = 11});
  axes[0]->set_ylabel("m", {.size = 11});
  axes[1]->set_title("空", {.size = 11});  // a blank panel
  axes[2]->bar({t0, t0 + 0.125}, {3.67, 5}, 0.125,
               {.color = parse_color("green"), .edgecolor = parse_color("gray"), .edgewidth = 0.3}, "edge");
  axes[2]->set_ylim(0, 9);
  axes[2]->set_yticks({0, 3, 6, 9});
  axes[2]->set_ytick_formatter(
      [](double v, int position) { return std::to_string(int(v)) + "级" + (position ? "" : "起"); });
  for (auto* a : axes) a->set_date_axis();
  axes[2]->set_xlim(t0 - 0.0625, t0 + 2.0625);

  std::vector<PanelInfo> p = f.describe();
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[0].title, "郯城/1/水位");
  EXPECT_EQ(p[0].y.label, "m");
  EXPECT_EQ(p[0].y.ticks, (std::vector<double>{-5, 0, 5}));
  EXPECT_EQ(p[0].y.labels, (std::vector<std::string>{"-5", "0", "5"}));
  ASSERT_EQ(p[0].marks.size(), 1u);
  EXPECT_EQ(p[0].marks[0].kind, "line");
  EXPECT_EQ(p[0].marks[0].color, parse_color("C1"));
  EXPECT_EQ(p[0].marks[0].label, "水位");
  // The shared x range is the one set, and only the bottom panel labels it.
  for (const auto& panel : p) {
    EXPECT_DOUBLE_EQ(panel.x.low, t0 - 0.0625);
    EXPECT_DOUBLE_EQ(panel.x.high, t0 + 2.0625);
  }
  EXPECT_EQ(p[0].x.labels.front(), "");
  // 51 hours of view: ticks every 6 hours, midnights named by the day.
  EXPECT_EQ(p[2].x.labels, (std::vector<std::string>{"May-01", "06:00", "12:00", "18:00", "May-02", "06:00", "12:00",
                                                     "18:00", "May-03"}));
  EXPECT_EQ(p[2].x.offset, "2024-May-03");
  // A blank panel shows 0 to 1, ticked at 0.0, 0.5 and 1.0.
  EXPECT_EQ(p[1].y.low, 0);
  EXPECT_EQ(p[1].y.high, 1);
  EXPECT_EQ(p[1].y.labels, (std::vector<std::string>{"0.0", "0.5", "1.0"}));
  EXPECT_TRUE(p[1].marks.empty());
  // Bars keep their edge and width; the formatter labels the ticks.
  const MarkInfo& bars = p[2].marks.at(0);
  EXPECT_EQ(bars.kind, "bar");
  EXPECT_EQ(bars.sizes, (std::vector<double>{0.125}));
  EXPECT_EQ(bars.edgecolor, parse_color("gray"));
  EXPECT_EQ(p[2].y.labels, (std::vector<std::string>{"0级起", "3级", "6级", "9级"}));
  EXPECT_EQ(p[2].y.low, 0);
  EXPECT_EQ(p[2].y.high, 9);
}

// The x tick formatter labels the ticks in view (date axes included), and
// an alignment the layer does not know is refused when it is given, not
// turned into another one when the figure is drawn.
TEST(PanelInfo, XTickFormatterAndUnknownAlignments) {
  Figure f(6, 2);
  auto axes = f.subplots(1);
  axes[0]->plot({0, 1, 2, 3, 4}, {1, 2, 3, 2, 1});
  axes[0]->set_xticks({0, 2, 4});
  axes[0]->set_xtick_formatter([](double v) { return "第" + std::to_string(int(v)) + "天"; });
  EXPECT_EQ(f.describe()[0].x.labels, (std::vector<std::string>{"第0天", "第2天", "第4天"}));
  Figure dated(6, 2);
  auto ax = dated.subplots(1)[0];
  ax->set_date_axis();
  double day = to_days(make_timestamp(2024, 5, 1));
  ax->plot({day, day + 3}, {0, 1});
  ax->set_xtick_formatter([day](double v) { return v >= day - 1 ? "in view" : "outside"; });
  AxisInfo x = dated.describe()[0].x;
  ASSERT_FALSE(x.labels.empty());
  EXPECT_EQ(x.labels, std::vector<std::string>(x.ticks.size(), "in view"));
  EXPECT_TRUE(x.offset.empty());  // the formatter's labels stand alone
  EXPECT_THROW(axes[0]->text(1, 1, "x", 12, "centre"), std::invalid_argument);
  EXPECT_THROW(axes[0]->text(1, 1, "x", TextStyle{}, "left", "middle"), std::invalid_argument);
  EXPECT_THROW(f.text(0.5, 0.5, "x", TextStyle{}, "middle"), std::invalid_argument);
  EXPECT_THROW(axes[0]->set_xtick_rotation(30, "centre"), std::invalid_argument);
  try {
    axes[0]->text(1, 1, "x", 12, "centre");
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "unknown horizontal alignment 'centre' (left, center, right)");
  }
  for (const char* v : {"top", "center", "center_baseline", "baseline", "bottom"})
    axes[0]->text(1, 1, v, 12, "right", v);
  axes[0]->set_xtick_rotation(30, "right");
  EXPECT_EQ(f.describe()[0].marks.size(), 6u);  // the line and the five texts
}

TEST(PanelInfo, TwinAxisInAColourOutlinedEdgeBarsAndPads) {
  testing::TempDir dir;
  Figure f(4, 3);
  Axes* a = f.subplots(1)[0];
  a->plot({0, 10}, {0, 1});
  Axes* twin = a->twinx();
  twin->scatter({2, 8}, {40, 120}, {25, 100}, {.color = parse_color("red"), .alpha = 0.7});
  twin->set_ylim(0, 170);
  twin->set_y_axis_color(parse_color("red"));
  twin->set_ylabel("震中距(km)", {.size = 11, .color = parse_color("red")});
  a->set_xlim(0, 10);
  std::vector<PanelInfo> p = f.describe();
  ASSERT_EQ(p[0].twin.size(), 1u);
  EXPECT_EQ(p[0].twin[0].y.low, 0);
  EXPECT_EQ(p[0].twin[0].y.high, 170);
  EXPECT_EQ(p[0].twin[0].y.label, "震中距(km)");
  EXPECT_EQ(p[0].twin[0].marks.at(0).kind, "scatter");
  f.save(dir / "twin.png", 100);
  // The right frame line is red, halfway up: find it scanning leftwards
  // from the image's right edge past the (red) tick labels and label.
  cairo_surface_t* s = cairo_image_surface_create_from_png((dir / "twin.png").c_str());
  int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  cairo_surface_destroy(s);
  int red_columns = 0, black_columns = 0;
  for (int x = w / 2; x < w; ++x) {
    auto c = pixel(dir / "twin.png", x, h / 2);
    red_columns += c[0] > 200 && c[1] < 80 && c[2] < 80;
    black_columns += c[0] < 60 && c[1] < 60 && c[2] < 60;
  }
  EXPECT_GT(red_columns, 0) << "no red right frame line";
  EXPECT_EQ(black_columns, 0) << "something black on the right half-way up";

  // Title and label pads move the texts by the difference.
  set_setting("svg.fonttype", std::string("none"));
  auto svg_with_pads = [&](double title_pad, double label_pad) {
    Figure g(4, 3);
    Axes* b = g.subplots(1)[0];
    b->plot({0, 1}, {0, 1});
    b->set_title("标题", {.size = 11}, title_pad);
    b->set_xlabel("日期", {.size = 11}, label_pad);
    g.save(dir / "pads.svg");
    return testing::read_text(dir / "pads.svg");
  };
  std::string near = svg_with_pads(6, 4), far = svg_with_pads(15, 10);
  double title_rise =
      (svg_text_y(near, "标题") - svg_text_y(near, "日期")) - (svg_text_y(far, "标题") - svg_text_y(far, "日期"));
  EXPECT_NEAR(title_rise, 9 + 6, 0.01);
}

TEST(PanelInfo, AnnotationsAndFigureTextsInTheirOwnStyle) {
  testing::TempDir dir;
  set_setting("svg.fonttype", std::string("none"));
  Figure f(4, 3);
  Axes* a = f.subplots(1)[0];
  a->plot({0, 10}, {0, 10});
  TextStyle bold;
  EXPECT_EQ(apply_text_options(bold, {{"fontsize", 9.0},
                                      {"weight", std::string("bold")},
                                      {"color", std::string("blue")},
                                      {"alpha", 0.5},
                                      {"style", std::string("italic")},
                                      {"rotation", 30.0}}),
            (std::vector<std::string>{"rotation"}));
  EXPECT_EQ(bold.size, 9);
  EXPECT_TRUE(bold.italic);
  EXPECT_EQ(bold.color, (Color{0, 0, 1, 0.5}));
  Arrow arrow;
  EXPECT_TRUE(apply_arrow_options(arrow, {{"arrowstyle", std::string("<->")}, {"lw", 2.0}}).empty());
  EXPECT_EQ(arrow.linewidth, 2);
  EXPECT_THROW(apply_arrow_options(arrow, {{"arrowstyle", std::string("fancy")}}), std::invalid_argument);
  EXPECT_THROW(apply_text_options(bold, {{"weight", std::string("heavy")}}), std::invalid_argument);
  EXPECT_THROW(apply_text_options(bold, {{"fontsize", std::string("big")}}), TypeError);
  EXPECT_EQ(bold.size, 9);  // a failed option changes nothing
  a->annotate("峰值", 5, 5, TextPlacement{10, 10}, bold, arrow);
  a->annotate("角落", 5, 5, TextPlacement{0.9, 0.9, text_coords_of("axes fraction")}, {.size = 8});
  a->annotate("界外", 50, 5, TextPlacement{}, {.size = 8});  // the point lies outside: left out
  EXPECT_THROW(text_coords_of("figure pixels"), std::invalid_argument);
  std::size_t marks = f.describe()[0].marks.size();
  EXPECT_THROW(a->text(1, 1, "x", 10, "middle"), std::invalid_argument);
  EXPECT_EQ(f.describe()[0].marks.size(), marks);  // no mark is left behind
  f.text(0.99, 0.01, "Generated: 2026-12-08 12:00", {.size = 8, .color = Color{0, 0, 0, 0.5}, .italic = true}, "right",
         "bottom");
  f.save(dir / "notes.svg");
  std::string svg = testing::read_text(dir / "notes.svg");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(svg, m,
                                std::regex("<text[^>]*font-weight=\"bold\"[^>]*font-style=\"italic\"[^>]*"
                                           "fill=\"rgb\\(0,0,255\\)\" fill-opacity=\"0.500\"[^>]*>峰值</text>")))
      << svg;
  EXPECT_TRUE(std::regex_search(svg, std::regex("font-style=\"italic\"[^>]*fill-opacity=\"0.500\"[^>]*>Generated")));
  EXPECT_NE(svg.find(">角落</text>"), std::string::npos);
  EXPECT_EQ(svg.find(">界外</text>"), std::string::npos);
  // The figure text sits at the lower right, below every panel text.
  EXPECT_GT(svg_text_y(svg, "Generated: 2026-12-08 12:00"), svg_text_y(svg, "角落"));
}

}  // namespace
}  // namespace tremora::chart
