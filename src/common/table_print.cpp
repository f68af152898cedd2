// Readable rendering of a table for terminals: aligned columns (wide East
// Asian characters count two), element types under the header, the first
// and last rows of long tables.
#include <algorithm>
#include <ostream>

#include <fmt/format.h>

#include "tremora/table.hpp"
#include "tremora/text.hpp"

namespace tremora {
namespace {

constexpr std::size_t kMaxCellWidth = 32;

std::string cell_text(const Column& c, std::size_t row) {
  switch (c.type()) {
    case DataType::Float32: return c.is_null(row) ? "NaN" : shortest_text(c.float32s()[row]);
    case DataType::Float64: return c.is_null(row) ? "NaN" : shortest_text(c.float64s()[row]);
    case DataType::Timestamp: {
      Timestamp t{c.int64s()[row]};
      if (t.is_nat()) return "NaT";
      if (c.zone().empty()) return Value(t).to_text();
      int32_t offset = utc_offset_seconds(t, c.zone());
      int32_t a = offset < 0 ? -offset : offset;
      return fmt::format("{}{}{:02d}:{:02d}", Value(utc_to_local(t, c.zone())).to_text(), offset < 0 ? '-' : '+',
                         a / 3600, a / 60 % 60);
    }
    case DataType::Duration: return c.is_null(row) ? "NaT" : format_duration(Duration{c.int64s()[row]});
    case DataType::Binary: return c.is_null(row) ? "<NA>" : fmt::format("<{} bytes>", c.text(row).size());
    default: return c.is_null(row) ? "<NA>" : c.at(row).to_text();
  }
}

// Cuts a text, with its control characters escaped (so that a cell stays
// on its line and the terminal shows what the data holds), to at most
// kMaxCellWidth display columns.
std::string shorten(const std::string& text) {
  std::string s = escape_controls(text);
  if (display_width(s) <= kMaxCellWidth) return s;
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t len = 1;
    while (i + len < s.size() && (static_cast<unsigned char>(s[i + len]) & 0xC0) == 0x80) ++len;
    if (display_width(out) + display_width(s.substr(i, len)) > kMaxCellWidth - 3) break;
    out += s.substr(i, len);
    i += len;
  }
  return out + "...";
}

const std::string kGap = "...";

struct PrintedColumn {
  std::vector<std::string> cells;  // header, type, then rows
  bool right = false;
  std::size_t width = 0;
};

// A column's cells and width; `gap` when the "..." of left-out rows is
// printed in it too.
PrintedColumn print_column(const std::string& header, const std::string& type, bool right,
                           const std::vector<std::string>& rows, bool gap) {
  PrintedColumn p;
  p.right = right;
  p.cells.push_back(shorten(header));
  p.cells.push_back(type);
  for (const auto& r : rows) p.cells.push_back(shorten(r));
  for (const auto& s : p.cells) p.width = std::max(p.width, display_width(s));
  if (gap) p.width = std::max(p.width, kGap.size());
  return p;
}

std::string pad(const std::string& s, std::size_t width, bool right) {
  std::string fill(width - std::min(width, display_width(s)), ' ');
  return right ? fill + s : s + fill;
}

}  // namespace

void print_table(std::ostream& out, const Table& table, const PrintOptions& options) {
  std::size_t n = table.num_rows();
  std::vector<std::size_t> shown;
  bool gap = false;
  if (options.head) {
    for (std::size_t i = 0; i < std::min(n, *options.head); ++i) shown.push_back(i);
    gap = *options.head < n;
  } else if (n > 2 * options.edge_rows) {
    for (std::size_t i = 0; i < options.edge_rows; ++i) shown.push_back(i);
    for (std::size_t i = n - options.edge_rows; i < n; ++i) shown.push_back(i);
    gap = true;
  } else {
    for (std::size_t i = 0; i < n; ++i) shown.push_back(i);
  }
  std::size_t gap_at = options.head ? shown.size() : std::min(shown.size(), options.edge_rows);

  auto render = [&](const Column& c) {
    std::vector<std::string> rows;
    for (std::size_t r : shown) rows.push_back(cell_text(c, r));
    bool right = is_numeric(c.type()) || c.type() == DataType::Bool;
    std::string type(type_name(c.type()));
    if (c.type() == DataType::Timestamp && !c.zone().empty()) type += "[" + c.zone() + "]";
    return print_column(c.name(), type, right, rows, gap);
  };

  std::vector<PrintedColumn> cols;
  if (table.has_key()) {
    cols.push_back(render(table.key()));
  } else {
    std::vector<std::string> rows;
    for (std::size_t r : shown) rows.push_back(std::to_string(r));
    cols.push_back(print_column("", "", true, rows, gap));
  }
  for (const auto& c : table.columns()) cols.push_back(render(c));

  auto print_line = [&](auto cell_of) {
    std::string text;
    for (std::size_t k = 0; k < cols.size(); ++k) {
      text += k == 1 ? " | " : k ? " " : "";
      text += pad(cell_of(cols[k]), cols[k].width, cols[k].right);
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out << text << '\n';
  };
  auto ellipsis = [](const PrintedColumn&) { return kGap; };
  std::size_t lines = 2 + shown.size();
  for (std::size_t line = 0; line < lines; ++line) {
    if (gap && line == 2 + gap_at) print_line(ellipsis);
    print_line([line](const PrintedColumn& p) { return p.cells[line]; });
  }
  if (gap && gap_at == shown.size()) print_line(ellipsis);
  out << "[" << n << " rows x " << table.num_columns() << " columns]\n";
}

std::ostream& operator<<(std::ostream& out, const Table& table) {
  print_table(out, table);
  return out;
}

}  // namespace tremora
