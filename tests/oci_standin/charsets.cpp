#include "charsets.hpp"

#include <cstdlib>
#include <string_view>

namespace tremora::oci_standin {
namespace {

constexpr ub2 kUs7Ascii = 1, kWe8Iso8859p1 = 31, kZhs16Gbk = 852;

// Characters beyond the first `highest` code points become '?'.
std::string keep_up_to(const std::string& text, char32_t highest) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    auto lead = static_cast<unsigned char>(text[at]);
    std::size_t n = utf8_char_bytes(lead);
    char32_t cp = n == 1 ? lead : n == 2 ? char32_t(((lead & 0x1F) << 6) | (text[at + 1] & 0x3F)) : 0x10000;
    if (cp <= highest) out.append(text, at, n);
    else out += '?';
    at += n;
  }
  return out;
}

}  // namespace

std::size_t utf8_char_bytes(unsigned char lead) { return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1; }

ub2 nls_lang_charset() {
  const char* value = std::getenv("NLS_LANG");
  std::string_view text = value ? value : "";
  std::size_t dot = text.find('.');
  if (dot == std::string_view::npos) return kUs7Ascii;
  std::string_view name = text.substr(dot + 1);
  if (name == "AL32UTF8") return kAl32Utf8Charset;
  if (name == "UTF8") return kUtf8Charset;
  if (name == "ZHS16GBK") return kZhs16Gbk;
  if (name == "WE8ISO8859P1") return kWe8Iso8859p1;
  return kUs7Ascii;
}

std::string delivered_text(std::string text, ub2 charset, bool nchar_column, bool asked_as_nchar) {
  if (nchar_column && !asked_as_nchar) text = keep_up_to(text, 0xFF);  // through WE8ISO8859P1
  if (charset == 0) charset = nls_lang_charset();
  if (charset == kUtf8Charset || charset == kAl32Utf8Charset) return text;
  // GBK holds Chinese but the stand-in does not convert into it: a client
  // in any other set than UTF-8 gets ASCII only (Latin-1 for WE8ISO8859P1).
  return keep_up_to(text, charset == kWe8Iso8859p1 ? 0xFF : 0x7F);
}

}  // namespace tremora::oci_standin
