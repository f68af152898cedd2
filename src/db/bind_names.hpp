// The named placeholders (":name") of a SQL text.
#pragma once

#include <string>
#include <vector>

namespace tremora::db {

/// The names of the placeholders of `sql` in their order, each once,
/// without the colon; text in quotes ('...', "...") and comments (-- and
/// /* */) is skipped.
std::vector<std::string> bind_names(const std::string& sql);

}  // namespace tremora::db
