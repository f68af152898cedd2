// A connection for tests: forwards to another connection (or answers with
// a fixed table), records every statement, and can be told to fail.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tremora/db.hpp"
#include "tremora/errors.hpp"

namespace tremora::testing {

class RecordingConnection : public db::Connection {
 public:
  explicit RecordingConnection(std::shared_ptr<db::Connection> inner = nullptr) : inner_(std::move(inner)) {}

  Table query(const std::string& sql, const db::Binds& binds = {}) override {
    statements.push_back(sql);
    last_binds = binds;
    if (fail) throw DatabaseError("the network is down");
    if (answer) return answer(sql);
    if (!inner_) throw DatabaseError("no database behind this connection");
    return inner_->query(sql, binds);
  }
  void close() override { open_ = false; }
  bool is_open() const override { return open_; }

  std::vector<std::string> statements;
  db::Binds last_binds;
  bool fail = false;
  /// When set, answers every statement instead of the inner connection.
  std::function<Table(const std::string&)> answer;

 private:
  std::shared_ptr<db::Connection> inner_;
  bool open_ = true;
};

}  // namespace tremora::testing
