// A script's shape: connect, fetch a clean series, filter spikes, draw the
// stacked-panel chart with statistics lines, print the table's edges.
// Run it where default.conf names the database "sample" (see the README).
#include <iostream>

#include <tremora/fetching.hpp>
#include <tremora/postprocessing.hpp>
#include <tremora/tsplot.hpp>

using namespace tremora;

int main() {
  auto conn = fetching::conn_to_Oracle("sample");  // an alias of default.conf
  if (!conn) return 1;                             // the log says why
  auto ts = fetching::fetching_data(conn.get(), "20240509", "20240511", "水位", "郯城", "分钟值", "预处理库",
                                    {.gzip_flag = true});
  if (!ts) return 1;  // unknown names: logged
  Table clean = postprocessing::filter_with_fast_mad(*ts);
  tsplot::TSPlotter plotter(conn);
  plotter.plot(clean, {.groupby = "item", .show_mean = true, .show_std = true});
  std::cout << clean;  // first and last rows
  conn->close();
}
