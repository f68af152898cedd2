#include "tremora/cleaning.hpp"
#include "tremora/errors.hpp"
#include "tremora/fetching.hpp"
#include "tremora/gzip.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/text.hpp"

namespace tremora::fetching {
namespace {

using logger_config::fetching_logger;

const std::vector<SortKey> kObservationOrder{{"ITEMID"}, {"STATIONID"}, {"POINTID"}, {"STARTDATE"}};

// "NULL" repeated for every sample of a day, separated by single blanks.
std::string null_day(int64_t null_count) {
  std::string text;
  for (int64_t i = 0; i < null_count; ++i) text += i ? " NULL" : "NULL";
  return text;
}

// The sampling rate of the rows: the first row's SAMPLERATE code, when it
// names a known rate, else the requested one.
int64_t sampling_rate(const Table& t, const SampleRateConfig& requested) {
  auto col = t.find_column("SAMPLERATE");
  if (!col) return requested.rate;
  auto code = padded_code(t.column(*col), 0);
  if (!code) return requested.rate;
  const std::string& id = *code;
  auto rate = SampleRateType::get_rate_by_id(id);
  if (!rate || *rate == 0) {
    fetching_logger.warning("无法识别数据库中的采样率ID: " + id + ", 采用请求配置值");
    return requested.rate;
  }
  return *rate;
}

// Where a row comes from, for error messages.
std::string row_origin(const Table& t, std::size_t row) {
  auto text = [&](const char* name) {
    auto c = t.find_column(name);
    return c ? t.column(*c).at(row).to_text() : std::string("?");
  };
  return "station " + text("STATIONID") + ", item " + text("ITEMID") + ", " + text("STARTDATE");
}

// Inflates the gzip-compressed OBSVALUE of every row into UTF-8 text.
void inflate_values(Table& t) {
  const Column& obs = t.column("OBSVALUE");
  StringColumnBuilder out;
  for (std::size_t i = 0; i < obs.size(); ++i) {
    if (obs.is_null(i)) {
      out.append("");
      continue;
    }
    std::string text;
    try {
      if (obs.type() != DataType::Binary && obs.type() != DataType::String)
        throw TypeError("the value is not compressed bytes");
      text = gzip_decompress(obs.text(i), kMaxInflatedValueBytes);
    } catch (const std::exception& e) {
      throw IOError("cannot inflate OBSVALUE of " + row_origin(t, i) + ": " + e.what());
    }
    if (!is_valid_utf8(text)) throw IOError("OBSVALUE of " + row_origin(t, i) + " is not UTF-8 text after inflating");
    out.append(text);
  }
  t.set_column(out.finish("OBSVALUE"));
}

// Replaces "NULLALL" in every text cell by the null-day filler.
void expand_null_days(Table& t, const std::string& filler) {
  for (std::size_t c = 0; c < t.num_columns(); ++c) {
    Column& col = t.column(c);
    if (col.type() != DataType::String) continue;
    bool found = false;
    for (std::size_t i = 0; i < col.size() && !found; ++i) found = contains(col.text(i), "NULLALL");
    if (!found) continue;
    StringColumnBuilder out;
    for (std::size_t i = 0; i < col.size(); ++i)
      col.is_null(i) ? out.append_null() : out.append(replace_all(col.text(i), "NULLALL", filler));
    col = out.finish(col.name());
  }
}

void codes_as_text(Table& t) {
  for (const char* name : {"STATIONID", "ITEMID", "POINTID"})
    if (auto c = t.find_column(name)) t.column(*c) = to_text(t.column(*c));
}

}  // namespace

std::optional<Table> DataFetcher::fetch_data(db::Connection* conn, const DateArg& start_date, const DateArg& end_date,
                                             const std::string& method_name, const std::string& station_name,
                                             const std::string& data_type, const std::string& base_type,
                                             const FetchOptions& options) {
  fetching_logger.debug("开始获取数据...");
  Table method_ids = MetadataFetcher::get_method_ids(conn, method_name);
  auto rate_config = SampleRateType::get_config(data_type);
  if (!rate_config) {
    fetching_logger.error("未选择数据类型!");
    return std::nullopt;
  }
  auto base_type_id = DatabaseType::get_id(base_type);
  if (!base_type_id) {
    fetching_logger.error("未选择数据库类型!");
    return std::nullopt;
  }
  auto table_names = MetadataFetcher::get_table_names(conn, method_ids, *base_type_id, rate_config->id);
  if (!table_names || table_names->num_rows() == 0) {
    fetching_logger.debug("未找到匹配的表名!");
    return std::nullopt;
  }
  std::optional<Table> station_ids;
  if (station_name != kAll) station_ids = MetadataFetcher::get_station_ids(conn, station_name);
  std::optional<Table> item_ids;
  if (!(std::holds_alternative<std::string>(options.item_name) && std::get<std::string>(options.item_name) == kAll))
    item_ids = MetadataFetcher::get_item_ids(conn, options.item_name);
  auto sql =
      QueryBuilder::build_data_query(*table_names, start_date, end_date, station_ids, item_ids, options.point_id);
  if (!sql || sql->empty()) {
    fetching_logger.error("未生成SQL查询!");
    return std::nullopt;
  }
  if (!conn) throw DatabaseError("no database connection");
  Table t = conn->query(*sql);
  upper_case_column_names(t);
  if (t.num_rows() == 0) {
    fetching_logger.debug("查询结果为空!");
    return t;
  }
  codes_as_text(t);
  sort_in_place(t, kObservationOrder);
  int64_t rate = sampling_rate(t, *rate_config);
  int64_t null_count = rate > 0 ? 86400 / rate : 0;
  if (options.gzip_flag && rate <= 60) inflate_values(t);
  expand_null_days(t, null_day(null_count));
  if (options.my_split_lines) t = cleaning::split_lines(std::move(t), double(rate));
  upper_case_column_names(t, true);
  fetching_logger.debug("数据获取完成...");
  return t;
}

std::optional<Table> DataFetcher::fetch_dialog(db::Connection* conn, const DateArg& start_date, const DateArg& end_date,
                                               const DialogOptions& options) {
  Table method_ids = MetadataFetcher::get_method_ids(conn, options.method_name);
  std::optional<Table> station_ids, item_ids;
  if (options.station_name != kAll) station_ids = MetadataFetcher::get_station_ids(conn, options.station_name);
  if (options.item_name != kAll) item_ids = MetadataFetcher::get_item_ids(conn, options.item_name);
  std::vector<Table> found;
  const Column ids = to_text(method_ids.column("methodid"));
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (!conn) throw DatabaseError("no database connection");
    Table part = conn->query(
        "SELECT TABLE_NAME \nFROM ALL_TABLES \nWHERE TABLE_NAME LIKE '%' || :base_type_id || '%'\n"
        "AND TABLE_NAME LIKE '%' || :method_id || '%'",
        {{"base_type_id", "DLG"}, {"method_id", ids.at(i)}});
    lower_case_column_names(part);
    found.push_back(std::move(part));
  }
  std::optional<Table> table_names;
  if (!found.empty()) {
    Table all = concat(found);
    const Column& names = all.column("table_name");
    std::vector<uint8_t> keep(names.size());
    for (std::size_t i = 0; i < keep.size(); ++i) keep[i] = names.is_null(i) || !contains(names.text(i), "_DEV_");
    table_names = filter(all, keep);
  }
  if (!table_names || table_names->num_rows() == 0) {
    fetching_logger.warning("未找到匹配的表名!");
    return std::nullopt;
  }
  auto sql =
      QueryBuilder::build_dialog_query(*table_names, start_date, end_date, options.log_type, station_ids, item_ids);
  if (!sql || sql->empty()) {
    fetching_logger.error("未生成SQL查询!");
    return std::nullopt;
  }
  Table result = conn->query(*sql, {{"evt_id", options.log_type}});
  lower_case_column_names(result);
  return result;
}

}  // namespace tremora::fetching
