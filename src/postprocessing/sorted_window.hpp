// The values of a sliding window kept in ascending order. A slide swaps
// the oldest value for the newest in place; small windows do it without
// data-dependent branches, 16 bytes at a time (two doubles or four floats),
// which is what makes a window of 15 fast. float samples stay floats in the
// window: their order is the same, and four fit where two doubles do.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace tremora::postprocessing {

/// 16 bytes of samples handled as one (SSE2 on x86-64), with a lane mask.
template <typename T>
struct Lanes;
template <>
struct Lanes<double> {
  using Values = double __attribute__((vector_size(16)));
  using Mask = int64_t __attribute__((vector_size(16)));
  static constexpr std::size_t count = 2;
};
template <>
struct Lanes<float> {
  using Values = float __attribute__((vector_size(16)));
  using Mask = int32_t __attribute__((vector_size(16)));
  static constexpr std::size_t count = 4;
};

/// Two doubles handled as one, and the two values at p (any alignment) as
/// doubles.
using DoublePair = double __attribute__((vector_size(16)));
inline DoublePair load_pair(const double* p) {
  DoublePair x;
  std::memcpy(&x, p, sizeof x);
  return x;
}
inline DoublePair load_pair(const float* p) {
  using FloatPair = float __attribute__((vector_size(8)));
  FloatPair x;
  std::memcpy(&x, p, sizeof x);
  return __builtin_convertvector(x, DoublePair);
}

template <typename T>
class SortedWindow {
  using V = typename Lanes<T>::Values;
  using M = typename Lanes<T>::Mask;
  static constexpr std::size_t L = Lanes<T>::count;

 public:
  /// Windows up to this size take the branch-free path.
  static constexpr std::size_t kSmall = 64;

  /// An empty window that can hold `capacity` values.
  explicit SortedWindow(std::size_t capacity)
      : values_(padded(capacity), INFINITY), scratch_(padded(capacity), INFINITY) {}

  std::size_t size() const { return size_; }
  /// The values in ascending order, followed by +inf (at least four).
  const T* data() const { return values_.data() + 1; }

  /// Adds a value (not NaN).
  void insert(T v) {
    T* s = values_.data() + 1;
    std::size_t at = std::size_t(std::upper_bound(s, s + size_, v) - s);
    std::copy_backward(s + at, s + size_, s + size_ + 1);
    s[at] = v;
    ++size_;
    end_with_infinity();
  }

  /// Removes one occurrence of a value that is in the window.
  void erase(T v) {
    T* s = values_.data() + 1;
    std::size_t at = std::size_t(std::lower_bound(s, s + size_, v) - s);
    std::copy(s + at + 1, s + size_, s + at);
    --size_;
    end_with_infinity();
  }

  /// Swaps a value that is in the window for another (neither NaN).
  void replace(T old_value, T new_value) {
    if (size_ <= kSmall) replace_small(old_value, new_value);
    else replace_large(old_value, new_value);
  }

 private:
  static V load(const T* p) {
    V x;
    std::memcpy(&x, p, sizeof x);
    return x;
  }
  static V splat(T v) {
    V x;
    for (std::size_t k = 0; k < L; ++k) x[k] = v;
    return x;
  }

  // One slot before the values and L + 1 after them, so that the lane loops
  // may read beyond either end. Both buffers hold +inf in the L slots just
  // after the values: counts may then run over whole lane groups, and a
  // slide keeps those in place (they are never moved).
  static std::size_t padded(std::size_t capacity) { return capacity + 2 * L + 2; }

  void end_with_infinity() {
    for (std::size_t k = 0; k < L; ++k) values_[size_ + 1 + k] = scratch_[size_ + 1 + k] = T(INFINITY);
  }

  // The number of values below a and the number below b (both finite),
  // L at a time; the +inf after the values counts for neither.
  std::pair<std::size_t, std::size_t> count_below(T a, T b) const {
    const T* s = data();
    M below_a = {}, below_b = {};
    const V pa = splat(a), pb = splat(b);
    for (std::size_t k = 0; k < size_; k += L) {
      V x = load(s + k);
      below_a += x < pa;  // a true lane is -1
      below_b += x < pb;
    }
    int64_t ca = 0, cb = 0;
    for (std::size_t k = 0; k < L; ++k) ca -= below_a[k], cb -= below_b[k];
    return {std::size_t(ca), std::size_t(cb)};
  }

  // The old value leaves position `from`, the new one lands at `to`; the
  // values between move one place towards `from`. Every position is
  // written, each taking its own value or its neighbour's by a mask, into
  // the second buffer, which then becomes the window. Positions are
  // compared in the lanes' own type (SSE2 compares neither 64-bit integers
  // nor mixed types).
  void replace_small(T old_value, T new_value) {
    auto [from, below_new] = count_below(old_value, new_value);
    bool rising = new_value > old_value;
    std::size_t to = rising ? below_new - 1 : below_new;               // below_new counts the old value when rising
    T lo = T(rising ? from : to + 1), hi = T(rising ? to : from + 1);  // moved: [lo, hi)
    std::ptrdiff_t step = rising ? 1 : -1;
    const T* s = data();
    T* out = scratch_.data() + 1;
    V index;
    for (std::size_t k = 0; k < L; ++k) index[k] = T(k);
    const V width = splat(T(L)), plo = splat(lo), phi = splat(hi);
    for (std::size_t k = 0; k < size_; k += L, index += width) {
      V own = load(s + k), neighbour = load(s + k + step);
      M moved = (index >= plo) & (index < phi);
      V v = moved ? neighbour : own;
      std::memcpy(out + k, &v, sizeof v);
    }
    out[to] = new_value;
    values_.swap(scratch_);
  }

  // Large windows find both places by bisection and move the values
  // between them as one block.
  void replace_large(T old_value, T new_value) {
    T* s = values_.data() + 1;
    std::size_t from = count_below_sorted(s, size_, old_value);
    std::size_t below_new = count_below_sorted(s, size_, new_value);
    if (new_value > old_value) {
      std::size_t to = below_new - 1;  // below_new counts the old value
      std::memmove(s + from, s + from + 1, (to - from) * sizeof(T));
      s[to] = new_value;
    } else {
      std::size_t to = below_new;
      std::memmove(s + to + 1, s + to, (from - to) * sizeof(T));
      s[to] = new_value;
    }
  }

  // The number of values below v in the sorted s[0..n), n > 0, by a
  // bisection whose steps are conditional moves rather than branches.
  static std::size_t count_below_sorted(const T* s, std::size_t n, T v) {
    const T* base = s;
    while (n > 1) {
      std::size_t half = n / 2;
      base = base[half] < v ? base + half : base;
      n -= half;
    }
    return std::size_t(base - s) + (*base < v);
  }

  std::size_t size_ = 0;
  std::vector<T> values_, scratch_;
};

}  // namespace tremora::postprocessing
