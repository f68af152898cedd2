// Oracle's NUMBER in its own form (the bytes SQLT_VNU gives: a length
// byte, then the number's bytes), read exactly: as an integer when it is
// one that int64 holds, else as the nearest double.
//
// The form, as the OCI documentation describes it: a zero is the single
// byte 0x80. Otherwise an exponent byte, then up to 20 base-100 digits,
// most significant first, the value being the sum of digit(i) * 100^(e - i).
// A positive number's exponent byte is 0xC1 + e and each digit is stored
// as digit + 1; a negative one's exponent byte is 0x3E - e, each digit is
// stored as 101 - digit, and a byte 102 ends the digits when there are
// fewer than 20.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tremora::db::oracle {

/// The length byte and up to 21 bytes of a number, as fetched.
inline constexpr std::size_t kNumberBufferBytes = 22;

struct NumberValue {
  /// Set when the number is an integer within int64.
  std::optional<int64_t> integer;
  /// The number as the nearest double (also for integers).
  double real = 0;
};

/// Reads the number of a fetched SQLT_VNU buffer (`bytes` starts with the
/// length byte). std::invalid_argument for bytes that are no number.
NumberValue read_number(std::string_view bytes);

}  // namespace tremora::db::oracle
