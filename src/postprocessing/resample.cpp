#include <algorithm>
#include <cmath>

#include "tremora/errors.hpp"
#include "tremora/postprocessing.hpp"
#include "tremora/qzdata.hpp"

namespace tremora::postprocessing {
namespace {

using qzdata::kSeriesKey;
const std::string kBadMethod = "不支持的聚合方法，请选择'mean', 'sum', 'median', 'max', 'min'之一";

std::optional<Aggregate> aggregate_of(const std::string& name) {
  if (name == "mean") return Aggregate::Mean;
  if (name == "sum") return Aggregate::Sum;
  if (name == "median") return Aggregate::Median;
  if (name == "max") return Aggregate::Max;
  if (name == "min") return Aggregate::Min;
  return std::nullopt;
}

// The STARTDATE timestamps: the column itself, or `converted` from texts.
const Column& start_times(const Table& df, Column& converted) {
  const Column& c = df.column(qzdata::kStartDate);
  if (c.type() == DataType::Timestamp) return c;
  if (c.type() != DataType::String)
    throw TypeError("column 'STARTDATE' holds " + std::string(type_name(c.type())) + ", not timestamps");
  converted = parse_timestamps(c);
  return converted;
}

}  // namespace

int64_t frequency_nanos(const std::string& freq) { return step_code_nanos(freq); }

Table resample_timeseries_data(const Table& df, const std::string& freq, const std::string& agg_method) {
  for (const char* name :
       {qzdata::kStartDate, qzdata::kStationId, qzdata::kPointId, qzdata::kItemId, qzdata::kObsValue})
    if (!df.has_column(name)) throw std::invalid_argument(std::string("缺少必要的列: ") + name);
  int64_t width = frequency_nanos(freq);
  Column converted_times;
  const Column& when = start_times(df, converted_times);
  // float32 and float64 values are read where they are; others as numbers.
  const Column& obs = df.column(qzdata::kObsValue);
  Column numbers = obs.type() == DataType::Float32 || obs.type() == DataType::Float64 ? Column() : to_number(obs);
  const Column& value = obs.type() == DataType::Float32 || obs.type() == DataType::Float64 ? obs : numbers;
  std::vector<std::string> keys(kSeriesKey.begin(), kSeriesKey.end());
  SeriesIds series = series_ids(df, keys, /*missing_is_a_group=*/false);
  if (series.count == 0) throw std::invalid_argument("nothing to resample: no row has STATIONID, POINTID and ITEMID");
  auto agg = aggregate_of(agg_method);
  if (!agg) throw std::invalid_argument(kBadMethod);
  TimeBins bins = bin_by_time(when, value, series, width, *agg);
  std::vector<int64_t> code_rows(bins.starts.size());
  for (std::size_t g = 0; g < series.count; ++g)
    for (std::size_t b = bins.series_offset[g]; b < bins.series_offset[g + 1]; ++b) code_rows[b] = bins.code_row[g];
  Table out;
  out.add_column(Column::from_timestamps(qzdata::kStartDate, std::move(bins.starts), when.zone()));
  out.add_column(Column::from_float64(qzdata::kObsValue, std::move(bins.values)));
  for (std::string_view name : kSeriesKey) out.add_column(df.column(name).take(code_rows));
  return out;
}

}  // namespace tremora::postprocessing
