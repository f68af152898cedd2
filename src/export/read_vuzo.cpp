#include "tremora/export.hpp"
#include "tremora/parquet.hpp"

namespace tremora::exchange {

VuzoFile read_vuzo(const std::filesystem::path& path) {
  Table table = parquet::read_table(path);
  VuzoContext context = context_of(table, path.string());
  return {std::move(table), std::move(context)};
}

}  // namespace tremora::exchange
