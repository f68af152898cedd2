#include "table_lookup.hpp"
#include "tremora/fetching.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"

namespace tremora::fetching {
namespace {

using logger_config::fetching_logger;

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

// The filled query template of one table, its name quoted so that it is
// one name whatever it holds.
std::string select_of(std::string_view table, const std::string& start, const std::string& end) {
  return "SELECT * FROM QZDATA." + sql_identifier(table) + " \nWHERE STARTDATE >= TO_DATE('" + start +
         "', 'yyyymmdd') \nAND STARTDATE < TO_DATE('" + end + "', 'yyyymmdd')+1";
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
  for (std::size_t i = 0; i < names.size(); ++i) parts.push_back(select_of(names.text(i), start, end) + tails);
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
