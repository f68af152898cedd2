// The annual comparison chart, checked through what its figure reports,
// the files written and the messages logged.
#include <date/tz.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>

#include "test_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/yearplot.hpp"

namespace tremora::yearplot {
namespace {

using logger_config::Level;
using logger_config::LogCapture;

struct InTempDir {
  testing::TempDir dir;
  testing::ScopedCwd cwd{dir.path()};
};

// Daily values of whole years: year y, day d holds y - 2000 + d / 1000.
Table daily(const std::vector<int>& years) {
  std::vector<int64_t> t;
  std::vector<float> v;
  for (int y : years)
    for (int64_t d = 0; d < 365; ++d) {
      t.push_back(make_timestamp(y, 1, 1).ns + d * kNanosPerDay);
      v.push_back(float(y - 2000) + float(d) / 1000.0f);
    }
  Table out(std::vector<Column>{Column::from_float32("OBSVALUE", v)});
  out.set_key_column(Column::from_timestamps("STARTDATE", t));
  return out;
}

// A colour as "#rrggbb".
std::string hex(const chart::Color& c) {
  char out[8];
  std::snprintf(out, sizeof out, "#%02lx%02lx%02lx", std::lround(c.r * 255), std::lround(c.g * 255),
                std::lround(c.b * 255));
  return out;
}

std::vector<const chart::MarkInfo*> of_kind(const chart::PanelInfo& p, const std::string& kind) {
  std::vector<const chart::MarkInfo*> out;
  for (const auto& m : p.marks)
    if (m.kind == kind) out.push_back(&m);
  return out;
}

TEST(AnnualComparison, ThreeYearsInViridisWithTheirMeans) {
  InTempDir here;
  Table df = daily({2022, 2020, 2021});  // years are drawn in ascending order
  LogCapture capture;
  AnnualChart chart = plot_annual_comparison(df);
  EXPECT_TRUE(df.has_column("datetime_norm"));  // the caller's table gains it
  ASSERT_TRUE(chart.figure);
  ASSERT_NE(chart.axes, nullptr);
  EXPECT_TRUE(std::filesystem::exists(here.dir / "figures/Annual_Comparison.png"));
  EXPECT_TRUE(
      capture.contains("plotting", Level::info, "Annual comparison chart saved as: ./figures/Annual_Comparison.png"));
  chart::PanelInfo p = chart.figure->describe().at(0);
  EXPECT_EQ(p.title, "同年对比曲线");
  EXPECT_EQ(p.x.label, "日期 (月-日)");
  EXPECT_EQ(p.y.label, "Observation Value");
  EXPECT_EQ(p.x.labels.front(), "01-01");
  auto points = of_kind(p, "scatter"), lines = of_kind(p, "line"), bands = of_kind(p, "fill"),
       level = of_kind(p, "hline");
  ASSERT_EQ(points.size(), 3u);
  ASSERT_EQ(lines.size(), 3u);
  ASSERT_EQ(bands.size(), 1u);
  ASSERT_EQ(level.size(), 1u);
  const char* viridis[] = {"#440154", "#31688e", "#35b779"};  // at 0, 1/3, 2/3
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(hex(lines[i]->color), viridis[i]) << i;
    EXPECT_EQ(hex(points[i]->color), viridis[i]) << i;
    EXPECT_DOUBLE_EQ(points[i]->alpha, 0.3);
    EXPECT_EQ(points[i]->sizes, (std::vector<double>{10}));
    EXPECT_EQ(points[i]->label, "");
    EXPECT_DOUBLE_EQ(lines[i]->alpha, 0.9);
    EXPECT_EQ(lines[i]->linewidth, 2.0);
  }
  // 2020 holds 20.000 ... 20.364: its mean is 20.182.
  EXPECT_EQ(lines[0]->label, "2020 (Mean: 20.18)");
  EXPECT_EQ(lines[2]->label, "2022 (Mean: 22.18)");
  EXPECT_EQ(hex(bands[0]->color), viridis[2]);  // under the last year only
  EXPECT_DOUBLE_EQ(bands[0]->alpha, 0.1);
  EXPECT_NEAR(level[0]->y[0], 21.182, 1e-4);  // the mean of the yearly means
  EXPECT_EQ(level[0]->color, chart::parse_color("red"));
  EXPECT_EQ(level[0]->linestyle, chart::LineStyle::Dashed);
  // The x positions are the normalised dates: 2020-03-01 and 2022-03-01 share one.
  EXPECT_EQ(points[0]->x[60], points[2]->x[59]);  // 2020 is a leap year
}

TEST(AnnualComparison, MovingAverageBlanksAndMeansWithoutTheirLevel) {
  InTempDir here;
  Table df = daily({2021});
  df.column("OBSVALUE").float32s()[100] = NAN;
  AnnualChart chart = plot_annual_comparison(df, {.subtract_mean = true});
  chart::PanelInfo p = chart.figure->describe().at(0);
  const chart::MarkInfo& line = *of_kind(p, "line").at(0);
  EXPECT_TRUE(std::isnan(line.y[0]) && std::isnan(line.y[1]));
  EXPECT_FALSE(std::isnan(line.y[2]));
  EXPECT_TRUE(std::isnan(line.y[363]) && std::isnan(line.y[364]));
  for (int k = 98; k <= 102; ++k) EXPECT_TRUE(std::isnan(line.y[std::size_t(k)])) << k;
  EXPECT_FALSE(std::isnan(line.y[97]));
  EXPECT_FALSE(std::isnan(line.y[103]));
  // The values minus their mean: a mean of 0 in the label and at the level.
  EXPECT_TRUE(line.label == "2021 (Mean: 0.00)" || line.label == "2021 (Mean: -0.00)") << line.label;
  EXPECT_NEAR(of_kind(p, "hline").at(0)->y[0], 0, 1e-9);
  // One year alone: viridis at 0, with the band.
  EXPECT_EQ(hex(line.color), "#440154");
  EXPECT_EQ(of_kind(p, "fill").size(), 1u);
  // A window of 3: only the first and last rows blank.
  Table three = daily({2021});
  const chart::MarkInfo small =
      *of_kind(plot_annual_comparison(three, {.rolling_window = 3}).figure->describe()[0], "line").at(0);
  EXPECT_TRUE(std::isnan(small.y[0]));
  EXPECT_NEAR(small.y[1], 21.001, 1e-5);
}

TEST(AnnualComparison, TitlesPathsFormatsAndErrors) {
  InTempDir here;
  auto title = [](const std::string& station, const std::string& direction) {
    Table df = daily({2021});
    return plot_annual_comparison(df, {.station_name = station, .direction = direction}).figure->describe()[0].title;
  };
  EXPECT_EQ(title("A", "NS"), "ANS同年对比");
  EXPECT_EQ(title("", "NS"), "NS同年对比");
  EXPECT_EQ(title("", ""), "同年对比曲线");
  LogCapture capture;
  Table df = daily({2021});
  plot_annual_comparison(df, {.output_file = "./figures/x.png"});
  EXPECT_TRUE(std::filesystem::exists(here.dir / "figures/x.png"));
  // "figures/x.png" goes under ./figures/ once more, into a folder that
  // does not exist: logged, and the figure still comes back.
  AnnualChart failed = plot_annual_comparison(df, {.output_file = "figures/y.png"});
  EXPECT_TRUE(failed.figure);
  bool logged = false;
  for (const auto& r : capture.records())
    logged = logged || (r.level == Level::error && r.message.rfind("Error saving chart: ", 0) == 0 &&
                        r.message.find("./figures/figures/y.png") != std::string::npos);
  EXPECT_TRUE(logged);
  EXPECT_TRUE(plot_annual_comparison(df, {.output_file = "z.bmp"}).figure);
  // The y tick labels from a function of value and position.
  AnnualChart labelled =
      plot_annual_comparison(df, {.y_axis_format = [](double v, int pos) {
                               return std::to_string(pos) + ":" + std::to_string(int(std::lround(v)));
                             }});
  std::vector<std::string> labels = labelled.figure->describe()[0].y.labels;
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels[0].substr(0, 2), "0:");
  // Errors of the table reach the caller.
  Table no_values = daily({2021});
  no_values.remove_column("OBSVALUE");
  EXPECT_THROW(plot_annual_comparison(no_values), KeyError);
  Table texts(
      std::vector<Column>{Column::from_float64("OBSVALUE", {1}), Column::from_timestamps("datetime_norm", {0})});
  texts.set_key_column(Column::from_strings("STARTDATE", {"x"}));
  EXPECT_THROW(plot_annual_comparison(texts), TypeError);
}

// The wall-clock minute now in a zone by the date library.
std::string zone_minute(const std::string& zone) {
  auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  return date::format("%Y-%m-%d %H:%M", date::make_zoned(zone, now));
}

TEST(AnnualComparison, GeneratedTimeIsTheWallClockOfTz) {
  InTempDir here;
  for (const char* zone : {"Asia/Shanghai", "Pacific/Pago_Pago"}) {
    testing::ScopedEnv tz("TZ", zone);
    Table df = daily({2021});
    std::string before = zone_minute(zone);
    plot_annual_comparison(df, {.output_file = "generated.svg"});
    std::string after = zone_minute(zone);
    std::string svg = testing::read_text(here.dir / "figures/generated.svg");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(svg, m, std::regex(">Generated: ([^<]*)</text>"))) << zone;
    EXPECT_TRUE(m[1] == before || m[1] == after) << zone << ": " << m[1];
  }
}

}  // namespace
}  // namespace tremora::yearplot
