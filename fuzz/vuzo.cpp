// The VUZO reader on arbitrary bytes: the Parquet layer and the JSON
// entries of the file's metadata.
#include "fuzz_support.hpp"
#include "tremora/export.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tremora;
  fuzz::expect_clean_errors([&] { exchange::read_vuzo_from_bytes(fuzz::as_text(data, size), fuzz::kSource); });
  return 0;
}
