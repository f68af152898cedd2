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
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "bind_names.hpp"
#include "oracle_client.hpp"
#include "oracle_number.hpp"
#include "tremora/db.hpp"
#include "tremora/errors.hpp"
#include "tremora/text.hpp"
#include "tremora/time.hpp"

namespace tremora::db {
namespace {

using namespace oci;

constexpr ub4 kFetchRows = 500;
// ORA-12514: the listener knows no service of the name connected to.
constexpr int kOraUnknownService = 12514;
// A day row of the densest rate, seconds, is 86,400 values: as text about
// 600 K characters (up to 11 a value with its blank fit in 1 MiB), gzip
// compressed far less. The prefetch asks for what a value holds, so rows of
// shorter values cost no more.
constexpr ub4 kLobPrefetchBytes = 1024 * 1024;
// The most bytes a character of the database's or the national character
// set takes once converted to the client's UTF-8.
constexpr ub4 kUtf8BytesPerChar = 4;

const Api& fns() { return oracle::api(); }

// The first error record of a handle: its ORA code and text.
std::pair<int, std::string> error_record(void* handle, ub4 type) {
  OraText text[3072] = {0};
  sb4 code = 0;
  if (fns().error_get(handle, 1, nullptr, &code, text, sizeof text, type) != kSuccess) return {0, ""};
  std::string message(reinterpret_cast<const char*>(text));
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  return {code, message};
}

// Throws a DatabaseError, with the error handle's ORA code and text, for a
// call that did not succeed.
void check(sword status, OCIError* err, const std::string& what) {
  if (status == kSuccess || status == kSuccessWithInfo) return;
  if (status == kInvalidHandle) throw DatabaseError(what + ": the Oracle client reported an invalid handle");
  auto [code, text] = error_record(err, kHtypeError);
  if (text.empty()) text = "OCI status " + std::to_string(status);
  throw DatabaseError(what + ": " + text, code);
}

// A handle or descriptor of the client library, freed when it goes.
class Owned {
 public:
  Owned() = default;
  Owned(void* p, ub4 type, bool descriptor) : p_(p), type_(type), descriptor_(descriptor) {}
  Owned(Owned&& o) noexcept : p_(std::exchange(o.p_, nullptr)), type_(o.type_), descriptor_(o.descriptor_) {}
  Owned& operator=(Owned&& o) noexcept {
    reset();
    p_ = std::exchange(o.p_, nullptr);
    type_ = o.type_;
    descriptor_ = o.descriptor_;
    return *this;
  }
  ~Owned() { reset(); }
  void reset() {
    if (!p_) return;
    if (descriptor_) fns().descriptor_free(p_, type_);
    else fns().handle_free(p_, type_);
    p_ = nullptr;
  }
  void* get() const { return p_; }

 private:
  void* p_ = nullptr;
  ub4 type_ = 0;
  bool descriptor_ = false;
};

// A new handle (or descriptor) of the environment.
Owned allocate(ub4 type, bool descriptor) {
  void* p = nullptr;
  sword status = descriptor ? fns().descriptor_alloc(oracle::environment(), &p, type, 0, nullptr)
                            : fns().handle_alloc(oracle::environment(), &p, type, 0, nullptr);
  if (status != kSuccess || !p)
    throw DatabaseError(std::string("the Oracle client could not allocate a ") +
                        (descriptor ? "descriptor" : "handle") + " (type " + std::to_string(type) + ")");
  return Owned(p, type, descriptor);
}

Owned new_handle(ub4 type) { return allocate(type, false); }
Owned new_descriptor(ub4 type) { return allocate(type, true); }

template <typename T>
T attribute(const void* handle, ub4 handle_type, ub4 attr, OCIError* err, const std::string& what) {
  T value{};
  check(fns().attr_get(handle, handle_type, &value, nullptr, attr, err), err, what);
  return value;
}

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

// Oracle's 7-byte DATE of a timestamp (whole seconds).
void to_oracle_date(Timestamp t, unsigned char out[7]) {
  CivilTime c = to_civil(t);
  out[0] = static_cast<unsigned char>(c.year / 100 + 100);
  out[1] = static_cast<unsigned char>(c.year % 100 + 100);
  out[2] = static_cast<unsigned char>(c.month);
  out[3] = static_cast<unsigned char>(c.day);
  out[4] = static_cast<unsigned char>(c.hour + 1);
  out[5] = static_cast<unsigned char>(c.minute + 1);
  out[6] = static_cast<unsigned char>(c.second + 1);
}

// The timestamp of Oracle's 7-byte DATE.
int64_t from_oracle_date(const unsigned char* d, const std::string& column) {
  int year = (int(d[0]) - 100) * 100 + (int(d[1]) - 100);
  try {
    return make_timestamp(year, d[2], d[3], d[4] - 1, d[5] - 1, d[6] - 1).ns;
  } catch (const std::invalid_argument&) {
    throw DatabaseError("column '" + column + "': the date of year " + std::to_string(year) +
                        " lies outside the range of timestamps (1677-09-21 to 2262-04-11)");
  }
}

// How a select-list column is fetched and what it becomes.
// Exact: a NUMBER that may hold integers beyond int64 or fractions (no
// precision declared, or more than 18 digits), read in Oracle's own form.
// Zoned: TIMESTAMP WITH (LOCAL) TIME ZONE, made UTC instants. Interval:
// INTERVAL DAY TO SECOND, made a duration.
enum class Kind { Integer, Exact, Real, Text, Raw, Date, Timestamp, Zoned, Interval, Clob, Blob };

struct Described {
  std::string name;
  ub2 type = 0;
  ub2 size = 0;
  sb2 precision = 0;
  sb1 scale = 0;
  ub1 form = kCsImplicit;
  ub2 char_size = 0;
};

// NUMBER(p, 0) with p of 1 to 18 always fits int64; a NUMBER declared
// without precision (described as precision 0, scale -127) or with more
// digits is read exactly and becomes int64 only when every value allows;
// other scales and FLOAT are doubles.
Kind number_kind(const Described& d) {
  constexpr sb1 kNoScale = -127;
  constexpr sb2 kDigitsOfInt64 = 18;
  if (d.scale == 0 && d.precision >= 1 && d.precision <= kDigitsOfInt64) return Kind::Integer;
  if ((d.scale == 0 && d.precision > kDigitsOfInt64) || (d.precision == 0 && d.scale == kNoScale)) return Kind::Exact;
  return Kind::Real;
}

// The bytes a text define needs for one value.
sb8 text_width(const Described& d) {
  constexpr sb8 kLongBytes = 32 * 1024;  // a LONG's first 32 KiB; longer ones are refused
  constexpr sb8 kRowidBytes = 4000;      // UROWID's most
  constexpr sb8 kIntervalBytes = 64;     // "+000000123 12:34:56.123456789"
  switch (d.type) {
    case kSqltLng: return kLongBytes;
    case kSqltRdd:
    case kSqltUrowid: return kRowidBytes;
    case kSqltIntervalYm:
    case kSqltIntervalDs: return kIntervalBytes;
    // Characters (NVARCHAR2 sizes are AL16UTF16 bytes, two a character)
    // times the most UTF-8 bytes one takes.
    default: return sb8(ub4(d.char_size ? d.char_size : d.size) * kUtf8BytesPerChar);
  }
}

// The duration of an INTERVAL DAY TO SECOND in its text form
// "+DD HH:MI:SS.FFFFFFFFF" (the sign, then any number of day digits).
int64_t interval_of(std::string_view text, const std::string& column) {
  auto fail = [&]() -> int64_t {
    throw DatabaseError("column '" + column + "': '" + std::string(text) + "' is not an interval of days and seconds");
  };
  std::string_view t = strip_whitespace(text);
  bool negative = !t.empty() && t[0] == '-';
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) t.remove_prefix(1);
  int64_t days = 0, hours = 0, minutes = 0, seconds = 0, nanos = 0;
  int fraction_digits = 0;
  char tail[16] = {0};
  std::string s(t);
  int n = std::sscanf(s.c_str(), "%" SCNd64 " %" SCNd64 ":%" SCNd64 ":%" SCNd64 "%15s", &days, &hours, &minutes,
                      &seconds, tail);
  if (n < 4 || hours > 23 || minutes > 59 || seconds > 59 || days < 0 || days > 106751) return fail();
  if (n == 5) {
    if (tail[0] != '.') return fail();
    for (const char* p = tail + 1; *p; ++p, ++fraction_digits) {
      if (*p < '0' || *p > '9' || fraction_digits == 9) return fail();
      nanos = nanos * 10 + (*p - '0');
    }
    for (int k = fraction_digits; k < 9; ++k) nanos *= 10;
  }
  int64_t total = ((days * 24 + hours) * 60 + minutes) * 60 * kNanosPerSecond + seconds * kNanosPerSecond + nanos;
  return negative ? -total : total;
}

Kind kind_of(const Described& d) {
  switch (d.type) {
    case kSqltNum: return number_kind(d);
    case kSqltIbFloat:
    case kSqltIbDouble: return Kind::Real;
    case kSqltChr:
    case kSqltAfc:
    // Types the system does not use pass through as their text: LONG,
    // ROWID and UROWID, INTERVAL YEAR TO MONTH ("+02-03").
    case kSqltLng:
    case kSqltRdd:
    case kSqltUrowid:
    case kSqltIntervalYm: return Kind::Text;
    case kSqltIntervalDs: return Kind::Interval;
    case kSqltBin: return Kind::Raw;
    case kSqltDat: return Kind::Date;
    case kSqltTimestamp: return Kind::Timestamp;
    case kSqltTimestampTz:
    case kSqltTimestampLtz: return Kind::Zoned;
    case kSqltClob: return Kind::Clob;
    case kSqltBlob: return Kind::Blob;
    default:
      throw DatabaseError(
          "column '" + d.name + "' has an Oracle type (" + std::to_string(d.type) +
          ") the driver does not read (LONG RAW, objects and other user-defined types are not supported)");
  }
}

// The fetch buffers of one column and the column they fill.
class ColumnFetch {
 public:
  ColumnFetch(const Described& d, OCIStmt* stmt, OCIError* err, ub4 position) : d_(d), kind_(kind_of(d)) {
    indicators_.resize(kFetchRows);
    lengths_.resize(kFetchRows);
    codes_.resize(kFetchRows);
    define(stmt, err, position);
    if (kind_ == Kind::Text || kind_ == Kind::Clob) strings_.emplace(DataType::String);
    if (kind_ == Kind::Raw || kind_ == Kind::Blob) strings_.emplace(DataType::Binary);
  }

  // Appends the first `rows` rows of the arrays to the column.
  void take(ub4 rows, OCISvcCtx* svc, OCIError* err) {
    for (ub4 r = 0; r < rows; ++r) {
      if (codes_[r] == kRcodeTruncated)
        throw DatabaseError("column '" + d_.name + "': a value was longer than its described size");
      if (indicators_[r] == -1) append_null();
      else append(r, svc, err);
    }
  }

  Column finish() {
    switch (kind_) {
      case Kind::Integer: return Column::from_int64(d_.name, std::move(integers_), std::move(valid_));
      case Kind::Exact:
        if (all_integers_) return Column::from_int64(d_.name, std::move(integers_), std::move(valid_));
        return Column::from_float64(d_.name, std::move(reals_));
      case Kind::Real: return Column::from_float64(d_.name, std::move(reals_));
      case Kind::Date:
      case Kind::Timestamp: return Column::from_timestamps(d_.name, std::move(integers_));
      case Kind::Zoned: return Column::from_timestamps(d_.name, std::move(integers_), "UTC");
      case Kind::Interval: return Column::from_durations(d_.name, std::move(integers_));
      default: return strings_->finish(d_.name);
    }
  }

 private:
  void define(OCIStmt* stmt, OCIError* err, ub4 position) {
    ub2 external = 0;
    sb8 width = 0;
    switch (kind_) {
      case Kind::Integer: external = kSqltInt, width = sizeof(int64_t); break;
      case Kind::Exact: external = kSqltVnu, width = oracle::kNumberBufferBytes; break;
      case Kind::Real: external = kSqltFlt, width = sizeof(double); break;
      case Kind::Text:
      case Kind::Interval: external = kSqltChr, width = text_width(d_); break;
      case Kind::Raw: external = kSqltBin, width = std::max<sb8>(d_.size, 1); break;
      case Kind::Date: external = kSqltDat, width = 7; break;
      case Kind::Timestamp: external = kSqltTimestamp, width = sizeof(void*); break;
      case Kind::Zoned: external = kSqltTimestampTz, width = sizeof(void*); break;
      case Kind::Clob: external = kSqltClob, width = sizeof(void*); break;
      case Kind::Blob: external = kSqltBlob, width = sizeof(void*); break;
    }
    width_ = std::size_t(width);
    buffer_.assign(width_ * kFetchRows, 0);
    if (kind_ == Kind::Timestamp || kind_ == Kind::Zoned || kind_ == Kind::Clob || kind_ == Kind::Blob)
      allocate_descriptors();
    OCIDefine* def = nullptr;
    check(fns().define_by_pos2(stmt, &def, err, position, buffer_.data(), width, external, indicators_.data(),
                               lengths_.data(), codes_.data(), kDefault),
          err, "defining column '" + d_.name + "'");
    if (d_.form == kCsNchar && (kind_ == Kind::Text || kind_ == Kind::Clob)) {
      // National-character data comes straight to UTF-8, not through the
      // database character set, which may not hold it.
      ub1 form = kCsNchar;
      check(fns().attr_set(def, kHtypeDefine, &form, 0, kAttrCharsetForm, err), err,
            "defining column '" + d_.name + "' as national-character data");
    }
    if (kind_ == Kind::Clob || kind_ == Kind::Blob) {
      // The length first: the LOB guide has the prefetch size follow it.
      ub4 prefetch = kLobPrefetchBytes;
      int with_length = 1;  // the interface's boolean
      check(fns().attr_set(def, kHtypeDefine, &with_length, 0, kAttrLobPrefetchLength, err), err,
            "asking for LOB lengths of column '" + d_.name + "'");
      check(fns().attr_set(def, kHtypeDefine, &prefetch, 0, kAttrLobPrefetchSize, err), err,
            "asking for LOB prefetch of column '" + d_.name + "'");
    }
  }

  // One locator or timestamp descriptor per array row, their addresses in
  // the buffer the define fills.
  void allocate_descriptors() {
    ub4 type = kind_ == Kind::Timestamp ? kDtypeTimestamp : kind_ == Kind::Zoned ? kDtypeTimestampTz : kDtypeLob;
    descriptors_.reserve(kFetchRows);
    for (ub4 r = 0; r < kFetchRows; ++r) {
      descriptors_.push_back(new_descriptor(type));
      void* p = descriptors_.back().get();
      std::memcpy(buffer_.data() + r * width_, &p, sizeof p);
    }
  }

  void append_null() {
    switch (kind_) {
      case Kind::Integer: integers_.push_back(0), valid_.push_back(0); break;
      case Kind::Exact:
        integers_.push_back(0), valid_.push_back(0);
        reals_.push_back(std::numeric_limits<double>::quiet_NaN());
        break;
      case Kind::Real: reals_.push_back(std::numeric_limits<double>::quiet_NaN()); break;
      case Kind::Date:
      case Kind::Timestamp:
      case Kind::Zoned:
      case Kind::Interval: integers_.push_back(Timestamp::NaT); break;
      default: strings_->append_null(); break;
    }
  }

  void append(ub4 r, OCISvcCtx* svc, OCIError* err) {
    const unsigned char* cell = buffer_.data() + r * width_;
    switch (kind_) {
      case Kind::Integer: {
        int64_t v;
        std::memcpy(&v, cell, sizeof v);
        integers_.push_back(v), valid_.push_back(1);
        break;
      }
      case Kind::Exact: append_number(cell); break;
      case Kind::Real: {
        double v;
        std::memcpy(&v, cell, sizeof v);
        reals_.push_back(v);
        break;
      }
      case Kind::Text:
      case Kind::Raw: strings_->append(std::string_view(reinterpret_cast<const char*>(cell), lengths_[r])); break;
      case Kind::Date: integers_.push_back(from_oracle_date(cell, d_.name)); break;
      case Kind::Timestamp: integers_.push_back(timestamp_at(r, err)); break;
      case Kind::Zoned: integers_.push_back(timestamp_at(r, err) - utc_offset_at(r, err)); break;
      case Kind::Interval:
        integers_.push_back(interval_of(std::string_view(reinterpret_cast<const char*>(cell), lengths_[r]), d_.name));
        break;
      case Kind::Clob:
      case Kind::Blob: read_lob(r, svc, err); break;
    }
  }

  // Both readings of a number are kept until the column ends, which is
  // int64 only when every value was an integer that int64 holds.
  void append_number(const unsigned char* cell) {
    oracle::NumberValue v;
    try {
      v = oracle::read_number(std::string_view(reinterpret_cast<const char*>(cell), width_));
    } catch (const std::invalid_argument& e) {
      throw DatabaseError("column '" + d_.name + "': " + e.what());
    }
    all_integers_ = all_integers_ && v.integer.has_value();
    integers_.push_back(v.integer.value_or(0)), valid_.push_back(1);
    reals_.push_back(v.real);
  }

  int64_t timestamp_at(ub4 r, OCIError* err) {
    auto* t = static_cast<OCIDateTime*>(descriptors_[r].get());
    sb2 year = 0;
    ub1 month = 0, day = 0, hour = 0, minute = 0, second = 0;
    ub4 fraction = 0;
    void* env = oracle::environment();
    check(fns().date_time_get_date(env, err, t, &year, &month, &day), err, "reading column '" + d_.name + "'");
    check(fns().date_time_get_time(env, err, t, &hour, &minute, &second, &fraction), err,
          "reading column '" + d_.name + "'");
    try {
      return make_timestamp(CivilTime{year, month, day, hour, minute, second, fraction}).ns;
    } catch (const std::invalid_argument&) {
      throw DatabaseError("column '" + d_.name + "': the timestamp of year " + std::to_string(year) +
                          " lies outside the range of timestamps (1677-09-21 to 2262-04-11)");
    }
  }

  // The offset from UTC of row r's zoned timestamp, in nanoseconds.
  int64_t utc_offset_at(ub4 r, OCIError* err) {
    sb1 hours = 0, minutes = 0;
    check(fns().date_time_get_time_zone_offset(oracle::environment(), err,
                                               static_cast<OCIDateTime*>(descriptors_[r].get()), &hours, &minutes),
          err, "reading the time zone of column '" + d_.name + "'");
    return (int64_t(hours) * 60 + minutes) * 60 * kNanosPerSecond;
  }

  // The whole value of row r's locator: a CLOB is read by characters into
  // room for their UTF-8 bytes, a BLOB by bytes.
  void read_lob(ub4 r, OCISvcCtx* svc, OCIError* err) {
    auto* loc = static_cast<OCILobLocator*>(descriptors_[r].get());
    oraub8 length = 0;
    check(fns().lob_get_length2(svc, err, loc, &length), err, "reading the length of column '" + d_.name + "'");
    if (length == 0) return strings_->append("");
    bool clob = kind_ == Kind::Clob;
    lob_buffer_.resize(clob ? length * kUtf8BytesPerChar : length);
    oraub8 bytes = clob ? 0 : length, chars = clob ? length : 0;
    // In the environment's UTF-8: a character set id of 0 would mean
    // NLS_LANG's instead.
    check(fns().lob_read2(svc, err, loc, &bytes, &chars, 1, lob_buffer_.data(), lob_buffer_.size(), kOnePiece, nullptr,
                          nullptr, kAl32Utf8, d_.form),
          err, "reading column '" + d_.name + "'");
    strings_->append(std::string_view(lob_buffer_.data(), bytes));
  }

  Described d_;
  Kind kind_;
  std::size_t width_ = 0;
  std::vector<unsigned char> buffer_;
  std::vector<sb2> indicators_;
  std::vector<ub4> lengths_;
  std::vector<ub2> codes_;
  std::vector<Owned> descriptors_;
  std::string lob_buffer_;
  std::vector<int64_t> integers_;
  std::vector<uint8_t> valid_;
  std::vector<double> reals_;
  bool all_integers_ = true;
  std::optional<StringColumnBuilder> strings_;
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
