#include <iostream>

#include "commands.hpp"
#include "tremora/csv.hpp"
#include "tremora/errors.hpp"
#include "tremora/parquet.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"

namespace tremora::cli {
namespace {

std::string extension_of(const std::filesystem::path& path) { return to_lower_ascii(path.extension().string()); }

// True when every text of the column is one number or missing.
bool holds_single_numbers(const Column& texts) {
  for (std::size_t i = 0; i < texts.size(); ++i)
    if (!texts.is_null(i) && !parse_decimal(texts.text(i))) return false;
  return true;
}

}  // namespace

bool is_vuzo_file(const std::filesystem::path& path) { return extension_of(path) == ".vuzo"; }

Table read_table_file(const std::filesystem::path& path) {
  std::string ext = extension_of(path);
  if (ext == ".csv") return read_csv(path);
  if (ext == ".parquet" || ext == ".vuzo") return parquet::read_table(path);
  throw std::invalid_argument("unsupported table file type '" + ext + "' of '" + path.string() +
                              "' (use .csv, .parquet or .vuzo)");
}

void read_start_times(Table& table) {
  if (table.has_column(qzdata::kStartDate) && table.column(qzdata::kStartDate).type() == DataType::String)
    table.set_column(parse_timestamps(table.column(qzdata::kStartDate)));
}

void read_observation_types(Table& table) {
  read_start_times(table);
  if (!table.has_column(qzdata::kObsValue)) return;
  const Column& values = table.column(qzdata::kObsValue);
  if (values.type() == DataType::String && holds_single_numbers(values)) table.set_column(to_number(values));
}

Table read_observation_file(const std::string& path) {
  Table table = read_table_file(path);
  if (!table.has_column(qzdata::kStartDate)) throw KeyError("'" + path + "' has no column 'STARTDATE'");
  read_start_times(table);
  return table;
}

void create_parent_folder(const std::filesystem::path& path) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
}

void write_table_file(const Table& table, const std::filesystem::path& path) {
  std::string ext = extension_of(path);
  if (ext == ".csv" || ext == ".parquet") create_parent_folder(path);
  if (ext == ".csv") return write_csv(table, path);
  if (ext == ".parquet") return parquet::write_table(table, path, {.write_key = true});
  throw std::invalid_argument("unsupported table file type '" + ext + "' of '" + path.string() +
                              "' (use .csv or .parquet)");
}

void write_and_report(const Table& table, const std::string& path, Progress* progress) {
  if (progress) progress->step("writing " + path);
  write_table_file(table, path);
  if (progress) progress->finish();
  std::cout << "wrote " << path << ": " << table.num_rows() << " rows\n";
}

std::string counted(std::size_t n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

}  // namespace tremora::cli
