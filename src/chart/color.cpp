#include <cmath>
#include <map>
#include <stdexcept>

#include "tremora/chart.hpp"
#include "tremora/text.hpp"
#include "viridis_table.hpp"

namespace tremora::chart {
namespace {

Color hex(uint32_t rgb) { return {((rgb >> 16) & 255) / 255.0, ((rgb >> 8) & 255) / 255.0, (rgb & 255) / 255.0, 1}; }

const std::map<std::string, Color>& named_colors() {
  static const std::map<std::string, Color> names{
      {"b", {0, 0, 1, 1}},          {"g", {0, 0.5, 0, 1}},        {"r", {1, 0, 0, 1}},
      {"c", {0, 0.75, 0.75, 1}},    {"m", {0.75, 0, 0.75, 1}},    {"y", {0.75, 0.75, 0, 1}},
      {"k", {0, 0, 0, 1}},          {"w", {1, 1, 1, 1}},          {"C0", hex(0x1f77b4)},
      {"C1", hex(0xff7f0e)},        {"C2", hex(0x2ca02c)},        {"C3", hex(0xd62728)},
      {"C4", hex(0x9467bd)},        {"C5", hex(0x8c564b)},        {"C6", hex(0xe377c2)},
      {"C7", hex(0x7f7f7f)},        {"C8", hex(0xbcbd22)},        {"C9", hex(0x17becf)},
      {"black", hex(0x000000)},     {"white", hex(0xffffff)},     {"red", hex(0xff0000)},
      {"green", hex(0x008000)},     {"blue", hex(0x0000ff)},      {"yellow", hex(0xffff00)},
      {"gray", hex(0x808080)},      {"grey", hex(0x808080)},      {"orange", hex(0xffa500)},
      {"purple", hex(0x800080)},    {"cyan", hex(0x00ffff)},      {"magenta", hex(0xff00ff)},
      {"brown", hex(0xa52a2a)},     {"pink", hex(0xffc0cb)},      {"navy", hex(0x000080)},
      {"darkred", hex(0x8b0000)},   {"darkgreen", hex(0x006400)}, {"darkblue", hex(0x00008b)},
      {"lightgray", hex(0xd3d3d3)}, {"lightgrey", hex(0xd3d3d3)}, {"darkgray", hex(0xa9a9a9)},
      {"darkgrey", hex(0xa9a9a9)},  {"silver", hex(0xc0c0c0)},    {"gold", hex(0xffd700)},
      {"olive", hex(0x808000)},     {"teal", hex(0x008080)},      {"maroon", hex(0x800000)},
      {"lime", hex(0x00ff00)},      {"tab:blue", hex(0x1f77b4)},  {"tab:orange", hex(0xff7f0e)},
      {"tab:green", hex(0x2ca02c)}, {"tab:red", hex(0xd62728)},   {"tab:purple", hex(0x9467bd)},
      {"tab:brown", hex(0x8c564b)}, {"tab:pink", hex(0xe377c2)},  {"tab:gray", hex(0x7f7f7f)},
      {"tab:olive", hex(0xbcbd22)}, {"tab:cyan", hex(0x17becf)},
  };
  return names;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Color parse_color(const std::string& name) {
  auto fail = [&]() -> Color { throw std::invalid_argument("unknown colour '" + name + "'"); };
  if (auto it = named_colors().find(name); it != named_colors().end()) return it->second;
  if (!name.empty() && name[0] == '#' && (name.size() == 7 || name.size() == 9)) {
    double v[4] = {0, 0, 0, 1};
    for (std::size_t i = 0; i + 1 < name.size(); i += 2) {
      int hi = hex_digit(name[i + 1]), lo = hex_digit(name[i + 2]);
      if (hi < 0 || lo < 0) return fail();
      v[i / 2] = (hi * 16 + lo) / 255.0;
    }
    return {v[0], v[1], v[2], v[3]};
  }
  if (auto grey = parse_decimal(name); grey && *grey >= 0 && *grey <= 1 && !name.empty() && name[0] != ' ')
    return {*grey, *grey, *grey, 1};
  return fail();
}

Color viridis(double x) {
  int i = std::isnan(x) ? 0 : x >= 1 ? 255 : x < 0 ? 0 : int(std::floor(256 * x));
  i = std::min(i, 255);
  return {kViridis[i][0], kViridis[i][1], kViridis[i][2], 1};
}

}  // namespace tremora::chart
