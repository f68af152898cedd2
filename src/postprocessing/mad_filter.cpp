// The moving median / MAD spike filter. The window slides over a sorted
// array of its values (one value swapped for another per step); the MAD of
// a window is found from the sorted values without sorting the distances.
#include <algorithm>
#include <cmath>

#include "tremora/errors.hpp"
#include "tremora/postprocessing.hpp"

namespace tremora::postprocessing {
namespace {

constexpr double kMadScale = 1.4826;

double sorted_median(const double* s, std::size_t n) {
  return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
}

// The k-th smallest (0-based) distance |s[i] - m| in a sorted window. The
// k + 1 values nearest to m lie side by side, so the answer is the smallest
// over all blocks of k + 1 neighbours of the larger distance at the block's
// two ends: a loop without branches that vectorizes.
// The larger end distance of a block falls, then rises, as the block moves
// right, so large windows find its lowest point by bisection.
double kth_distance(const double* s, std::size_t n, double m, std::size_t k) {
  auto reach = [&](std::size_t lo) { return std::max(m - s[lo], s[lo + k] - m); };
  if (n <= 64) {
    double best = INFINITY;
    for (std::size_t lo = 0; lo + k < n; ++lo) best = std::min(best, reach(lo));
    return best;
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

// Small windows: positions are found by counting, without branches, which
// is faster than a binary search there.
constexpr std::size_t kSmallWindow = 64;

std::size_t count_below(const double* s, std::size_t n, double v) {
  std::size_t c = 0;
  for (std::size_t k = 0; k < n; ++k) c += s[k] < v;
  return c;
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
  std::vector<double> sorted;
  sorted.reserve(w);
  std::size_t missing = 0;
  auto insert = [&](double v) {
    if (std::isnan(v)) ++missing;
    else sorted.insert(std::upper_bound(sorted.begin(), sorted.end(), v), v);
  };
  auto erase = [&](double v) {
    if (std::isnan(v)) --missing;
    else sorted.erase(std::lower_bound(sorted.begin(), sorted.end(), v));
  };
  // Swaps one value for another in place: the values between the two
  // places move by one, which is few for a smooth series.
  auto replace = [&](double old_value, double new_value) {
    double* s = sorted.data();
    std::size_t size = sorted.size();
    if (size <= kSmallWindow) {
      std::size_t j = count_below(s, size, old_value), p = count_below(s, size, new_value);
      if (new_value > old_value) {
        for (std::size_t k = j; k + 1 < p; ++k) s[k] = s[k + 1];  // p counts the old value too
        s[p - 1] = new_value;
      } else {
        for (std::size_t k = j; k > p; --k) s[k] = s[k - 1];
        s[p] = new_value;
      }
      return;
    }
    std::size_t j = std::size_t(std::lower_bound(sorted.begin(), sorted.end(), old_value) - sorted.begin());
    if (new_value > old_value) {
      for (; j + 1 < size && s[j + 1] < new_value; ++j) s[j] = s[j + 1];
    } else {
      for (; j > 0 && s[j - 1] > new_value; --j) s[j] = s[j - 1];
    }
    s[j] = new_value;
  };
  for (std::size_t j = 0; j < std::min(n, w); ++j) insert(x[j]);
  for (std::size_t i = before; i + after < n; ++i) {
    if (i > before) {  // slide: drop the oldest, take the newest
      double old_value = x[i - before - 1], new_value = x[i + after];
      if (std::isnan(old_value) || std::isnan(new_value)) {
        erase(old_value);
        insert(new_value);
      } else {
        replace(old_value, new_value);
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
  return window_mad(s.data(), s.size(), sorted_median(s.data(), s.size()));
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
