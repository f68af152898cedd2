// The time-series plotter, checked through what its figures report:
// panels, titles, ticks, labels, marks, files written and messages logged.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <thread>

#include "small_sample_db.hpp"
#include "test_support.hpp"
#include "tremora/db.hpp"
#include "tremora/errors.hpp"
#include "tremora/geomag.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/tsplot.hpp"

namespace tremora::tsplot {
namespace {

using logger_config::Level;
using logger_config::LogCapture;
using testing::error_of;

const std::filesystem::path kKp = std::filesystem::path(TREMORA_TEST_DATA) / "kp";

// A plotter over the small sample database's dictionaries, made once.
const TSPlotter& sample_plotter() {
  static testing::TempDir cache;
  static const TSPlotter plotter = [] {
    auto conn = db::open_sqlite(testing::small_sample_db());
    conn->info()["tremora_cache_namespace"] = "sample.local";
    return TSPlotter(conn, {.metadata_dir = cache.path().string(), .refresh_metadata = true});
  }();
  return plotter;
}

struct Obs {
  std::string station, point, item;
  Timestamp t;
  double value;
};

// An observation table keyed by STARTDATE.
Table observations(const std::vector<Obs>& rows, const std::string& zone = "") {
  std::vector<std::optional<std::string>> station, point, item;
  std::vector<int64_t> t;
  std::vector<float> v;
  for (const auto& r : rows) {
    station.push_back(r.station), point.push_back(r.point), item.push_back(r.item);
    t.push_back(r.t.ns), v.push_back(float(r.value));
  }
  Table out(std::vector<Column>{Column::from_strings("STATIONID", station), Column::from_strings("POINTID", point),
                                Column::from_strings("ITEMID", item), Column::from_float32("OBSVALUE", v)});
  out.set_key_column(Column::from_timestamps("STARTDATE", t, zone));
  return out;
}

// `count` hourly values of one series from 2024-05-10 00:00.
void add_hours(std::vector<Obs>& rows, const std::string& station, const std::string& point, const std::string& item,
               int count, double base = 10) {
  for (int h = 0; h < count; ++h)
    rows.push_back({station, point, item, Timestamp{make_timestamp(2024, 5, 10).ns + h * kNanosPerHour}, base + h % 5});
}

// Works in a fresh folder, where the figures go.
struct InTempDir {
  testing::TempDir dir;
  testing::ScopedCwd cwd{dir.path()};
  std::filesystem::path figure(const std::string& name) const { return dir / "figures" / name; }
};

TEST(TSPlotter, KeepsTheDictionariesAndTheStatisticsStyle) {
  const TSPlotter& p = sample_plotter();
  EXPECT_GT(p.stations_table.num_rows(), 0u);
  EXPECT_EQ(p.items_table.column_names().front(), "ITEMID");
  EXPECT_EQ(p.stats_style.size(), 8u);
  EXPECT_EQ(std::get<std::string>(p.stats_style.at("mean_color")), "r");
  EXPECT_EQ(std::get<double>(p.stats_style.at("std_alpha")), 0.5);
  TSPlotter q = p;
  LogCapture capture;
  q.set_stats_style({{"mean_color", std::string("blue")}, {"mean_colour", std::string("green")}});
  EXPECT_EQ(std::get<std::string>(q.stats_style.at("mean_color")), "blue");
  EXPECT_EQ(q.stats_style.size(), 8u);
  EXPECT_TRUE(capture.contains("plotting", Level::warning, "未知的统计线样式参数: mean_colour"));
  EXPECT_EQ(capture.records().size(), 1u);
  // Without a cache and a connection, no plotter.
  testing::TempDir empty;
  std::string error = error_of([&] { TSPlotter none(nullptr, {.metadata_dir = empty.path().string()}); });
  EXPECT_NE(error.find("未找到本地元数据缓存"), std::string::npos) << error;
}

TEST(TSPlotter, PreparesOneSeries) {
  const TSPlotter& p = sample_plotter();
  auto day = [](int d, int h = 0) { return make_timestamp(2024, 5, d, h, 0, 0); };
  Table t = observations({{"37001", "1", "4112", day(1), 10},
                          {"37001", "1", "4112", day(1, 1), 20},
                          {"37001", "1", "4112", day(1, 2), 40}});
  auto [zeroed, offset] = p._process_data(t);
  EXPECT_EQ(offset, 25);
  EXPECT_EQ(zeroed.column("OBSVALUE").float32s(), (std::vector<float>{-15, -5, 15}));
  EXPECT_EQ(zeroed.column("STATIONID").text(0), "37001");  // other columns stay
  EXPECT_EQ(t.column("OBSVALUE").float32s()[0], 10);       // the caller's table does not change
  auto [kept, same_offset] = p._process_data(t, false);
  EXPECT_EQ(same_offset, 25);
  EXPECT_EQ(kept.column("OBSVALUE").float32s()[0], 10);
  auto [empty, zero] = p._process_data(observations({}), true, true);
  EXPECT_EQ(zero, 0);
  EXPECT_EQ(empty.num_rows(), 0u);
  // Daily medians and sums; a day without rows is there.
  Table days = observations({{"37001", "1", "4112", day(1), 1},
                             {"37001", "1", "4112", day(1, 5), 2},
                             {"37001", "1", "4112", day(1, 9), 100},
                             {"37001", "1", "4112", day(3), 4}});
  auto [median, m_offset] = p._process_data(days, false, false, std::string("D"));
  EXPECT_EQ(median.column_names(), (std::vector<std::string>{"OBSVALUE"}));
  ASSERT_EQ(median.num_rows(), 3u);
  EXPECT_EQ(median.column("OBSVALUE").float64s()[0], 2);
  EXPECT_TRUE(std::isnan(median.column("OBSVALUE").float64s()[1]));
  EXPECT_EQ(median.key().int64s()[1], day(2).ns);
  auto [sums, s_offset] = p._process_data(days, false, false, std::string("daily_sum"));
  EXPECT_EQ(sums.column("OBSVALUE").float64s(), (std::vector<double>{103, 0, 4}));
  // Texts that are no numbers become missing when the values are binned.
  Table texts = days;
  texts.column("OBSVALUE") = Column::from_strings("OBSVALUE", {"1", "x", "3", "4"});
  auto [read, r_offset] = p._process_data(texts, false, false, std::string("other"));
  EXPECT_TRUE(std::isnan(read.column("OBSVALUE").float64s()[1]));
  EXPECT_EQ(r_offset, 2.5);
  Table no_values = days;
  no_values.remove_column("OBSVALUE");
  EXPECT_THROW(p._process_data(no_values), KeyError);
  // Drawing styles by position, and options the chart layer would not know.
  std::vector<std::string> types{"stem", "scatter"};
  EXPECT_EQ(p._get_plot_type(1, "line", types), "scatter");
  EXPECT_EQ(p._get_plot_type(2, "line", types), "line");
  EXPECT_EQ(p._get_plot_type(0, "line"), "line");
  LogCapture capture;
  chart::StyleOptions clean = p._sanitize_plot_kwargs({{"remove_peaks_steps", 3.0}, {"color", std::string("k")}});
  EXPECT_EQ(clean.size(), 1u);
  EXPECT_TRUE(capture.contains("plotting", Level::warning,
                               "remove_peaks_steps is not a matplotlib plotting option; the value was ignored."));
}

TEST(TSPlotter, DecoratesPanelsAndSavesFigures) {
  const TSPlotter& p = sample_plotter();
  chart::Figure f(10, 6);
  auto axes = f.subplots(4);
  p._setup_axis(*axes[0], "a", "hPa", {-5.0, 0, 5.0}, true, "时间");
  p._setup_axis(*axes[1], "b", "ms");
  p._setup_axis(*axes[2], "c", "10-10");
  p._setup_axis(*axes[3], "d", "ms 10-9");
  Table data = observations({{"1", "1", "1", make_timestamp(2024, 5, 1), 1},
                             {"1", "1", "1", make_timestamp(2024, 5, 2), 2},
                             {"1", "1", "1", make_timestamp(2024, 5, 3), 3},
                             {"1", "1", "1", make_timestamp(2024, 5, 4), 4}});
  axes[0]->plot({1, 2, 3, 4}, {1, 2, 3, 4});
  p._add_statistics(*axes[0], data, true, true, 2.5);
  p._add_statistics(*axes[1], data, false, true, 3);
  p._add_statistics(*axes[2], data);  // nothing drawn
  Annotation note{.text = "峰", .x = make_timestamp(2024, 5, 2), .y = 2};
  p._add_annotations(*axes[3], {note});
  std::vector<chart::PanelInfo> info = f.describe();
  EXPECT_EQ(info[0].y.label, "hPa");
  EXPECT_EQ(info[1].y.label, "$ 10^{-3} $角秒");
  EXPECT_EQ(info[2].y.label, "应变/$ 10^{-10} $");
  EXPECT_EQ(info[3].y.label, "$ 10^{-3} $角秒");
  EXPECT_EQ(info[0].y.ticks, (std::vector<double>{-5, 0, 5}));
  EXPECT_TRUE(info[0].y.inverted);
  EXPECT_EQ(info[0].x.label, "");  // hidden above the bottom panel
  ASSERT_EQ(info[0].marks.size(), 4u);
  EXPECT_EQ(info[0].marks[1].label, "Mean");
  EXPECT_EQ(info[0].marks[1].color, chart::parse_color("r"));
  EXPECT_EQ(info[0].marks[1].linestyle, chart::LineStyle::Dashed);
  EXPECT_DOUBLE_EQ(info[0].marks[1].alpha, 0.7);
  EXPECT_EQ(info[0].marks[2].label, "+2.5σ");
  EXPECT_EQ(info[0].marks[3].label, "-2.5σ");
  EXPECT_NEAR(info[0].marks[2].y[0], 2.5 + 2.5 * 1.2909944487358056, 1e-12);
  EXPECT_EQ(info[1].marks.at(0).label, "+3σ");
  EXPECT_TRUE(info[2].marks.empty());
  ASSERT_EQ(info[3].marks.size(), 1u);
  EXPECT_EQ(info[3].marks[0].kind, "annotation");
  EXPECT_EQ(info[3].marks[0].x[0], chart::to_days(make_timestamp(2024, 5, 2)));
  EXPECT_EQ(info[3].title, "d");

  InTempDir here;
  LogCapture capture;
  p._save_figure(f, "台站A_2");
  ASSERT_TRUE(std::filesystem::exists(here.figure("台站A_2.png")));
  std::string png = testing::read_text(here.figure("台站A_2.png"));
  std::size_t phys = png.find("pHYs");
  ASSERT_NE(phys, std::string::npos);
  EXPECT_EQ(uint8_t(png[phys + 6]) * 256 + uint8_t(png[phys + 7]), 11811);  // 300 dpi
  EXPECT_TRUE(capture.contains("plotting", Level::info, "Figure 台站A_2.png has been saved to current folder."));
  capture.clear();
  EXPECT_NE(error_of([&] { p._save_figure(f, "x", "bmp"); }).find("bmp"), std::string::npos);
  for (const auto& r : capture.records()) EXPECT_EQ(r.message.find("has been saved"), std::string::npos);
  // A "figures" that is no folder: the error names the path.
  InTempDir blocked;
  std::ofstream(blocked.dir / "figures") << "not a folder";
  EXPECT_NE(error_of([&] { p._save_figure(f, "y"); }).find("figures/y.png"), std::string::npos);
}

TEST(ByItems, ChunksOrdersNamesAndTitles) {
  InTempDir here;
  TSPlotter p = sample_plotter();
  std::vector<Obs> rows;
  for (int s = 1; s <= 16; ++s) add_hours(rows, std::to_string(s), "1", "4112", 3);
  LogCapture capture;
  PlotResult r = p.plot_by_items(observations(rows), {.prefix = "A", .fig_label = "L"});
  for (const char* name : {"A4112L_1.png", "A4112L_2.png", "A4112L_3.png"})
    EXPECT_TRUE(std::filesystem::exists(here.figure(name))) << name;
  ASSERT_TRUE(r.figure);
  std::vector<chart::PanelInfo> last = r.figure->describe();
  EXPECT_EQ(last.size(), 2u);  // 7, 7 and 2 panels
  // Pairs in text order: "10" before "9".
  std::vector<chart::PanelInfo> first = [&] {
    PlotResult one = p.plot_by_items(observations({rows[9 * 3], rows[8 * 3]}), {.prefix = "B", .set_zero = false});
    return one.figure->describe();
  }();
  EXPECT_EQ(first[0].title, "10/1/水位");
  EXPECT_EQ(first[1].title, "9/1/水位");
  EXPECT_EQ(first[0].y.ticks, (std::vector<double>{10, 10, 10}));  // min, mid, max of one value
  // Known stations take their names; the offset goes into the title.
  std::vector<Obs> named;
  add_hours(named, "37001", "1", "4112", 3);
  named[0].value = -5.0, named[1].value = -1.48, named[2].value = -1.0;
  PlotResult t = p.plot_by_items(observations(named), {.prefix = "C"});
  std::vector<chart::PanelInfo> panel = t.figure->describe();
  EXPECT_EQ(panel[0].title, "郯城/1/水位/base=-3.0");
  EXPECT_EQ(panel[0].y.ticks, (std::vector<double>{-2, 0, 2}));
  EXPECT_EQ(panel[0].y.label, "m");
  EXPECT_EQ(panel[0].marks.at(0).kind, "line");
  EXPECT_EQ(panel[0].marks.at(0).label, "郯城/1/水位/base=-3.0");
  // Excluded and unknown items make no figure.
  EXPECT_FALSE(p.plot_by_items(observations({{"1", "1", "999999", make_timestamp(2024, 5, 1), 1}})).figure);
  EXPECT_FALSE(p.plot_by_items(observations({{"1", "1", "0000", make_timestamp(2024, 5, 1), 1}})).figure);
  EXPECT_TRUE(capture.contains("plotting", Level::warning, "未找到测项信息: 0000"));
}

TEST(ByItems, TimeCutsBlankPanelsAndStyles) {
  InTempDir here;
  TSPlotter p = sample_plotter();
  std::vector<Obs> rows;
  add_hours(rows, "37001", "1", "4112", 48);
  add_hours(rows, "37005", "1", "4112", 5);  // 10 May 00:00-04:00 only
  rows.push_back({"41001", "", "4112", make_timestamp(2024, 5, 10, 6, 0, 0), 1});
  Table t = observations(rows);
  t.column("POINTID") = Column::from_strings("POINTID", [&] {
    std::vector<std::optional<std::string>> points(rows.size(), "1");
    points.back() = std::nullopt;  // a series whose point is missing has no rows of its own
    return points;
  }());
  LogCapture capture;
  PlotResult r = p.plot_by_items(t, {.plot_types = std::vector<std::string>{"stem", "scatter"},
                                     .start_time = std::string("2024-05-10 12:00"),
                                     .end_time = geomag::TimeBound(make_timestamp(2024, 5, 11, 6, 0, 0)),
                                     .kwargs = {{"color", std::string("k")}, {"shade", 1.0}}});
  ASSERT_TRUE(r.figure);
  EXPECT_TRUE(std::filesystem::exists(here.figure("4112_1.png")));
  std::vector<chart::PanelInfo> info = r.figure->describe();
  ASSERT_EQ(info.size(), 3u);
  ASSERT_EQ(info[0].marks.size(), 1u);
  EXPECT_EQ(info[0].marks[0].kind, "stem");
  EXPECT_EQ(info[0].marks[0].color, chart::parse_color("b"));
  EXPECT_EQ(info[0].marks[0].x.size(), 19u);  // 12:00 to 06:00 next day, both ends
  EXPECT_TRUE(info[1].marks.empty());         // cut away entirely
  EXPECT_TRUE(capture.contains("plotting", Level::warning, "37005-1 数据为空!"));
  EXPECT_TRUE(capture.contains("plotting", Level::warning, "未找到数据: 4112-41001-nan"));
  EXPECT_TRUE(capture.contains("plotting", Level::warning, "unknown drawing option 'shade' was ignored"));
  EXPECT_EQ(info[1].y.low, 0);  // blank panels show 0 to 1
  EXPECT_EQ(info[1].y.high, 1);
  // Scatter marks take the extra options and, in this layout, no label.
  PlotResult s = p.plot_by_items(t, {.prefix = "S", .plot_type = "scatter", .kwargs = {{"color", std::string("k")}}});
  const chart::MarkInfo marks = s.figure->describe()[0].marks.at(0);
  EXPECT_EQ(marks.kind, "scatter");
  EXPECT_EQ(marks.color, chart::parse_color("k"));
  EXPECT_EQ(marks.label, "");
  // A bound that is no date is the parser's error.
  EXPECT_NE(error_of([&] { p.plot_by_items(t, {.start_time = std::string("soon")}); }).find("'soon'"),
            std::string::npos);
  Table no_item = t;
  no_item.remove_column("ITEMID");
  EXPECT_THROW(p.plot_by_items(no_item), KeyError);
}

// Panels are made ready in parallel: the same file at every thread count,
// and every message on the calling thread, in the order of the panels.
TEST(ByItems, SameFileAndMessagesInPanelOrderAtEveryThreadCount) {
  InTempDir here;
  TSPlotter p = sample_plotter();
  std::vector<Obs> rows;
  for (const char* station : {"37001", "32005", "37005", "41001", "34002"})
    add_hours(rows, station, "1", "4112", std::string(station) == "37005" ? 5 : 48);
  Table t = observations(rows);
  std::vector<std::string> messages;
  bool elsewhere = false;
  auto caller = std::this_thread::get_id();
  logger_config::set_handler([&](const logger_config::Record& r) {
    if (r.logger == "plotting" && r.level != Level::info) messages.push_back(r.message);
    elsewhere = elsewhere || std::this_thread::get_id() != caller;
  });
  std::map<std::string, std::string> files;
  std::vector<std::vector<std::string>> seen;
  for (const char* threads : {"1", "2", "4"}) {
    testing::ScopedEnv env("TREMORA_THREADS", std::string(threads));
    messages.clear();
    p.plot_by_items(
        t, {.prefix = threads, .reindex = true, .show_mean = true, .start_time = std::string("2024-05-10 12:00")});
    files[threads] = testing::read_text(here.figure(std::string(threads) + "4112_1.png"));
    seen.push_back(messages);
  }
  logger_config::set_handler({});
  const std::string grid = "SAMPLERATE 列缺失或 ID 未识别，回退到动态计算频率";
  EXPECT_EQ(seen[0], (std::vector<std::string>{grid, grid, grid, grid, "37005-1 数据为空!", grid}));  // by station
  EXPECT_EQ(seen[1], seen[0]);
  EXPECT_EQ(seen[2], seen[0]);
  EXPECT_FALSE(elsewhere);
  EXPECT_FALSE(files["1"].empty());
  EXPECT_EQ(files["2"], files["1"]);
  EXPECT_EQ(files["4"], files["1"]);
}

// A Kp table of the given UTC interval starts and values.
Table kp_table(const std::vector<Timestamp>& starts, const std::vector<double>& kp) {
  std::vector<int64_t> ns;
  for (Timestamp t : starts) ns.push_back(t.ns);
  Table t(
      std::vector<Column>{Column::from_float64("Kp", kp),
                          Column::from_strings("status", std::vector<std::optional<std::string>>(kp.size(), "def"))});
  t.set_key_column(Column::from_timestamps("datetime", ns, "UTC"));
  return t;
}

TEST(KpPanel, OverlapColoursRangeAndMessages) {
  InTempDir here;
  TSPlotter p = sample_plotter();
  auto at = [](int d, int h) { return make_timestamp(2024, 5, d, h, 0, 0); };
  std::vector<Obs> rows;
  for (int h = 23; h <= 34; ++h)
    rows.push_back({"37001", "1", "4112", Timestamp{at(10, 0).ns + h * kNanosPerHour}, 1.0 * h});
  Table kp = kp_table({at(10, 20), at(10, 21), at(11, 0), at(11, 3), at(11, 6), at(11, 9), at(11, 10), at(11, 11)},
                      {9, 3.67, 4.0, 4.67, 5.0, NAN, 1, 9});
  LogCapture capture;
  PlotResult r = p.plot_by_items(observations(rows), {.show_geomag = true, .geomag_data = kp, .time_timezone = "UTC"});
  ASSERT_TRUE(r.figure);
  std::vector<chart::PanelInfo> info = r.figure->describe();
  ASSERT_EQ(info.size(), 2u);
  const chart::PanelInfo& k = info.back();
  EXPECT_EQ(k.title, "Kp — GFZ Potsdam (CC BY 4.0)");
  EXPECT_EQ(k.y.label, "Kp");
  EXPECT_EQ(k.y.ticks, (std::vector<double>{0, 3, 6, 9}));
  EXPECT_EQ(k.x.label, "日期 (UTC)");
  EXPECT_EQ(info[0].x.label, "");
  std::map<std::string, std::vector<double>> starts;
  for (const auto& m : k.marks) {
    ASSERT_EQ(m.kind, "bar");
    EXPECT_EQ(m.sizes, (std::vector<double>{0.125}));
    EXPECT_EQ(m.edgecolor, chart::parse_color("gray"));
    std::string colour = m.color == chart::parse_color("green")    ? "green"
                         : m.color == chart::parse_color("yellow") ? "yellow"
                         : m.color == chart::parse_color("red")    ? "red"
                                                                   : "other";
    for (double x : m.x) starts[colour].push_back(x);
  }
  auto days = [](Timestamp t) { return chart::to_days(t); };
  EXPECT_EQ(starts["green"], (std::vector<double>{days(at(10, 21)), days(at(11, 10))}));
  EXPECT_EQ(starts["yellow"], (std::vector<double>{days(at(11, 0)), days(at(11, 3))}));
  EXPECT_EQ(starts["red"], (std::vector<double>{days(at(11, 6))}));
  EXPECT_EQ(starts.count("other"), 0u);
  EXPECT_DOUBLE_EQ(k.x.low, days(at(10, 23)));
  EXPECT_DOUBLE_EQ(k.x.high, days(at(11, 10)));
  // One time: three hours around it; naive keys on the Shanghai clock.
  PlotResult one = p.plot_by_items(observations({{"37001", "1", "4112", at(10, 12), 1}}),
                                   {.prefix = "one", .show_geomag = true, .geomag_data = kp});
  std::vector<chart::PanelInfo> single = one.figure->describe();
  EXPECT_DOUBLE_EQ(single.back().x.low, days(at(10, 12)) - 1.5 / 24);
  EXPECT_DOUBLE_EQ(single.back().x.high, days(at(10, 12)) + 1.5 / 24);
  EXPECT_EQ(single.back().x.label, "日期 (Asia/Shanghai)");
  // 12:00 in Shanghai is 04:00 UTC: no interval of the table overlaps it.
  EXPECT_EQ(single.back().marks.at(0).text, "无数据");
  EXPECT_TRUE(capture.contains("plotting", Level::warning, "No valid Kp data in the figure time range"));
  // A failed fetch shows its text and says why.
  testing::ScopedEnv url("TREMORA_KP_URL", std::string("http://127.0.0.1:9"));
  capture.clear();
  PlotResult failed = p.plot_by_items(observations(rows), {.prefix = "f", .show_geomag = true});
  EXPECT_EQ(failed.figure->describe().back().marks.at(0).text, "获取失败");
  bool logged = false;
  for (const auto& rec : capture.records()) logged = logged || rec.message.rfind("Kp retrieval failed: ", 0) == 0;
  EXPECT_TRUE(logged);
  EXPECT_FALSE(capture.contains("plotting", Level::warning, "No valid Kp data in the figure time range"));
}

TEST(KpPanel, ZonedBoundsCutOnTheChartsClock) {
  InTempDir here;
  TSPlotter p = sample_plotter();
  auto at = [](int d, int h) { return make_timestamp(2024, 5, d, h, 0, 0); };
  std::vector<Obs> rows;  // naive keys, on the Shanghai clock: 10 May 00:00 to 11 May 23:00
  for (int h = 0; h < 48; ++h) rows.push_back({"37001", "1", "4112", Timestamp{at(10, 0).ns + h * kNanosPerHour}, 1.0});
  Table kp = kp_table({at(10, 0), at(10, 21)}, {2, 3});
  // 00:00 UTC on 11 May is 08:00 in Shanghai, given as an instant and as a text.
  for (geomag::TimeBound end : {geomag::TimeBound(geomag::ZonedTime{at(11, 0), "UTC"}),
                                geomag::TimeBound(std::string("2024-05-11T00:00+00:00"))}) {
    PlotResult r = p.plot_by_items(observations(rows), {.end_time = end, .show_geomag = true, .geomag_data = kp});
    std::vector<chart::PanelInfo> info = r.figure->describe();
    ASSERT_EQ(info.size(), 2u);
    const std::vector<double>& x = info[0].marks.at(0).x;
    EXPECT_DOUBLE_EQ(x.back(), chart::to_days(at(11, 8)));
    EXPECT_DOUBLE_EQ(info.back().x.high, chart::to_days(at(11, 8)));
  }
}

TEST(KpPanel, PreparingTheSeries) {
  const TSPlotter& p = sample_plotter();
  Table bad = observations({{"1", "1", "1", Timestamp{}, 1}});
  EXPECT_EQ(error_of([&] { p._prepare_geomag(bad, std::nullopt, "UTC", std::nullopt, std::nullopt); }),
            "Kp plotting requires a valid DatetimeIndex");
  // Sorted, cut on the chart's clock, zone dropped; zoned keys shown in that zone.
  Table zoned = observations({{"1", "1", "1", make_timestamp(2024, 5, 10, 2, 0, 0), 2},
                              {"1", "1", "1", make_timestamp(2024, 5, 10, 1, 0, 0), 1},
                              {"1", "1", "1", make_timestamp(2024, 5, 10, 3, 0, 0), 3}},
                             "UTC");
  Table kp = kp_table({make_timestamp(2024, 5, 10)}, {2});
  PreparedGeomag g = p._prepare_geomag(zoned, kp, "Asia/Shanghai", std::string("2024-05-10 09:30"), std::nullopt);
  EXPECT_EQ(g.ts.key().zone(), "");
  EXPECT_EQ(g.ts.key().int64s(),
            (std::vector<int64_t>{make_timestamp(2024, 5, 10, 10, 0, 0).ns, make_timestamp(2024, 5, 10, 11, 0, 0).ns}));
  EXPECT_EQ(g.ts.column("OBSVALUE").float32s(), (std::vector<float>{2, 3}));
  ASSERT_TRUE(g.kp);
  EXPECT_FALSE(g.error);
  // The caller's table stays as it was, in a layout too.
  InTempDir here;
  Table before = zoned;
  TSPlotter(p).plot_by_items(zoned, {.show_geomag = true, .geomag_data = kp});
  EXPECT_EQ(zoned.key().int64s(), before.key().int64s());
  EXPECT_EQ(zoned.key().zone(), "UTC");
  EXPECT_EQ(zoned.column("OBSVALUE").float32s(), before.column("OBSVALUE").float32s());
  PreparedGeomag none = p._prepare_geomag(zoned, kp, "UTC", std::string("2024-06-01"), std::nullopt);
  EXPECT_EQ(none.ts.num_rows(), 0u);
  EXPECT_FALSE(none.kp);
  EXPECT_EQ(none.ts.key().zone(), "UTC");
}

TEST(Earthquakes, SecondAxisRangesAndLabels) {
  const TSPlotter& p = sample_plotter();
  auto events = [](std::vector<double> km, bool complete = true) {
    std::vector<int64_t> t;
    for (std::size_t i = 0; i < km.size(); ++i) t.push_back(make_timestamp(2024, 5, 10, int(i), 0, 0).ns);
    Table e(std::vector<Column>{Column::from_float64("distance", km),
                                Column::from_float64("magnitude", std::vector<double>(km.size(), 4.5))});
    if (complete) {
      e.add_column(Column::from_float64("size", std::vector<double>(km.size(), 7.5)));
      e.add_column(Column::from_strings("text", std::vector<std::optional<std::string>>(km.size(), "近震")));
    }
    e.set_key_column(Column::from_timestamps("date", t));
    return e;
  };
  chart::Figure f(10, 3);
  auto axes = f.subplots(2);
  axes[0]->plot({0, 1}, {0, 1});
  ASSERT_NE(p._add_secondary_data(*axes[0], events({120, 40})), nullptr);
  p._add_secondary_data(*axes[1], events({300, 80}));
  std::vector<chart::PanelInfo> info = f.describe();
  const chart::PanelInfo& twin = info[0].twin.at(0);
  EXPECT_EQ(twin.y.low, 0);
  EXPECT_EQ(twin.y.high, 170);
  EXPECT_EQ(twin.y.label, "震中距(km)");
  EXPECT_EQ(info[1].twin.at(0).y.low, 30);
  EXPECT_EQ(info[1].twin.at(0).y.high, 350);
  ASSERT_EQ(twin.marks.size(), 3u);  // the marks, then a label for each
  EXPECT_EQ(twin.marks[0].kind, "scatter");
  EXPECT_EQ(twin.marks[0].color, (chart::Color{1, 0, 0, 1}));
  EXPECT_DOUBLE_EQ(twin.marks[0].alpha, 0.7);
  EXPECT_EQ(twin.marks[0].label, "地震");
  EXPECT_EQ(twin.marks[0].sizes, (std::vector<double>{7.5, 7.5}));
  EXPECT_EQ(twin.marks[1].text, "近震");
  EXPECT_EQ(twin.marks[1].text_style.size, 8);
  LogCapture capture;
  chart::Figure g(10, 3);
  EXPECT_EQ(p._add_secondary_data(*g.subplots(1)[0], events({10}, false)), nullptr);
  EXPECT_TRUE(capture.contains("plotting", Level::warning, "缺少必要列: size, text"));
  EXPECT_EQ(p._add_secondary_data(*g.subplots(1)[0], std::nullopt), nullptr);
}

TEST(Earthquakes, FromTheCatalogueNearTheStation) {
  InTempDir here;
  TSPlotter p = sample_plotter();
  // Tai'an, 185 km from Tancheng, Ml 4.6 on 10 May; a small one, and one outside the time range.
  std::ofstream(here.dir / "cat.txt") << "20240510120000 36.050117.300 4.6       泰安附近\n"
                                         "20240510130000 34.600118.300 2.1       郯城\n"
                                         "20240601000000 34.600118.300 5.0       郯城\n";
  std::vector<Obs> rows;
  add_hours(rows, "37001", "1", "4112", 48);
  LogCapture capture;
  PlotResult r = p.plot_by_items(observations(rows), {.quakecat_dir = here.dir / "cat.txt"});
  EXPECT_TRUE(capture.contains("plotting", Level::info, "成功读取地震目录: " + (here.dir / "cat.txt").string()));
  const auto twin = r.figure->describe()[0].twin;
  ASSERT_EQ(twin.size(), 1u);
  EXPECT_EQ(twin[0].marks[0].x, (std::vector<double>{chart::to_days(make_timestamp(2024, 5, 10, 12, 0, 0))}));
  EXPECT_EQ(twin[0].marks.at(1).text.rfind("泰安附近Ml4.6\n", 0), 0u) << twin[0].marks.at(1).text;
  // A missing catalogue is logged; the chart is still made, without earthquakes.
  capture.clear();
  PlotResult without = p.plot_by_items(observations(rows), {.prefix = "w", .quakecat_dir = here.dir / "none.txt"});
  ASSERT_TRUE(without.figure);
  EXPECT_TRUE(without.figure->describe()[0].twin.empty());
  bool logged = false;
  for (const auto& rec : capture.records()) logged = logged || rec.message.rfind("读取地震目录出错: ", 0) == 0;
  EXPECT_TRUE(logged);
}

TEST(ByStations, FallbackIdsDrawnPanelIndexAndRainfall) {
  InTempDir here;
  TSPlotter p = sample_plotter();
  std::vector<Obs> rows;
  add_hours(rows, "12001.0", "1", "0001", 5);  // unknown item, sorted first
  add_hours(rows, "12001.0", "1", "4112", 5);
  add_hours(rows, "12001.0", "1", "3215", 5);  // never drawn in this layout
  p.stations_table = Table(
      std::vector<Column>{Column::from_strings("STATIONID", {"12001"}), Column::from_strings("STATIONNAME", {"测试站"}),
                          Column::from_float64("LONGITUDE", {118.0}), Column::from_float64("LATITUDE", {35.0})});
  LogCapture capture;
  PlotResult r = p.plot_by_stations(
      observations(rows),
      {.prefix = "P", .plot_types = std::vector<std::string>{"scatter", "line"}, .rainfall = observations({})});
  ASSERT_TRUE(r.figure);
  EXPECT_TRUE(std::filesystem::exists(here.figure("P12001.0_1.png")));
  std::vector<chart::PanelInfo> info = r.figure->describe();
  ASSERT_EQ(info.size(), 3u);  // two items and the (blank) rainfall panel
  EXPECT_TRUE(capture.contains("plotting", Level::warning, "未找到测项信息: 0001"));
  EXPECT_TRUE(info[0].marks.empty());
  EXPECT_EQ(info[1].title, "测试站/1/水位/base=12.0");
  ASSERT_EQ(info[1].marks.size(), 1u);
  EXPECT_EQ(info[1].marks[0].kind, "scatter");  // the first panel drawn
  EXPECT_EQ(info[1].marks[0].label, info[1].title);
  EXPECT_TRUE(info[2].marks.empty());
  // Rainfall with rows: bars hanging from the top, beside the Kp panel on the time axis.
  Table rain = observations(
      {{"12001", "1", "4911", make_timestamp(2024, 5, 10), 3}, {"12001", "1", "4911", make_timestamp(2024, 5, 11), 0}});
  PlotResult wet = p.plot_by_stations(observations(rows), {.prefix = "W",
                                                           .show_geomag = true,
                                                           .geomag_data = kp_table({make_timestamp(2024, 5, 10)}, {1}),
                                                           .rainfall = rain});
  std::vector<chart::PanelInfo> w = wet.figure->describe();
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[2].title, "降雨量");
  EXPECT_EQ(w[2].y.label, "mm");
  EXPECT_TRUE(w[2].y.inverted);
  ASSERT_EQ(w[2].marks.size(), 1u);
  EXPECT_EQ(w[2].marks[0].kind, "bar");
  EXPECT_EQ(w[2].marks[0].label, "降雨量");
  EXPECT_DOUBLE_EQ(w[2].marks[0].alpha, 0.5);
  EXPECT_EQ(w[2].marks[0].x[0], chart::to_days(make_timestamp(2024, 5, 10)));
  // Without the Kp panel the bars stand on the series' time axis too, the
  // days outside the series' range (11 May) left out: every panel reads the
  // same dates.
  PlotResult apart = p.plot_by_stations(observations(rows), {.prefix = "C", .rainfall = rain});
  std::vector<chart::PanelInfo> c = apart.figure->describe();
  const chart::PanelInfo& bars = c[2];
  EXPECT_EQ(bars.marks.at(0).x, (std::vector<double>{chart::to_days(make_timestamp(2024, 5, 10))}));
  EXPECT_EQ(bars.x.unit, "days since 1970-01-01");
  EXPECT_EQ(bars.x.ticks, c[0].x.ticks);
  EXPECT_EQ((std::pair{bars.x.low, bars.x.high}), (std::pair{c[0].x.low, c[0].x.high}));
  // No drawable item and no rainfall: no figure.
  EXPECT_FALSE(p.plot_by_stations(observations({{"1", "1", "3215", make_timestamp(2024, 5, 1), 1}})).figure);
}

TEST(ByStations, DailyValuesAndDispatch) {
  InTempDir here;
  TSPlotter p = sample_plotter();
  std::vector<Obs> rows;
  add_hours(rows, "37001", "1", "4112", 72);
  LogCapture capture;
  PlotResult r = p.plot(observations(rows), {.groupby = "STATION", .daily_mean_values = true});
  ASSERT_TRUE(r.figure);
  EXPECT_EQ(r.figure->describe()[0].marks.at(0).x.size(), 3u);  // three days
  EXPECT_TRUE(std::filesystem::exists(here.figure("37001_1.png")));
  PlotResult none = p.plot(observations(rows), {.groupby = "point"});
  EXPECT_FALSE(none.figure);
  EXPECT_TRUE(none.axes.empty());
  EXPECT_TRUE(capture.contains("plotting", Level::error, "不支持的分组方式: point"));
  PlotResult items = p.plot(observations(rows), {.groupby = "items by station"});
  EXPECT_TRUE(std::filesystem::exists(here.figure("4112_1.png")));  // "item" is tested first
}

}  // namespace
}  // namespace tremora::tsplot
