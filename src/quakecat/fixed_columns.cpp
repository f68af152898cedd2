#include "fixed_columns.hpp"

namespace tremora::quakecat {
namespace {

bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The byte offset where character `n` starts, or the line's size when the
// line has no more than n characters.
std::size_t byte_offset_of_character(std::string_view line, std::size_t n) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (is_continuation_byte(line[i])) continue;
    if (seen++ == n) return i;
  }
  return line.size();
}

}  // namespace

std::vector<std::string_view> split_lines_any_end(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

std::string_view cut_characters(std::string_view utf8_line, std::size_t begin, std::size_t end) {
  std::size_t from = byte_offset_of_character(utf8_line, begin);
  std::size_t to = end == std::string_view::npos ? utf8_line.size() : byte_offset_of_character(utf8_line, end);
  return utf8_line.substr(from, to - from);
}

}  // namespace tremora::quakecat
