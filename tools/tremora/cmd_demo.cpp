// The demo command: the whole road on the sample database, offline, into
// one folder: database and catalogue, metadata cache, fetches,
// post-processing, charts, a VUZO export, and a summary of what was written.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>

#include "bundled_data.hpp"
#include "commands.hpp"
#include "tremora/fetching.hpp"
#include "tremora/files.hpp"
#include "tremora/geomag.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/parquet.hpp"
#include "tremora/plotkit.hpp"
#include "tremora/postprocessing.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/review.hpp"
#include "tremora/sampledb.hpp"
#include "tremora/tsplot.hpp"
#include "tremora/yearplot.hpp"

namespace tremora::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The steps of the demo, timed (and shown on the progress line), and the
// files they wrote.
class Journal {
 public:
  Journal(fs::path dir, std::size_t steps) : dir_(std::move(dir)), progress_("demo", steps) {}

  template <typename Work>
  void step(const std::string& name, Work work) {
    progress_.step(name);
    auto start = Clock::now();
    work();
    steps_.emplace_back(name, std::chrono::duration<double>(Clock::now() - start).count());
  }

  // A file written, with its rows when it is a table.
  void wrote(const fs::path& file, std::optional<std::size_t> rows = std::nullopt) { files_.emplace_back(file, rows); }

  void print(std::ostream& out) {
    progress_.finish();
    constexpr int kNameWidth = 62;
    out << "Files written into " << dir_.string() << ":\n";
    for (const auto& [file, rows] : files_) {
      out << "  " << std::left << std::setw(kNameWidth) << fs::relative(file, dir_).string() << std::right;
      if (rows) out << std::setw(10) << *rows << " rows";
      else if (auto bytes = fs::file_size(file); bytes < 1024) out << std::setw(10) << bytes << " B";
      else out << std::setw(10) << bytes / 1024 << " KiB";
      out << '\n';
    }
    double total = 0;
    out << "Steps:\n";
    for (const auto& [name, seconds] : steps_) {
      out << "  " << std::left << std::setw(kNameWidth) << name << std::right << std::fixed << std::setprecision(2)
          << std::setw(8) << seconds << " s\n";
      total += seconds;
    }
    out << "  " << std::left << std::setw(kNameWidth) << "total" << std::right << std::setw(8) << total << " s\n";
  }

 private:
  fs::path dir_;
  Progress progress_;
  std::vector<std::pair<std::string, double>> steps_;
  std::vector<std::pair<fs::path, std::optional<std::size_t>>> files_;
};

struct DemoArgs {
  std::string dir = "demo";
  bool online = false;
  std::string docs;
};

// Runs with HOME (whose ~/.tremo holds the metadata cache and a second
// default.conf) and the working directory in the demo's folder, so that
// nothing of the user's own is read or touched.
class DemoHome {
 public:
  explicit DemoHome(const fs::path& dir) : old_cwd_(fs::current_path()) {
    if (const char* home = std::getenv("HOME")) old_home_ = home;
    fs::create_directories(dir / "home");
    setenv("HOME", (dir / "home").c_str(), 1);
    fs::current_path(dir);
  }
  ~DemoHome() {
    std::error_code ec;
    fs::current_path(old_cwd_, ec);
    if (old_home_) setenv("HOME", old_home_->c_str(), 1);
    else unsetenv("HOME");
  }
  DemoHome(const DemoHome&) = delete;
  DemoHome& operator=(const DemoHome&) = delete;

 private:
  fs::path old_cwd_;
  std::optional<std::string> old_home_;
};

Table required(std::optional<Table> t, const std::string& what) {
  if (!t || t->num_rows() == 0) throw std::runtime_error("demo: the sample database gave no " + what);
  return std::move(*t);
}

void write_parquet(Journal& j, const Table& t, const fs::path& file) {
  write_table_file(t, file);
  j.wrote(fs::absolute(file), t.num_rows());
}

// The Kp data of the charts: the 2024 file built into the program, or
// (online) the GFZ service, falling back to the file.
Table kp_data(bool online, const fs::path& file, Timestamp first, Timestamp last) {
  if (online) {
    try {
      return geomag::fetch_geomag(geomag::ZonedTime{first, "UTC"}, geomag::ZonedTime{last, "UTC"},
                                  qzdata::kChartTimeZone);
    } catch (const std::exception& e) {
      std::cerr << "demo: the GFZ Kp service failed (" << e.what() << "); the bundled 2024 file is used\n";
    }
  }
  return geomag::read_kp_file(file);
}

// Every figure the plotting logger reports as saved, in the journal.
void note_figures(Journal& j, const logger_config::LogCapture& capture, std::size_t& seen) {
  auto records = capture.records();
  for (; seen < records.size(); ++seen) {
    const std::string& m = records[seen].message;
    if (m.rfind("Figure ", 0) == 0)
      j.wrote(fs::absolute("figures" / fs::path(m.substr(7, m.find(" has been saved") - 7))));
    if (m.rfind("Annual comparison chart saved as: ", 0) == 0)
      j.wrote(fs::absolute(m.substr(std::string("Annual comparison chart saved as: ").size())));
  }
}

// Small copies of three charts, for the README's tour.
void save_for_docs(const fs::path& docs, const std::vector<std::pair<std::string, const chart::Figure*>>& charts) {
  fs::create_directories(docs);
  for (const auto& [name, figure] : charts)
    if (figure) figure->save(docs / name, 60);
}

void run_demo(const DemoArgs& a) {
  fs::path dir = fs::absolute(a.dir);
  std::optional<fs::path> docs;
  if (!a.docs.empty()) docs = fs::absolute(a.docs);
  fs::create_directories(dir);
  constexpr std::size_t kSteps = 7;
  Journal j(dir, kSteps);
  DemoHome home(dir);
  logger_config::LogCapture capture;
  std::size_t seen = 0;
  sampledb::Options sample;

  j.step("sample database and catalogue", [&] {
    sampledb::write_database("sample.db", sample);
    sampledb::write_catalogue("sample-catalogue.txt", sample);
    write_file_atomically("default.conf", [](std::ostream& out) {
      out << "[sample]\nDRIVER = sqlite\nHOST = sample.local\nDATABASE = sample.db\n";
    });
    std::ofstream("Kp_def2024.wdc", std::ios::binary) << bundled_kp_2024();
    for (const char* f : {"sample.db", "sample-catalogue.txt", "default.conf", "Kp_def2024.wdc"})
      j.wrote(fs::absolute(f));
  });
  auto conn = fetching::conn_to_Oracle("sample");
  if (!conn) throw std::runtime_error("demo: cannot open the sample database (see the log above)");

  j.step("refresh of the metadata cache", [&] {
    for (const auto& [name, table] : fetching::refresh_metastash(*conn))
      j.wrote(fs::absolute(metastash::MetadataCache::cache_path(name, "", "sample.local")), table.num_rows());
  });

  Table minutes, hours, days, years;
  j.step("fetches (minute gzip, day rows, hourly, daily, dialog)", [&] {
    minutes = required(fetching::fetching_data(conn.get(), "20240501", "20240521", "水位", "全部", "分钟值", "预处理库",
                                               {.gzip_flag = true}),
                       "minute data");
    hours = required(fetching::fetching_data(conn.get(), "20240401", "20240531", "全部", "郯城", "小时值", "预处理库"),
                     "hourly data");
    days = required(fetching::fetching_data(conn.get(), "20240401", "20240531", "全部", "郯城", "日均值", "预处理库"),
                    "daily data");
    years = required(fetching::fetching_data(conn.get(), "20220101", "20241231", "水位", "郯城", "日均值", "预处理库"),
                     "three years of daily data");
    Table day_rows = required(fetching::fetching_data(conn.get(), "20240501", "20240521", "水位", "郯城", "分钟值",
                                                      "预处理库", {.gzip_flag = true, .my_split_lines = false}),
                              "minute day rows");
    Table dialog = required(fetching::fetching_dialog(conn.get(), {.startdate = "20240101", .enddate = "20241231"}),
                            "log entries");
    write_parquet(j, minutes, "data/water_minutes.parquet");
    write_parquet(j, hours, "data/tancheng_hours.parquet");
    write_parquet(j, days, "data/tancheng_days.parquet");
    write_parquet(j, years, "data/water_days_2022_2024.parquet");
    write_parquet(j, dialog, "data/log_2024.parquet");
    write_parquet(j, day_rows, "data/tancheng_minute_day_rows.parquet");
  });

  j.step("post-processing (MAD filter, hourly means, first difference)", [&] {
    Table one = rows_with_text(minutes, qzdata::kStationId, "37001");
    write_parquet(j, postprocessing::filter_with_fast_mad(one), "data/tancheng_minutes_mad.parquet");
    Table with_times = minutes;
    with_times.reset_key();
    write_parquet(j, postprocessing::resample_timeseries_data(with_times, "1h", "mean"),
                  "data/water_hourly_means.parquet");
    write_parquet(j, postprocessing::first_difference(minutes), "data/water_minutes_diff.parquet");
  });

  j.step("charts (by items, by stations, annual comparison)", [&] {
    Table kp = kp_data(a.online, "Kp_def2024.wdc", make_timestamp(2024, 4, 1), make_timestamp(2024, 5, 31));
    tsplot::TSPlotter plotter(conn);
    plotter.plot(minutes, {.groupby = "item",
                           .prefix = "items_",
                           .show_mean = true,
                           .show_std = true,
                           .quakecat_dir = "sample-catalogue.txt",
                           .show_geomag = true,
                           .geomag_data = kp});
    tsplot::PlotResult station = plotter.plot(rows_with_text(days, qzdata::kItemId, "4112"),
                                              {.groupby = "station",
                                               .prefix = "stations_",
                                               .show_mean = true,
                                               .show_std = true,
                                               .quakecat_dir = "sample-catalogue.txt",
                                               .show_geomag = true,
                                               .geomag_data = kp,
                                               .rainfall = rows_with_text(days, qzdata::kItemId, "4911")});
    yearplot::AnnualChart annual = yearplot::plot_annual_comparison(
        years, {.output_file = "annual_water.png", .y_label = "水位 (m)", .station_name = "郯城"});
    note_figures(j, capture, seen);
    if (docs) {
      // The figure of the item that three stations measure.
      tsplot::PlotResult water =
          plotter.plot(rows_with_text(minutes, qzdata::kItemId, "4112"), {.prefix = "docs_",
                                                                          .show_mean = true,
                                                                          .show_std = true,
                                                                          .quakecat_dir = "sample-catalogue.txt",
                                                                          .show_geomag = true,
                                                                          .geomag_data = kp});
      save_for_docs(*docs, {{"demo_items.png", water.figure.get()},
                            {"demo_station.png", station.figure.get()},
                            {"demo_annual.png", annual.figure.get()}});
    }
  });

  j.step("VUZO export", [&] {
    fetching::DataFetcher::export_vuzo(conn.get(), minutes, "data/water_minutes.vuzo", 60);
    j.wrote(fs::absolute("data/water_minutes.vuzo"), minutes.num_rows());
  });

  j.step("network review (a week of minute data)", [&] {
    Table series = review::review(
        conn, "20240508", "20240514", "review",
        {.gzip = true,
         .quakecat = fs::path("sample-catalogue.txt"),
         .geomag = true,
         .geomag_data = kp_data(false, "Kp_def2024.wdc", make_timestamp(2024, 4, 1), make_timestamp(2024, 5, 31))});
    j.wrote(fs::absolute("review/index.html"), series.num_rows());
  });
  conn->close();
  j.print(std::cout);
}

}  // namespace

void add_demo(CLI::App& app) {
  auto a = std::make_shared<DemoArgs>();
  CLI::App* cmd = app.add_subcommand("demo", "Run the whole road on the sample database, offline, into a folder");
  cmd->add_option("DIR", a->dir, "Folder to write everything into");
  cmd->add_flag("--online", a->online, "Ask the GFZ service for the Kp index (falls back to the bundled 2024 file)");
  cmd->add_option("--docs", a->docs, "Also save small copies of three charts into this folder (the README's tour)");
  set_examples(cmd, {"tremora demo demo"});
  cmd->callback([a] { run_demo(*a); });
}

}  // namespace tremora::cli
