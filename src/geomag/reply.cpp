#include "reply.hpp"

#include <cmath>
#include <stdexcept>

#include "tremora/text.hpp"

namespace tremora::geomag {
namespace {

using nlohmann::json;

Timestamp interval_start(const json& element, std::size_t position) {
  if (element.is_null()) return {};
  if (!element.is_string())
    throw std::invalid_argument("GFZ Kp response: datetime element " + std::to_string(position) + " (" +
                                element.dump() + ") is not a date-time text");
  const std::string& text = element.get<std::string>();
  if (strip_whitespace(text).empty()) return {};
  return parse_date_text(text).instant();
}

double kp_number(const json& element) {
  if (element.is_number()) return element.get<double>();
  if (element.is_boolean()) return element.get<bool>() ? 1.0 : 0.0;
  if (element.is_string()) return parse_decimal(element.get<std::string>()).value_or(std::nan(""));
  return std::nan("");
}

Column interval_starts(const json& dates) {
  std::vector<int64_t> ns;
  ns.reserve(dates.size());
  for (std::size_t i = 0; i < dates.size(); ++i) ns.push_back(interval_start(dates[i], i).ns);
  return Column::from_timestamps("datetime", std::move(ns), "UTC");
}

Column kp_numbers(const json& values) {
  std::vector<double> kp;
  kp.reserve(values.size());
  for (const json& v : values) kp.push_back(kp_number(v));
  return Column::from_float64("Kp", std::move(kp));
}

Column status_texts(const json& statuses) {
  StringColumnBuilder out;
  for (const json& s : statuses) {
    if (s.is_null()) out.append_null();
    else out.append(s.is_string() ? s.get<std::string>() : s.dump());
  }
  return out.finish("status");
}

const json& member_array(const json& payload, const char* name) {
  static const json absent;
  auto it = payload.find(name);
  const json& member = it == payload.end() ? absent : *it;
  if (!member.is_array()) throw std::invalid_argument("GFZ response requires datetime, Kp and status arrays");
  return member;
}

}  // namespace

json parse_json(const std::string& text, const std::string& origin) {
  if (json_nesting_depth(text) > kMaxJsonNesting)
    throw std::invalid_argument(origin + " is not valid JSON: arrays and objects nest deeper than " +
                                std::to_string(kMaxJsonNesting) + " levels");
  try {
    return json::parse(text);
  } catch (const json::exception& e) {
    // parse_error for bad syntax, out_of_range for a number beyond doubles.
    throw std::invalid_argument(origin + " is not valid JSON: " + e.what());
  }
}

Table kp_table_from_reply(const json& payload) {
  if (!payload.is_object()) throw std::invalid_argument("Invalid GFZ Kp response");
  const json& dates = member_array(payload, "datetime");
  const json& values = member_array(payload, "Kp");
  const json& statuses = member_array(payload, "status");
  if (dates.size() != values.size() || dates.size() != statuses.size())
    throw std::invalid_argument("GFZ Kp response array lengths differ");
  Table table({kp_numbers(values), status_texts(statuses)});
  table.set_key_column(interval_starts(dates));
  return table;
}

}  // namespace tremora::geomag
