// SQLite files made by SQL statements, for databases the sample lacks.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace tremora::testing {

/// A SQLite file `name` in `dir` after running `statements` (each failure
/// is a test failure naming the statement).
inline std::filesystem::path make_sqlite_file(const TempDir& dir, const std::vector<std::string>& statements,
                                              const std::string& name = "mini.db") {
  auto path = dir / name;
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  for (const auto& s : statements) {
    char* err = nullptr;
    if (sqlite3_exec(db, s.c_str(), nullptr, nullptr, &err) != SQLITE_OK) ADD_FAILURE() << s << ": " << err;
    sqlite3_free(err);
  }
  sqlite3_close(db);
  return path;
}

}  // namespace tremora::testing
