#include "vuzo_context.hpp"

#include <cstdint>

#include "records_json.hpp"
#include "tremora/errors.hpp"
#include "tremora/text.hpp"

namespace tremora::exchange {
namespace {

constexpr const char* kStations = "station_info";
constexpr const char* kItems = "item_info";
constexpr const char* kRate = "sampling_rate";
constexpr const char* kTime = "export_time";

// Compact JSON text; texts that are not UTF-8 get replacement characters
// rather than failing the export.
std::string json_text(const OrderedJson& j) { return j.dump(-1, ' ', false, OrderedJson::error_handler_t::replace); }

// Reads the entries of one VUZO table or file, naming it in every error.
class EntryReader {
 public:
  EntryReader(const std::map<std::string, std::string>& entries, const std::string& source)
      : entries_(entries), source_(source) {}

  void check_version() const {
    auto it = entries_.find(std::string(kVersionKey));
    if (it == entries_.end())
      throw IOError("'" + source_ + "' is not a VUZO file: it has no '" + std::string(kVersionKey) + "' entry");
    if (it->second != kVersion)
      throw IOError("'" + source_ + "' is a VUZO file of version '" + it->second + "'; this reader knows version " +
                    std::string(kVersion));
  }

  OrderedJson json(const char* key) const {
    auto it = entries_.find(key);
    if (it == entries_.end()) throw malformed(key, "it is missing");
    if (json_nesting_depth(it->second) > kMaxJsonNesting)
      throw malformed(key, "arrays and objects nest deeper than " + std::to_string(kMaxJsonNesting) + " levels");
    try {
      return OrderedJson::parse(it->second);
    } catch (const std::exception& e) {
      throw malformed(key, e.what());
    }
  }

  Table records(const char* key) const {
    try {
      return table_of(json(key));
    } catch (const IOError&) {
      throw;
    } catch (const std::exception& e) {
      throw malformed(key, e.what());
    }
  }

  int64_t seconds(const char* key) const {
    OrderedJson j = json(key);
    if (j.is_number_integer() && !(j.is_number_unsigned() && j.get<uint64_t>() > INT64_MAX)) return j.get<int64_t>();
    throw malformed(key, "it is not a whole number of seconds: " + j.dump());
  }

  std::string text(const char* key) const {
    OrderedJson j = json(key);
    if (!j.is_string()) throw malformed(key, "it is not a JSON string: " + j.dump());
    return j.get<std::string>();
  }

 private:
  IOError malformed(const char* key, const std::string& why) const {
    return IOError("'" + source_ + "': the VUZO entry '" + key + "' cannot be read: " + why);
  }

  const std::map<std::string, std::string>& entries_;
  const std::string& source_;
};

}  // namespace

std::map<std::string, std::string> context_entries(const VuzoContext& context) {
  return {{std::string(kVersionKey), std::string(kVersion)},
          {kStations, json_text(records_of(context.station_info))},
          {kItems, json_text(records_of(context.item_info))},
          {kRate, std::to_string(context.sampling_rate)},
          {kTime, json_text(context.export_time)}};
}

VuzoContext context_of(const Table& vuzo, const std::string& source) {
  EntryReader entries(vuzo.attributes(), source);
  entries.check_version();
  return {entries.records(kStations), entries.records(kItems), entries.seconds(kRate), entries.text(kTime)};
}

}  // namespace tremora::exchange
