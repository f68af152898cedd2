// The kp command: the Kp index of a time range, from the GFZ service or
// from a GFZ Kp file.
#include <iostream>

#include "commands.hpp"
#include "tremora/geomag.hpp"
#include "tremora/qzdata.hpp"

namespace tremora::cli {
namespace {

struct KpArgs {
  std::string start, end, timezone = qzdata::kChartTimeZone, file, out;
  double timeout = 20;
};

Table kp_of_range(const KpArgs& a) {
  if (a.file.empty()) return geomag::fetch_geomag(a.start, a.end, a.timezone, a.timeout);
  auto [start, end] = geomag::kp_range(a.start, a.end, a.timezone);
  return geomag::overlapping_intervals(geomag::normalize_geomag(geomag::read_kp_file(a.file), a.timezone), start, end);
}

}  // namespace

void add_kp(CLI::App& app) {
  auto a = std::make_shared<KpArgs>();
  CLI::App* cmd = app.add_subcommand("kp", "Kp index of the three-hour intervals that overlap a time range");
  cmd->add_option("--start", a->start, "Start: a date or date-time, in --tz unless it has an offset")->required();
  cmd->add_option("--end", a->end, "End (inclusive), in the same forms")->required();
  cmd->add_option("--tz", a->timezone, "Time zone of bounds without offset and of the result");
  cmd->add_option("--file", a->file,
                  "Read this GFZ Kp file (JSON reply, three-hourly text or WDC) instead of the service");
  cmd->add_option("--timeout", a->timeout, "Request time-out in seconds");
  cmd->add_option("--out", a->out, "Write the Kp table here (.csv or .parquet) instead of printing it");
  set_examples(cmd, {"tremora kp --start 2024-05-10 --end 2024-05-12 --file Kp_def2024.wdc"});
  cmd->callback([a] {
    refuse_same_files({{"--file", a->file}}, {{"--out", a->out}});
    Table kp = kp_of_range(*a);
    if (a->out.empty()) {
      std::cout << kp;
      return;
    }
    write_table_file(kp, a->out);
    std::cout << "wrote " << a->out << ": " << kp.num_rows() << " Kp intervals\n";
  });
}

}  // namespace tremora::cli
