// The day-row splitter on a one-row table whose OBSVALUE is the input text.
// The first byte chooses the sample spacing and where the row starts, so
// that the split case of every unit, the daily case and rows running past
// the range of timestamps are all reached.
#include <utility>

#include "fuzz_support.hpp"
#include "tremora/cleaning.hpp"

namespace {

using namespace tremora;

// Spacings in seconds: second, minute, ten-minute, hour, day, and two that
// fall in no named unit.
constexpr double kSpacings[8] = {1, 60, 600, 3600, 86400, 0.5, 7200, 5};

int64_t first_sample(uint8_t choice) {
  switch (choice >> 3 & 3) {
    case 0: return make_timestamp(2024, 3, 1).ns;
    case 1: return make_timestamp(2262, 4, 11).ns;  // the last day of the range
    case 2: return make_timestamp(1677, 9, 22).ns;
    default: return Timestamp::NaT;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  uint8_t choice = data[0];
  std::string obsvalue(fuzz::as_text(data + 1, size - 1));
  Table day_row({Column::from_timestamps("STARTDATE", {first_sample(choice)}, choice & 0x20 ? "Asia/Shanghai" : ""),
                 Column::from_strings("STATIONID", {std::string("53001")}),
                 Column::from_strings("OBSVALUE", {std::move(obsvalue)})});
  // Errors name the row or the column, not the text.
  fuzz::expect_clean_errors([&] { cleaning::split_lines(std::as_const(day_row), kSpacings[choice & 7]); }, "");
  return 0;
}
