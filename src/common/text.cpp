#include "tremora/text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <fmt/format.h>

namespace tremora {
namespace {

// Decodes one UTF-8 code point at s[i]; returns its length (1 for an
// invalid byte, with cp set to 0xFFFD).
std::size_t decode_utf8(std::string_view s, std::size_t i, char32_t& cp) {
  auto b = static_cast<unsigned char>(s[i]);
  std::size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
  if (len == 1) {
    cp = b;
    return 1;
  }
  if (len == 0 || i + len > s.size()) {
    cp = 0xFFFD;
    return 1;
  }
  char32_t v = b & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) {
      cp = 0xFFFD;
      return 1;
    }
    v = (v << 6) | (c & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (v < kMin[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) {
    cp = 0xFFFD;
    return 1;
  }
  cp = v;
  return len;
}

bool is_ascii_space(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x1F); }

bool is_unicode_space(char32_t cp) {
  return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 ||
         cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

// Length of the white-space character that ends at s[end - 1], or 0.
std::size_t trailing_space_length(std::string_view s, std::size_t end) {
  if (is_ascii_space(static_cast<unsigned char>(s[end - 1]))) return 1;
  for (std::size_t len = 2; len <= 3 && len <= end; ++len) {
    char32_t cp;
    if (decode_utf8(s, end - len, cp) == len && is_unicode_space(cp)) return len;
  }
  return 0;
}

// The code points a terminal shows two columns wide: East Asian Wide and
// Fullwidth characters of Unicode 14 (EastAsianWidth.txt, W and F), with
// the unassigned points inside a range counted with it.
struct CodeRange {
  char32_t first, last;
};
constexpr CodeRange kWideRanges[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},
    {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},
    {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},
    {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},
    {0x2E80, 0x303E},   {0x3041, 0x3247},   {0x3250, 0x4DBF},   {0x4E00, 0xA4C6},   {0xA960, 0xA97C},
    {0xAC00, 0xD7A3},   {0xF900, 0xFAD9},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6B},   {0xFF01, 0xFF60},
    {0xFFE0, 0xFFE6},   {0x16FE0, 0x1B2FB}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E},
    {0x1F191, 0x1F19A}, {0x1F200, 0x1F320}, {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393},
    {0x1F3A0, 0x1F3CA}, {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E},
    {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567},
    {0x1F57A, 0x1F57A}, {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5},
    {0x1F6CC, 0x1F6CC}, {0x1F6D0, 0x1F6D2}, {0x1F6D5, 0x1F6DF}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC},
    {0x1F7E0, 0x1F7F0}, {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAF6},
    {0x20000, 0x3FFFD}};

template <std::size_t N>
bool in_ranges(const CodeRange (&ranges)[N], char32_t cp) {
  const CodeRange* end = std::end(ranges);
  const CodeRange* r =
      std::lower_bound(std::begin(ranges), end, cp, [](const CodeRange& range, char32_t c) { return range.last < c; });
  return r != end && r->first <= cp;
}

bool is_wide(char32_t cp) { return in_ranges(kWideRanges, cp); }

// The lower case of the characters from U+0080 on, as runs: first,
// first + step, ... up to last each become themselves plus delta. Made from
// Python 3.11's str.lower() (Unicode 14); U+0130, which becomes two
// characters, and the capital sigma, which depends on its neighbours, are
// handled apart.
struct LowerCaseRun {
  char32_t first, last;
  int delta, step;
};
constexpr LowerCaseRun kLowerCaseRuns[] = {
    {0x00C0, 0x00D6, 32, 1},     {0x00D8, 0x00DE, 32, 1},     {0x0100, 0x012E, 1, 2},      {0x0132, 0x0136, 1, 2},
    {0x0139, 0x0147, 1, 2},      {0x014A, 0x0176, 1, 2},      {0x0178, 0x0178, -121, 1},   {0x0179, 0x017D, 1, 2},
    {0x0181, 0x0181, 210, 1},    {0x0182, 0x0184, 1, 2},      {0x0186, 0x0186, 206, 1},    {0x0187, 0x0187, 1, 1},
    {0x0189, 0x018A, 205, 1},    {0x018B, 0x018B, 1, 1},      {0x018E, 0x018E, 79, 1},     {0x018F, 0x018F, 202, 1},
    {0x0190, 0x0190, 203, 1},    {0x0191, 0x0191, 1, 1},      {0x0193, 0x0193, 205, 1},    {0x0194, 0x0194, 207, 1},
    {0x0196, 0x0196, 211, 1},    {0x0197, 0x0197, 209, 1},    {0x0198, 0x0198, 1, 1},      {0x019C, 0x019C, 211, 1},
    {0x019D, 0x019D, 213, 1},    {0x019F, 0x019F, 214, 1},    {0x01A0, 0x01A4, 1, 2},      {0x01A6, 0x01A6, 218, 1},
    {0x01A7, 0x01A7, 1, 1},      {0x01A9, 0x01A9, 218, 1},    {0x01AC, 0x01AC, 1, 1},      {0x01AE, 0x01AE, 218, 1},
    {0x01AF, 0x01AF, 1, 1},      {0x01B1, 0x01B2, 217, 1},    {0x01B3, 0x01B5, 1, 2},      {0x01B7, 0x01B7, 219, 1},
    {0x01B8, 0x01B8, 1, 1},      {0x01BC, 0x01BC, 1, 1},      {0x01C4, 0x01C4, 2, 1},      {0x01C5, 0x01C5, 1, 1},
    {0x01C7, 0x01C7, 2, 1},      {0x01C8, 0x01C8, 1, 1},      {0x01CA, 0x01CA, 2, 1},      {0x01CB, 0x01DB, 1, 2},
    {0x01DE, 0x01EE, 1, 2},      {0x01F1, 0x01F1, 2, 1},      {0x01F2, 0x01F4, 1, 2},      {0x01F6, 0x01F6, -97, 1},
    {0x01F7, 0x01F7, -56, 1},    {0x01F8, 0x021E, 1, 2},      {0x0220, 0x0220, -130, 1},   {0x0222, 0x0232, 1, 2},
    {0x023A, 0x023A, 10795, 1},  {0x023B, 0x023B, 1, 1},      {0x023D, 0x023D, -163, 1},   {0x023E, 0x023E, 10792, 1},
    {0x0241, 0x0241, 1, 1},      {0x0243, 0x0243, -195, 1},   {0x0244, 0x0244, 69, 1},     {0x0245, 0x0245, 71, 1},
    {0x0246, 0x024E, 1, 2},      {0x0370, 0x0372, 1, 2},      {0x0376, 0x0376, 1, 1},      {0x037F, 0x037F, 116, 1},
    {0x0386, 0x0386, 38, 1},     {0x0388, 0x038A, 37, 1},     {0x038C, 0x038C, 64, 1},     {0x038E, 0x038F, 63, 1},
    {0x0391, 0x03A1, 32, 1},     {0x03A4, 0x03AB, 32, 1},     {0x03CF, 0x03CF, 8, 1},      {0x03D8, 0x03EE, 1, 2},
    {0x03F4, 0x03F4, -60, 1},    {0x03F7, 0x03F7, 1, 1},      {0x03F9, 0x03F9, -7, 1},     {0x03FA, 0x03FA, 1, 1},
    {0x03FD, 0x03FF, -130, 1},   {0x0400, 0x040F, 80, 1},     {0x0410, 0x042F, 32, 1},     {0x0460, 0x0480, 1, 2},
    {0x048A, 0x04BE, 1, 2},      {0x04C0, 0x04C0, 15, 1},     {0x04C1, 0x04CD, 1, 2},      {0x04D0, 0x052E, 1, 2},
    {0x0531, 0x0556, 48, 1},     {0x10A0, 0x10C5, 7264, 1},   {0x10C7, 0x10C7, 7264, 1},   {0x10CD, 0x10CD, 7264, 1},
    {0x13A0, 0x13EF, 38864, 1},  {0x13F0, 0x13F5, 8, 1},      {0x1C90, 0x1CBA, -3008, 1},  {0x1CBD, 0x1CBF, -3008, 1},
    {0x1E00, 0x1E94, 1, 2},      {0x1E9E, 0x1E9E, -7615, 1},  {0x1EA0, 0x1EFE, 1, 2},      {0x1F08, 0x1F0F, -8, 1},
    {0x1F18, 0x1F1D, -8, 1},     {0x1F28, 0x1F2F, -8, 1},     {0x1F38, 0x1F3F, -8, 1},     {0x1F48, 0x1F4D, -8, 1},
    {0x1F59, 0x1F5F, -8, 2},     {0x1F68, 0x1F6F, -8, 1},     {0x1F88, 0x1F8F, -8, 1},     {0x1F98, 0x1F9F, -8, 1},
    {0x1FA8, 0x1FAF, -8, 1},     {0x1FB8, 0x1FB9, -8, 1},     {0x1FBA, 0x1FBB, -74, 1},    {0x1FBC, 0x1FBC, -9, 1},
    {0x1FC8, 0x1FCB, -86, 1},    {0x1FCC, 0x1FCC, -9, 1},     {0x1FD8, 0x1FD9, -8, 1},     {0x1FDA, 0x1FDB, -100, 1},
    {0x1FE8, 0x1FE9, -8, 1},     {0x1FEA, 0x1FEB, -112, 1},   {0x1FEC, 0x1FEC, -7, 1},     {0x1FF8, 0x1FF9, -128, 1},
    {0x1FFA, 0x1FFB, -126, 1},   {0x1FFC, 0x1FFC, -9, 1},     {0x2126, 0x2126, -7517, 1},  {0x212A, 0x212A, -8383, 1},
    {0x212B, 0x212B, -8262, 1},  {0x2132, 0x2132, 28, 1},     {0x2160, 0x216F, 16, 1},     {0x2183, 0x2183, 1, 1},
    {0x24B6, 0x24CF, 26, 1},     {0x2C00, 0x2C2F, 48, 1},     {0x2C60, 0x2C60, 1, 1},      {0x2C62, 0x2C62, -10743, 1},
    {0x2C63, 0x2C63, -3814, 1},  {0x2C64, 0x2C64, -10727, 1}, {0x2C67, 0x2C6B, 1, 2},      {0x2C6D, 0x2C6D, -10780, 1},
    {0x2C6E, 0x2C6E, -10749, 1}, {0x2C6F, 0x2C6F, -10783, 1}, {0x2C70, 0x2C70, -10782, 1}, {0x2C72, 0x2C72, 1, 1},
    {0x2C75, 0x2C75, 1, 1},      {0x2C7E, 0x2C7F, -10815, 1}, {0x2C80, 0x2CE2, 1, 2},      {0x2CEB, 0x2CED, 1, 2},
    {0x2CF2, 0x2CF2, 1, 1},      {0xA640, 0xA66C, 1, 2},      {0xA680, 0xA69A, 1, 2},      {0xA722, 0xA72E, 1, 2},
    {0xA732, 0xA76E, 1, 2},      {0xA779, 0xA77B, 1, 2},      {0xA77D, 0xA77D, -35332, 1}, {0xA77E, 0xA786, 1, 2},
    {0xA78B, 0xA78B, 1, 1},      {0xA78D, 0xA78D, -42280, 1}, {0xA790, 0xA792, 1, 2},      {0xA796, 0xA7A8, 1, 2},
    {0xA7AA, 0xA7AA, -42308, 1}, {0xA7AB, 0xA7AB, -42319, 1}, {0xA7AC, 0xA7AC, -42315, 1}, {0xA7AD, 0xA7AD, -42305, 1},
    {0xA7AE, 0xA7AE, -42308, 1}, {0xA7B0, 0xA7B0, -42258, 1}, {0xA7B1, 0xA7B1, -42282, 1}, {0xA7B2, 0xA7B2, -42261, 1},
    {0xA7B3, 0xA7B3, 928, 1},    {0xA7B4, 0xA7C2, 1, 2},      {0xA7C4, 0xA7C4, -48, 1},    {0xA7C5, 0xA7C5, -42307, 1},
    {0xA7C6, 0xA7C6, -35384, 1}, {0xA7C7, 0xA7C9, 1, 2},      {0xA7D0, 0xA7D0, 1, 1},      {0xA7D6, 0xA7D8, 1, 2},
    {0xA7F5, 0xA7F5, 1, 1},      {0xFF21, 0xFF3A, 32, 1},     {0x10400, 0x10427, 40, 1},   {0x104B0, 0x104D3, 40, 1},
    {0x10570, 0x1057A, 39, 1},   {0x1057C, 0x1058A, 39, 1},   {0x1058C, 0x10592, 39, 1},   {0x10594, 0x10595, 39, 1},
    {0x10C80, 0x10CB2, 64, 1},   {0x118A0, 0x118BF, 32, 1},   {0x16E40, 0x16E5F, 32, 1},   {0x1E900, 0x1E921, 34, 1}};
constexpr char32_t kCapitalSigma = 0x03A3;

// For the choice of the final sigma, among the characters below U+0530
// (Latin, Greek, Cyrillic): the case-ignorable ones (apostrophe, full stop,
// combining marks, modifier letters, ...), and the cased ones that are not
// case-ignorable. Characters from U+0530 on count as neither.
constexpr CodeRange kCaseIgnorable[] = {{0x0027, 0x0027}, {0x002E, 0x002E}, {0x003A, 0x003A}, {0x005E, 0x005E},
                                        {0x0060, 0x0060}, {0x00A8, 0x00A8}, {0x00AD, 0x00AD}, {0x00AF, 0x00AF},
                                        {0x00B4, 0x00B4}, {0x00B7, 0x00B8}, {0x02B0, 0x036F}, {0x0374, 0x0375},
                                        {0x037A, 0x037A}, {0x0384, 0x0385}, {0x0387, 0x0387}, {0x0483, 0x0489}};
constexpr CodeRange kCased[] = {
    {0x0041, 0x005A}, {0x0061, 0x007A}, {0x00AA, 0x00AA}, {0x00B5, 0x00B5}, {0x00BA, 0x00BA}, {0x00C0, 0x00D6},
    {0x00D8, 0x00F6}, {0x00F8, 0x01BA}, {0x01BC, 0x01BF}, {0x01C4, 0x0293}, {0x0295, 0x02AF}, {0x0370, 0x0373},
    {0x0376, 0x0377}, {0x037B, 0x037D}, {0x037F, 0x037F}, {0x0386, 0x0386}, {0x0388, 0x038A}, {0x038C, 0x038C},
    {0x038E, 0x03A1}, {0x03A3, 0x03F5}, {0x03F7, 0x0481}, {0x048A, 0x052F}};

bool is_case_ignorable(char32_t cp) { return in_ranges(kCaseIgnorable, cp); }
bool is_cased(char32_t cp) { return in_ranges(kCased, cp); }

char32_t lower_code_point(char32_t cp) {
  if (cp < 0x80) return cp >= 'A' && cp <= 'Z' ? cp + ('a' - 'A') : cp;
  const LowerCaseRun* end = std::end(kLowerCaseRuns);
  const LowerCaseRun* r = std::lower_bound(std::begin(kLowerCaseRuns), end, cp,
                                           [](const LowerCaseRun& run, char32_t c) { return run.last < c; });
  if (r == end || r->first > cp || (cp - r->first) % r->step != 0) return cp;
  return static_cast<char32_t>(static_cast<int>(cp) + r->delta);
}

// A capital sigma is final (ς) when a cased character comes before it and
// none after it, case-ignorable characters skipped on both sides, as Python's
// str.lower() decides.
bool is_final_sigma(const std::vector<char32_t>& text, std::size_t at) {
  std::size_t before = at;
  while (before > 0 && is_case_ignorable(text[before - 1])) --before;
  if (before == 0 || !is_cased(text[before - 1])) return false;
  std::size_t after = at + 1;
  while (after < text.size() && is_case_ignorable(text[after])) ++after;
  return after == text.size() || !is_cased(text[after]);
}

void decode_all(std::string_view utf8, std::vector<char32_t>& code_points, std::vector<std::string_view>& bytes) {
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp;
    std::size_t len = decode_utf8(utf8, i, cp);
    code_points.push_back(cp);
    bytes.push_back(utf8.substr(i, len));
    i += len;
  }
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool is_combining(char32_t cp) {
  return (cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x1AB0 && cp <= 0x1AFF) || (cp >= 0x1DC0 && cp <= 0x1DFF) ||
         (cp >= 0x20D0 && cp <= 0x20FF) || (cp >= 0xFE20 && cp <= 0xFE2F) || (cp >= 0x200B && cp <= 0x200F) ||
         (cp >= 0xFE00 && cp <= 0xFE0F) || cp == 0x3099 || cp == 0x309A || cp == 0xFEFF;
}

}  // namespace

std::string_view strip_whitespace(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end) {
    auto c = static_cast<unsigned char>(text[begin]);
    if (is_ascii_space(c)) {
      ++begin;
      continue;
    }
    if (c < 0x80) break;
    char32_t cp;
    std::size_t len = decode_utf8(text, begin, cp);
    if (!is_unicode_space(cp)) break;
    begin += len;
  }
  while (end > begin) {
    std::size_t len = trailing_space_length(text.substr(0, end), end);
    if (len == 0) break;
    end -= len;
  }
  return text.substr(begin, end - begin);
}

std::string hex_text(std::string_view bytes, bool upper_case) {
  const char* digits = upper_case ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  out.reserve(2 * bytes.size());
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::string to_upper_ascii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return out;
}

std::string to_lower_ascii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

std::string to_lower_unicode(std::string_view utf8) {
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return to_lower_ascii(utf8);
  std::vector<char32_t> code_points;
  std::vector<std::string_view> bytes;  // of each code point, to keep invalid ones as they are
  decode_all(utf8, code_points, bytes);
  std::string out;
  for (std::size_t i = 0; i < code_points.size(); ++i) {
    char32_t cp = code_points[i];
    if (cp == 0x0130) {
      out += "i\u0307";
    } else if (cp == kCapitalSigma) {
      out += is_final_sigma(code_points, i) ? "\u03C2" : "\u03C3";
    } else if (char32_t lower = lower_code_point(cp); lower != cp) {
      append_utf8(out, lower);
    } else {
      out += bytes[i];
    }
  }
  return out;
}

std::size_t code_point_count(std::string_view utf8) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < utf8.size(); ++count) {
    char32_t cp;
    i += decode_utf8(utf8, i, cp);
  }
  return count;
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  if (from.empty()) return std::string(text);
  std::size_t pos = 0;
  while (true) {
    std::size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::size_t display_width(std::string_view utf8) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp;
    i += decode_utf8(utf8, i, cp);
    width += is_combining(cp) ? 0 : is_wide(cp) ? 2 : 1;
  }
  return width;
}

bool is_valid_utf8(std::string_view bytes) {
  constexpr uint64_t kHighBits = 0x8080808080808080ULL;
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n;) {
    // Runs of ASCII, the common case, are skipped eight bytes at a time.
    uint64_t word;
    if (i + 8 <= n && (std::memcpy(&word, bytes.data() + i, 8), (word & kHighBits) == 0)) {
      i += 8;
      continue;
    }
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t cp;
    std::size_t len = decode_utf8(bytes, i, cp);
    if (len == 1) return false;  // a byte of 0x80 or above that starts no valid sequence
    i += len;
  }
  return true;
}

namespace {

void append_escape(std::string& out, unsigned char byte) {
  switch (byte) {
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: out += fmt::format("\\x{:02x}", byte);
  }
}

}  // namespace

std::string escape_controls(std::string_view text, bool keep_lines) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 && b < 0x7F) {
      out += char(b);
      ++i;
    } else if (b < 0x80) {
      if (keep_lines && (b == '\n' || b == '\t')) out += char(b);
      else append_escape(out, b);
      ++i;
    } else {
      char32_t cp;
      std::size_t len = decode_utf8(text, i, cp);
      if (len == 1) append_escape(out, b);  // not UTF-8
      else if (cp <= 0x9F) out += fmt::format("\\u{:04x}", unsigned(cp));
      else out.append(text.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::size_t incomplete_utf8_tail(std::string_view text) {
  for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    auto b = static_cast<unsigned char>(text[text.size() - back]);
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    std::size_t len = (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 1;
    return len > back ? back : 0;
  }
  return 0;
}

std::string quoted_excerpt(std::string_view value, std::size_t max_bytes) {
  std::size_t cut = std::min(value.size(), max_bytes);
  // Back to the start of the character the cut falls in.
  while (cut < value.size() && cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
  std::string out = "'";
  out.append(value.substr(0, cut));
  if (value.size() > max_bytes) out.append("…' (").append(std::to_string(value.size())).append(" bytes)");
  else out.append("'");
  return out;
}

std::size_t json_nesting_depth(std::string_view json) {
  std::size_t depth = 0, deepest = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < json.size(); ++i) {
    char c = json[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

std::string sql_literal(std::string_view text) {
  std::string out = "'";
  out += replace_all(text, "'", "''");
  out += '\'';
  return out;
}

std::string sql_identifier(std::string_view name) {
  std::string out = "\"";
  out += replace_all(name, "\"", "\"\"");
  out += '"';
  return out;
}

bool is_plain_sql_name(std::string_view name) {
  auto plain = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           c == '#';
  };
  return !name.empty() && std::all_of(name.begin(), name.end(), plain);
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out.append(separator);
    out.append(parts[i]);
  }
  return out;
}

std::vector<std::string_view> split_whitespace(std::string_view text) {
  std::vector<std::string_view> out;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && blank(text[i])) ++i;
    std::size_t start = i;
    while (i < text.size() && !blank(text[i])) ++i;
    if (i > start) out.push_back(text.substr(start, i - start));
  }
  return out;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string_view::npos; start = at + 1)
    out.push_back(text.substr(start, at - start));
  out.push_back(text.substr(start));
  return out;
}

std::string xml_escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace tremora
