// The fixed-column catalogue reader on arbitrary text, and the marking of
// the events it gives around the default station.
#include "tremora/quakecat.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tremora;
  fuzz::expect_clean_errors([&] {
    Table events = quakecat::parse_quakecat(fuzz::as_text(data, size), fuzz::kSource);
    quakecat::filtered_quakecats(events);
  });
  return 0;
}
