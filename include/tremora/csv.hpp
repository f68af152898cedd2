// CSV files (RFC 4180): comma-separated fields, fields in double quotes may
// hold commas, line breaks and doubled quotes; lines end in CRLF or LF.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>

#include "tremora/table.hpp"

namespace tremora {

/// Reads CSV text whose first record is the header. The text and the
/// table it makes are held in memory together, so memory is a small
/// multiple of the text's size whatever its shape (a 200 MB field in a
/// file: about 830 MB at the peak); values quoted in errors are cut short
/// (see quoted_excerpt). Every column is a
/// plain-encoded string column; an unquoted empty field is missing, a
/// quoted empty field ("") is the empty text. A leading UTF-8 byte-order
/// mark is skipped. IOError naming `source` and the line for a record with
/// the wrong number of fields, an unterminated quote, text after a closing
/// quote, an empty or repeated header name, or no header.
Table parse_csv(std::string_view text, const std::string& source = "<text>");

/// parse_csv of a file's content (FileNotFoundError / IOError naming it).
Table read_csv(const std::filesystem::path& path);

/// Writes a table as CSV with a header: the row key first (when the table
/// has one; "index" when it has no name), then the columns. Cells:
/// float32 and float64 as the shortest text that reads back as the same
/// value, timestamps in ISO 8601 ("2024-01-01T00:00:00", with the offset for
/// zoned columns), durations like "0 days 00:01:00", truth values as
/// True/False, binary values in hexadecimal; missing values as empty fields
/// and empty texts as "". Fields are quoted when they hold a comma, a quote,
/// a line break or surrounding blanks.
void write_csv(const Table& table, std::ostream& out);

/// write_csv to a file, written atomically (see write_file_atomically).
void write_csv(const Table& table, const std::filesystem::path& path);

/// The text of one cell as write_csv writes it, before quoting ("" for a
/// missing value).
std::string csv_cell_text(const Column& column, std::size_t row);

}  // namespace tremora
