#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <optional>

#include "table_lookup.hpp"
#include "tremora/cleaning.hpp"
#include "tremora/errors.hpp"
#include "tremora/fetching.hpp"
#include "tremora/gzip.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/parallel.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"

namespace tremora::fetching {
namespace {

using logger_config::fetching_logger;

const std::vector<SortKey> kObservationOrder{
    {qzdata::kItemId}, {qzdata::kStationId}, {qzdata::kPointId}, {qzdata::kStartDate}};

// "NULL" repeated for every sample of a day, separated by single blanks.
std::string null_day(int64_t null_count) {
  std::string text;
  for (int64_t i = 0; i < null_count; ++i) text += i ? " NULL" : "NULL";
  return text;
}

// The sampling rate of the rows: the first row's SAMPLERATE code, when it
// names a known rate, else the requested one.
int64_t sampling_rate(const Table& t, const SampleRateConfig& requested) {
  auto col = t.find_column(qzdata::kSampleRate);
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
  return "station " + text(qzdata::kStationId) + ", item " + text(qzdata::kItemId) + ", " + text(qzdata::kStartDate);
}

// The text with every "NULLALL" replaced by the null-day filler; nothing
// when it holds none.
std::optional<std::string> null_days_expanded(std::string_view text, const std::string& filler) {
  if (!contains(text, "NULLALL")) return std::nullopt;
  return replace_all(text, "NULLALL", filler);
}

// Rows are written in parallel in runs of this many.
constexpr std::size_t kRowsPerRun = 64;

// A text column of texts of the given sizes, each written into its room by
// write(row, room), in runs of kRowsPerRun rows in parallel.
template <typename Write>
Column texts_written(const std::vector<std::size_t>& sizes, Write&& write) {
  std::vector<std::size_t> at(sizes.size() + 1, 0);
  for (std::size_t i = 0; i < sizes.size(); ++i) at[i + 1] = at[i] + sizes[i];
  StringColumnBuilder out;
  out.reserve(sizes.size(), at.back());
  char* rooms = out.append_slots(sizes);
  parallel_pieces(sizes.size(), kRowsPerRun, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) write(i, std::span(rooms + at[i], sizes[i]));
  });
  return out.finish(qzdata::kObsValue);
}

// Each row's room in the inflated column: the size its gzip trailer
// states, or 0 for nulls, what is not gzip and what states more than the
// limit (such rows are inflated on their own, and fail there if they are
// too large). Honest data thus takes no more room than it needs.
std::vector<std::size_t> stated_sizes(const Column& obs, std::size_t limit) {
  std::vector<std::size_t> sizes(obs.size(), 0);
  if (obs.type() != DataType::Binary && obs.type() != DataType::String) return sizes;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    std::size_t stated = obs.is_null(i) ? 0 : gzip_stated_size(obs.text(i));
    sizes[i] = stated <= limit ? stated : 0;
  }
  return sizes;
}

// The texts of `in_rooms`, but that of `other` where it holds one.
Column replaced_texts(Column in_rooms, const std::vector<std::optional<std::string>>& other) {
  if (std::none_of(other.begin(), other.end(), [](const auto& text) { return text.has_value(); })) return in_rooms;
  auto text = [&](std::size_t i) { return other[i] ? std::string_view(*other[i]) : in_rooms.text(i); };
  std::vector<std::size_t> sizes(other.size());
  for (std::size_t i = 0; i < sizes.size(); ++i) sizes[i] = text(i).size();
  return texts_written(sizes, [&](std::size_t i, std::span<char> room) {
    std::string_view from = text(i);
    std::copy(from.begin(), from.end(), room.begin());
  });
}

// Inflates the gzip-compressed OBSVALUE of every row into UTF-8 text, runs
// of rows in parallel, with its null days expanded there too (which
// expand_null_days would do after). Each row is inflated straight into its
// room in the new column, sized from its trailer; a row whose text does
// not fit its room exactly (more members, no trailer, expanded null days)
// is kept aside and put in after. A run stops at its first bad row, and
// the error of the lowest run is the one raised: that of the first bad
// row, as in order.
void inflate_values(Table& t, int64_t rate, const std::string& null_filler) {
  const std::size_t limit = max_inflated_value_bytes(rate);
  const Column& obs = t.column(qzdata::kObsValue);
  std::vector<std::optional<std::string>> other(obs.size());
  // One decompressor per run of rows, made when the run first needs it and
  // freed with the call (none is left behind in the pool's threads).
  std::vector<std::optional<GzipInflater>> inflaters((obs.size() + kRowsPerRun - 1) / kRowsPerRun);
  Column in_rooms = texts_written(stated_sizes(obs, limit), [&](std::size_t i, std::span<char> room) {
    if (obs.is_null(i)) return;
    try {
      if (obs.type() != DataType::Binary && obs.type() != DataType::String)
        throw TypeError("the value is not compressed bytes");
      std::optional<GzipInflater>& inflater = inflaters[i / kRowsPerRun];
      if (!inflater) inflater.emplace();
      if (!inflater->inflate_exactly(obs.text(i), room)) other[i] = gzip_decompress(obs.text(i), limit);
    } catch (const std::exception& e) {
      throw IOError("cannot inflate OBSVALUE of " + row_origin(t, i) + ": " + e.what());
    }
    std::string_view text = other[i] ? std::string_view(*other[i]) : std::string_view(room.data(), room.size());
    if (!is_valid_utf8(text)) throw IOError("OBSVALUE of " + row_origin(t, i) + " is not UTF-8 text after inflating");
    if (auto expanded = null_days_expanded(text, null_filler)) other[i] = std::move(expanded);
  });
  t.set_column(replaced_texts(std::move(in_rooms), other));
}

// Replaces "NULLALL" in every text cell by the null-day filler; the column
// `done` (one inflate_values has expanded already) is not read again.
void expand_null_days(Table& t, const std::string& filler, std::string_view done) {
  for (std::size_t c = 0; c < t.num_columns(); ++c) {
    Column& col = t.column(c);
    if (col.type() != DataType::String || col.name() == done) continue;
    std::atomic<bool> found = false;
    parallel_pieces(col.size(), 64, [&](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end && !found; ++i)
        if (contains(col.text(i), "NULLALL")) found = true;
    });
    if (!found) continue;
    StringColumnBuilder out;
    for (std::size_t i = 0; i < col.size(); ++i) {
      if (col.is_null(i)) {
        out.append_null();
        continue;
      }
      auto expanded = null_days_expanded(col.text(i), filler);
      out.append(expanded ? std::string_view(*expanded) : col.text(i));
    }
    col = out.finish(col.name());
  }
}

// Warns of the day rows whose text holds more samples than a day at the
// rate has: their last samples fall on the next day. At most
// kRowsWarnedOf rows are named, then how many more there are.
void warn_of_overfull_days(const Table& t, int64_t samples_per_day) {
  constexpr std::size_t kRowsWarnedOf = 10;
  const Column& obs = t.column(qzdata::kObsValue);
  if (obs.type() != DataType::String || samples_per_day <= 0) return;
  std::vector<int64_t> samples_of(obs.size(), 0);  // counted in parallel, warned of in order
  parallel_pieces(obs.size(), 64, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      if (obs.is_null(i)) continue;
      std::string_view text = strip_whitespace(obs.text(i));
      samples_of[i] = int64_t(std::count(text.begin(), text.end(), ' ')) + 1;
    }
  });
  std::size_t overfull = 0;
  for (std::size_t i = 0; i < obs.size(); ++i) {
    int64_t samples = samples_of[i];
    if (samples <= samples_per_day || ++overfull > kRowsWarnedOf) continue;
    fetching_logger.warning(
        fmt::format("OBSVALUE of {} holds {} samples, more than the {} of a day: the last ones "
                    "fall on the next day",
                    row_origin(t, i), samples, samples_per_day));
  }
  if (overfull > kRowsWarnedOf)
    fetching_logger.warning(fmt::format("{} more day rows hold more samples than a day", overfull - kRowsWarnedOf));
}

void codes_as_text(Table& t) {
  for (const char* name : {qzdata::kStationId, qzdata::kItemId, qzdata::kPointId})
    if (auto c = t.find_column(name)) t.column(*c) = to_text(t.column(*c));
}

// The item names of a request as the reason quotes them.
std::string item_names_text(const ItemNames& items) {
  if (auto one = std::get_if<std::string>(&items)) return *one;
  return join(std::get<std::vector<std::string>>(items), "', '");
}

bool is_all(const ItemNames& items) {
  auto one = std::get_if<std::string>(&items);
  return one && *one == kAll;
}

// A request that resolves to nothing: logs the last of `messages` at
// `level` (those before it, from the query builder, were logged there)
// and says why.
FetchOutcome unresolved(Unresolved why, logger_config::Level level) {
  fetching_logger.log(level, why.logged.back());
  return {std::nullopt, std::move(why)};
}

// Why the query builder made no SQL text: its own reason (which it
// logged), told as the argument at fault.
FetchOutcome no_sql(const char* reason, const std::string& station_name, const ItemNames& item_name) {
  using R = Unresolved::Reason;
  const auto level = logger_config::Level::error;
  const std::string reason_text = reason ? reason : "";
  if (reason_text == kNoStations)
    return unresolved({R::NoStation, "station_name", station_name, {kNoStations, "未生成SQL查询!"}}, level);
  if (reason_text == kNoItems)
    return unresolved({R::NoItem, "item_name", item_names_text(item_name), {kNoItems, "未生成SQL查询!"}}, level);
  std::vector<std::string> logged{"未生成SQL查询!"};
  if (reason) logged.insert(logged.begin(), reason);
  return unresolved({R::NoQuery, "", "", std::move(logged)}, level);
}

// No table for the request: a method name that matched no method, or
// methods without the table asked for (`none`).
FetchOutcome no_table(const Table& method_ids, const std::string& method_name, Unresolved::Reason none,
                      logger_config::Level level) {
  Unresolved::Reason reason = method_ids.num_rows() == 0 ? Unresolved::Reason::NoMethod : none;
  return unresolved({reason, "method_name", method_name, {"未找到匹配的表名!"}}, level);
}

// Reads the day rows of the query and makes them the observation table.
Table observations(db::Connection* conn, const std::string& sql, const SampleRateConfig& rate_config,
                   const FetchOptions& options) {
  if (!conn) throw DatabaseError("no database connection");
  Table t = conn->query(sql);
  upper_case_column_names(t);
  if (t.num_rows() == 0) {
    fetching_logger.debug("查询结果为空!");
    return t;
  }
  codes_as_text(t);
  sort_in_place(t, kObservationOrder);
  int64_t rate = sampling_rate(t, rate_config);
  int64_t null_count = rate > 0 ? 86400 / rate : 0;
  const std::string filler = null_day(null_count);
  bool inflated = options.gzip_flag && rate <= 60;
  if (inflated) inflate_values(t, rate, filler);
  if (!options.gzip_flag && options.my_split_lines && t.column(qzdata::kObsValue).type() == DataType::Binary)
    throw TypeError(
        "OBSVALUE holds compressed bytes, as second and minute tables do: fetch them with gzip_flag=True "
        "(--gzip)");
  expand_null_days(t, filler, inflated ? qzdata::kObsValue : "");
  if (options.my_split_lines && rate <= 3600) warn_of_overfull_days(t, null_count);
  if (options.my_split_lines) t = cleaning::split_lines(std::move(t), double(rate));
  upper_case_column_names(t, true);
  return t;
}

}  // namespace

std::size_t max_inflated_value_bytes(int64_t interval_seconds) {
  if (interval_seconds <= 0) return kMaxInflatedValueBytes;
  auto samples = std::size_t(std::max<int64_t>(1, 86400 / interval_seconds));
  return std::min(kMaxInflatedValueBytes, samples * kMaxInflatedBytesPerSample);
}

std::string Unresolved::text() const {
  const char* what = "gave no SQL text";
  switch (reason) {
    case Reason::UnknownRate: what = "is not a sampling rate"; break;
    case Reason::UnknownType: what = "is not a database type"; break;
    case Reason::NoMethod: what = "matches no method or discipline"; break;
    case Reason::NoTable: what = "has no table of this base_type and data_type"; break;
    case Reason::NoLogTable: what = "has no log table"; break;
    case Reason::NoStation: what = "matches no station"; break;
    case Reason::NoItem: what = "matches no item"; break;
    case Reason::NoQuery: return std::string("the request ") + what;
  }
  return argument + " '" + value + "' " + what;
}

FetchOutcome DataFetcher::fetch_data_outcome(db::Connection* conn, const DateArg& start_date, const DateArg& end_date,
                                             const std::string& method_name, const std::string& station_name,
                                             const std::string& data_type, const std::string& base_type,
                                             const FetchOptions& options) {
  using logger_config::Level;
  using R = Unresolved::Reason;
  fetching_logger.debug("开始获取数据...");
  Table method_ids = MetadataFetcher::get_method_ids(conn, method_name);
  auto rate_config = SampleRateType::get_config(data_type);
  if (!rate_config) return unresolved({R::UnknownRate, "data_type", data_type, {"未选择数据类型!"}}, Level::error);
  auto base_type_id = DatabaseType::get_id(base_type);
  if (!base_type_id) return unresolved({R::UnknownType, "base_type", base_type, {"未选择数据库类型!"}}, Level::error);
  auto table_names = MetadataFetcher::get_table_names(conn, method_ids, *base_type_id, rate_config->id);
  if (!table_names || table_names->num_rows() == 0) return no_table(method_ids, method_name, R::NoTable, Level::debug);
  std::optional<Table> station_ids;
  if (station_name != kAll) station_ids = MetadataFetcher::get_station_ids(conn, station_name);
  std::optional<Table> item_ids;
  if (!is_all(options.item_name)) item_ids = MetadataFetcher::get_item_ids(conn, options.item_name);
  auto sql =
      QueryBuilder::build_data_query(*table_names, start_date, end_date, station_ids, item_ids, options.point_id);
  if (!sql || sql->empty())
    return no_sql(no_query_reason(*table_names, station_ids, item_ids), station_name, options.item_name);
  Table t = observations(conn, *sql, *rate_config, options);
  fetching_logger.debug("数据获取完成...");
  return {std::move(t), std::nullopt};
}

std::optional<Table> DataFetcher::fetch_data(db::Connection* conn, const DateArg& start_date, const DateArg& end_date,
                                             const std::string& method_name, const std::string& station_name,
                                             const std::string& data_type, const std::string& base_type,
                                             const FetchOptions& options) {
  return fetch_data_outcome(conn, start_date, end_date, method_name, station_name, data_type, base_type, options).table;
}

FetchOutcome DataFetcher::fetch_dialog_outcome(db::Connection* conn, const DateArg& start_date, const DateArg& end_date,
                                               const DialogOptions& options) {
  Table method_ids = MetadataFetcher::get_method_ids(conn, options.method_name);
  std::optional<Table> station_ids, item_ids;
  if (options.station_name != kAll) station_ids = MetadataFetcher::get_station_ids(conn, options.station_name);
  if (options.item_name != kAll) item_ids = MetadataFetcher::get_item_ids(conn, options.item_name);
  const Column ids = to_text(method_ids.column("methodid"));
  std::vector<db::Binds> bind_sets;
  for (std::size_t i = 0; i < ids.size(); ++i) bind_sets.push_back({{"base_type_id", "DLG"}, {"method_id", ids.at(i)}});
  std::optional<Table> table_names =
      find_table_names(conn,
                       "SELECT TABLE_NAME \nFROM ALL_TABLES \nWHERE TABLE_NAME LIKE '%' || :base_type_id || '%'\n"
                       "AND TABLE_NAME LIKE '%' || :method_id || '%'",
                       bind_sets);
  if (!table_names || table_names->num_rows() == 0)
    return no_table(method_ids, options.method_name, Unresolved::Reason::NoLogTable, logger_config::Level::warning);
  auto sql =
      QueryBuilder::build_dialog_query(*table_names, start_date, end_date, options.log_type, station_ids, item_ids);
  if (!sql || sql->empty())
    return no_sql(no_query_reason(*table_names, station_ids, item_ids), options.station_name, options.item_name);
  Table result = conn->query(*sql, {{"evt_id", options.log_type}});
  lower_case_column_names(result);
  return {std::move(result), std::nullopt};
}

std::optional<Table> DataFetcher::fetch_dialog(db::Connection* conn, const DateArg& start_date, const DateArg& end_date,
                                               const DialogOptions& options) {
  return fetch_dialog_outcome(conn, start_date, end_date, options).table;
}

}  // namespace tremora::fetching
