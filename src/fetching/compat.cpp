// The compatibility functions: the class operations under the parameter
// names scripts use, and three canned loaders.
#include <cmath>

#include "tremora/fetching.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"

namespace tremora::fetching {
namespace {

const Timestamp g_load_time = local_now();

std::string day_text(Timestamp t) { return format_timestamp(t, "%Y%m%d"); }

Table require_table(std::optional<Table> t, const char* loader) {
  if (!t) throw std::runtime_error(std::string(loader) + ": the fetch returned no table");
  return std::move(*t);
}

}  // namespace

Timestamp load_time() { return g_load_time; }

metastash::TimeseriesInfo timeseries_info(db::Connection* conn, const std::string& cache_dir, bool refresh_cache) {
  return MetadataFetcher::get_timeseries_info(conn, cache_dir, refresh_cache);
}

std::map<std::string, Table> refresh_metastash(db::Connection& conn, const std::string& cache_dir,
                                               const std::vector<std::string>& tables) {
  return metastash::MetadataCache::refresh_cache(conn, cache_dir, tables);
}

std::optional<Table> fetching_data(db::Connection* conn, const DateArg& startdate, const DateArg& enddate,
                                   const std::string& methodname, const std::string& stationname,
                                   const std::string& data_type, const std::string& base_type,
                                   const FetchOptions& options) {
  return DataFetcher::fetch_data(conn, startdate, enddate, methodname, stationname, data_type, base_type, options);
}

std::pair<DateArg, DateArg> fetching_dialog_dates(const FetchingDialogOptions& options) {
  return {options.startdate.value_or(DateArg(Timestamp{g_load_time.ns - kNanosPerDay})),
          options.enddate.value_or(DateArg(g_load_time))};
}

FetchOutcome fetching_dialog_outcome(db::Connection* conn, const FetchingDialogOptions& options) {
  auto [start, end] = fetching_dialog_dates(options);
  return DataFetcher::fetch_dialog_outcome(
      conn, start, end, {options.methodname, options.stationname, options.itemname, options.log_type});
}

std::optional<Table> fetching_dialog(db::Connection* conn, const FetchingDialogOptions& options) {
  return fetching_dialog_outcome(conn, options).table;
}

std::pair<DateArg, DateArg> daily_load_dates(double period) {
  Timestamp now = local_now();
  Timestamp start = add_nanos(now, -nanos_from_count(period, kNanosPerDay));
  return {day_text(start), day_text(now)};
}

FetchOutcome load_Oracle_data_daily_outcome(db::Connection* conn, double period, const std::string& is_preprocessed,
                                            const std::string& item, const std::string& datatype, bool gzip_flag) {
  auto [start, end] = daily_load_dates(period);
  return DataFetcher::fetch_data_outcome(conn, start, end, item, std::string(kAll), datatype, is_preprocessed,
                                         {.gzip_flag = gzip_flag});
}

std::optional<Table> load_Oracle_data_daily(db::Connection* conn, double period, const std::string& is_preprocessed,
                                            const std::string& item, const std::string& datatype, bool gzip_flag) {
  return load_Oracle_data_daily_outcome(conn, period, is_preprocessed, item, datatype, gzip_flag).table;
}

Table load_Oracle_data_resistivity_year(db::Connection* conn, const DateArg& date_0) {
  Table df = require_table(
      fetching_data(conn, date_0, day_text(local_now()), "直流单装置地电阻率", std::string(kAll), "小时值", "预处理库"),
      "load_Oracle_data_resistivity_year");
  // An empty result has nothing to mask (and comes back as the query gave
  // it, without float values to mask).
  if (df.num_rows() == 0) return df;
  const Column& station = df.column(qzdata::kStationId);
  const Column& item = df.column(qzdata::kItemId);
  std::vector<float>& value = df.column(qzdata::kObsValue).float32s();
  for (std::size_t i = 0; i < value.size(); ++i) {
    bool target = !station.is_null(i) && station.text(i) == "370082" && !item.is_null(i) &&
                  (item.text(i) == "3211" || item.text(i) == "3212");
    if (target && value[i] < 8) value[i] = std::nanf("");
  }
  return df;
}

Table load_Oracle_data_water_year(db::Connection* conn) {
  Table df = require_table(fetching_data(conn, "20090101", day_text(local_now()), "水位", "郯城", "日均值", "预处理库"),
                           "load_Oracle_data_water_year");
  for (std::size_t c = 0; c < df.num_columns(); ++c) {
    Column& col = df.column(c);
    if (col.type() != DataType::String) continue;
    StringColumnBuilder out;
    for (std::size_t i = 0; i < col.size(); ++i)
      col.is_null(i) ? out.append_null() : out.append(replace_all(col.text(i), "37005h", "37005H"));
    col = out.finish(col.name());
  }
  df.column(qzdata::kObsValue) = cast_float32(df.column(qzdata::kObsValue));
  if (df.num_rows() == 0 || !df.has_key()) throw std::runtime_error("load_Oracle_data_water_year: no rows to reindex");
  std::optional<Column> days = time_grid(df.key(), kNanosPerDay);
  if (!days) throw std::runtime_error("load_Oracle_data_water_year: no dated rows to reindex");
  Table daily = reindex(df, *days);
  backward_fill(daily);
  return daily;
}

}  // namespace tremora::fetching
