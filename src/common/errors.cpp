#include "tremora/errors.hpp"

namespace tremora {
namespace {

void append_nested(const std::exception& e, std::string& out) {
  out += e.what();
  try {
    std::rethrow_if_nested(e);
  } catch (const std::exception& inner) {
    out += ": ";
    append_nested(inner, out);
  } catch (...) {
    out += ": unknown error";
  }
}

}  // namespace

std::string describe_exception(const std::exception& e) {
  std::string out;
  append_nested(e, out);
  return out;
}

}  // namespace tremora
