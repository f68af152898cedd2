// The review command: one page of a network's series over a period.
#include <iostream>

#include "commands.hpp"
#include "tremora/geomag.hpp"
#include "tremora/review.hpp"

namespace tremora::cli {

void add_review(CLI::App& app) {
  struct Args {
    std::string db, start, end, out, quakecat, filters, geomag_file;
    bool geomag = false;
    review::ReviewOptions o;
  };
  auto a = std::make_shared<Args>();
  review::ReviewOptions& o = a->o;
  CLI::App* cmd = app.add_subcommand("review", "Check every series of a network over a period and write one page");
  cmd->add_option("--db", a->db, "Database alias (section of default.conf)")->required();
  cmd->add_option("--start", a->start, "First day (20240501, 2024-05-01, ...)")->required();
  cmd->add_option("--end", a->end, "Last day")->required();
  cmd->add_option("--out", a->out, "Folder of the page (index.html, series.csv and the charts)")->required();
  cmd->add_option("--method", o.method, "Method or discipline name (水位, 形变, 全部, ...)");
  cmd->add_option("--station", o.station, "Station name, or 全部");
  cmd->add_option("--rate", o.rate, "Sampling rate: 秒钟值, 分钟值, 小时值, 日均值");
  cmd->add_option("--type", o.type, "Database type: 原始库, 预处理库, 产品库");
  cmd->add_flag("--gzip", o.gzip, "Values are gzip-compressed (second and minute data)");
  cmd->add_option("--reference-days", o.reference_days, "Days before the period that give each series' usual band");
  cmd->add_option("--band-k", o.band_k, "Half width of the band in standard deviations of the reference days");
  cmd->add_option("--quakecat", a->quakecat, "Earthquake catalogue file for the charts");
  cmd->add_option("--filters", a->filters, "Catalogue filters: distance km:minimum magnitude, comma-separated");
  auto* kp = cmd->add_flag("--geomag", a->geomag, "A Kp panel under the charts, fetched from GFZ");
  cmd->add_option("--geomag-file", a->geomag_file, "A Kp panel from a Kp file (WDC format)")->excludes(kp);
  set_examples(cmd,
               {"tremora review --db sample --start 20240508 --end 20240514 --gzip --quakecat sample-catalogue.txt "
                "--geomag-file Kp_def2024.wdc --out review"});
  cmd->callback([a] {
    review::ReviewOptions o = a->o;
    if (!a->quakecat.empty()) o.quakecat = a->quakecat;
    if (!a->filters.empty()) o.quake_filters = parse_filters(a->filters);
    o.geomag = a->geomag || !a->geomag_file.empty();
    if (!a->geomag_file.empty()) o.geomag_data = geomag::read_kp_file(a->geomag_file);
    auto conn = connect(a->db);
    refuse_writing_over_database(*conn, a->out);
    Table table = review::review(conn, a->start, a->end, a->out, o);
    std::cout << "Reviewed " << table.num_rows()
              << " series: " << (std::filesystem::absolute(a->out) / "index.html").string() << "\n";
  });
}

}  // namespace tremora::cli
