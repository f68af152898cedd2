// Decoding the Kp service's JSON reply.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "tremora/table.hpp"

namespace tremora::geomag {

/// Parses a JSON text; std::invalid_argument naming `origin` when it is not
/// JSON, holds a number beyond the range of doubles, or nests arrays and
/// objects deeper than kMaxJsonNesting.
nlohmann::json parse_json(const std::string& text, const std::string& origin);

/// The Kp data of a reply object as a table keyed "datetime" in UTC, with
/// the columns "Kp" (numbers; texts read as decimals, other values missing)
/// and "status" (texts unchanged, null missing, other values as JSON text).
/// Date texts without zone are UTC; null and empty dates are NaT. Throws the reply
/// shape errors ("Invalid GFZ Kp response", ...).
Table kp_table_from_reply(const nlohmann::json& payload);

}  // namespace tremora::geomag
