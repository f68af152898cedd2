// Inflating arbitrary bytes as gzip (or zlib) data with a modest limit on
// the result: corrupt data and data expanding past the limit are errors.
#include "tremora/gzip.hpp"
#include "fuzz_support.hpp"

namespace {
constexpr std::size_t kMaxSize = std::size_t{1} << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tremora;
  fuzz::expect_clean_errors(
      [&] {
        std::string out = gzip_decompress(fuzz::as_text(data, size), kMaxSize);
        if (out.size() > kMaxSize) fuzz::finding("gzip result beyond the limit", std::to_string(out.size()).c_str());
      },
      "gzip");
  return 0;
}
