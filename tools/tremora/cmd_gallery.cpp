// tremora gallery: one chart per feature of the chart layer, for looking at.
#include <cmath>
#include <iostream>

#include "commands.hpp"
#include "tremora/chart.hpp"
#include "tremora/db.hpp"
#include "tremora/fetching.hpp"
#include "tremora/geomag.hpp"
#include "tremora/plotkit.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/sampledb.hpp"
#include "tremora/tsplot.hpp"
#include "tremora/yearplot.hpp"

namespace tremora::cli {
namespace {

using namespace chart;

std::vector<double> minutes(double first_day, int count) {
  std::vector<double> x;
  for (int i = 0; i < count; ++i) x.push_back(first_day + i / 1440.0);
  return x;
}

void stacked_lines(const std::filesystem::path& dir) {
  Figure f(10, 4.5);
  auto axes = f.subplots(3);
  double t0 = to_days(make_timestamp(2024, 5, 1));
  auto x = minutes(t0, 20 * 1440);
  std::vector<double> water, tilt, field;
  for (std::size_t i = 0; i < x.size(); ++i) {
    double k = double(i);
    water.push_back(5 + 0.3 * std::sin(k / 300) + 0.05 * std::sin(k * 1.7));
    tilt.push_back(int(i) % 5000 < 200 ? NAN : 1000 + 20 * std::sin(k / 745));
    field.push_back(12 + 3 * std::sin(k / 229) + (i > 14000 && i < 16000 ? 6 * std::sin(k / 7) : 0));
  }
  axes[0]->plot(x, water);
  axes[0]->axhline(5.0, {.color = parse_color("r"), .linewidth = 1, .linestyle = LineStyle::Dashed});
  axes[0]->set_title("郯城 水位", 11);
  axes[0]->set_ylabel("m", 11);
  axes[1]->plot(x, tilt);
  axes[1]->set_title("南京 水平摆倾斜NS（缺数留空）", 11);
  axes[1]->set_ylabel("$ 10^{-3} $角秒", 11);
  axes[2]->plot(x, field, {.color = parse_color("C1")});
  axes[2]->set_title("泰安 地电场NS", 11);
  axes[2]->set_ylabel("$E_{NS}$ mV/km", 11);
  axes[2]->text(0.01, 0.9, "$\\sigma = 2.5$, $\\Delta t$ = 1 min", 9, "left", "top", true);
  axes[2]->set_xlabel("时间", 11);
  for (auto* a : axes) a->set_date_axis();
  f.save(dir / "lines.png", 100);
  f.save(dir / "lines.svg");
  f.save(dir / "lines.pdf");
}

void marks(const std::filesystem::path& dir) {
  Figure f(10, 6);
  auto axes = f.subplots(4);
  double t0 = to_days(make_timestamp(2024, 5, 1));
  std::vector<double> days, kp, quake_x, quake_y, sizes, rain;
  for (int d = 0; d < 30; ++d) {
    days.push_back(t0 + d);
    rain.push_back(d % 7 == 3 ? 12.5 : d % 5 == 0 ? 4 : 0);
  }
  for (int i = 0; i < 240; ++i) kp.push_back(2 + 1.5 * std::sin(i / 11.0) + (i > 72 && i < 88 ? 5 : 0));
  std::vector<double> kp_x;
  for (int i = 0; i < 240; ++i) kp_x.push_back(t0 + i * 0.125);
  for (int k = 0; k < 8; ++k) {
    quake_x.push_back(t0 + 2 + k * 3.5);
    quake_y.push_back(2.5 + k * 0.4);
    sizes.push_back(std::max(5.0, (quake_y.back() - 3) * 5) * 8);
  }
  axes[0]->stem(days, rain, {.color = parse_color("blue")});
  axes[0]->set_title("降雨量（竖线图）", 11);
  axes[0]->set_ylabel("mm", 11);
  for (std::size_t k = 0; k < quake_x.size(); ++k)
    axes[1]->scatter({quake_x[k]}, {quake_y[k]}, {sizes[k]}, {.color = viridis(double(k) / 8), .alpha = 0.8});
  axes[1]->text(quake_x[5], quake_y[5] + 0.3, "泰安附近 Ml4.5", 9);
  axes[1]->set_title("地震（面积表示震级）", 11);
  axes[1]->set_ylabel("震级", 11);
  axes[2]->bar(kp_x, kp, 0.1, {.color = parse_color("green")});
  axes[2]->set_title("Kp 指数（柱状图）", 11);
  axes[2]->grid(true, LineStyle::Dashed, 0.5);
  std::vector<double> smooth;
  for (double v : kp) smooth.push_back(v * 0.8);
  axes[3]->fill_between(kp_x, smooth, 0, {.color = parse_color("C0"), .alpha = 0.3});
  axes[3]->plot(kp_x, smooth, {.label = "平滑"});
  axes[3]->axhline(4, {.color = parse_color("gray"), .linewidth = 1, .linestyle = LineStyle::Dotted, .label = "阈值"});
  axes[3]->legend();
  axes[3]->set_title("填充与图例", 11);
  Axes* twin = axes[3]->twinx();
  twin->plot(kp_x, kp, {.color = parse_color("C3"), .linewidth = 0.8});
  twin->set_ylabel("Kp", 11);
  for (auto* a : axes) a->set_date_axis();
  f.save(dir / "marks.png", 100);
}

void categories(const std::filesystem::path& dir) {
  Figure f(6, 3);
  Axes* a = f.subplots(1)[0];
  a->bar(std::vector<std::string>{"郯城", "泰安", "南京", "郑州", "合肥"}, {3, 1, 2, 4, 2.5}, 0.6,
         {.color = viridis(0.35)});
  a->set_title("台站记录完整率（分类柱状图）", 11);
  a->set_ylabel("%", 11);
  f.save(dir / "categories.png", 100);
}

// Every marker shape, as scatter marks of growing area and as the points
// of a line without a line, with a legend of both kinds.
void markers(const std::filesystem::path& dir) {
  Figure f(8, 3.5);
  Axes* a = f.subplots(1)[0];
  const char* const codes[] = {"o", ".", ",", "s", "^", "v", "<", ">", "D", "d", "p", "h", "*", "+", "x", "|", "_"};
  for (int k = 0; k < 17; ++k) {
    a->scatter({double(k)}, {1.0}, {60.0 + 10 * k}, {.color = viridis(k / 16.0), .marker = codes[k]});
    a->text(k, 1.35, codes[k], 10, "center");
  }
  a->plot({0, 4, 8, 12, 16}, {0.3, 0.5, 0.4, 0.6, 0.45},
          {.color = parse_color("gray"), .linestyle = LineStyle::None, .label = "仅标记", .marker = "D"});
  a->plot({0, 4, 8, 12, 16}, {-0.2, 0, -0.1, 0.1, -0.05},
          {.color = parse_color("C3"), .linestyle = LineStyle::Dashed, .label = "线与标记", .marker = "o"});
  a->scatter({}, {}, {60}, {.color = parse_color("C0"), .label = "散点", .marker = "^"});
  a->set_ylim(-0.6, 1.7);
  a->legend({.size = 9}, "", 0.8, "lower right");
  a->set_title("标记形状（散点与折线）", 11);
  f.save(dir / "markers.png", 100);
}

// Several years over one calendar (dates normalized to 2024), monthly
// ticks "%m-%d" turned 45°, an annotated point, fixed y ticks.
void annual(const std::filesystem::path& dir) {
  Figure f(12, 5);
  Axes* a = f.subplots(1)[0];
  double t0 = to_days(make_timestamp(2024, 1, 1));
  for (int year = 0; year < 3; ++year) {
    std::vector<double> x, y;
    for (int d = 0; d < 366; ++d) {
      x.push_back(t0 + d);
      y.push_back(3 * std::sin(d / 58.0 + year) + 0.4 * year + 0.2 * std::sin(d * 0.9));
    }
    a->plot(x, y, {.color = viridis(year / 3.0), .label = std::to_string(2022 + year) + "年"});
  }
  a->set_month_ticks("%m-%d");
  a->set_xtick_rotation(45, "right");
  a->set_yticks({-3.5, 0, 3.9});
  a->annotate("最大值", t0 + 200, 3.2, 30, 12, 11, true);
  a->legend({.size = 9}, "年份");
  a->grid(true, LineStyle::Dashed, 0.4);
  a->set_title("年度对比（日期归一化到2024年）", {.size = 13, .weight = "bold", .color = parse_color("#333333")});
  a->set_ylabel("$\\Delta h$ / m", 11);
  a->set_date_axis();
  f.save(dir / "annual.png", 100);
  Figure g(4, 3);
  Axes* depth = g.subplots(1)[0];
  depth->plot({0, 1, 2, 3, 4}, {2, 3.5, 5, 4, 6});
  depth->invert_yaxis();
  depth->set_title("埋深（y 轴反向）", 11);
  g.set_transparent();
  g.save(dir / "inverted.png", 100);
}

// The plotters' charts of a small sample network, into DIR/figures: by
// item with statistics lines, earthquakes, annotations and (given a Kp
// file) the Kp panel; by station with rainfall; three years of daily water
// level compared.
void plotter_charts(const std::filesystem::path& dir, const std::string& kp_file) {
  std::filesystem::path data = dir / "sample";
  sampledb::Options o;
  o.stations = {"37001", "37005", "41001", "11003"};
  o.day_and_hour = {make_timestamp(2022, 1, 1), make_timestamp(2024, 12, 31)};
  o.minute = {make_timestamp(2024, 5, 1), make_timestamp(2024, 5, 20)};
  o.second = {make_timestamp(2024, 5, 10), make_timestamp(2024, 5, 10)};
  std::filesystem::create_directories(data);
  sampledb::write_database(data / "qz.db", o);
  sampledb::write_catalogue(data / "catalogue.txt", o);
  auto conn = db::open_sqlite(data / "qz.db");
  conn->info()["tremora_cache_namespace"] = "gallery";
  tsplot::TSPlotter plotter(conn, {.metadata_dir = (data / "cache").string(), .refresh_metadata = true});
  auto water = fetching::fetching_data(conn.get(), "20240501", "20240520", "水位", "全部", "分钟值", "预处理库",
                                       {.gzip_flag = true});
  auto days = fetching::fetching_data(conn.get(), "20240401", "20240531", "全部", "郯城", "日均值", "预处理库");
  auto years = fetching::fetching_data(conn.get(), "20220101", "20241231", "水位", "郯城", "日均值", "预处理库");
  if (!water || !days || !years) throw std::runtime_error("gallery: the sample network gave no data");
  std::optional<Table> kp;
  if (!kp_file.empty()) kp = geomag::read_kp_file(kp_file);
  tsplot::Annotations notes;
  notes["4112"]["37001_1"].push_back({.text = "磁暴",
                                      .x = make_timestamp(2024, 5, 11, 6, 0, 0),
                                      .y = 0.02,
                                      .xytext = {25, -30},
                                      .props = {{"color", std::string("C3")}}});
  std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  try {
    plotter.plot(*water, {.groupby = "item",
                          .prefix = "items_",
                          .show_mean = true,
                          .show_std = true,
                          .annotations = notes,
                          .quakecat_dir = data / "catalogue.txt",
                          .show_geomag = kp.has_value(),
                          .geomag_data = kp});
    plotter.plot(rows_with_text(*days, qzdata::kItemId, "4112"),
                 {.groupby = "station",
                  .prefix = "stations_",
                  .show_mean = true,
                  .quakecat_dir = data / "catalogue.txt",
                  .show_geomag = kp.has_value(),
                  .geomag_data = kp,
                  .rainfall = rows_with_text(*days, qzdata::kItemId, "4911")});
    yearplot::plot_annual_comparison(
        *years, {.output_file = "annual_water.png", .y_label = "水位 (m)", .station_name = "郯城"});
  } catch (...) {
    std::filesystem::current_path(old);
    throw;
  }
  std::filesystem::current_path(old);
}

}  // namespace

void add_gallery(CLI::App& app) {
  auto dir = std::make_shared<std::string>();
  auto kp = std::make_shared<std::string>();
  CLI::App* cmd =
      app.add_subcommand("gallery", "Draw one chart per feature of the chart layer, and the plotter's charts");
  cmd->add_option("DIR", *dir, "Folder to write the images into")->required();
  cmd->add_option("--kp-file", *kp, "Kp file for the Kp panels of the plotter's charts (none: no Kp panel)");
  set_examples(cmd, {"tremora gallery out/gallery --kp-file Kp_def2024.wdc"});
  cmd->callback([dir, kp] {
    plotkit::apply_chart_style();
    std::filesystem::create_directories(*dir);
    stacked_lines(*dir);
    marks(*dir);
    categories(*dir);
    markers(*dir);
    annual(*dir);
    plotter_charts(std::filesystem::absolute(*dir), *kp);
    std::cout << "wrote the gallery into " << *dir << "\n";
  });
}

}  // namespace tremora::cli
