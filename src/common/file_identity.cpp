// Whether two paths name the same file.
#include "tremora/files.hpp"

namespace tremora {
namespace fs = std::filesystem;
namespace {

// The absolute path with the links of its existing part resolved and "."
// and ".." removed.
fs::path resolved(const fs::path& p) {
  fs::path absolute = fs::absolute(p);
  std::error_code ec;
  fs::path r = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : r;
}

}  // namespace

bool same_file(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) {
    bool same = fs::equivalent(a, b, ec);
    if (!ec) return same;
  }
  return resolved(a) == resolved(b);
}

}  // namespace tremora
