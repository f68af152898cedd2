#include "tremora/csv.hpp"

#include <ostream>
#include <set>

#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "tremora/text.hpp"

namespace tremora {
namespace {

struct Field {
  std::string text;
  bool quoted = false;
};

// Splits CSV text into records of fields, tracking line numbers for errors.
class CsvScanner {
 public:
  CsvScanner(std::string_view text, const std::string& source) : s_(text), source_(source) {
    if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  }

  bool done() const { return pos_ >= s_.size(); }
  std::size_t line() const { return line_; }

  // Reads the next record; returns false at the end of the text.
  bool next(std::vector<Field>& fields) {
    fields.clear();
    if (done()) return false;
    record_line_ = line_;
    while (true) {
      Field f;
      if (pos_ < s_.size() && s_[pos_] == '"') read_quoted(f);
      else read_plain(f);
      fields.push_back(std::move(f));
      if (pos_ >= s_.size()) return true;
      char c = s_[pos_++];
      if (c == ',') continue;
      if (c == '\r' && pos_ < s_.size() && s_[pos_] == '\n') ++pos_;
      ++line_;
      return true;
    }
  }

  std::size_t record_line() const { return record_line_; }

  [[noreturn]] void fail(const std::string& what, std::size_t line) const {
    throw IOError(source_ + ":" + std::to_string(line) + ": " + what);
  }

 private:
  void read_plain(Field& f) {
    std::size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] != ',' && s_[pos_] != '\n' && s_[pos_] != '\r') {
      if (s_[pos_] == '"') fail("a quote inside an unquoted field", line_);
      ++pos_;
    }
    f.text.assign(s_.substr(start, pos_ - start));
  }

  void read_quoted(Field& f) {
    std::size_t opened = line_;
    f.quoted = true;
    ++pos_;
    while (true) {
      if (pos_ >= s_.size()) fail("a quoted field is not closed", opened);
      char c = s_[pos_++];
      if (c == '"') {
        if (pos_ < s_.size() && s_[pos_] == '"') {
          f.text += '"';
          ++pos_;
          continue;
        }
        break;
      }
      if (c == '\n') ++line_;
      f.text += c;
    }
    if (pos_ < s_.size() && s_[pos_] != ',' && s_[pos_] != '\n' && s_[pos_] != '\r')
      fail("text after the closing quote of a field", line_);
  }

  std::string_view s_;
  const std::string& source_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
  std::size_t record_line_ = 1;
};

std::string cell(const Column& c, std::size_t row) {
  if (c.is_null(row)) return {};
  switch (c.type()) {
    case DataType::Float32: return shortest_text(c.float32s()[row]);
    case DataType::Float64: return shortest_text(c.float64s()[row]);
    case DataType::Timestamp: return iso_format(Timestamp{c.int64s()[row]}, c.zone());
    case DataType::Binary: return hex_text(c.text(row));
    default: return c.at(row).to_text();
  }
}

bool needs_quotes(std::string_view s) {
  if (s.empty()) return false;
  return s.find_first_of(",\"\r\n") != std::string_view::npos || s.front() == ' ' || s.back() == ' ';
}

void write_field(std::ostream& out, const Column& c, std::size_t row) {
  bool text = c.type() == DataType::String;
  if (text && !c.is_null(row) && c.text(row).empty()) {
    out << "\"\"";
    return;
  }
  std::string s = cell(c, row);
  if (!needs_quotes(s)) {
    out << s;
    return;
  }
  out << '"' << replace_all(s, "\"", "\"\"") << '"';
}

void write_header_name(std::ostream& out, const std::string& name) {
  if (needs_quotes(name)) out << '"' << replace_all(name, "\"", "\"\"") << '"';
  else out << name;
}

}  // namespace

Table parse_csv(std::string_view text, const std::string& source) {
  CsvScanner scan(text, source);
  std::vector<Field> fields;
  if (!scan.next(fields)) throw IOError(source + ": no header line");
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (auto& f : fields) {
    if (f.text.empty()) scan.fail("an empty column name in the header", 1);
    if (!seen.insert(f.text).second) scan.fail("the column name " + quoted_excerpt(f.text) + " repeats", 1);
    names.push_back(f.text);
  }
  std::vector<StringColumnBuilder> builders(names.size());
  while (scan.next(fields)) {
    // A blank line separates nothing; in a one-column file it is a missing value.
    bool blank = fields.size() == 1 && fields[0].text.empty() && !fields[0].quoted;
    if (blank && names.size() > 1) continue;
    if (fields.size() != names.size())
      scan.fail("expected " + std::to_string(names.size()) + " fields, found " + std::to_string(fields.size()),
                scan.record_line());
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].text.empty() && !fields[i].quoted) builders[i].append_null();
      else builders[i].append(fields[i].text);
    }
  }
  Table table;
  for (std::size_t i = 0; i < names.size(); ++i) table.add_column(builders[i].finish(names[i]));
  return table;
}

Table read_csv(const std::filesystem::path& path) { return parse_csv(read_file(path), path.string()); }

void write_csv(const Table& table, std::ostream& out) {
  std::vector<const Column*> cols;
  if (table.has_key()) cols.push_back(&table.key());
  for (const auto& c : table.columns()) cols.push_back(&c);
  for (std::size_t k = 0; k < cols.size(); ++k) {
    if (k) out << ',';
    const std::string& name = cols[k]->name();
    write_header_name(out, name.empty() && k == 0 && table.has_key() ? "index" : name);
  }
  out << '\n';
  std::size_t n = table.num_rows();
  for (std::size_t row = 0; row < n; ++row) {
    for (std::size_t k = 0; k < cols.size(); ++k) {
      if (k) out << ',';
      write_field(out, *cols[k], row);
    }
    out << '\n';
  }
}

void write_csv(const Table& table, const std::filesystem::path& path) {
  write_file_atomically(path, [&](std::ostream& out) { write_csv(table, out); });
}

std::string csv_cell_text(const Column& column, std::size_t row) { return cell(column, row); }

}  // namespace tremora
