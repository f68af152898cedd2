// The Kp file reader on arbitrary text: the layout is recognised from the
// content (JSON reply, three-hourly text, WDC daily), so one target reaches
// all three; the normal form is then made of what it returns.
#include "fuzz_support.hpp"
#include "tremora/geomag.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tremora;
  Table kp;
  bool read = false;
  fuzz::expect_clean_errors([&] {
    kp = geomag::parse_kp_text(fuzz::as_text(data, size), fuzz::kSource);
    read = true;
  });
  // The normal form's errors are fixed texts about the table.
  if (read) fuzz::expect_clean_errors([&] { geomag::normalize_geomag(kp, "UTC"); }, "");
  return 0;
}
