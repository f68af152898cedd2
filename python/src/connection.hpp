// A database connection as Python holds it: tremora.Connection, which
// closes with close() or at the end of a with block.
#pragma once

#include <memory>

#include "tremora/db.hpp"

namespace tremora::python {

struct ConnectionHandle {
  std::shared_ptr<db::Connection> conn;
  /// The connection, or null for None / a closed handle's absence.
  db::Connection* get() const { return conn.get(); }
};

/// The connection of an optional handle (None gives null).
inline db::Connection* connection_of(const ConnectionHandle* handle) { return handle ? handle->get() : nullptr; }

}  // namespace tremora::python
