// The context of a VUZO table as key-value entries of JSON texts.
#pragma once

#include <map>
#include <string>

#include "tremora/export.hpp"

namespace tremora::exchange {

/// The five entries: "vuzo.version", "station_info", "item_info",
/// "sampling_rate" and "export_time".
std::map<std::string, std::string> context_entries(const VuzoContext& context);

}  // namespace tremora::exchange
