// The Parquet reader on arbitrary bytes.
#include "tremora/parquet.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tremora;
  fuzz::expect_clean_errors([&] { parquet::read_table_from_bytes(fuzz::as_text(data, size), fuzz::kSource); });
  return 0;
}
