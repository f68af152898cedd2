// The row layout of a VUZO table.
#include "tremora/errors.hpp"
#include "tremora/export.hpp"
#include "tremora/qzdata.hpp"
#include "vuzo_context.hpp"

namespace tremora::exchange {
namespace {

const Column& required_column(const Table& t, std::string_view name) {
  auto at = t.find_column(name);
  if (!at) throw KeyError("VUZO export: the table has no column '" + std::string(name) + "'");
  return t.column(*at);
}

// The row key becomes a column; STARTDATE, which must hold timestamps, goes first.
void put_times_first(Table& t) {
  if (t.has_key()) t.reset_key();
  const Column& times = required_column(t, qzdata::kStartDate);
  if (times.type() != DataType::Timestamp)
    throw TypeError("VUZO export: column 'STARTDATE' holds " + std::string(type_name(times.type())) +
                    " values, not timestamps");
  if (t.find_column(qzdata::kStartDate) != 0u) t.insert_column(0, t.remove_column(qzdata::kStartDate));
}

// OBSVALUE as float32; texts are refused rather than read (a text of a
// whole day of samples would become one missing value).
void values_as_float32(Table& t) {
  const Column& values = required_column(t, qzdata::kObsValue);
  if (values.type() == DataType::Float32) return;
  if (!is_numeric(values.type()))
    throw TypeError("VUZO export: column 'OBSVALUE' holds " + std::string(type_name(values.type())) +
                    " values, not numbers (split day rows into samples first)");
  t.set_column(cast_float32(values));
}

// Codes as texts, dictionary-encoded (few distinct codes on many rows).
void codes_as_text(Table& t) {
  for (std::string_view name : qzdata::kSeriesKey) {
    auto at = t.find_column(name);
    if (!at || t.column(*at).type() == DataType::String) continue;
    t.column(*at) = to_text(t.column(*at)).dictionary_encoded();
  }
}

}  // namespace

Table to_vuzo(const Table& df, const VuzoContext& metadata) {
  Table t = df;
  put_times_first(t);
  values_as_float32(t);
  codes_as_text(t);
  for (auto& [key, value] : context_entries(metadata)) t.attributes()[key] = std::move(value);
  return t;
}

}  // namespace tremora::exchange
