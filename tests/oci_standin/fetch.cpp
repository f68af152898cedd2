// Defines and fetches.
//
// TREMORA_OCI_STANDIN_FAIL_FETCH_AFTER=N makes the fetch call that follows
// N successful fetch calls of a statement fail with ORA-03113, after which
// the connection is lost: a test of how a driver copes with a server that
// goes away in the middle of a result.
#include "fetch.hpp"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>

#include "connection.hpp"
#include "define_values.hpp"
#include "oci_api.hpp"
#include "ora_errors.hpp"

namespace tremora::oci_standin {
namespace {

constexpr ub2 kNullFetched = 1405;
constexpr ub2 kTruncated = 1406;

// Records what became of one row's value in the define's arrays.
void report(const Define& d, ub4 row, sb2 indicator, ub4 length, ub2 code) {
  if (d.indicator) d.indicator[row] = indicator;
  if (d.length) d.length[row] = length;
  if (d.return_code) d.return_code[row] = code;
}

// Fills one row of every define; true when a value was truncated.
bool fetch_row(const Statement& st, ub4 row) {
  bool truncated = false;
  for (const Define* d : st.defines) {
    int i = int(d->position) - 1;
    if (sqlite3_column_type(st.cursor, i) == SQLITE_NULL) {
      if (!d->indicator) throw ora::column_null();
      report(*d, row, -1, 0, kNullFetched);
      continue;
    }
    Slot slot{static_cast<char*>(d->value) + std::ptrdiff_t(row) * d->value_size, d->value_size};
    Written w = write_value(
        st.cursor, i, st.columns[std::size_t(i)], d->dty, slot,
        {st.env->charset, d->charset_form == SQLCS_NCHAR, d->lob_prefetch_size, d->lob_prefetch_length != 0});
    // A truncated value's indicator is its full length, or -2 when that does not fit.
    sb2 indicator = !w.truncated ? 0 : w.full_length > 32767 ? -2 : sb2(w.full_length);
    report(*d, row, indicator, ub4(w.length), w.truncated ? kTruncated : 0);
    truncated |= w.truncated;
  }
  return truncated;
}

// Moves the cursor to the next row.
void advance(Statement& st) {
  int rc = sqlite3_step(st.cursor);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw ora::invalid_sql(sqlite3_errmsg(sqlite3_db_handle(st.cursor)));
  st.has_row = rc == SQLITE_ROW;
}

void check_defines(const Statement& st) {
  if (st.defines.empty()) throw ora::no_define();
  for (const Define* d : st.defines)
    if (d->position > st.columns.size()) throw ora::not_in_select_list();
}

// The injected loss of the connection.
void maybe_lose_connection(const Statement& st, Server& server) {
  const char* after = std::getenv("TREMORA_OCI_STANDIN_FAIL_FETCH_AFTER");
  if (!after || !*after || st.successful_fetches < std::atol(after)) return;
  server.dead = true;
  throw ora::end_of_file();
}

std::atomic<long> g_round_trips{0};

}  // namespace

void count_execute_trip(Statement& st, ub4 iters) {
  ++g_round_trips;
  st.rows_held = std::max(st.prefetch_rows, iters);
  st.all_rows_sent = false;
}

void count_lob_trip(bool prefetched) {
  if (!prefetched) ++g_round_trips;
}

void count_fetch_trip(Statement& st, ub4 nrows) {
  if (st.rows_held >= nrows || st.all_rows_sent) return;
  ++g_round_trips;
  st.rows_held += std::max(nrows - st.rows_held, st.prefetch_rows);
}

void after_fetch(Statement& st, ub4 nrows, sword status) {
  st.rows_held -= std::min(st.rows_held, nrows);
  if (status == OCI_NO_DATA) st.all_rows_sent = true;
}

sword fetch_rows(Statement& st, ErrorHandle& err, ub4 nrows) {
  if (!st.executed) throw ora::not_executed();
  if (st.end_reported) throw ora::fetch_out_of_sequence();
  st.rows_fetched = 0;
  if (nrows == 0) {  // cancels the cursor
    st.has_row = false;
    return OCI_SUCCESS;
  }
  check_defines(st);
  bool truncated = false;
  while (st.rows_fetched < nrows && st.has_row) {
    truncated |= fetch_row(st, st.rows_fetched);
    ++st.rows_fetched;
    ++st.row_count;
    advance(st);
  }
  if (st.rows_fetched < nrows) {
    st.end_reported = true;
    return OCI_NO_DATA;
  }
  if (!truncated) return OCI_SUCCESS;
  record(err, ora::truncated_or_null());
  return OCI_SUCCESS_WITH_INFO;
}

}  // namespace tremora::oci_standin

using namespace tremora::oci_standin;

long tremora_standin_round_trips(void) { return g_round_trips; }

sword OCIDefineByPos2(OCIStmt* stmtp, OCIDefine** defnp, OCIError* errhp, ub4 position, void* valuep, sb8 value_sz,
                      ub2 dty, void* indp, ub4* rlenp, ub2* rcodep, ub4 /*mode*/) {
  return run_call<Statement>(stmtp, OCI_HTYPE_STMT, errhp, [&](Statement& st, ErrorHandle&) {
    if (position < 1 || (st.executed && position > st.columns.size())) throw ora::not_in_select_list();
    if (!definable(dty) || value_sz < 0 || !valuep) throw ora::unreasonable_conversion();
    Define& d = child_handle(st, st.defines, defnp ? *defnp : nullptr, OCI_HTYPE_DEFINE,
                             [&](const Define& existing) { return existing.position == position; });
    if (defnp) *defnp = reinterpret_cast<OCIDefine*>(&d);
    static_cast<ProgramBuffer&>(d) = {valuep, value_sz, dty, static_cast<sb2*>(indp), rlenp};
    d.position = position;
    d.return_code = rcodep;
    return OCI_SUCCESS;
  });
}

sword OCIStmtFetch2(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, sb4 /*scrollOffset*/, ub4 /*mode*/) {
  return run_call<Statement>(stmtp, OCI_HTYPE_STMT, errhp, [&](Statement& st, ErrorHandle& err) {
    // The cursor is not scrollable: only "next" (also the default, 0).
    if (orientation != OCI_FETCH_NEXT && orientation != OCI_DEFAULT) throw ora::invalid_fetch();
    auto* svc = find_as<ServiceContext>(st.service, OCI_HTYPE_SVCCTX);
    if (!svc) throw ora::not_connected();
    maybe_lose_connection(st, logged_on_server(*svc));
    count_fetch_trip(st, nrows);
    sword rc = fetch_rows(st, err, nrows);
    after_fetch(st, nrows, rc);
    ++st.successful_fetches;
    return rc;
  });
}
