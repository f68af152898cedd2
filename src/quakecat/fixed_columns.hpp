// Cutting catalogue text into lines and lines into fields by character
// position.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace tremora::quakecat {

/// The lines of a text, without their line ends; a line ends at LF, CRLF or
/// a lone CR. A final line end does not start another line.
std::vector<std::string_view> split_lines_any_end(std::string_view text);

/// The characters `begin` to `end` (exclusive) of a UTF-8 line, counted in
/// code points; what lies past the end of the line is left out, so a line
/// shorter than `begin` gives "".
std::string_view cut_characters(std::string_view utf8_line, std::size_t begin,
                                std::size_t end = std::string_view::npos);

}  // namespace tremora::quakecat
