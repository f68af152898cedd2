// Database connections: the Connection interface that the data-access code
// runs its SELECT statements on, and the drivers behind it.
//
// Drivers: "oracle" (the precursor network's database, through the Oracle
// client library loaded at run time) and "sqlite" (a SQLite file holding
// the QZDATA schema, for tests, demos and offline work). The sqlite driver
// runs the Oracle-flavoured SQL of the system unchanged: the file is
// attached read-only as schema QZDATA, ALL_TABLES(TABLE_NAME) lists its
// tables, TO_DATE(text, 'yyyymmdd') gives a Julian day number (the form in
// which DATE columns are stored), and LIKE is case-sensitive.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "tremora/table.hpp"

namespace tremora::db {

/// Named bind values of a statement (":name" in the SQL text).
using Binds = std::map<std::string, Value>;

/// An open database connection. Not safe for use from two threads at once.
class Connection {
 public:
  virtual ~Connection() = default;

  /// Runs one SELECT statement and returns its whole result. Columns carry
  /// the names the database reports. Element types follow the declared
  /// column types: DATE → naive timestamp, BLOB/RAW → binary, integers →
  /// int64, other numbers → float64, texts → string. DatabaseError on any
  /// failure (the message names what failed, never the password).
  virtual Table query(const std::string& sql, const Binds& binds = {}) = 0;

  /// Closes the connection; further queries fail. Closing twice is harmless.
  virtual void close() = 0;
  virtual bool is_open() const = 0;

  /// Free-form labels that travel with the connection
  /// (tremora_cache_namespace, tremora_db_alias, and tremora_database_file
  /// for a database file; for Oracle tremora_server_version and
  /// tremora_connect_form, "service name" or "SID": how TNSNAME connected).
  std::map<std::string, std::string>& info() { return info_; }
  const std::map<std::string, std::string>& info() const { return info_; }

 private:
  std::map<std::string, std::string> info_;
};

/// What a driver needs to open a connection, from a configuration section.
struct ConnectionSettings {
  std::string host{};
  std::string port{};
  std::string username{};
  std::string password{};
  std::string tnsname{};
  /// The database file (sqlite driver).
  std::filesystem::path database{};
};

/// Opens a connection; throws DatabaseError (or ImportError) on failure.
using Driver = std::function<std::shared_ptr<Connection>(const ConnectionSettings&)>;

/// Registers a driver under a name (replacing one of the same name).
void register_driver(const std::string& name, Driver driver);

/// Opens a connection with the named driver. DatabaseError naming the
/// driver when none of that name is registered ("oracle" and "sqlite" are).
std::shared_ptr<Connection> connect(const std::string& driver, const ConnectionSettings& settings);

/// Opens a SQLite file read-only as schema QZDATA. DatabaseError naming the
/// file when it does not exist or is not a SQLite database; nothing is ever
/// created on disk. Its queries run exactly one read-only SELECT (WITH and
/// VALUES forms included; blanks, comments and semicolons may follow it):
/// any other statement (ATTACH, PRAGMA, EXPLAIN, transactions, temporary
/// objects, writes), none, or a second one is a DatabaseError, and nothing
/// is run.
std::shared_ptr<Connection> open_sqlite(const std::filesystem::path& file);

/// Logs on to an Oracle server, //HOST:PORT/TNSNAME with USERNAME and
/// PASSWORD, through the client library (init_client must have succeeded).
/// A DatabaseError carrying the ORA code and text (never the password) when
/// the server cannot be reached or refuses the log-on. Its queries run one
/// SELECT (any other statement is refused before it runs); column types:
/// NUMBER of scale 0 → int64, other numbers → float64, VARCHAR2, CHAR,
/// NVARCHAR2 and CLOB → string, DATE and TIMESTAMP → naive timestamp, RAW
/// and BLOB → binary. A failure while rows are fetched, a lost connection
/// too, is a DatabaseError, never a short result.
std::shared_ptr<Connection> open_oracle(const ConnectionSettings& settings);

/// The Oracle client library ("thick mode"): loaded once per process.
namespace oracle {

/// Loads the client library (libclntsh.so) from `lib_dir`, or from the
/// system library path when `lib_dir` is empty, and creates the client
/// environment (UTF-8). A non-empty `config_dir` becomes TNS_ADMIN, the
/// folder of the network configuration files. ImportError naming the library
/// and the folders searched when it cannot be loaded; DatabaseError when the
/// environment cannot be created. Once it has succeeded, later calls do
/// nothing. Safe to call from several threads.
void init_client(const std::string& lib_dir, const std::string& config_dir);

/// True once init_client has succeeded in this process.
bool client_ready();

/// The loaded client library: its file and its version ("19.3.0.0.0").
struct ClientInfo {
  std::string library;
  std::string version;
};
/// The client library init_client loaded (empty fields before).
ClientInfo client_info();

}  // namespace oracle

}  // namespace tremora::db
