// Data built into the program, so that its demo runs without the network or
// the source tree.
#pragma once

#include <string_view>

namespace tremora::cli {

/// GFZ Potsdam's definitive Kp file of 2024 (Kp_def2024.wdc, WDC layout;
/// licence CC BY 4.0, Matzka et al. 2021, doi:10.5880/Kp.0001).
std::string_view bundled_kp_2024();

}  // namespace tremora::cli
