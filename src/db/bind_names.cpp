#include "bind_names.hpp"

#include <algorithm>
#include <cctype>

namespace tremora::db {
namespace {

bool name_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#'; }

// The position after the quoted text or comment that starts at i (i itself
// when none starts there).
std::size_t skip_quoted(const std::string& s, std::size_t i) {
  auto until = [&](const char* end, std::size_t from) {
    std::size_t at = s.find(end, from);
    return at == std::string::npos ? s.size() : at + std::char_traits<char>::length(end);
  };
  if (s[i] == '\'') return until("'", i + 1);
  if (s[i] == '"') return until("\"", i + 1);
  if (s.compare(i, 2, "--") == 0) return until("\n", i + 2);
  if (s.compare(i, 2, "/*") == 0) return until("*/", i + 2);
  return i;
}

}  // namespace

std::vector<std::string> bind_names(const std::string& sql) {
  std::vector<std::string> names;
  std::size_t i = 0;
  while (i < sql.size()) {
    if (std::size_t past = skip_quoted(sql, i); past != i) {
      i = past;
      continue;
    }
    if (sql[i] == ':' && i + 1 < sql.size() && name_char(sql[i + 1])) {
      std::size_t end = i + 1;
      while (end < sql.size() && name_char(sql[end])) ++end;
      std::string name = sql.substr(i + 1, end - i - 1);
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
      i = end;
      continue;
    }
    ++i;
  }
  return names;
}

}  // namespace tremora::db
