#include "oracle_number.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace tremora::db::oracle {
namespace {

constexpr unsigned char kZero = 0x80;
constexpr unsigned char kNegativeEnd = 102;
constexpr int kPositiveBias = 0xC1, kNegativeBias = 0x3E;

[[noreturn]] void not_a_number() { throw std::invalid_argument("the fetched bytes are not an Oracle NUMBER"); }

struct Digits {
  bool negative = false;
  int exponent = 0;          // of 100, of the first digit
  std::vector<int> base100;  // most significant first
};

Digits digits_of(std::string_view number) {
  Digits d;
  auto head = static_cast<unsigned char>(number[0]);
  d.negative = head < kZero;
  d.exponent = d.negative ? kNegativeBias - head : head - kPositiveBias;
  for (std::size_t i = 1; i < number.size(); ++i) {
    auto b = static_cast<unsigned char>(number[i]);
    if (d.negative && b == kNegativeEnd) break;
    int digit = d.negative ? 101 - b : b - 1;
    if (digit < 0 || digit > 99) not_a_number();
    d.base100.push_back(digit);
  }
  if (d.base100.empty()) not_a_number();
  return d;
}

// The integer, when the digits make one that int64 holds.
std::optional<int64_t> integer_of(const Digits& d) {
  if (d.exponent < 0 || int(d.base100.size()) > d.exponent + 1 || d.exponent > 9) return std::nullopt;
  constexpr uint64_t kMost = std::numeric_limits<uint64_t>::max();
  uint64_t magnitude = 0;
  for (int i = 0; i <= d.exponent; ++i) {
    unsigned digit = i < int(d.base100.size()) ? unsigned(d.base100[std::size_t(i)]) : 0;
    if (magnitude > (kMost - digit) / 100) return std::nullopt;
    magnitude = magnitude * 100 + digit;
  }
  constexpr uint64_t kLargest = uint64_t(std::numeric_limits<int64_t>::max());
  if (!d.negative) return magnitude <= kLargest ? std::optional<int64_t>(int64_t(magnitude)) : std::nullopt;
  if (magnitude > kLargest + 1) return std::nullopt;
  return magnitude == kLargest + 1 ? std::numeric_limits<int64_t>::min() : -int64_t(magnitude);
}

// The nearest double, read from the decimal text "0.DDDD...e(2(e+1))".
double real_of(const Digits& d) {
  std::string text = d.negative ? "-0." : "0.";
  for (int digit : d.base100) {
    text += char('0' + digit / 10);
    text += char('0' + digit % 10);
  }
  text += 'e';
  text += std::to_string(2 * (d.exponent + 1));
  return std::strtod(text.c_str(), nullptr);
}

}  // namespace

NumberValue read_number(std::string_view bytes) {
  if (bytes.empty()) not_a_number();
  auto length = static_cast<unsigned char>(bytes[0]);
  if (length == 0 || length + 1u > bytes.size()) not_a_number();
  std::string_view number = bytes.substr(1, length);
  auto head = static_cast<unsigned char>(number[0]);
  if (head == kZero && length == 1) return {0, 0.0};
  if (head == 0x00 && length == 1) return {std::nullopt, -HUGE_VAL};  // the form's negative infinity
  if (head == 0xFF && length == 2) return {std::nullopt, HUGE_VAL};   // and its positive infinity
  Digits d = digits_of(number);
  std::optional<int64_t> integer = integer_of(d);
  return {integer, integer ? double(*integer) : real_of(d)};
}

}  // namespace tremora::db::oracle
