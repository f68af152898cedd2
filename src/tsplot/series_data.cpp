// One series made ready for its panel: daily values, centring on the
// mid-range, a regular time grid; and the facts of stations and items.
#include <cmath>
#include <limits>

#include "plot_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/memory.hpp"
#include "tremora/plotkit.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"

namespace tremora::tsplot {
namespace {

// One row per calendar day of the key's own clock, from the first day to
// the last: the median of the day's values ("D"), or their sum (a text
// holding "sum"); any other text leaves the rows as they are.
Table daily_values(const Table& ts, const std::string& resample) {
  Table values(std::vector<Column>{to_number(ts.column(qzdata::kObsValue))});
  if (ts.has_key()) values.set_key_column(ts.key());
  bool median = resample == "D", sum = !median && contains(resample, "sum");
  if (!median && !sum) return values;
  if (!ts.has_key() || ts.key().type() != DataType::Timestamp)
    throw TypeError("daily values need a table keyed by timestamps");
  SeriesIds one = series_ids(values, {}, true);
  TimeBins days = bin_by_time(ts.key(), values.column(qzdata::kObsValue), one, kNanosPerDay,
                              median ? Aggregate::Median : Aggregate::Sum);
  Table out(std::vector<Column>{Column::from_float64(qzdata::kObsValue, std::move(days.values))});
  out.set_key_column(Column::from_timestamps(ts.key().name(), std::move(days.starts), ts.key().zone()));
  return out;
}

// Subtracts the offset from the values, keeping a float column's type.
void shift(Column& values, double offset) {
  if (values.type() == DataType::Float32) {
    for (float& x : values.float32s()) x = float(double(x) - offset);
    return;
  }
  std::vector<double> v = numbers_of(values);
  for (double& x : v) x -= offset;
  values = Column::from_float64(values.name(), std::move(v));
}

}  // namespace

std::vector<int64_t> wall_clock(const Column& key) {
  std::vector<int64_t> out = key.int64s();
  if (key.zone().empty()) return out;
  ZoneClock clock(key.zone());
  for (int64_t& t : out) t = clock.to_local(Timestamp{t}).ns;
  return out;
}

std::vector<double> chart_days(const Column& key) {
  std::optional<ZoneClock> clock;
  if (!key.zone().empty()) clock.emplace(key.zone());
  const std::vector<int64_t>& t = key.int64s();
  std::vector<double> out = large_vector<double>(t.size());
  for (std::size_t i = 0; i < t.size(); ++i)
    out[i] = t[i] == Timestamp::NaT ? NAN : chart::to_days(clock ? clock->to_local(Timestamp{t[i]}) : Timestamp{t[i]});
  return out;
}

std::vector<double> numbers_of(const Column& values) {
  switch (values.type()) {
    case DataType::Float64: return values.float64s();
    case DataType::Float32: {
      std::vector<double> out = large_buffer<double>(values.size());
      out.insert(out.end(), values.float32s().begin(), values.float32s().end());
      return out;
    }
    case DataType::String: throw TypeError("column '" + values.name() + "' holds texts, not numbers");
    default: return to_number(values).float64s();
  }
}

namespace {

template <typename T>
std::optional<std::pair<double, double>> range_of(const std::vector<T>& v) {
  T lo = std::numeric_limits<T>::infinity(), hi = -lo;
  for (T x : v)
    if (!std::isnan(x)) lo = std::min(lo, x), hi = std::max(hi, x);
  if (lo > hi) return std::nullopt;
  return std::pair{double(lo), double(hi)};
}

}  // namespace

std::optional<std::pair<double, double>> finite_range(const std::vector<double>& v) { return range_of(v); }

std::optional<std::pair<double, double>> value_range(const Column& values) {
  if (values.type() == DataType::Float32) return range_of(values.float32s());
  if (values.type() == DataType::Float64) return range_of(values.float64s());
  return range_of(numbers_of(values));
}

std::pair<Table, double> TSPlotter::_process_data(const Table& ts_tmp, bool set_zero, bool reindex,
                                                  const std::optional<std::string>& resample) const {
  return prepare_series(Table(ts_tmp), set_zero, reindex, resample);
}

std::pair<Table, double> prepare_series(Table ts, bool set_zero, bool reindex,
                                        const std::optional<std::string>& resample) {
  if (resample && !resample->empty()) ts = daily_values(ts, *resample);
  double offset = 0;
  if (ts.num_rows() == 0) return {std::move(ts), offset};
  auto range = value_range(ts.column(qzdata::kObsValue));
  offset = range ? (range->second + range->first) / 2 : NAN;
  if (set_zero) shift(ts.column(qzdata::kObsValue), offset);
  if (reindex) ts = plotkit::reindex_df_by_interval(ts);
  return {std::move(ts), offset};
}

std::string code_text(const Column& column, std::size_t row) {
  if (column.is_null(row)) return "nan";
  if (column.type() == DataType::String) return std::string(column.text(row));
  return column.at(row).to_text();
}

std::vector<int64_t> rows_with_id(const Table& dictionary, const std::string& id_column, const std::string& id) {
  std::vector<int64_t> rows;
  if (!dictionary.has_column(id_column)) return rows;
  const Column& ids = dictionary.column(id_column);
  for (std::size_t i = 0; i < ids.size(); ++i)
    if (code_text(ids, i) == id) rows.push_back(int64_t(i));
  return rows;
}

namespace {

std::optional<double> number_at(const Table& t, std::size_t column, int64_t row) {
  if (column >= t.num_columns()) return std::nullopt;
  const Column& c = t.column(column);
  double v = c.type() == DataType::String ? parse_decimal(c.text(std::size_t(row))).value_or(NAN)
                                          : c.at(std::size_t(row)).as_double();
  if (c.is_null(std::size_t(row)) || std::isnan(v)) return std::nullopt;
  return v;
}

std::string text_at(const Table& t, std::size_t column, int64_t row) {
  if (column >= t.num_columns() || t.column(column).is_null(std::size_t(row))) return "";
  return code_text(t.column(column), std::size_t(row));
}

}  // namespace

StationFacts station_facts(const Table& stations, const std::vector<int64_t>& rows, const std::string& id) {
  if (rows.empty()) return {id, std::nullopt, std::nullopt};
  return {text_at(stations, 1, rows[0]), number_at(stations, 3, rows[0]), number_at(stations, 2, rows[0])};
}

std::optional<ItemFacts> item_facts(const Table& items, const std::string& item) {
  std::vector<int64_t> rows = rows_with_id(items, qzdata::kItemId, item);
  if (rows.empty()) return std::nullopt;
  return ItemFacts{text_at(items, 1, rows[0]), text_at(items, 2, rows[0])};
}

}  // namespace tremora::tsplot
