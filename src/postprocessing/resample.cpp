#include <algorithm>
#include <cmath>

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

// The STARTDATE timestamps: the column itself, or `converted` from texts.
const Column& start_times(const Table& df, Column& converted) {
  const Column& c = df.column("STARTDATE");
  if (c.type() == DataType::Timestamp) return c;
  if (c.type() != DataType::String)
    throw TypeError("column 'STARTDATE' holds " + std::string(type_name(c.type())) + ", not timestamps");
  converted = parse_timestamps(c);
  return converted;
}

double median_of(double* v, std::size_t n) {
  std::size_t mid = n / 2;
  std::nth_element(v, v + mid, v + n);
  double upper = v[mid];
  if (n % 2) return upper;
  double lower = *std::max_element(v, v + mid);
  return (lower + upper) / 2;
}

// How bins meet the calendar. Bins are anchored at midnight of the wall
// clock of the times' own zone. Bins of whole days follow the wall clock,
// so that across a clock change a day is still a calendar day; shorter bins
// are fixed lengths of time from that midnight. Naive times are their own
// wall clock.
class BinCalendar {
 public:
  BinCalendar(const Column& times, int64_t width)
      : clock_(times.zone()), by_wall_clock_(!times.zone().empty() && width % kNanosPerDay == 0) {
    if (!by_wall_clock_) return;
    wall_.reserve(times.size());
    for (int64_t t : times.int64s()) wall_.push_back(clock_.to_local(Timestamp{t}).ns);
  }

  /// The times to bin: the wall-clock times for calendar-day bins.
  const int64_t* binned(const Column& times) const {
    return by_wall_clock_ ? wall_.data() : times.int64s().data();
  }
  /// Midnight of the day of a binned time, in the binned times' terms.
  int64_t midnight(int64_t t) {
    return by_wall_clock_ ? floor_to_step(Timestamp{t}, kNanosPerDay).ns : clock_.start_of_day(Timestamp{t}).ns;
  }
  /// The label of a bin that starts at a binned time.
  int64_t label(int64_t start) { return by_wall_clock_ ? clock_.start_of(Timestamp{start}).ns : start; }

 private:
  ZoneClock clock_;
  bool by_wall_clock_;
  std::vector<int64_t> wall_;
};

// Where the bins of every series lie in one flat array: series in id
// order, each from the bin of its first time to the bin of its last.
struct BinLayout {
  std::vector<int64_t> first_start;  // start of each series' first bin
  std::vector<std::size_t> offset;   // first flat bin of each series; one more at the end
  std::vector<int64_t> code_row;     // a row of each series, for its codes

  BinLayout(const SeriesIds& series, const int64_t* when, int64_t width, BinCalendar& calendar) {
    std::vector<int64_t> lo(series.count, INT64_MAX), hi(series.count, INT64_MIN);
    code_row.assign(series.count, -1);
    for (std::size_t r = 0; r < series.of_row.size(); ++r) {
      int32_t g = series.of_row[r];
      if (g < 0) continue;
      if (code_row[g] < 0) code_row[g] = int64_t(r);
      if (when[r] == Timestamp::NaT) continue;
      lo[g] = std::min(lo[g], when[r]);
      hi[g] = std::max(hi[g], when[r]);
    }
    first_start.assign(series.count, 0);
    offset.assign(series.count + 1, 0);
    for (std::size_t g = 0; g < series.count; ++g) {
      std::size_t bins = 0;
      if (lo[g] <= hi[g]) {
        // Checked: the first day's midnight may lie before the range of
        // timestamps, the span of the series may exceed that of durations.
        Timestamp origin{calendar.midnight(lo[g])};
        int64_t first = nanos_between(origin, Timestamp{lo[g]}) / width;
        int64_t last = nanos_between(origin, Timestamp{hi[g]}) / width;
        first_start[g] = add_nanos(origin, multiply_nanos(first, width)).ns;
        bins = std::size_t(last - first + 1);
      }
      offset[g + 1] = offset[g] + bins;
    }
  }
};

// Visits the rows that have a series and a time with their flat bin. Rows
// mostly fall into the bin of their series' previous row, which is checked
// before dividing.
class RowBins {
 public:
  RowBins(const SeriesIds& series, const BinLayout& layout, const int64_t* when, int64_t width)
      : series_(series), layout_(layout), when_(when), width_(width) {}

  template <typename Visit>
  void for_each(Visit visit) const {
    std::vector<int64_t> cached_start(series_.count, 0), cached_bin(series_.count, -1);
    for (std::size_t r = 0; r < series_.of_row.size(); ++r) {
      int32_t g = series_.of_row[r];
      if (g < 0 || when_[r] == Timestamp::NaT) continue;
      if (cached_bin[g] < 0 || uint64_t(when_[r] - cached_start[g]) >= uint64_t(width_)) {
        uint64_t k = uint64_t(when_[r] - layout_.first_start[g]) / uint64_t(width_);
        cached_start[g] = layout_.first_start[g] + int64_t(k) * width_;
        cached_bin[g] = int64_t(layout_.offset[g] + k);
      }
      visit(r, std::size_t(cached_bin[g]));
    }
  }

  std::size_t bins() const { return layout_.offset.back(); }

 private:
  const SeriesIds& series_;
  const BinLayout& layout_;
  const int64_t* when_;
  int64_t width_;
};

// The median of every bin: the values are placed bin by bin into one array
// (a counting sort on the bin), then each bin's run is partitioned.
template <typename T>
std::vector<double> bin_medians(const RowBins& rows, const T* value) {
  std::size_t bins = rows.bins();
  std::vector<std::size_t> start(bins + 1, 0);
  rows.for_each([&](std::size_t r, std::size_t b) {
    if (!std::isnan(value[r])) ++start[b + 1];
  });
  for (std::size_t b = 0; b < bins; ++b) start[b + 1] += start[b];
  std::vector<double> placed(start.back());
  std::vector<std::size_t> next(start.begin(), start.end() - 1);
  rows.for_each([&](std::size_t r, std::size_t b) {
    if (!std::isnan(value[r])) placed[next[b]++] = double(value[r]);
  });
  std::vector<double> out(bins, std::nan(""));
  for (std::size_t b = 0; b < bins; ++b)
    if (start[b + 1] > start[b]) out[b] = median_of(placed.data() + start[b], start[b + 1] - start[b]);
  return out;
}

// The mean, sum, maximum or minimum of every bin; empty bins give NaN
// (0 for sums).
template <typename T>
std::vector<double> bin_totals(const RowBins& rows, const T* value, Aggregate agg) {
  std::size_t bins = rows.bins();
  std::vector<double> acc(bins, agg == Aggregate::Max ? -INFINITY : agg == Aggregate::Min ? INFINITY : 0.0);
  std::vector<int64_t> count(bins, 0);
  rows.for_each([&](std::size_t r, std::size_t b) {
    if (std::isnan(value[r])) return;
    double v = double(value[r]);
    ++count[b];
    switch (agg) {
      case Aggregate::Max: acc[b] = std::max(acc[b], v); break;
      case Aggregate::Min: acc[b] = std::min(acc[b], v); break;
      default: acc[b] += v;
    }
  });
  for (std::size_t b = 0; b < bins; ++b) {
    if (count[b] == 0) acc[b] = agg == Aggregate::Sum ? 0.0 : std::nan("");
    else if (agg == Aggregate::Mean) acc[b] /= double(count[b]);
  }
  return acc;
}

template <typename T>
std::vector<double> aggregate_bins(const RowBins& rows, const T* value, Aggregate agg) {
  return agg == Aggregate::Median ? bin_medians(rows, value) : bin_totals(rows, value, agg);
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
  SeriesIds series = series_ids(df, keys, /*missing_is_a_group=*/false);
  if (series.count == 0) throw std::invalid_argument("nothing to resample: no row has STATIONID, POINTID and ITEMID");
  auto agg = aggregate_of(agg_method);
  if (!agg) throw std::invalid_argument(kBadMethod);
  BinCalendar calendar(when, width);
  const int64_t* times = calendar.binned(when);
  BinLayout layout(series, times, width, calendar);
  RowBins rows(series, layout, times, width);
  std::size_t bins = rows.bins();
  std::vector<double> values = value.type() == DataType::Float32
                                   ? aggregate_bins(rows, value.float32s().data(), *agg)
                                   : aggregate_bins(rows, value.float64s().data(), *agg);
  std::vector<int64_t> starts(bins), code_rows(bins);
  // A bin starts no later than the latest time of its series, so the
  // starts stay in range.
  for (std::size_t g = 0; g < series.count; ++g)
    for (std::size_t b = layout.offset[g]; b < layout.offset[g + 1]; ++b) {
      starts[b] = calendar.label(layout.first_start[g] + int64_t(b - layout.offset[g]) * width);
      code_rows[b] = layout.code_row[g];
    }
  Table out;
  out.add_column(Column::from_timestamps("STARTDATE", std::move(starts), when.zone()));
  out.add_column(Column::from_float64("OBSVALUE", std::move(values)));
  for (const char* name : kSeriesColumns) out.add_column(df.column(name).take(code_rows));
  return out;
}

}  // namespace tremora::postprocessing
