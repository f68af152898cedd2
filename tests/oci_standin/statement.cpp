// Preparing, binding and executing statements. Preparing is local, as in
// the real client; the SQL meets the database at execute, where SQLite's
// errors become the ORA errors Oracle gives for the same mistakes.
#include <cctype>
#include <cstring>
#include <memory>

#include "connection.hpp"
#include "describe.hpp"
#include "fetch.hpp"
#include "oci_api.hpp"
#include "ora_errors.hpp"
#include "sqlite_qzdata.hpp"
#include "tremora/errors.hpp"
#include "tremora/text.hpp"
#include "tremora/time.hpp"

namespace tremora::oci_standin {
namespace {

// The text after the comments, blanks and parentheses a statement may open with.
std::string_view skip_preamble(std::string_view sql) {
  while (!sql.empty()) {
    if (sql.starts_with("--")) {
      std::size_t end = sql.find('\n');
      sql.remove_prefix(end == std::string_view::npos ? sql.size() : end);
    } else if (sql.starts_with("/*")) {
      std::size_t end = sql.find("*/", 2);
      sql.remove_prefix(end == std::string_view::npos ? sql.size() : end + 2);
    } else if (std::isspace(static_cast<unsigned char>(sql.front())) || sql.front() == '(') {
      sql.remove_prefix(1);
    } else {
      break;
    }
  }
  return sql;
}

// OCI_ATTR_STMT_TYPE from the first keyword.
ub2 statement_type(std::string_view sql) {
  sql = skip_preamble(sql);
  std::size_t n = 0;
  while (n < sql.size() && std::isalpha(static_cast<unsigned char>(sql[n]))) ++n;
  std::string word = to_upper_ascii(sql.substr(0, n));
  static const std::pair<const char*, ub2> kTypes[] = {
      {"SELECT", OCI_STMT_SELECT},   {"WITH", OCI_STMT_SELECT},   {"UPDATE", OCI_STMT_UPDATE},
      {"DELETE", OCI_STMT_DELETE},   {"INSERT", OCI_STMT_INSERT}, {"CREATE", OCI_STMT_CREATE},
      {"DROP", OCI_STMT_DROP},       {"ALTER", OCI_STMT_ALTER},   {"BEGIN", OCI_STMT_BEGIN},
      {"DECLARE", OCI_STMT_DECLARE}, {"CALL", OCI_STMT_CALL},     {"MERGE", OCI_STMT_MERGE}};
  for (const auto& [keyword, type] : kTypes)
    if (word == keyword) return type;
  return OCI_STMT_UNKNOWN;
}

// The ORA error Oracle gives for what SQLite reports.
OraFailure sql_failure(const std::string& sqlite_message) {
  constexpr std::string_view kNoColumn = "no such column: ";
  if (sqlite_message.starts_with("no such table")) return ora::no_table();
  if (sqlite_message.starts_with(kNoColumn)) return ora::invalid_identifier(sqlite_message.substr(kNoColumn.size()));
  return ora::invalid_sql(sqlite_message);
}

sqlite3_stmt* open_cursor(Server& server, const std::string& sql) {
  try {
    return db::sqlite_qzdata::prepare_select(server.db, sql, server.file);
  } catch (const DatabaseError& e) {
    std::string what = e.what();
    if (contains(what, "read-only SELECT")) throw ora::insufficient_privileges(what);
    if (contains(what, "holds no statement")) throw ora::invalid_sql(what);
    throw sql_failure(sqlite3_errmsg(server.db));
  }
}

// The placeholder name as Oracle compares it: without the colon, upper case.
std::string placeholder_name(std::string_view text) {
  if (text.starts_with(':')) text.remove_prefix(1);
  return to_upper_ascii(text);
}

template <class T>
T read_value(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

int64_t read_integer(const void* p, sb8 size) {
  switch (size) {
    case 1: return read_value<int8_t>(p);
    case 2: return read_value<int16_t>(p);
    case 4: return read_value<int32_t>(p);
    case 8: return read_value<int64_t>(p);
    default: throw ora::unreasonable_conversion();
  }
}

double read_float(const void* p, sb8 size) {
  if (size == 4) return read_value<float>(p);
  if (size == 8) return read_value<double>(p);
  throw ora::unreasonable_conversion();
}

// A 7-byte DATE (century and year of the century each plus 100, month,
// day, and hour, minute and second each plus 1) as the Julian day that the
// QZDATA files store.
double julian_day_of_oracle_date(const unsigned char* d) {
  CivilTime c{.year = (d[0] - 100) * 100 + (d[1] - 100),
              .month = d[2],
              .day = d[3],
              .hour = d[4] - 1,
              .minute = d[5] - 1,
              .second = d[6] - 1};
  return db::sqlite_qzdata::ns_to_julian_day(make_timestamp(c).ns);
}

// The length of a character or binary bind: its length array, else value_sz.
std::size_t bind_length(const Bind& b) {
  if (b.dty == SQLT_STR) return strnlen(static_cast<const char*>(b.value), std::size_t(b.value_size));
  return b.length ? *b.length : std::size_t(b.value_size);
}

void bind_value(sqlite3_stmt* cursor, int i, const Bind& b) {
  if (!b.value || (b.indicator && *b.indicator < 0)) {
    sqlite3_bind_null(cursor, i);
    return;
  }
  const char* bytes = static_cast<const char*>(b.value);
  switch (b.dty) {
    case SQLT_CHR:
    case SQLT_STR:
    case SQLT_AFC: sqlite3_bind_text(cursor, i, bytes, int(bind_length(b)), SQLITE_TRANSIENT); break;
    case SQLT_BIN: sqlite3_bind_blob(cursor, i, bytes, int(bind_length(b)), SQLITE_TRANSIENT); break;
    case SQLT_INT: sqlite3_bind_int64(cursor, i, read_integer(b.value, b.value_size)); break;
    case SQLT_FLT: sqlite3_bind_double(cursor, i, read_float(b.value, b.value_size)); break;
    case SQLT_BDOUBLE: sqlite3_bind_double(cursor, i, read_float(b.value, 8)); break;
    case SQLT_DAT:
      if (b.value_size != 7) throw ora::unreasonable_conversion();
      sqlite3_bind_double(cursor, i, julian_day_of_oracle_date(static_cast<const unsigned char*>(b.value)));
      break;
    default: throw ora::unreasonable_conversion();
  }
}

// Binds every placeholder of the query; each bind must name one of them.
void bind_all(Statement& st) {
  std::vector<bool> used(st.binds.size());
  for (int i = 1; i <= sqlite3_bind_parameter_count(st.cursor); ++i) {
    const char* name = sqlite3_bind_parameter_name(st.cursor, i);
    std::string wanted = placeholder_name(name ? name : "");
    std::size_t k = 0;
    while (k < st.binds.size() && st.binds[k]->name != wanted) ++k;
    if (k == st.binds.size()) throw ora::not_all_bound();
    used[k] = true;
    bind_value(st.cursor, i, *st.binds[k]);
  }
  for (bool u : used)
    if (!u) throw ora::illegal_variable();
}

// Runs the query up to its first row and describes it.
void execute_query(Statement& st, Server& server) {
  sqlite3_finalize(st.cursor);
  st.cursor = nullptr;
  st.executed = st.has_row = st.end_reported = false;
  st.rows_fetched = st.row_count = 0;
  st.successful_fetches = 0;
  st.cursor = open_cursor(server, st.sql);
  bind_all(st);
  int rc = sqlite3_step(st.cursor);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw sql_failure(sqlite3_errmsg(server.db));
  st.has_row = rc == SQLITE_ROW;
  st.columns = describe_query(st.cursor, st.has_row);
  st.executed = true;
}

}  // namespace
}  // namespace tremora::oci_standin

using namespace tremora::oci_standin;

sword OCIStmtPrepare2(OCISvcCtx* svchp, OCIStmt** stmtp, OCIError* errhp, const OraText* stmt, ub4 stmt_len,
                      const OraText* /*key*/, ub4 /*key_len*/, ub4 /*language*/, ub4 /*mode*/) {
  if (!stmtp) return OCI_INVALID_HANDLE;
  return run_call<ServiceContext>(svchp, OCI_HTYPE_SVCCTX, errhp, [&](ServiceContext& svc, ErrorHandle&) {
    if (!stmt || stmt_len == 0) throw ora::bad_statement_length();
    auto st = std::make_unique<Statement>(svc.env);
    st->sql.assign(reinterpret_cast<const char*>(stmt), stmt_len);
    st->statement_type = statement_type(st->sql);
    st->prepared_by_prepare2 = true;
    st->service = &svc;
    *stmtp = static_cast<OCIStmt*>(adopt(std::move(st)));
    return OCI_SUCCESS;
  });
}

sword OCIStmtRelease(OCIStmt* stmtp, OCIError* errhp, const OraText* /*key*/, ub4 /*key_len*/, ub4 /*mode*/) {
  return run_call<Statement>(stmtp, OCI_HTYPE_STMT, errhp, [](Statement& st, ErrorHandle&) {
    if (!st.prepared_by_prepare2) throw ora::release_before_prepare2();
    release(&st);
    return OCI_SUCCESS;
  });
}

sword OCIBindByName2(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp, const OraText* placeholder, sb4 placeh_len,
                     void* valuep, sb8 value_sz, ub2 dty, void* indp, ub4* alenp, ub2* /*rcodep*/, ub4 /*maxarr_len*/,
                     ub4* /*curelep*/, ub4 /*mode*/) {
  return run_call<Statement>(stmtp, OCI_HTYPE_STMT, errhp, [&](Statement& st, ErrorHandle&) {
    if (!placeholder || placeh_len <= 0) throw ora::illegal_variable();
    std::string name =
        placeholder_name(std::string_view(reinterpret_cast<const char*>(placeholder), std::size_t(placeh_len)));
    Bind& b = child_handle(st, st.binds, bindp ? *bindp : nullptr, OCI_HTYPE_BIND,
                           [&](const Bind& existing) { return existing.name == name; });
    if (bindp) *bindp = reinterpret_cast<OCIBind*>(&b);
    static_cast<ProgramBuffer&>(b) = {valuep, value_sz, dty, static_cast<sb2*>(indp), alenp};
    b.name = name;
    return OCI_SUCCESS;
  });
}

sword OCIStmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 /*rowoff*/,
                     const OCISnapshot* /*snap_in*/, OCISnapshot* /*snap_out*/, ub4 mode) {
  auto* svc = find_as<ServiceContext>(svchp, OCI_HTYPE_SVCCTX);
  if (!svc) return OCI_INVALID_HANDLE;
  return run_call<Statement>(stmtp, OCI_HTYPE_STMT, errhp, [&](Statement& st, ErrorHandle& err) {
    if (st.sql.empty()) throw ora::execute_before_prepare2();
    execute_query(st, logged_on_server(*svc));
    st.service = svc;
    if (mode & OCI_DESCRIBE_ONLY) return OCI_SUCCESS;
    count_execute_trip(st, iters);
    if (iters == 0) return OCI_SUCCESS;
    sword rc = fetch_rows(st, err, iters);
    after_fetch(st, iters, rc);
    return rc;
  });
}
