// The handles and descriptors the stand-in client hands out, and the
// registry that knows which pointers are live handles of which type.
//
// Every handle is registered under its address. A call looks its handles up
// by address and expected type, so a freed pointer or one of another type is
// OCI_INVALID_HANDLE instead of a crash. Freeing a handle frees the handles
// that belong to it: an environment frees everything allocated under it, a
// statement its binds and defines.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "oci_types.hpp"

namespace tremora::oci_standin {

struct Environment;

/// What every handle and descriptor is: its OCI type code and environment.
struct Handle {
  Handle(ub4 type, Environment* env) : type(type), env(env) {}
  virtual ~Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  /// The handles freed together with this one.
  virtual std::vector<Handle*> children() const { return {}; }

  const ub4 type;
  Environment* const env;
  std::vector<char> user_memory;  // the xtramem_sz bytes of the allocation call
};

/// One diagnostic record: "ORA-<code>: <text>".
struct ErrorRecord {
  sb4 code = 0;
  std::string text;
};

struct Environment : Handle {
  explicit Environment(ub2 charset) : Handle(OCI_HTYPE_ENV, this), charset(charset) {}
  std::mutex mutex;  // every call on a handle of this environment holds it
  ub2 charset;
  std::vector<ErrorRecord> records;
};

struct ErrorHandle : Handle {
  explicit ErrorHandle(Environment* env) : Handle(OCI_HTYPE_ERROR, env) {}
  std::vector<ErrorRecord> records;
};

/// A server handle: the "connection" to one SQLite file.
struct Server : Handle {
  explicit Server(Environment* env) : Handle(OCI_HTYPE_SERVER, env) {}
  ~Server() override { close(); }
  void close() {
    if (db) sqlite3_close_v2(db);
    db = nullptr;
  }
  sqlite3* db = nullptr;  // set while attached
  std::string address;    // the connect string as attached
  std::string file;       // the SQLite file behind it
  bool dead = false;      // the connection was lost (injected failure)
};

struct Session : Handle {
  explicit Session(Environment* env) : Handle(OCI_HTYPE_SESSION, env) {}
  std::string username, password;
  bool begun = false;
  ub4 default_lob_prefetch = 0;
};

/// A service context ties a server and a session; both are looked up again
/// at every use, so freeing them first leaves no dangling pointer here.
struct ServiceContext : Handle {
  explicit ServiceContext(Environment* env) : Handle(OCI_HTYPE_SVCCTX, env) {}
  void* server = nullptr;
  void* session = nullptr;
};

/// What a describe tells of one select-list column.
struct ColumnInfo {
  std::string name;
  ub2 data_type = SQLT_CHR;
  ub2 data_size = 0;
  sb2 precision = 0;
  sb1 scale = 0;
  ub1 charset_form = 0;  // SQLCS_IMPLICIT for character data, 0 otherwise
  ub2 char_size = 0;
  ub1 nullable = 1;
};

struct Statement;

/// The program's buffers a bind or define names: the value (an array of
/// value_size-byte elements of external type dty), the indicators and the
/// actual lengths.
struct ProgramBuffer {
  void* value = nullptr;
  sb8 value_size = 0;
  ub2 dty = 0;
  sb2* indicator = nullptr;
  ub4* length = nullptr;
};

struct Bind : Handle, ProgramBuffer {
  Bind(Environment* env, Statement* owner) : Handle(OCI_HTYPE_BIND, env), owner(owner) {}
  Statement* owner;
  std::string name;  // upper case, without the colon
};

struct Define : Handle, ProgramBuffer {
  Define(Environment* env, Statement* owner) : Handle(OCI_HTYPE_DEFINE, env), owner(owner) {}
  Statement* owner;
  ub4 position = 0;
  ub2* return_code = nullptr;
  ub4 lob_prefetch_size = 0;
  boolean lob_prefetch_length = 0;
  ub1 charset_form = SQLCS_IMPLICIT;  // SQLCS_NCHAR: national-character data asked for as such
};

struct Statement : Handle {
  explicit Statement(Environment* env) : Handle(OCI_HTYPE_STMT, env) {}
  ~Statement() override { sqlite3_finalize(cursor); }
  std::vector<Handle*> children() const override;
  /// Forgets a bind or define freed on its own.
  void forget(Handle* h);

  std::string sql;
  bool prepared_by_prepare2 = false;
  ub2 statement_type = OCI_STMT_UNKNOWN;
  void* service = nullptr;  // the service context it was prepared on
  std::vector<Bind*> binds;
  std::vector<Define*> defines;
  ub4 prefetch_rows = 1, prefetch_memory = 0;
  // Rows the client holds from the last round trip, not yet fetched; the
  // server has sent every row once a fetch reported their end.
  ub4 rows_held = 0;
  bool all_rows_sent = false;

  // The executed query.
  sqlite3_stmt* cursor = nullptr;
  bool executed = false;
  bool has_row = false;       // the cursor stands on a row not yet fetched
  bool end_reported = false;  // a fetch returned OCI_NO_DATA
  std::vector<ColumnInfo> columns;
  ub4 rows_fetched = 0, row_count = 0;
  long successful_fetches = 0;
};

/// A parameter descriptor from OCIParamGet: a copy of one column's describe.
struct Param : Handle {
  Param(Environment* env, ColumnInfo column) : Handle(OCI_DTYPE_PARAM, env), column(std::move(column)) {}
  ColumnInfo column;
};

/// A LOB locator: the fetched value itself, and the state of a read in pieces.
struct LobLocator : Handle {
  explicit LobLocator(Environment* env) : Handle(OCI_DTYPE_LOB, env) {}
  bool initialized = false;  // a fetch has filled it
  bool is_clob = false;
  ub1 charset_form = 0;
  std::string data;       // bytes of a BLOB, UTF-8 text of a CLOB
  std::string delivered;  // what the read under way gives: data in the reader's character set
  // Came with the row (LOB prefetch): asking for them costs no round trip.
  bool length_prefetched = false, value_prefetched = false;
  // Polling: the next byte to read and what is left of the amount asked for.
  bool polling = false;
  std::size_t next_byte = 0;
  oraub8 left = 0;  // bytes (BLOB, or CLOB read by bytes) or characters
  bool left_in_chars = false;
  bool unlimited = false;
};

/// A TIMESTAMP descriptor.
/// A TIMESTAMP, TIMESTAMP WITH TIME ZONE or WITH LOCAL TIME ZONE
/// descriptor (its type says which): the wall time, and its offset from UTC.
struct DateTime : Handle {
  explicit DateTime(Environment* env, ub4 type = OCI_DTYPE_TIMESTAMP) : Handle(type, env) {}
  sb2 year = 0;
  ub1 month = 0, day = 0, hour = 0, minute = 0, second = 0;
  ub4 nanosecond = 0;
  int offset_minutes = 0;
};

/// Registers a new handle; returns its address (what the caller gets).
void* adopt(std::unique_ptr<Handle> handle);

/// The live handle at `address` when it has type `type`, else null.
Handle* find(const void* address, ub4 type);

template <class T>
T* find_as(const void* address, ub4 type) {
  return static_cast<T*>(find(address, type));
}

/// The bind or define of `st` a bind or define call sets up: the one the
/// caller passes (`given`), else the statement's one that `matches`, else a
/// new one added to `list`.
template <class T, class Matches>
T& child_handle(Statement& st, std::vector<T*>& list, const void* given, ub4 type, Matches matches) {
  T* h = find_as<T>(given, type);
  if (h && h->owner != &st) h = nullptr;
  for (T* existing : list)
    if (!h && matches(*existing)) h = existing;
  if (!h) {
    h = static_cast<T*>(adopt(std::make_unique<T>(st.env, &st)));
    list.push_back(h);
  }
  return *h;
}

/// Unregisters and deletes a handle and the handles that belong to it.
void release(Handle* handle);

/// The live handles and descriptors, environments excepted.
long live_handles();

}  // namespace tremora::oci_standin
