// Values binned by time within each series: the bins anchored at midnight
// of the wall clock of the times' zone, and their aggregates.
#include <algorithm>
#include <cmath>

#include "tremora/errors.hpp"
#include "tremora/parallel.hpp"
#include "tremora/table.hpp"

namespace tremora {
namespace {

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
  const int64_t* binned(const Column& times) const { return by_wall_clock_ ? wall_.data() : times.int64s().data(); }
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
// (a counting sort on the bin), then each bin's run is partitioned, bins in
// parallel.
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
  parallel_pieces(bins, 256, [&](std::size_t first, std::size_t end) {
    for (std::size_t b = first; b < end; ++b)
      if (start[b + 1] > start[b]) out[b] = median_of(placed.data() + start[b], start[b + 1] - start[b]);
  });
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

TimeBins bin_by_time(const Column& times, const Column& values, const SeriesIds& series, int64_t width, Aggregate agg) {
  if (times.type() != DataType::Timestamp)
    throw TypeError("column '" + times.name() + "' holds " + std::string(type_name(times.type())) + ", not timestamps");
  if (values.type() != DataType::Float32 && values.type() != DataType::Float64)
    throw TypeError("column '" + values.name() + "' holds " + std::string(type_name(values.type())) + ", not floats");
  if (width <= 0) throw std::invalid_argument("a bin width must be positive");
  BinCalendar calendar(times, width);
  const int64_t* when = calendar.binned(times);
  BinLayout layout(series, when, width, calendar);
  RowBins rows(series, layout, when, width);
  TimeBins out;
  out.values = values.type() == DataType::Float32 ? aggregate_bins(rows, values.float32s().data(), agg)
                                                  : aggregate_bins(rows, values.float64s().data(), agg);
  out.starts.resize(rows.bins());
  // A bin starts no later than the latest time of its series, so the
  // starts stay in range.
  for (std::size_t g = 0; g < series.count; ++g)
    for (std::size_t b = layout.offset[g]; b < layout.offset[g + 1]; ++b)
      out.starts[b] = calendar.label(layout.first_start[g] + int64_t(b - layout.offset[g]) * width);
  out.series_offset = std::move(layout.offset);
  out.code_row = std::move(layout.code_row);
  return out;
}

}  // namespace tremora
