// Automatic numeric ticks (steps of 1, 2, 2.5, 5 and 10 times a power of
// ten) and their labels with a shared number of decimals and, where the
// values need it, an offset or a power of ten taken out.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tremora/chart.hpp"

namespace tremora::chart {
namespace {

constexpr int kMinNumericTicks = 2;
constexpr double kSteps[] = {0.1, 0.2, 0.25, 0.5, 1, 2, 2.5, 5, 10, 20};

// Whether x / step is within the tolerance of `edge`, the tolerance growing
// with the offset so that large offsets do not make every tick miss.
bool close_to(double ms, double edge, double step, double offset) {
  double tolerance = 1e-10;
  if (offset > 0) tolerance = std::min(0.4999, std::max(1e-10, std::pow(10.0, std::log10(offset / step) - 12)));
  return std::fabs(ms - edge) < tolerance;
}

double edge_le(double x, double step, double offset) {
  double d = std::floor(x / step), m = x - d * step;
  return close_to(m / step, 1, step, offset) ? d + 1 : d;
}

double edge_ge(double x, double step, double offset) {
  double d = std::floor(x / step), m = x - d * step;
  return close_to(m / step, 0, step, offset) ? d : d + 1;
}

std::string printf_text(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// "1.234e3"-style text: up to ten significant digits, no ".0" when whole.
std::string short_exponent(double mantissa, int exponent) {
  std::string m = printf_text("%.10g", mantissa);
  m += 'e';
  m += std::to_string(exponent);
  return m;
}

// The offset of the ticks, and the order of magnitude taken out.
void offset_and_order(const std::vector<double>& v, double& offset, int& order) {
  offset = 0;
  order = 0;
  if (v.empty()) return;
  double lo = *std::min_element(v.begin(), v.end()), hi = *std::max_element(v.begin(), v.end());
  if (v.size() > 1 && lo != hi && !(lo <= 0 && 0 <= hi)) {
    double a = std::max(std::fabs(lo), std::fabs(hi)), b = std::min(std::fabs(lo), std::fabs(hi));
    double sign = hi < 0 ? -1 : 1;
    int p = int(std::ceil(std::log10(a - b)));
    while (std::floor(a / std::pow(10.0, p)) != std::floor(b / std::pow(10.0, p))) ++p;
    while (p > -300 && std::floor(a / std::pow(10.0, p - 1)) == std::floor(b / std::pow(10.0, p - 1))) --p;
    if ((a - b) / std::pow(10.0, p) <= 1e-2) {
      int q = p;
      while (std::floor(a / std::pow(10.0, q)) - std::floor(b / std::pow(10.0, q)) <= 1 && q > -300) --q;
      p = q + 1;
    }
    double head = std::floor(a / std::pow(10.0, p));
    if (head >= 1000) offset = sign * head * std::pow(10.0, p);
  }
  double span = hi - lo;
  double magnitude = offset != 0 ? span : std::max(std::fabs(lo), std::fabs(hi));
  if (magnitude > 0) {
    int oom = int(std::floor(std::log10(magnitude)));
    if (oom <= -5 || oom >= 6) order = oom;
  }
}

int decimals(const std::vector<double>& scaled) {
  if (scaled.empty()) return 0;
  double lo = *std::min_element(scaled.begin(), scaled.end()), hi = *std::max_element(scaled.begin(), scaled.end());
  double range = hi - lo;
  if (range == 0) range = std::max(std::fabs(lo), std::fabs(hi));
  if (range == 0) range = 1;
  int d = int(std::floor(std::log10(range)));
  int start = std::max(0, 3 - d);
  double tolerance = 1e-3 * std::pow(10.0, d);
  int best = start + 1;
  for (int n = start; n >= 0; --n) {
    bool ok = true;
    for (double v : scaled) ok = ok && std::fabs(std::round(v * std::pow(10.0, n)) / std::pow(10.0, n) - v) < tolerance;
    if (!ok) break;
    best = n;
  }
  return best;
}

}  // namespace

NumericTicks auto_numeric_ticks(double vmin, double vmax, double axis_length_pt, double label_size_pt, bool y_axis) {
  if (vmax < vmin) std::swap(vmin, vmax);
  NumericTicks out;
  double space = std::floor(axis_length_pt / ((y_axis ? 2 : 3) * label_size_pt));
  double nbins = std::clamp(space, 1.0, 9.0);
  double dv = vmax - vmin, mean = (vmin + vmax) / 2;
  if (dv <= 0) {
    out.ticks = out.visible = {vmin};
    return out;
  }
  double offset =
      std::fabs(mean) / dv < 100 ? 0 : std::copysign(std::pow(10.0, std::floor(std::log10(std::fabs(mean)))), mean);
  double scale = std::pow(10.0, std::floor(std::log10(dv / nbins)));
  double lo = vmin - offset, hi = vmax - offset, raw = (hi - lo) / nbins;
  int first_large = 0;
  while (first_large < 9 && kSteps[first_large] * scale < raw) ++first_large;
  for (int i = first_large; i >= 0; --i) {
    double step = kSteps[i] * scale;
    double best_min = std::floor(lo / step) * step;
    double low = edge_le(lo - best_min, step, offset), high = edge_ge(hi - best_min, step, offset);
    std::vector<double> ticks;
    for (double k = low; k <= high; k += 1) ticks.push_back(k * step + best_min);
    std::size_t inside = std::count_if(ticks.begin(), ticks.end(), [&](double t) { return t >= lo && t <= hi; });
    out.ticks = ticks;
    if (inside >= kMinNumericTicks) break;
  }
  for (auto& t : out.ticks) t += offset;
  double tolerance = 1e-10 * dv;
  for (double t : out.ticks)
    if (t >= vmin - tolerance && t <= vmax + tolerance) out.visible.push_back(t);
  return out;
}

ScalarLabels scalar_labels(const std::vector<double>& visible, const std::vector<double>& all_ticks) {
  ScalarLabels out;
  double offset;
  int order;
  offset_and_order(visible, offset, order);
  double factor = std::pow(10.0, order);
  std::vector<double> scaled;
  for (double t : all_ticks.empty() ? visible : all_ticks) scaled.push_back((t - offset) / factor);
  int n = decimals(scaled);
  std::string format = std::string("%1.").append(std::to_string(n)).append("f");
  for (double t : visible) {
    double v = (t - offset) / factor;
    if (std::fabs(v) < 1e-8) v = 0;
    out.labels.push_back(printf_text(format.c_str(), v));
  }
  if (order != 0) out.offset_text = std::string("1e").append(std::to_string(order));
  if (offset != 0) {
    int e = int(std::floor(std::log10(std::fabs(offset))));
    out.offset_text += offset > 0 ? '+' : '-';
    out.offset_text += short_exponent(std::fabs(offset) / std::pow(10.0, e), e);
  }
  return out;
}

}  // namespace tremora::chart
