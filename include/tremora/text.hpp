// Text helpers shared by the readers, the table and the command-line program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tremora {

/// Removes white space at both ends: ASCII blanks, tabs, line breaks,
/// vertical tab, form feed, the ASCII separators 0x1C-0x1F, and the Unicode
/// white-space characters (no-break space, ideographic space, ...).
std::string_view strip_whitespace(std::string_view text);

/// Reads a decimal number. The grammar is
///     [blanks] [+|-] digits [. [digits]] [(e|E) [+|-] digits] [blanks]
///   | [blanks] [+|-] . digits [(e|E) [+|-] digits] [blanks]
///   | [blanks] [+|-] (nan | inf | infinity) [blanks]   (any letter case)
/// where blanks are the white space of strip_whitespace. A value too large
/// for a double reads as infinity, a value too small as zero. Anything else
/// (empty text, stray characters, hexadecimal, "NULL") gives nothing.
std::optional<double> parse_decimal(std::string_view text);

/// The shortest text that reads back as the same number: "0.1", "1e+20",
/// "nan", "inf", "-inf". The float overload gives the shortest text for the
/// 32-bit value (0.1f prints as "0.1", not "0.10000000149011612").
std::string shortest_text(double value);
std::string shortest_text(float value);

/// The text Python's repr gives a float: the shortest digits that read
/// back, in fixed notation with at least one decimal ("37001.0", "0.0001")
/// for decimal exponents from -4 to 15, else in scientific notation with a
/// two-digit exponent ("1e+16", "1e-05"); "nan", "inf", "-inf".
std::string python_float_text(double value);

/// Bytes as hexadecimal text, two digits a byte: "00ff10", or "00FF10"
/// with upper_case.
std::string hex_text(std::string_view bytes, bool upper_case = false);

/// ASCII case changes; other bytes (including UTF-8) are kept.
std::string to_upper_ascii(std::string_view text);
std::string to_lower_ascii(std::string_view text);

/// The lower case of a UTF-8 text as Python's str.lower() gives it
/// (Unicode 14): "ÜSER" gives "üser", "ΔΡΌΜΟΣ" "δρόμος", "İ" an "i" and a
/// combining dot. A capital sigma becomes the final "ς" after a cased letter
/// and not before one, apostrophes, full stops and combining marks between
/// skipped; for that choice only the neighbouring characters below U+0530
/// (Latin, Greek, Cyrillic) are judged, others count as neither letters nor
/// skipped. Invalid UTF-8 bytes are kept.
std::string to_lower_unicode(std::string_view utf8);

/// The number of characters (code points) of a UTF-8 text; invalid UTF-8
/// bytes count one each.
std::size_t code_point_count(std::string_view utf8);

/// True when `text` contains `part`.
inline bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

/// Replaces every occurrence of `from` (not empty) by `to`.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

/// The number of terminal columns a UTF-8 text takes: East Asian wide and
/// full-width characters count two, combining marks zero, others one.
/// Invalid UTF-8 bytes count one each.
std::size_t display_width(std::string_view utf8);

/// True when the bytes are valid UTF-8.
bool is_valid_utf8(std::string_view bytes);

/// A text made safe to show on a terminal: C0 control characters and DEL
/// as "\x1b" (line feed, carriage return and tab as "\n", "\r", "\t"), C1
/// control characters (U+0080 to U+009F) as "\u009b", and bytes that are
/// not UTF-8 as "\xd6"; the rest as it is. With `keep_lines`, line feeds
/// and tabs stay as they are, for texts of several lines.
std::string escape_controls(std::string_view text, bool keep_lines = false);

/// The text with &, <, > and " written as XML (and HTML) entities.
std::string xml_escaped(std::string_view text);

/// How many bytes at the end of `text` are the start of a UTF-8 sequence
/// that more bytes could complete (0 to 3), for writers that escape a
/// stream in pieces.
std::size_t incomplete_utf8_tail(std::string_view text);

/// A value from the data, in single quotes, for an error message: whole when
/// it has at most `max_bytes` bytes, else its first `max_bytes` bytes (cut
/// before a UTF-8 character that would not fit whole), "…" and its size, as
/// in 'xxxx…' (200000000 bytes). A field of a gigabyte thus never becomes a
/// message of a gigabyte.
std::string quoted_excerpt(std::string_view value, std::size_t max_bytes = 60);

/// The deepest nesting of arrays and objects in a JSON text, brackets in
/// strings not counted. Readers refuse documents nested deeper than
/// kMaxJsonNesting before parsing: walking them (printing, copying) recurses
/// once per level and would exhaust the stack.
std::size_t json_nesting_depth(std::string_view json);
inline constexpr std::size_t kMaxJsonNesting = 512;

/// A SQL string literal: the text in single quotes, quotes inside doubled.
std::string sql_literal(std::string_view text);

/// A quoted SQL identifier: the name in double quotes, quotes inside
/// doubled, so the database takes it as one name, spelled exactly.
std::string sql_identifier(std::string_view name);

/// True when `name` is not empty and holds only ASCII letters, digits, "_",
/// "$" and "#": the characters of an Oracle name that needs no quotes.
bool is_plain_sql_name(std::string_view name);

/// The pieces of a text between runs of ASCII blanks, tabs and line
/// breaks; no empty pieces.
std::vector<std::string_view> split_whitespace(std::string_view text);

/// The pieces of a text between occurrences of `separator`, empty pieces
/// included ("a,,b" gives "a", "", "b"; "" gives one empty piece).
std::vector<std::string_view> split(std::string_view text, char separator);

/// Reads a whole decimal integer ([+|-] digits, surrounding blanks allowed);
/// nothing for anything else or a value outside int64.
std::optional<int64_t> parse_integer(std::string_view text);

/// The list joined with a separator.
std::string join(const std::vector<std::string>& parts, std::string_view separator);

}  // namespace tremora
