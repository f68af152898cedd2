// The oracle driver: a session on an Oracle server through the client
// library's call interface. A query is prepared, its named binds are bound,
// it runs, its select list is described, and its rows are fetched in
// arrays straight into the table's columns.
//
// Throughput: rows are fetched kFetchRows at a time (one round trip per
// array, the prefetch set to the same count before the execute, whose
// reply thus brings the first array), and LOB columns ask the
// server to send up to kLobPrefetchBytes of each value with its row, so a
// day row's value is read from the fetched data without a round
// trip of its own; longer values are read with one OCILobRead2 call each.
#include <optional>
#include <utility>

#include "bind_names.hpp"
#include "oci_handles.hpp"
#include "oracle_client.hpp"
#include "oracle_columns.hpp"
#include "tremora/db.hpp"
#include "tremora/errors.hpp"
#include "tremora/time.hpp"

namespace tremora::db {
namespace {

using namespace oci;
using oracle::attribute;
using oracle::check;
using oracle::ColumnFetch;
using oracle::Described;
using oracle::error_record;
using oracle::fns;
using oracle::kFetchRows;
using oracle::kLobPrefetchBytes;
using oracle::new_handle;
using oracle::Owned;
using oracle::to_oracle_date;

// ORA-12514: the listener knows no service of the name connected to.
constexpr int kOraUnknownService = 12514;

// A value bound to a placeholder; it stays where it is until the statement
// has run.
struct BoundValue {
  std::string name;
  std::string bytes;
  int64_t integer = 0;
  double real = 0;
  unsigned char date[7] = {0};
  sb2 indicator = 0;
};
class OracleConnection final : public Connection {
 public:
  explicit OracleConnection(const ConnectionSettings& s) : target_("//" + s.host + ":" + s.port + "/" + s.tnsname) {
    err_ = new_handle(kHtypeError);
    server_ = new_handle(kHtypeServer);
    attach(s);
    attached_ = true;
    try {
      begin_session(s);
    } catch (...) {
      close();
      throw;
    }
  }

  ~OracleConnection() override { close(); }

  Table query(const std::string& sql, const Binds& binds) override {
    if (!is_open()) throw DatabaseError("the connection to " + target_ + " is closed");
    OCIStmt* stmt = nullptr;
    check(fns().stmt_prepare2(service(), &stmt, error(), reinterpret_cast<const OraText*>(sql.data()), ub4(sql.size()),
                              nullptr, 0, kNativeSyntax, kDefault),
          error(), "preparing the query on " + target_);
    try {
      Table t = run(stmt, sql, binds);
      fns().stmt_release(stmt, error(), nullptr, 0, kDefault);
      return t;
    } catch (...) {
      fns().stmt_release(stmt, error(), nullptr, 0, kDefault);
      throw;
    }
  }

  void close() override {
    if (session_begun_) fns().session_end(service(), error(), session(), kDefault);
    if (attached_) fns().server_detach(server(), error(), kDefault);
    session_begun_ = attached_ = false;
    session_.reset();
    service_.reset();
    server_.reset();
    err_.reset();
  }

  bool is_open() const override { return session_begun_; }

 private:
  OCIError* error() const { return static_cast<OCIError*>(err_.get()); }
  OCIServer* server() const { return static_cast<OCIServer*>(server_.get()); }
  OCISvcCtx* service() const { return static_cast<OCISvcCtx*>(service_.get()); }
  OCISession* session() const { return static_cast<OCISession*>(session_.get()); }

  sword attach_to(const std::string& connect_string) {
    return fns().server_attach(server(), error(), reinterpret_cast<const OraText*>(connect_string.data()),
                               sb4(connect_string.size()), kDefault);
  }

  // Attaches by TNSNAME as a service name; when the listener knows no such
  // service (ORA-12514), once more by TNSNAME as a SID, the form older
  // configurations were written for. Both failing gives the service-name
  // error, noting the SID form's.
  void attach(const ConnectionSettings& s) {
    sword status = attach_to(target_);
    if (status == kSuccess || status == kSuccessWithInfo) {
      info()["tremora_connect_form"] = "service name";
      return;
    }
    auto [code, text] = error_record(error(), kHtypeError);
    if (code != kOraUnknownService) check(status, error(), "connecting to " + target_);
    std::string sid = "(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=" + s.host + ")(PORT=" + s.port +
                      "))(CONNECT_DATA=(SID=" + s.tnsname + ")))";
    sword by_sid = attach_to(sid);
    if (by_sid == kSuccess || by_sid == kSuccessWithInfo) {
      info()["tremora_connect_form"] = "SID";
      target_ = "//" + s.host + ":" + s.port + " (SID " + s.tnsname + ")";
      return;
    }
    std::string sid_text = error_record(error(), kHtypeError).second;
    throw DatabaseError("connecting to " + target_ + ": " + text + " (TNSNAME '" + s.tnsname +
                            "' as a SID failed too: " + sid_text + ")",
                        code);
  }

  void begin_session(const ConnectionSettings& s) {
    service_ = new_handle(kHtypeSvcCtx);
    check(fns().attr_set(service(), kHtypeSvcCtx, server(), 0, kAttrServer, error()), error(),
          "setting up the session on " + target_);
    session_ = new_handle(kHtypeSession);
    std::string user = s.username, password = s.password;
    check(fns().attr_set(session(), kHtypeSession, user.data(), ub4(user.size()), kAttrUsername, error()), error(),
          "setting the user name");
    check(fns().attr_set(session(), kHtypeSession, password.data(), ub4(password.size()), kAttrPassword, error()),
          error(), "setting the password");
    check(fns().session_begin(service(), error(), session(), kCredRdbms, kDefault), error(),
          "logging on to " + target_ + " as " + s.username);
    session_begun_ = true;
    check(fns().attr_set(service(), kHtypeSvcCtx, session(), 0, kAttrSession, error()), error(),
          "setting up the session on " + target_);
    info()["tremora_server_version"] = server_version();
  }

  std::string server_version() {
    OraText text[512] = {0};
    ub4 version = 0;
    if (fns().server_release(service(), error(), text, sizeof text, ub1(kHtypeSvcCtx), &version) != kSuccess) return "";
    return reinterpret_cast<const char*>(text);
  }

  Table run(OCIStmt* stmt, const std::string& sql, const Binds& binds) {
    if (attribute<ub2>(stmt, kHtypeStmt, kAttrStmtType, error(), "reading the statement type") != kStmtSelect)
      throw DatabaseError("the query is not one read-only SELECT; nothing was run on " + target_);
    std::vector<BoundValue> values = bind(stmt, sql, binds);
    // Set before the execute, so that its reply already brings the first
    // array of rows.
    ub4 rows = kFetchRows;
    check(fns().attr_set(stmt, kHtypeStmt, &rows, 0, kAttrPrefetchRows, error()), error(), "setting the prefetch");
    check(fns().stmt_execute(service(), stmt, error(), 0, 0, nullptr, nullptr, kDefault), error(),
          "running the query on " + target_);
    std::vector<ColumnFetch> columns = define(stmt);
    fetch_all(stmt, columns);
    Table t;
    for (auto& c : columns) {
      Column column = c.finish();
      if (t.has_column(column.name()))
        throw DatabaseError("the query returns two columns named '" + column.name() + "'");
      t.add_column(std::move(column));
    }
    return t;
  }

  // Binds the values of the placeholders the SQL text names; a placeholder
  // without a value is an error, values of names it does not use are left.
  std::vector<BoundValue> bind(OCIStmt* stmt, const std::string& sql, const Binds& binds) {
    std::vector<std::string> names = bind_names(sql);
    std::vector<BoundValue> values(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
      auto it = binds.find(names[i]);
      if (it == binds.end()) throw DatabaseError("no value is bound for the parameter :" + names[i]);
      values[i].name = ":" + names[i];
      bind_one(stmt, values[i], it->second);
    }
    return values;
  }

  void bind_one(OCIStmt* stmt, BoundValue& b, const Value& v) {
    void* data = nullptr;
    sb8 size = 0;
    ub2 type = kSqltChr;
    const auto& x = v.variant();
    if (v.is_missing()) b.indicator = -1, data = b.date, size = 0;
    else if (auto i = std::get_if<int64_t>(&x)) b.integer = *i, type = kSqltInt, data = &b.integer, size = 8;
    else if (auto f = std::get_if<bool>(&x)) b.integer = *f, type = kSqltInt, data = &b.integer, size = 8;
    else if (auto d = std::get_if<double>(&x)) b.real = *d, type = kSqltFlt, data = &b.real, size = 8;
    else if (auto s = std::get_if<std::string>(&x)) b.bytes = *s, data = b.bytes.data(), size = sb8(b.bytes.size());
    else if (auto y = std::get_if<Bytes>(&x))
      b.bytes = y->data, type = kSqltBin, data = b.bytes.data(), size = sb8(b.bytes.size());
    else if (auto t = std::get_if<Timestamp>(&x)) to_oracle_date(*t, b.date), type = kSqltDat, data = b.date, size = 7;
    else throw DatabaseError("cannot bind the value of " + b.name);
    OCIBind* handle = nullptr;
    check(
        fns().bind_by_name2(stmt, &handle, error(), reinterpret_cast<const OraText*>(b.name.data()), sb4(b.name.size()),
                            data, size, type, &b.indicator, nullptr, nullptr, 0, nullptr, kDefault),
        error(), "binding " + b.name);
  }

  std::vector<ColumnFetch> define(OCIStmt* stmt) {
    ub4 count = attribute<ub4>(stmt, kHtypeStmt, kAttrParamCount, error(), "describing the query");
    std::vector<ColumnFetch> columns;
    columns.reserve(count);
    for (ub4 pos = 1; pos <= count; ++pos) columns.emplace_back(describe(stmt, pos), stmt, error(), pos);
    return columns;
  }

  Described describe(OCIStmt* stmt, ub4 pos) {
    void* param = nullptr;
    check(fns().param_get(stmt, kHtypeStmt, error(), &param, pos), error(), "describing the query");
    Owned owned(param, kDtypeParam, true);
    Described d;
    OraText* name = nullptr;
    ub4 name_size = 0;
    check(fns().attr_get(param, kDtypeParam, &name, &name_size, kAttrName, error()), error(), "describing the query");
    d.name.assign(reinterpret_cast<const char*>(name), name_size);
    std::string what = "describing column '" + d.name + "'";
    d.type = attribute<ub2>(param, kDtypeParam, kAttrDataType, error(), what);
    d.size = attribute<ub2>(param, kDtypeParam, kAttrDataSize, error(), what);
    if (d.type == kSqltNum) {
      d.precision = attribute<sb2>(param, kDtypeParam, kAttrPrecision, error(), what);
      d.scale = attribute<sb1>(param, kDtypeParam, kAttrScale, error(), what);
    }
    if (d.type == kSqltChr || d.type == kSqltAfc || d.type == kSqltClob) {
      d.form = attribute<ub1>(param, kDtypeParam, kAttrCharsetForm, error(), what);
      d.char_size = attribute<ub2>(param, kDtypeParam, kAttrCharSize, error(), what);
    }
    return d;
  }

  // Fetches array after array until the rows are done; a failure on the
  // way (a lost connection too) is an error, never a short result.
  void fetch_all(OCIStmt* stmt, std::vector<ColumnFetch>& columns) {
    while (true) {
      sword status = fns().stmt_fetch2(stmt, error(), kFetchRows, kFetchNext, 0, kDefault);
      if (status != kNoData) check(status, error(), "fetching rows from " + target_);
      ub4 rows = attribute<ub4>(stmt, kHtypeStmt, kAttrRowsFetched, error(), "counting the fetched rows");
      for (auto& c : columns) c.take(rows, service(), error());
      if (status == kNoData) return;
    }
  }

  std::string target_;
  Owned err_, server_, service_, session_;
  bool attached_ = false, session_begun_ = false;
};

}  // namespace

std::shared_ptr<Connection> open_oracle(const ConnectionSettings& settings) {
  if (!oracle::client_ready())
    throw DatabaseError("the Oracle client library is not initialised (thick mode is required)");
  return std::make_shared<OracleConnection>(settings);
}

}  // namespace tremora::db
