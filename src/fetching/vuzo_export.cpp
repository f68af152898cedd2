// The VUZO export of DataFetcher: the context of an observation table from
// the dictionaries, and the one-step export to a file.
#include <algorithm>

#include "tremora/export.hpp"
#include "tremora/fetching.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/parquet.hpp"
#include "tremora/qzdata.hpp"

namespace tremora::fetching {
namespace {

using logger_config::fetching_logger;

// Numbers are equal by value (37001 and 37001.0), other values when they are
// the same value of the same type (the text "37001" is not the number 37001).
bool same_value(const Value& a, const Value& b) {
  if (a.is_number() && b.is_number()) return a.as_double() == b.as_double();
  return a == b;
}

// The rows of a dictionary table whose `key` equals one of the distinct
// values of `key` in `df`, in the dictionary's order: a dictionary row is
// listed once however many rows of `df` match it.
Table matching_rows(const Table& dictionary, const Table& df, std::string_view key) {
  Column distinct = unique(df.column(key));
  std::vector<Value> wanted;
  for (std::size_t i = 0; i < distinct.size(); ++i)
    if (!distinct.is_null(i)) wanted.push_back(distinct.at(i));
  const Column& ids = dictionary.column(key);
  return filter_rows(dictionary, [&](std::size_t row) {
    if (ids.is_null(row)) return false;
    Value id = ids.at(row);
    return std::any_of(wanted.begin(), wanted.end(), [&](const Value& w) { return same_value(id, w); });
  });
}

// Writes a VUZO table (atomically, snappy) and says where; without one,
// logs that there is nothing to write.
void write_vuzo(const std::optional<Table>& table, const std::filesystem::path& path) {
  if (!table || table->num_rows() == 0) {
    fetching_logger.error("导出失败：无法生成 VUZO Table");
    return;
  }
  parquet::write_table(*table, path);
  fetching_logger.info("数据已自动关联元数据并导出至: " + path.string());
}

}  // namespace

std::optional<Table> DataFetcher::to_vuzo(db::Connection* conn, const Table& df, int64_t sampling_rate) {
  if (df.num_rows() == 0) return std::nullopt;
  metastash::TimeseriesInfo info = MetadataFetcher::get_timeseries_info(conn);
  exchange::VuzoContext context;
  context.station_info = matching_rows(info.stations, df, qzdata::kStationId);
  context.item_info = matching_rows(info.items, df, qzdata::kItemId);
  context.sampling_rate = sampling_rate;
  context.export_time = iso_format_micros(local_now());
  return exchange::to_vuzo(df, context);
}

std::optional<Table> DataFetcher::to_vuzo(db::Connection* conn, const std::optional<Table>& df, int64_t sampling_rate) {
  if (!df) return std::nullopt;
  return to_vuzo(conn, *df, sampling_rate);
}

void DataFetcher::export_vuzo(db::Connection* conn, const Table& df, const std::filesystem::path& file_path,
                              int64_t sampling_rate) {
  write_vuzo(to_vuzo(conn, df, sampling_rate), file_path);
}

void DataFetcher::export_vuzo(db::Connection* conn, const std::optional<Table>& df,
                              const std::filesystem::path& file_path, int64_t sampling_rate) {
  write_vuzo(to_vuzo(conn, df, sampling_rate), file_path);
}

}  // namespace tremora::fetching
