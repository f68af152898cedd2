// The values of Parquet pages, decoded in every supported encoding into a
// leaf's storage type.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "encoding.hpp"
#include "leaf.hpp"

namespace tremora::parquet {

// Decoded values of a page or dictionary in the leaf's storage type.
struct Values {
  std::vector<int64_t> i64;
  std::vector<double> f64;
  std::vector<float> f32;
  std::vector<uint8_t> b;
  std::vector<std::string_view> text;  // views into page bytes kept alive by the caller, or into arena
  std::shared_ptr<std::string> arena;  // texts rebuilt from prefixes and suffixes
  std::size_t size() const { return std::max({i64.size(), f64.size(), f32.size(), b.size(), text.size()}); }
};

/// Reads `m` PLAIN values.
void decode_plain(const Leaf& leaf, ByteCursor& in, std::size_t m, Values& out);

/// Decodes `m` values of a page body in any of the supported value
/// encodings except the dictionary ones.
void decode_values(const Leaf& leaf, meta::Encoding encoding, ByteCursor& in, std::size_t m, Values& out);

/// Picks dictionary entries by index.
Values gather(const Values& dict, const std::vector<uint32_t>& idx);

}  // namespace tremora::parquet
