// The moving median / MAD spike filter. The window slides over a sorted
// array of its values (one value swapped for another per step); the MAD of
// a window is found from the sorted values without sorting the distances.
#include <algorithm>
#include <cmath>

#include "sorted_window.hpp"
#include "tremora/errors.hpp"
#include "tremora/postprocessing.hpp"

namespace tremora::postprocessing {
namespace {

constexpr double kMadScale = 1.4826;

double sorted_median(const double* s, std::size_t n) {
  return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
}

// The k-th smallest (0-based) distance |s[i] - m| in a sorted window that
// is followed by +inf (s[n]). The
// k + 1 values nearest to m lie side by side, so the answer is the smallest
// over all blocks of k + 1 neighbours of the larger distance at the block's
// two ends: small windows try every block, two at a time and without
// branches. The larger end distance of a block falls, then rises, as the
// block moves right, so large windows find its lowest point by bisection.
double kth_distance(const double* s, std::size_t n, double m, std::size_t k) {
  auto reach = [&](std::size_t lo) { return std::max(m - s[lo], s[lo + k] - m); };
  if (n <= SortedWindow::kSmall) {
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
    if (s[mid + k] - m >= m - s[mid]) hi = mid;
    else lo = mid + 1;
  }
  return lo > 0 ? std::min(reach(lo), reach(lo - 1)) : reach(lo);
}

double window_mad(const double* s, std::size_t n, double m) {
  double d = n % 2 ? kth_distance(s, n, m, n / 2) : (kth_distance(s, n, m, n / 2 - 1) + kth_distance(s, n, m, n / 2)) / 2;
  return kMadScale * d;
}

void fill_forward_then_backward(std::vector<double>& v) {
  for (std::size_t i = 1; i < v.size(); ++i)
    if (std::isnan(v[i])) v[i] = v[i - 1];
  for (std::size_t i = v.size(); i-- > 1;)
    if (std::isnan(v[i - 1])) v[i - 1] = v[i];
}

// The window median and MAD of every position (NaN where the window is
// incomplete), then filled forward and backward.
void window_statistics(const std::vector<double>& x, std::size_t w, std::vector<double>& median,
                       std::vector<double>& mad) {
  std::size_t n = x.size(), after = (w - 1) / 2, before = w - 1 - after;
  median.assign(n, std::nan(""));
  mad.assign(n, std::nan(""));
  SortedWindow sorted(w);
  std::size_t missing = 0;
  auto insert = [&](double v) {
    if (std::isnan(v)) ++missing;
    else sorted.insert(v);
  };
  auto erase = [&](double v) {
    if (std::isnan(v)) --missing;
    else sorted.erase(v);
  };
  for (std::size_t j = 0; j < std::min(n, w); ++j) insert(x[j]);
  for (std::size_t i = before; i + after < n; ++i) {
    if (i > before) {  // slide: drop the oldest, take the newest
      double old_value = x[i - before - 1], new_value = x[i + after];
      if (std::isnan(old_value) || std::isnan(new_value)) {
        erase(old_value);
        insert(new_value);
      } else {
        sorted.replace(old_value, new_value);
      }
    }
    if (missing) continue;
    double m = sorted_median(sorted.data(), w);
    median[i] = m;
    mad[i] = window_mad(sorted.data(), w, m);
  }
  fill_forward_then_backward(median);
  fill_forward_then_backward(mad);
}

std::vector<double> filtered(const std::vector<double>& x, int64_t window_size, double threshold_factor) {
  if (window_size < 1) throw std::invalid_argument("window_size must be at least 1, not " + std::to_string(window_size));
  if (!std::isfinite(threshold_factor)) throw std::invalid_argument("threshold_factor must be a finite number");
  std::vector<double> median, mad;
  window_statistics(x, std::size_t(window_size), median, mad);
  // The result takes the median's place: a spike keeps its window's median.
  for (std::size_t i = 0; i < x.size(); ++i)
    if (!(std::fabs(x[i] - median[i]) > threshold_factor * mad[i])) median[i] = x[i];
  return median;
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

Column filter_with_fast_mad(const Column& series, int64_t window_size, double threshold_factor) {
  Column numbers = to_number(series);
  Column out = Column::from_float64(series.name(), filtered(numbers.float64s(), window_size, threshold_factor));
  return series.type() == DataType::Float32 ? cast_float32(out) : out;
}

Table filter_with_fast_mad(const Table& df, int64_t window_size, double threshold_factor) {
  Table copy = df;
  copy.column("OBSVALUE") = filter_with_fast_mad(df.column("OBSVALUE"), window_size, threshold_factor);
  return copy;
}

}  // namespace tremora::postprocessing
