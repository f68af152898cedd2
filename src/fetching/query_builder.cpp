#include "table_lookup.hpp"
#include "tremora/fetching.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"

namespace tremora::fetching {
namespace {

using logger_config::fetching_logger;

const char* const kNoTables = "没有找到匹配的表名!";
const char* const kNoStations = "没有找到匹配的台站!";
const char* const kNoItems = "没有找到匹配的测项!";

bool all_digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// " AND (NAME=v1 OR NAME=v2)" over the codes of a look-up table's column.
template <typename Literal>
std::string code_condition(const std::optional<Table>& ids, const std::string& column, const std::string& name,
                           Literal literal) {
  if (!ids) return "";
  Column codes = to_text(ids->column(column));
  std::vector<std::string> terms;
  for (std::size_t i = 0; i < codes.size(); ++i)
    if (!codes.is_null(i)) terms.push_back(name + "=" + literal(codes.text(i)));
  return " AND (" + join(terms, " OR ") + ")";
}

// Station codes of digits only are numbers, as the database compares them;
// any other code is a string literal, so that no text enters the SQL as code.
std::string station_condition(const std::optional<Table>& ids) {
  return code_condition(ids, "stationid", qzdata::kStationId,
                        [](std::string_view c) { return all_digits(c) ? std::string(c) : sql_literal(c); });
}

std::string item_condition(const std::optional<Table>& ids) {
  return code_condition(ids, "itemid", qzdata::kItemId, [](std::string_view c) { return sql_literal(c); });
}

std::string date8(const DateArg& d) { return format_timestamp(d.timestamp(), "%Y%m%d"); }

// The filled query template of one table.
std::string select_of(const std::string& table, const std::string& start, const std::string& end) {
  return "SELECT * FROM QZDATA." + table + " \nWHERE STARTDATE >= TO_DATE('" + start +
         "', 'yyyymmdd') \nAND STARTDATE < TO_DATE('" + end + "', 'yyyymmdd')+1";
}

// The reason no query can be built: no table, or a station or item name
// that matched no code (no row could match, and " AND ()" is no SQL);
// nothing when there is none.
const char* no_query_reason(const Table& table_names, const std::optional<Table>& station_ids,
                            const std::optional<Table>& item_ids) {
  if (table_names.num_rows() == 0) return kNoTables;
  if (found_no_code(station_ids, "stationid")) return kNoStations;
  if (found_no_code(item_ids, "itemid")) return kNoItems;
  return nullptr;
}

// The per-table selections joined by " UNION ALL ": the template, its
// `template_tail`, then the station, item and point conditions.
std::optional<std::string> build(const Table& table_names, const DateArg& start_date, const DateArg& end_date,
                                 const std::optional<Table>& station_ids, const std::optional<Table>& item_ids,
                                 const std::string& template_tail, const std::string& point_condition) {
  if (const char* reason = no_query_reason(table_names, station_ids, item_ids)) {
    fetching_logger.error(reason);
    return std::nullopt;
  }
  std::string tails = template_tail + station_condition(station_ids) + item_condition(item_ids) + point_condition;
  std::string start = date8(start_date), end = date8(end_date);
  const Column& names = table_names.column("table_name");
  std::vector<std::string> parts;
  for (std::size_t i = 0; i < names.size(); ++i)
    parts.push_back(select_of(std::string(names.text(i)), start, end) + tails);
  return join(parts, " UNION ALL ");
}

}  // namespace

Timestamp DateArg::timestamp() const {
  if (auto t = std::get_if<Timestamp>(&value_)) return *t;
  return parse_date_text(std::get<std::string>(value_)).wall;
}

std::optional<std::string> QueryBuilder::build_data_query(const Table& table_names, const DateArg& start_date,
                                                          const DateArg& end_date,
                                                          const std::optional<Table>& station_ids,
                                                          const std::optional<Table>& item_ids,
                                                          const std::string& point_id) {
  std::string point = point_id.empty() ? "" : " AND (POINTID=" + sql_literal(point_id) + ")";
  return build(table_names, start_date, end_date, station_ids, item_ids, "", point);
}

std::optional<std::string> QueryBuilder::build_dialog_query(const Table& table_names, const DateArg& start_date,
                                                            const DateArg& end_date, const std::string&,
                                                            const std::optional<Table>& station_ids,
                                                            const std::optional<Table>& item_ids) {
  return build(table_names, start_date, end_date, station_ids, item_ids, "\nAND EVTID IN (:evt_id)", "");
}

}  // namespace tremora::fetching
