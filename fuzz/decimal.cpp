// The number parsers on arbitrary text. They return nothing for text that
// is no number and never throw; what they read must agree: an integer reads
// as the same value through the decimal grammar, and a decimal's shortest
// text reads back as the same value.
#include <cmath>

#include "fuzz_support.hpp"
#include "tremora/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tremora;
  std::string_view text = fuzz::as_text(data, size);
  std::optional<double> decimal = parse_decimal(text);
  std::optional<int64_t> integer = parse_integer(text);
  if (integer && (!decimal || *decimal != double(*integer)))
    fuzz::finding("parse_integer and parse_decimal disagree", std::string(text).c_str());
  if (decimal && !std::isnan(*decimal)) {
    std::optional<double> again = parse_decimal(shortest_text(*decimal));
    if (!again || *again != *decimal) fuzz::finding("shortest_text does not read back", std::string(text).c_str());
  }
  return 0;
}
