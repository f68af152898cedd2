// The CSV reader on arbitrary text.
#include "tremora/csv.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tremora;
  fuzz::expect_clean_errors([&] { parse_csv(fuzz::as_text(data, size), fuzz::kSource); });
  return 0;
}
