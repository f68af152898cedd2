#include "oracle_columns.hpp"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "oci_handles.hpp"
#include "oracle_client.hpp"
#include "oracle_number.hpp"
#include "tremora/errors.hpp"
#include "tremora/text.hpp"
#include "tremora/time.hpp"

namespace tremora::db::oracle {

using namespace oci;

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

int64_t from_oracle_date(const unsigned char* d, const std::string& column) {
  int year = (int(d[0]) - 100) * 100 + (int(d[1]) - 100);
  try {
    return make_timestamp(year, d[2], d[3], d[4] - 1, d[5] - 1, d[6] - 1).ns;
  } catch (const std::invalid_argument&) {
    throw DatabaseError("column '" + column + "': the date of year " + std::to_string(year) +
                        " lies outside the range of timestamps (1677-09-21 to 2262-04-11)");
  }
}

namespace {

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

}  // namespace

// The fetch buffers of one column and the column they fill.
struct ColumnFetch::State {
  State(const Described& d, OCIStmt* stmt, OCIError* err, ub4 position) : d_(d), kind_(kind_of(d)) {
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

ColumnFetch::ColumnFetch(const Described& d, OCIStmt* stmt, OCIError* err, ub4 position)
    : state_(std::make_unique<State>(d, stmt, err, position)) {}
ColumnFetch::ColumnFetch(ColumnFetch&&) noexcept = default;
ColumnFetch& ColumnFetch::operator=(ColumnFetch&&) noexcept = default;
ColumnFetch::~ColumnFetch() = default;
void ColumnFetch::take(ub4 rows, OCISvcCtx* svc, OCIError* err) { state_->take(rows, svc, err); }
Column ColumnFetch::finish() { return state_->finish(); }

}  // namespace tremora::db::oracle
