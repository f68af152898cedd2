// The date-text parser on arbitrary text; what it accepts formats back.
#include "fuzz_support.hpp"
#include "tremora/time.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tremora;
  std::string_view text = fuzz::as_text(data, size);
  // Errors name the text that failed.
  fuzz::expect_clean_errors(
      [&] {
        ParsedDate parsed = parse_date_text(text);
        format_timestamp(parsed.wall, "%Y-%m-%d %H:%M:%S.%f");
        format_timestamp(parse_timestamp(text), "%Y-%m-%d %H:%M:%S.%f");
      },
      text);
  return 0;
}
