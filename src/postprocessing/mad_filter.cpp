// The moving median / MAD spike filter. The window slides over a sorted
// array of its values (one value swapped for another per step); the MAD of
// a window is found from the sorted values without sorting the distances.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <tuple>

#include "sorted_window.hpp"
#include "time_order.hpp"
#include "tremora/errors.hpp"
#include "tremora/memory.hpp"
#include "tremora/parallel.hpp"
#include "tremora/postprocessing.hpp"
#include "tremora/qzdata.hpp"

namespace tremora::postprocessing {
namespace {

constexpr double kMadScale = 1.4826;

template <typename T>
double sorted_median(const T* s, std::size_t n) {
  return n % 2 ? double(s[n / 2]) : (double(s[n / 2 - 1]) + double(s[n / 2])) / 2;
}

// The k-th smallest (0-based) distance |s[i] - m| in a sorted window that
// is followed by +inf (s[n]). The
// k + 1 values nearest to m lie side by side, so the answer is the smallest
// over all blocks of k + 1 neighbours of the larger distance at the block's
// two ends: small windows try every block, two at a time and without
// branches. The larger end distance of a block falls, then rises, as the
// block moves right, so large windows find its lowest point by bisection.
template <typename T>
double kth_distance(const T* s, std::size_t n, double m, std::size_t k) {
  auto reach = [&](std::size_t lo) { return std::max(m - double(s[lo]), double(s[lo + k]) - m); };
  if (n <= SortedWindow<T>::kSmall) {
    const DoublePair pm = {m, m};
    DoublePair best = {INFINITY, INFINITY};
    // A block that would end on s[n] reaches +inf and never wins.
    for (std::size_t lo = 0; lo + k < n; lo += 2) {
      DoublePair left = pm - load_pair(s + lo), right = load_pair(s + lo + k) - pm;
      DoublePair farther = left < right ? right : left;
      best = farther < best ? farther : best;
    }
    return std::min(best[0], best[1]);
  }
  std::size_t lo = 0, hi = n - 1 - k;  // the first block whose right end is at least as far as its left
  while (lo < hi) {
    std::size_t mid = (lo + hi) / 2;
    if (double(s[mid + k]) - m >= m - double(s[mid])) hi = mid;
    else lo = mid + 1;
  }
  return lo > 0 ? std::min(reach(lo), reach(lo - 1)) : reach(lo);
}

// The scaled median of |s[i] - m|. An infinite median gives the missing
// value where some value equals it (infinity minus infinity), as does a
// missing median.
template <typename T>
double window_mad(const T* s, std::size_t n, double m) {
  if (std::isnan(m) || (std::isinf(m) && (double(s[0]) == m || double(s[n - 1]) == m))) return std::nan("");
  double d =
      n % 2 ? kth_distance(s, n, m, n / 2) : (kth_distance(s, n, m, n / 2 - 1) + kth_distance(s, n, m, n / 2)) / 2;
  return kMadScale * d;
}

// The median and MAD of a window.
struct WindowStats {
  double median, mad;
};

// A sample farther from its window's median than `threshold` MADs is a
// spike and takes the median's place; NaN samples stay.
double judged(double x, const WindowStats& s, double threshold) {
  return std::fabs(x - s.median) > threshold * s.mad ? s.median : x;
}

// Slides the window over the samples and calls visit(i, stats) for every
// position i with a whole window around it; the statistics are missing
// where the window holds a missing value.
template <typename T, typename Visit>
void slide(const T* x, std::size_t n, std::size_t w, Visit visit) {
  std::size_t after = (w - 1) / 2, before = w - 1 - after;
  SortedWindow<T> sorted(std::min(n, w));  // a window longer than the series never fills
  std::size_t missing = 0;
  auto insert = [&](T v) {
    if (std::isnan(v)) ++missing;
    else sorted.insert(v);
  };
  auto erase = [&](T v) {
    if (std::isnan(v)) --missing;
    else sorted.erase(v);
  };
  for (std::size_t j = 0; j < std::min(n, w); ++j) insert(x[j]);
  for (std::size_t i = before; i + after < n; ++i) {
    if (i > before) {  // slide: drop the oldest, take the newest
      T old_value = x[i - before - 1], new_value = x[i + after];
      if (std::isnan(old_value) || std::isnan(new_value)) {
        erase(old_value);
        insert(new_value);
      } else {
        sorted.replace(old_value, new_value);
      }
    }
    if (missing) {
      visit(i, WindowStats{std::nan(""), std::nan("")});
      continue;
    }
    double m = sorted_median(sorted.data(), w);
    visit(i, WindowStats{m, window_mad(sorted.data(), w, m)});
  }
}

void fill_forward_then_backward(std::vector<double>& v) {
  for (std::size_t i = 1; i < v.size(); ++i)
    if (std::isnan(v[i])) v[i] = v[i - 1];
  for (std::size_t i = v.size(); i-- > 1;)
    if (std::isnan(v[i - 1])) v[i - 1] = v[i];
}

// The rule on one series, cut into pieces of window positions that can be
// judged at the same time: each piece fills its own window from the samples
// before it, so every position sees the window it would see in one pass.
//
// Each sample is judged against the window centred on it. Positions whose
// window is incomplete (at the ends, or with a missing value inside) take
// the statistics of the last complete window before them, or before the
// first complete window those of that window; without any complete window
// every sample stays. A piece judges what it can alone, and `finish` hands
// the positions before a piece's first complete window the statistics its
// earlier pieces carry.
//
// With infinite samples a complete window can have a missing statistic
// (infinity minus infinity); the median and MAD series are then kept whole
// and filled forward then backward each on its own, before every sample is
// judged.
template <typename T>
class PiecewiseFilter {
 public:
  // Judged samples go to out[i], or to out[rows[i]] where rows is given.
  // `infinite` tells whether some sample is infinite.
  PiecewiseFilter(const T* x, std::size_t n, bool infinite, std::size_t w, double threshold, T* out,
                  const int64_t* rows = nullptr)
      : x_(x), n_(n), w_(w), before_(w - 1 - (w - 1) / 2), threshold_(threshold), out_(out), rows_(rows) {
    std::size_t positions = n >= w ? n - w + 1 : 0, length = std::max(kPiece, 4 * w);
    for (std::size_t at = 0; at < positions; at += length)
      pieces_.emplace_back(before_ + at, before_ + std::min(positions, at + length));
    if (infinite) median_.assign(n, std::nan("")), mad_.assign(n, std::nan(""));
  }

  std::size_t pieces() const { return pieces_.size(); }

  // Slides over piece p alone; pieces may be judged at the same time.
  // The piece's statistics are kept in a local copy while it slides, and
  // stored once at the end: neighbouring pieces share cache lines, and
  // threads writing them at every position would take the lines from each
  // other all the time.
  void judge(std::size_t p) {
    Piece piece = pieces_[p];
    std::size_t shift = piece.begin - before_;
    slide(x_ + shift, piece.end - piece.begin + w_ - 1, w_, [&](std::size_t local, const WindowStats& s) {
      std::size_t i = local + shift;
      if (by_series()) {
        median_[i] = s.median, mad_[i] = s.mad;
        return;
      }
      if (!std::isnan(s.median)) {
        piece.last = s;
        if (!piece.first) piece.first = s, piece.first_at = i;
      }
      if (piece.first) put(i, piece.last);
    });
    pieces_[p] = piece;
  }

  // After every piece is judged.
  void finish() {
    if (by_series()) return judge_by_series();
    auto opening = std::find_if(pieces_.begin(), pieces_.end(), [](const Piece& p) { return p.first.has_value(); });
    if (opening == pieces_.end()) return;
    WindowStats carried = *opening->first;
    for (std::size_t i = 0; i < before_; ++i) put(i, carried);
    for (const Piece& piece : pieces_) {
      for (std::size_t i = piece.begin; i < (piece.first ? piece.first_at : piece.end); ++i) put(i, carried);
      if (piece.first) carried = piece.last;
    }
    for (std::size_t i = pieces_.back().end; i < n_; ++i) put(i, carried);
  }

 private:
  static constexpr std::size_t kPiece = 65536;

  struct Piece {
    Piece(std::size_t from, std::size_t to) : begin(from), end(to) {}
    std::size_t begin, end;  // window positions
    std::optional<WindowStats> first;
    std::size_t first_at = 0;
    WindowStats last{};
  };

  bool by_series() const { return !median_.empty(); }

  void put(std::size_t i, const WindowStats& s) {
    out_[rows_ ? std::size_t(rows_[i]) : i] = T(judged(double(x_[i]), s, threshold_));
  }

  void judge_by_series() {
    fill_forward_then_backward(median_);
    fill_forward_then_backward(mad_);
    for (std::size_t i = 0; i < n_; ++i) put(i, {median_[i], mad_[i]});
  }

  const T* x_;
  std::size_t n_, w_, before_;
  double threshold_;
  T* out_;
  const int64_t* rows_;
  std::vector<Piece> pieces_;
  std::vector<double> median_, mad_;  // by position, with infinite samples
};

constexpr std::size_t kSamplePiece = std::size_t(1) << 16;

template <typename T>
bool is_infinite(T v) {
  return std::isinf(v);
}

// Whether some sample is infinite, looked for in parallel pieces.
template <typename T>
bool any_infinite(const T* x, std::size_t n) {
  std::atomic<bool> found{false};
  parallel_pieces(n, kSamplePiece, [&](std::size_t begin, std::size_t end) {
    if (std::any_of(x + begin, x + end, is_infinite<T>)) found.store(true, std::memory_order_relaxed);
  });
  return found.load();
}

// The rule on one series: judged samples go to out, which holds a copy of them.
template <typename T>
void filter_series(const T* x, std::size_t n, std::size_t w, double threshold, T* out) {
  PiecewiseFilter<T> filter(x, n, any_infinite(x, n), w, threshold, out);
  parallel_for(filter.pieces(), [&](std::size_t p) { filter.judge(p); });
  filter.finish();
}

void check_arguments(int64_t window_size, double threshold_factor) {
  if (window_size < 1)
    throw std::invalid_argument("window_size must be at least 1, not " + std::to_string(window_size));
  if (!std::isfinite(threshold_factor)) throw std::invalid_argument("threshold_factor must be a finite number");
}

}  // namespace

double fast_mad(std::span<const double> x) {
  if (x.empty()) return std::nan("");
  std::vector<double> s(x.begin(), x.end());
  for (double v : s)
    if (std::isnan(v)) return std::nan("");
  std::sort(s.begin(), s.end());
  s.push_back(INFINITY);  // the end mark the window statistics expect
  std::size_t n = x.size();
  return window_mad(s.data(), n, sorted_median(s.data(), n));
}

namespace {

// The samples of `series` filtered by `filter(x, out)`, which reads the
// samples at x and writes the filtered ones to out, where a copy of them
// stands. Float32 and float64 samples are read where they are and keep
// their type, others are read as numbers (float64).
template <typename Filter>
Column filtered_copy(const Column& series, Filter filter) {
  auto run = [&](const auto* x) {
    std::vector<std::remove_cvref_t<decltype(*x)>> out(x, x + series.size());
    filter(x, out.data());
    return out;
  };
  if (series.type() == DataType::Float32) return Column::from_float32(series.name(), run(series.float32s().data()));
  if (series.type() == DataType::Float64) return Column::from_float64(series.name(), run(series.float64s().data()));
  return Column::from_float64(series.name(), run(to_number(series).float64s().data()));
}

// The same into `copied`, a copy of `series` such as a copied table holds:
// float samples are filtered where the copy holds them.
template <typename Filter>
void filter_copied(const Column& series, Column& copied, Filter filter) {
  if (series.type() == DataType::Float32) filter(series.float32s().data(), copied.float32s().data());
  else if (series.type() == DataType::Float64) filter(series.float64s().data(), copied.float64s().data());
  else copied = filtered_copy(series, filter);
}

}  // namespace

Column filter_with_fast_mad(const Column& series, int64_t window_size, double threshold_factor) {
  check_arguments(window_size, threshold_factor);
  std::size_t w = std::size_t(window_size), n = series.size();
  return filtered_copy(series, [&](const auto* x, auto* out) { filter_series(x, n, w, threshold_factor, out); });
}

namespace {

// The samples of each series, gathered in time order, and whether any of
// them is infinite. Series are gathered in pieces of rows, all in one
// parallel run.
template <typename T>
struct GatheredSeries {
  GatheredSeries(const T* x, const SeriesGroups& groups) : values(groups.members.size()) {
    std::vector<std::tuple<std::size_t, std::size_t, std::size_t>> pieces;  // (series, first, end)
    for (std::size_t s = 0; s < values.size(); ++s) {
      std::size_t size = groups.members[s].size();
      values[s] = large_unwritten<T>(size);
      for (std::size_t at = 0; at < size; at += kSamplePiece)
        pieces.emplace_back(s, at, std::min(size, at + kSamplePiece));
    }
    std::vector<uint8_t> found(pieces.size(), 0);
    parallel_for(pieces.size(), [&](std::size_t p) {
      auto [s, first, end] = pieces[p];
      const int64_t* rows = groups.members[s].data();
      T* into = values[s].get();
      for (std::size_t k = first; k < end; ++k) into[k] = x[rows[k]];
      found[p] = std::any_of(into + first, into + end, is_infinite<T>);
    });
    infinite.assign(values.size(), 0);
    for (std::size_t p = 0; p < pieces.size(); ++p) infinite[std::get<0>(pieces[p])] |= found[p];
  }

  std::vector<std::unique_ptr<T[]>> values;
  std::vector<uint8_t> infinite;
};

// Filters each series on its own: its samples gathered in time order, the
// rule applied and the results put back at its rows in out (no two series
// share a row). The pieces of every series are judged in one parallel run,
// so a few long series use as many threads as many short ones.
template <typename T>
void filter_per_series(const T* x, const SeriesGroups& groups, std::size_t w, double threshold, T* out) {
  GatheredSeries<T> gathered(x, groups);
  std::size_t count = groups.members.size();
  std::vector<PiecewiseFilter<T>> filters;
  std::vector<std::pair<std::size_t, std::size_t>> jobs;  // (series, piece)
  for (std::size_t s = 0; s < count; ++s) {
    const std::vector<int64_t>& rows = groups.members[s];
    filters.emplace_back(gathered.values[s].get(), rows.size(), gathered.infinite[s] != 0, w, threshold, out,
                         rows.data());
    for (std::size_t p = 0; p < filters.back().pieces(); ++p) jobs.emplace_back(s, p);
  }
  parallel_for(jobs.size(), [&](std::size_t j) { filters[jobs[j].first].judge(jobs[j].second); });
  parallel_for(count, [&](std::size_t s) { filters[s].finish(); });
}

// The series of a table by its series-key columns (those it has), each in
// time order.
SeriesGroups series_of(const Table& df) {
  std::vector<std::string> keys;
  for (std::string_view name : qzdata::kSeriesKey)
    if (df.has_column(std::string(name))) keys.emplace_back(name);
  if (keys.empty()) return {};
  std::vector<int64_t> order = working_order(df, true);
  return group_rows(df, keys, /*missing_is_a_group=*/true, order);
}

}  // namespace

Table filter_with_fast_mad(const Table& df, int64_t window_size, double threshold_factor) {
  check_arguments(window_size, threshold_factor);
  const Column& series = df.column(qzdata::kObsValue);
  SeriesGroups groups = series_of(df);
  Table copy = df;
  std::size_t w = std::size_t(window_size), n = series.size();
  filter_copied(series, copy.column(qzdata::kObsValue), [&](const auto* x, auto* out) {
    if (groups.members.size() <= 1) filter_series(x, n, w, threshold_factor, out);  // the rows as they stand
    else filter_per_series(x, groups, w, threshold_factor, out);
  });
  return copy;
}

}  // namespace tremora::postprocessing
