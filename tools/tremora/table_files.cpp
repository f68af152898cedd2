#include "tremora/csv.hpp"
#include "tremora/parquet.hpp"
#include "tremora/text.hpp"
#include "commands.hpp"

namespace tremora::cli {
namespace {

std::string extension_of(const std::filesystem::path& path) { return to_lower_ascii(path.extension().string()); }

}  // namespace

Table read_table_file(const std::filesystem::path& path) {
  std::string ext = extension_of(path);
  if (ext == ".csv") return read_csv(path);
  if (ext == ".parquet") return parquet::read_table(path);
  throw std::invalid_argument("unsupported table file type '" + ext + "' of '" + path.string() +
                              "' (use .csv or .parquet)");
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

}  // namespace tremora::cli
