#include "tremora/export.hpp"
#include "tremora/parquet.hpp"

namespace tremora::exchange {
namespace {

VuzoFile vuzo_of(Table table, const std::string& source) {
  VuzoContext context = context_of(table, source);
  return {std::move(table), std::move(context)};
}

}  // namespace

VuzoFile read_vuzo(const std::filesystem::path& path) { return vuzo_of(parquet::read_table(path), path.string()); }

VuzoFile read_vuzo_from_bytes(std::string_view bytes, const std::string& source) {
  return vuzo_of(parquet::read_table_from_bytes(bytes, source), source);
}

}  // namespace tremora::exchange
