#include <array>

#include "tremora/fetching.hpp"

namespace tremora::fetching {
namespace {

struct RateEntry {
  std::string_view name;
  std::string_view alias;
  std::string_view id;
  int64_t rate;
};

constexpr std::array<RateEntry, 4> kRates{{
    {SampleRateType::SECOND, "秒值", "02", 1},
    {SampleRateType::MINUTE, "分值", "01", 60},
    {SampleRateType::HOUR, "整点值", "60", 3600},
    {SampleRateType::DAY, "日值", "90", 86400},
}};

}  // namespace

std::optional<std::string> DatabaseType::get_id(std::string_view db_type) {
  if (db_type == RAW) return "DYS";
  if (db_type == PREPROCESSED) return "DYU";
  if (db_type == PRODUCT) return "CP";
  return std::nullopt;
}

std::optional<SampleRateConfig> SampleRateType::get_config(std::string_view rate_type) {
  for (const auto& e : kRates) {
    if (rate_type == e.name || rate_type == e.alias) return SampleRateConfig{std::string(e.id), e.rate, 86400 / e.rate};
  }
  return std::nullopt;
}

std::optional<int64_t> SampleRateType::get_rate_by_id(const Value& rate_id) {
  std::string text;
  if (auto s = std::get_if<std::string>(&rate_id.variant())) text = *s;
  else if (auto i = std::get_if<int64_t>(&rate_id.variant())) text = std::to_string(*i);
  else return std::nullopt;
  for (const auto& e : kRates)
    if (text == e.id) return e.rate;
  return std::nullopt;
}

}  // namespace tremora::fetching
