// The values of a sliding window kept in ascending order. A slide swaps
// the oldest value for the newest in place; small windows do it without
// data-dependent branches, which is what makes a window of 15 fast.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace tremora::postprocessing {

/// Two doubles handled as one (SSE2 on x86-64), and a mask of two lanes.
using DoublePair = double __attribute__((vector_size(16)));
using MaskPair = int64_t __attribute__((vector_size(16)));

/// The two doubles at p (any alignment).
inline DoublePair load_pair(const double* p) {
  DoublePair x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

class SortedWindow {
 public:
  /// Windows up to this size take the branch-free path.
  static constexpr std::size_t kSmall = 64;

  /// An empty window that can hold `capacity` values.
  explicit SortedWindow(std::size_t capacity)
      : values_(padded(capacity), INFINITY), scratch_(padded(capacity), INFINITY) {}

  std::size_t size() const { return size_; }
  /// The values in ascending order, followed by +inf (data()[size()]).
  const double* data() const { return values_.data() + 1; }

  /// Adds a value (not NaN).
  void insert(double v) {
    double* s = values_.data() + 1;
    std::size_t at = std::size_t(std::upper_bound(s, s + size_, v) - s);
    std::copy_backward(s + at, s + size_, s + size_ + 1);
    s[at] = v;
    ++size_;
    end_with_infinity();
  }

  /// Removes one occurrence of a value that is in the window.
  void erase(double v) {
    double* s = values_.data() + 1;
    std::size_t at = std::size_t(std::lower_bound(s, s + size_, v) - s);
    std::copy(s + at + 1, s + size_, s + at);
    --size_;
    end_with_infinity();
  }

  /// Swaps a value that is in the window for another (neither NaN).
  void replace(double old_value, double new_value) {
    if (size_ <= kSmall) replace_small(old_value, new_value);
    else replace_large(old_value, new_value);
  }

 private:
  // One slot before the values and up to three after them, so that the
  // pair loops may read beyond either end. Both buffers hold +inf just
  // after the values: counts may then run over whole pairs, and a slide
  // keeps that +inf in place (the slot after the values is never moved).
  static std::size_t padded(std::size_t capacity) { return capacity + 4; }

  void end_with_infinity() {
    values_[size_ + 1] = INFINITY;
    scratch_[size_ + 1] = INFINITY;
  }

  // The number of values below a and the number below b (both finite),
  // two at a time; the +inf after the values counts for neither.
  std::pair<std::size_t, std::size_t> count_below(double a, double b) const {
    const double* s = data();
    MaskPair below_a = {0, 0}, below_b = {0, 0};
    const DoublePair pa = {a, a}, pb = {b, b};
    for (std::size_t k = 0; k < size_; k += 2) {
      DoublePair x = load_pair(s + k);
      below_a += x < pa;  // a true lane is -1
      below_b += x < pb;
    }
    return {std::size_t(-(below_a[0] + below_a[1])), std::size_t(-(below_b[0] + below_b[1]))};
  }

  // The old value leaves position `from`, the new one lands at `to`; the
  // values between move one place towards `from`. Every position is
  // written, each taking its own value or its neighbour's by a mask, into
  // the second buffer, which then becomes the window.
  void replace_small(double old_value, double new_value) {
    auto [from, below_new] = count_below(old_value, new_value);
    bool rising = new_value > old_value;
    std::size_t to = rising ? below_new - 1 : below_new;  // below_new counts the old value when rising
    // Positions are compared as doubles: SSE2 compares doubles in pairs,
    // but not 64-bit integers.
    double lo = double(rising ? from : to + 1), hi = double(rising ? to : from + 1);  // moved: [lo, hi)
    std::ptrdiff_t step = rising ? 1 : -1;
    const double* s = data();
    double* out = scratch_.data() + 1;
    DoublePair index = {0, 1};
    const DoublePair two = {2, 2}, plo = {lo, lo}, phi = {hi, hi};
    for (std::size_t k = 0; k < size_; k += 2, index += two) {
      DoublePair own = load_pair(s + k), neighbour = load_pair(s + k + step);
      MaskPair moved = (index >= plo) & (index < phi);
      DoublePair v = moved ? neighbour : own;
      std::memcpy(out + k, &v, sizeof v);
    }
    out[to] = new_value;
    values_.swap(scratch_);
  }

  // Large windows find both places by bisection and move the values
  // between them as one block.
  void replace_large(double old_value, double new_value) {
    double* s = values_.data() + 1;
    std::size_t from = count_below_sorted(s, size_, old_value);
    std::size_t below_new = count_below_sorted(s, size_, new_value);
    if (new_value > old_value) {
      std::size_t to = below_new - 1;  // below_new counts the old value
      std::memmove(s + from, s + from + 1, (to - from) * sizeof(double));
      s[to] = new_value;
    } else {
      std::size_t to = below_new;
      std::memmove(s + to + 1, s + to, (from - to) * sizeof(double));
      s[to] = new_value;
    }
  }

  // The number of values below v in the sorted s[0..n), n > 0, by a
  // bisection whose steps are conditional moves rather than branches.
  static std::size_t count_below_sorted(const double* s, std::size_t n, double v) {
    const double* base = s;
    while (n > 1) {
      std::size_t half = n / 2;
      base = base[half] < v ? base + half : base;
      n -= half;
    }
    return std::size_t(base - s) + (*base < v);
  }

  std::size_t size_ = 0;
  std::vector<double> values_, scratch_;
};

}  // namespace tremora::postprocessing
