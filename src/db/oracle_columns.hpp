// How the oracle driver fetches a select-list column: its kind, from the
// described type, the buffers the rows are defined into, and the column of
// the table they fill.
#pragma once

#include <memory>
#include <string>

#include "oci_api.hpp"
#include "tremora/table.hpp"

namespace tremora::db::oracle {

// Rows fetched in one round trip (and prefetched with the execute).
constexpr oci::ub4 kFetchRows = 500;
// A day row of the densest rate, seconds, is 86,400 values: as text about
// 600 K characters (up to 11 a value with its blank fit in 1 MiB), gzip
// compressed far less. The prefetch asks for what a value holds, so rows of
// shorter values cost no more.
constexpr oci::ub4 kLobPrefetchBytes = 1024 * 1024;
// The most bytes a character of the database's or the national character
// set takes once converted to the client's UTF-8.
constexpr oci::ub4 kUtf8BytesPerChar = 4;

// How a select-list column is fetched and what it becomes.
// Exact: a NUMBER that may hold integers beyond int64 or fractions (no
// precision declared, or more than 18 digits), read in Oracle's own form.
// Zoned: TIMESTAMP WITH (LOCAL) TIME ZONE, made UTC instants. Interval:
// INTERVAL DAY TO SECOND, made a duration.
enum class Kind { Integer, Exact, Real, Text, Raw, Date, Timestamp, Zoned, Interval, Clob, Blob };

// A select-list column as the statement describes it.
struct Described {
  std::string name;
  oci::ub2 type = 0;
  oci::ub2 size = 0;
  oci::sb2 precision = 0;
  oci::sb1 scale = 0;
  oci::ub1 form = oci::kCsImplicit;
  oci::ub2 char_size = 0;
};

/// Oracle's 7-byte DATE of a timestamp (whole seconds), and the timestamp
/// of one (DatabaseError naming `column` outside the timestamps' range).
void to_oracle_date(Timestamp t, unsigned char out[7]);
int64_t from_oracle_date(const unsigned char* d, const std::string& column);

/// The fetch buffers of one column, defined at `position` of a statement,
/// and the column they fill.
class ColumnFetch {
 public:
  ColumnFetch(const Described& d, oci::OCIStmt* stmt, oci::OCIError* err, oci::ub4 position);
  ColumnFetch(ColumnFetch&&) noexcept;
  ColumnFetch& operator=(ColumnFetch&&) noexcept;
  ~ColumnFetch();
  /// Appends the first `rows` rows of the arrays to the column.
  void take(oci::ub4 rows, oci::OCISvcCtx* svc, oci::OCIError* err);
  Column finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tremora::db::oracle
