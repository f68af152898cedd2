// Numbers as text: reading decimals and integers, and the shortest and
// Python-style texts of floating-point values.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "tremora/text.hpp"

namespace tremora {
namespace {

bool equals_ignore_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return true;
}

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads a number from text already stripped of blanks and sign; the grammar
// is checked here, the conversion is exact (fast path or from_chars).
std::optional<double> parse_unsigned(std::string_view s) {
  if (!s.empty() && !is_digit(s[0]) && s[0] != '.') {
    if (equals_ignore_case(s, "nan")) return std::numeric_limits<double>::quiet_NaN();
    if (equals_ignore_case(s, "inf") || equals_ignore_case(s, "infinity"))
      return std::numeric_limits<double>::infinity();
    return std::nullopt;
  }
  std::size_t i = 0, n = s.size();
  uint64_t mantissa = 0;
  int significant = 0, int_digits = 0, frac_digits = 0, dropped_scale = 0;
  bool exact = true;
  for (; i < n && is_digit(s[i]); ++i, ++int_digits) {
    if (significant < 19) {
      mantissa = mantissa * 10 + uint64_t(s[i] - '0');
      if (mantissa) ++significant;
    } else {
      exact = false;
      ++dropped_scale;
    }
  }
  if (i < n && s[i] == '.') {
    for (++i; i < n && is_digit(s[i]); ++i, ++frac_digits) {
      if (significant < 19) {
        mantissa = mantissa * 10 + uint64_t(s[i] - '0');
        if (mantissa) ++significant;
        --dropped_scale;
      } else {
        exact = false;
      }
    }
  }
  if (int_digits + frac_digits == 0) return std::nullopt;
  int64_t exponent = 0;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == n || !is_digit(s[i])) return std::nullopt;
    for (; i < n && is_digit(s[i]); ++i) {
      if (exponent < 100000) exponent = exponent * 10 + (s[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  if (i != n) return std::nullopt;
  if (mantissa == 0) return 0.0;
  int64_t scale = exponent + dropped_scale;
  // Clinger's fast path: the mantissa and the power of ten are exact doubles.
  if (exact && mantissa < (uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
    double m = double(mantissa);
    return scale < 0 ? m / kPow10[-scale] : m * kPow10[scale];
  }
  double value = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + n, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) return scale > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  if (ec != std::errc{} || ptr != s.data() + n) return std::nullopt;
  return value;
}

template <typename F>
std::string shortest(F value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, ec == std::errc{} ? ptr : buf);
}

// The common case of data files, such as "1234.567" or "-0.5": an optional
// minus, at most 19 digits with an optional point, nothing else. Returns
// false for anything else, which the full grammar then handles.
bool parse_plain_decimal(std::string_view s, double& out) {
  const char* p = s.data();
  const char* end = p + s.size();
  bool negative = p < end && *p == '-';
  p += negative;
  const char* first = p;
  uint64_t mantissa = 0;
  while (p < end && is_digit(*p)) mantissa = mantissa * 10 + uint64_t(*p++ - '0');
  std::size_t int_digits = std::size_t(p - first), frac_digits = 0;
  if (p < end && *p == '.') {
    const char* frac = ++p;
    while (p < end && is_digit(*p)) mantissa = mantissa * 10 + uint64_t(*p++ - '0');
    frac_digits = std::size_t(p - frac);
  }
  std::size_t digits = int_digits + frac_digits;
  if (p != end || digits == 0 || digits > 19 || mantissa >= (uint64_t{1} << 53)) return false;
  double v = double(mantissa) / kPow10[frac_digits];
  out = negative ? -v : v;
  return true;
}

}  // namespace

std::optional<double> parse_decimal(std::string_view text) {
  double plain;
  if (parse_plain_decimal(text, plain)) return plain;
  std::string_view s = text;
  // Blanks are rare in data: strip only when an end is not a digit.
  if (!s.empty() && (!is_digit(s.front()) || !is_digit(s.back()))) s = strip_whitespace(s);
  if (s.empty()) return std::nullopt;
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  auto v = parse_unsigned(s);
  if (!v) return v;
  return negative ? -*v : *v;
}

std::string shortest_text(double value) { return shortest(value); }
std::string shortest_text(float value) { return shortest(value); }

std::string python_float_text(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string_view sci(buf, std::size_t(end - buf));
  bool negative = sci.front() == '-';
  if (negative) sci.remove_prefix(1);
  std::size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e))
    if (c != '.') digits += c;
  int exponent = std::stoi(std::string(sci.substr(e + 1)));
  std::string out = negative ? "-" : "";
  if (exponent >= -4 && exponent < 16) {
    int point = exponent + 1;  // digits before the decimal point
    if (point <= 0) {
      out.append("0.").append(std::size_t(-point), '0').append(digits);
    } else if (std::size_t(point) >= digits.size()) {
      out.append(digits).append(std::size_t(point) - digits.size(), '0').append(".0");
    } else {
      out.append(digits, 0, std::size_t(point)).append(".").append(digits, std::size_t(point));
    }
    return out;
  }
  out.append(digits, 0, 1);
  if (digits.size() > 1) out.append(".").append(digits, 1);
  char exp[16];
  std::snprintf(exp, sizeof exp, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
  return out + exp;
}

std::optional<int64_t> parse_integer(std::string_view text) {
  std::string_view s = strip_whitespace(text);
  // from_chars takes a minus sign but no plus sign.
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') return std::nullopt;
  }
  int64_t value = 0;
  auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

}  // namespace tremora
