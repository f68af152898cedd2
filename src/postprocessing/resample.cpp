#include <algorithm>
#include <cmath>

#include "series_groups.hpp"
#include "tremora/errors.hpp"
#include "tremora/postprocessing.hpp"

namespace tremora::postprocessing {
namespace {

const char* const kSeriesColumns[] = {"STATIONID", "POINTID", "ITEMID"};
const std::string kBadMethod = "不支持的聚合方法，请选择'mean', 'sum', 'median', 'max', 'min'之一";

enum class Aggregate { Mean, Sum, Median, Max, Min };

std::optional<Aggregate> aggregate_of(const std::string& name) {
  if (name == "mean") return Aggregate::Mean;
  if (name == "sum") return Aggregate::Sum;
  if (name == "median") return Aggregate::Median;
  if (name == "max") return Aggregate::Max;
  if (name == "min") return Aggregate::Min;
  return std::nullopt;
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// The STARTDATE timestamps: the column itself, or `converted` from texts.
const Column& start_times(const Table& df, Column& converted) {
  const Column& c = df.column("STARTDATE");
  if (c.type() == DataType::Timestamp) return c;
  if (c.type() != DataType::String)
    throw TypeError("column 'STARTDATE' holds " + std::string(type_name(c.type())) + ", not timestamps");
  converted = parse_timestamps(c);
  return converted;
}

double median_of(std::vector<double>& v) {
  std::size_t n = v.size(), mid = n / 2;
  std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(mid), v.end());
  double upper = v[mid];
  if (n % 2) return upper;
  double lower = *std::max_element(v.begin(), v.begin() + std::ptrdiff_t(mid));
  return (lower + upper) / 2;
}

// The bins of one series: the aggregate of each, from the first to the last.
struct Bins {
  int64_t first_start = 0;
  std::vector<double> values;
};

template <typename T>
Bins bin_series(std::span<const int64_t> rows, const int64_t* when, const T* value, int64_t width, Aggregate agg) {
  int64_t lo = INT64_MAX, hi = INT64_MIN;
  for (int64_t r : rows)
    if (when[r] != Timestamp::NaT) lo = std::min(lo, when[r]), hi = std::max(hi, when[r]);
  Bins out;
  if (lo > hi) return out;
  int64_t origin = floor_div(lo, kNanosPerDay) * kNanosPerDay;
  int64_t first = floor_div(lo - origin, width), last = floor_div(hi - origin, width);
  std::size_t n = std::size_t(last - first + 1);
  out.first_start = origin + first * width;
  std::vector<double> acc(n, agg == Aggregate::Max ? -INFINITY : agg == Aggregate::Min ? INFINITY : 0.0);
  std::vector<int64_t> count(n, 0);
  std::vector<std::vector<double>> members(agg == Aggregate::Median ? n : 0);
  for (int64_t r : rows) {
    if (when[r] == Timestamp::NaT || std::isnan(value[r])) continue;
    std::size_t b = std::size_t(floor_div(when[r] - origin, width) - first);
    double v = double(value[r]);
    ++count[b];
    switch (agg) {
      case Aggregate::Mean:
      case Aggregate::Sum: acc[b] += v; break;
      case Aggregate::Max: acc[b] = std::max(acc[b], v); break;
      case Aggregate::Min: acc[b] = std::min(acc[b], v); break;
      case Aggregate::Median: members[b].push_back(v); break;
    }
  }
  out.values.resize(n);
  for (std::size_t b = 0; b < n; ++b) {
    if (count[b] == 0) out.values[b] = agg == Aggregate::Sum ? 0.0 : std::nan("");
    else if (agg == Aggregate::Mean) out.values[b] = acc[b] / double(count[b]);
    else if (agg == Aggregate::Median) out.values[b] = median_of(members[b]);
    else out.values[b] = acc[b];
  }
  return out;
}

}  // namespace

int64_t frequency_nanos(const std::string& freq) { return step_code_nanos(freq); }

Table resample_timeseries_data(const Table& df, const std::string& freq, const std::string& agg_method) {
  for (const char* name : {"STARTDATE", "STATIONID", "POINTID", "ITEMID", "OBSVALUE"})
    if (!df.has_column(name)) throw std::invalid_argument(std::string("缺少必要的列: ") + name);
  int64_t width = frequency_nanos(freq);
  Column converted_times;
  const Column& when = start_times(df, converted_times);
  // float32 and float64 values are read where they are; others as numbers.
  const Column& obs = df.column("OBSVALUE");
  Column numbers = obs.type() == DataType::Float32 || obs.type() == DataType::Float64 ? Column() : to_number(obs);
  const Column& value = obs.type() == DataType::Float32 || obs.type() == DataType::Float64 ? obs : numbers;
  std::vector<std::string> keys(std::begin(kSeriesColumns), std::end(kSeriesColumns));
  SeriesGroups groups = group_rows(df, keys, /*missing_is_a_group=*/false);
  if (groups.members.empty()) throw std::invalid_argument("nothing to resample: no row has STATIONID, POINTID and ITEMID");
  auto agg = aggregate_of(agg_method);
  if (!agg) throw std::invalid_argument(kBadMethod);
  std::vector<int64_t> starts, code_rows;
  std::vector<double> values;
  for (const auto& rows : groups.members) {
    Bins bins = value.type() == DataType::Float32
                    ? bin_series(rows, when.int64s().data(), value.float32s().data(), width, *agg)
                    : bin_series(rows, when.int64s().data(), value.float64s().data(), width, *agg);
    for (std::size_t b = 0; b < bins.values.size(); ++b) {
      starts.push_back(bins.first_start + int64_t(b) * width);
      values.push_back(bins.values[b]);
      code_rows.push_back(rows.front());
    }
  }
  Table out;
  out.add_column(Column::from_timestamps("STARTDATE", std::move(starts), when.zone()));
  out.add_column(Column::from_float64("OBSVALUE", std::move(values)));
  for (const char* name : kSeriesColumns) out.add_column(df.column(name).take(code_rows));
  return out;
}

}  // namespace tremora::postprocessing
