// Value conversions of a fetch.
#include "define_values.hpp"

#include "charsets.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "describe.hpp"
#include "ora_errors.hpp"
#include "sqlite_qzdata.hpp"
#include "tremora/errors.hpp"
#include "tremora/text.hpp"
#include "tremora/time.hpp"

namespace tremora::oci_standin {
namespace {

// One stored value as SQLite holds it.
struct Cell {
  int storage = SQLITE_NULL;
  int64_t integer = 0;
  double real = 0;
  std::string_view bytes;  // text or blob
};

Cell read_cell(sqlite3_stmt* cursor, int i) {
  Cell c;
  c.storage = sqlite3_column_type(cursor, i);
  if (c.storage == SQLITE_INTEGER) c.integer = sqlite3_column_int64(cursor, i);
  if (c.storage == SQLITE_FLOAT) c.real = sqlite3_column_double(cursor, i);
  if (c.storage == SQLITE_TEXT) {
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(cursor, i));
    c.bytes = {text, std::size_t(sqlite3_column_bytes(cursor, i))};
  }
  if (c.storage == SQLITE_BLOB) {
    const char* blob = static_cast<const char*>(sqlite3_column_blob(cursor, i));
    c.bytes = {blob, std::size_t(sqlite3_column_bytes(cursor, i))};
  }
  return c;
}

std::string expected_name(ub2 dty) {
  switch (dty) {
    case SQLT_INT:
    case SQLT_VNU:
    case SQLT_FLT:
    case SQLT_BDOUBLE: return "NUMBER";
    case SQLT_DAT: return "DATE";
    case SQLT_TIMESTAMP: return "TIMESTAMP";
    case SQLT_CLOB: return "CLOB";
    case SQLT_BLOB: return "BLOB";
    case SQLT_BIN: return "BINARY";
    default: return "CHAR";
  }
}

// ORA-00932 unless the column has one of the given types.
void require(const ColumnInfo& column, ub2 dty, std::initializer_list<ub2> types) {
  if (std::find(types.begin(), types.end(), column.data_type) == types.end())
    throw ora::inconsistent_types(expected_name(dty), type_name(column));
}

double number_of(const Cell& c) {
  if (c.storage == SQLITE_INTEGER) return double(c.integer);
  if (c.storage == SQLITE_FLOAT) return c.real;
  if (auto v = parse_decimal(c.bytes)) return *v;
  throw ora::invalid_number();
}

// An integer value, the fraction cut off.
int64_t integer_of(const Cell& c) {
  if (c.storage == SQLITE_INTEGER) return c.integer;
  double v = std::trunc(number_of(c));
  if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0)) throw ora::integer_overflow();
  return int64_t(v);
}

// Oracle's text of a number: "12", "2.5", ".5", "-.25", "1E+20".
std::string number_text(const Cell& c) {
  if (c.storage == SQLITE_INTEGER) return std::to_string(c.integer);
  double v = number_of(c);
  if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e15) return std::to_string(int64_t(v));
  std::string s = shortest_text(v);
  if (s.starts_with("0.")) s.erase(0, 1);
  if (s.starts_with("-0.")) s.erase(1, 1);
  std::replace(s.begin(), s.end(), 'e', 'E');
  return s;
}

// Oracle's own form of a number written in decimal ("-12.5", "1e+20"):
// an exponent byte and base-100 digits, as DUMP() shows them (123 is
// 194,2,24; -1 is 62,100,102; 0 is 128).
std::string oracle_number_bytes(std::string_view decimal) {
  bool negative = !decimal.empty() && decimal[0] == '-';
  if (!decimal.empty() && (decimal[0] == '-' || decimal[0] == '+')) decimal.remove_prefix(1);
  std::string digits;
  int point = -1, exponent = 0;
  for (std::size_t i = 0; i < decimal.size(); ++i) {
    char c = decimal[i];
    if (c >= '0' && c <= '9') digits += c;
    else if (c == '.') point = int(digits.size());
    else if (c == 'e' || c == 'E') {
      exponent = std::atoi(std::string(decimal.substr(i + 1)).c_str());
      break;
    } else throw ora::invalid_number();
  }
  int p = (point < 0 ? int(digits.size()) : point) + exponent;  // value = 0.DIGITS * 10^p
  std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return std::string("\x01\x80", 2);
  p -= int(first);
  digits.erase(0, first);
  digits.erase(digits.find_last_not_of('0') + 1);
  if (p % 2 != 0) digits.insert(digits.begin(), '0'), ++p;  // whole base-100 digits: p even
  if (digits.size() % 2 != 0) digits += '0';
  int e = p / 2 - 1;
  std::string bytes(1, char(negative ? 0x3E - e : 0xC1 + e));
  std::size_t pairs = std::min<std::size_t>(digits.size() / 2, 20);
  for (std::size_t k = 0; k < pairs; ++k) {
    int d = (digits[2 * k] - '0') * 10 + (digits[2 * k + 1] - '0');
    bytes += char(negative ? 101 - d : d + 1);
  }
  if (negative && pairs < 20) bytes += char(102);
  bytes.insert(bytes.begin(), char(bytes.size()));
  return bytes;
}

// A cell as a number in Oracle's form.
std::string oracle_number_of(const Cell& c) {
  if (c.storage == SQLITE_INTEGER) return oracle_number_bytes(std::to_string(c.integer));
  if (c.storage == SQLITE_TEXT && parse_decimal(c.bytes)) return oracle_number_bytes(strip_whitespace(c.bytes));
  double v = number_of(c);
  if (!std::isfinite(v)) throw ora::invalid_number();
  return oracle_number_bytes(shortest_text(v));
}

// A datetime value: its wall time and, for a text with one, its offset.
struct ZonedTime {
  Timestamp wall;
  int offset_minutes = 0;
};

// The time of a DATE or TIMESTAMP value (a Julian day, or a date text,
// which for the zoned types carries its offset: "2024-05-10 12:00 +08:00");
// a DATE keeps whole seconds.
ZonedTime zoned_time_of(const Cell& c, const ColumnInfo& column) {
  ZonedTime z;
  try {
    if (c.storage == SQLITE_TEXT) {
      ParsedDate d = parse_date_text(c.bytes);
      z = {d.wall, d.utc_offset_seconds.value_or(0) / 60};
    } else {
      z.wall.ns = db::sqlite_qzdata::julian_day_to_ns(number_of(c));
    }
  } catch (const std::invalid_argument&) {
    throw ora::bad_date_literal();
  }
  if (column.data_type == SQLT_DAT) z.wall = floor_to_step(z.wall, kNanosPerSecond);
  return z;
}

// As a plain TIMESTAMP: a zoned value keeps its wall time, its zone dropped.
Timestamp time_of(const Cell& c, const ColumnInfo& column) { return zoned_time_of(c, column).wall; }

// The text a character define receives.
std::string text_of(const Cell& c, const ColumnInfo& column, ub2 dty) {
  switch (column.data_type) {
    case SQLT_NUM: return number_text(c);
    case SQLT_DAT: return format_timestamp(time_of(c, column));
    case SQLT_TIMESTAMP: return format_timestamp(time_of(c, column), "%Y-%m-%d %H:%M:%S.%f");
    case SQLT_BIN: return hex_text(c.bytes, true);  // RAW as text: upper-case hex
    case SQLT_BLOB: throw ora::inconsistent_types(expected_name(dty), type_name(column));
    default: return c.storage == SQLITE_TEXT || c.storage == SQLITE_BLOB ? std::string(c.bytes) : number_text(c);
  }
}

Written copy_bytes(const Slot& s, std::string_view bytes, std::size_t room) {
  std::size_t n = std::min(bytes.size(), room);
  std::memcpy(s.value, bytes.data(), n);
  return {n, n < bytes.size(), bytes.size()};
}

// CHR: the bytes; STR: with a terminating NUL; AFC: blank-padded to the buffer.
Written write_text(const Slot& s, ub2 dty, std::string_view text) {
  if (s.size < (dty == SQLT_STR ? 1 : 0)) throw ora::unreasonable_conversion();
  std::size_t room = std::size_t(s.size) - (dty == SQLT_STR ? 1 : 0);
  Written w = copy_bytes(s, text, room);
  char* out = static_cast<char*>(s.value);
  if (dty == SQLT_STR) out[w.length] = '\0';
  if (dty == SQLT_AFC) {
    std::memset(out + w.length, ' ', room - w.length);
    w.length = room;
  }
  return w;
}

template <class T>
Written put(const Slot& s, T v) {
  std::memcpy(s.value, &v, sizeof v);
  return {sizeof v};
}

Written write_integer(const Slot& s, int64_t v) {
  auto fits = [v](int64_t lo, int64_t hi) {
    if (v < lo || v > hi) throw ora::integer_overflow();
  };
  switch (s.size) {
    case 1: fits(INT8_MIN, INT8_MAX); return put(s, int8_t(v));
    case 2: fits(INT16_MIN, INT16_MAX); return put(s, int16_t(v));
    case 4: fits(INT32_MIN, INT32_MAX); return put(s, int32_t(v));
    case 8: return put(s, v);
    default: throw ora::unreasonable_conversion();
  }
}

Written write_float(const Slot& s, double v) {
  if (s.size == 4) return put(s, float(v));
  if (s.size == 8) return put(s, v);
  throw ora::unreasonable_conversion();
}

// The 7-byte Oracle DATE: century and year of century (each + 100),
// month, day, and hour, minute and second (each + 1).
Written write_oracle_date(const Slot& s, Timestamp t) {
  if (s.size < 7) throw ora::unreasonable_conversion();
  CivilTime c = to_civil(t);
  ub1 bytes[7] = {ub1(c.year / 100 + 100), ub1(c.year % 100 + 100), ub1(c.month),     ub1(c.day),
                  ub1(c.hour + 1),         ub1(c.minute + 1),       ub1(c.second + 1)};
  std::memcpy(s.value, bytes, 7);
  return {7};
}

// The descriptor (or locator) whose address the define's array holds.
template <class T>
T& descriptor_in(const Slot& s, ub4 type, const OraFailure& invalid) {
  void* address = nullptr;
  std::memcpy(&address, s.value, sizeof address);
  auto* d = find_as<T>(address, type);
  if (!d) throw invalid;
  return *d;
}

// A TIMESTAMP descriptor gets the wall time; WITH TIME ZONE also the
// offset; WITH LOCAL TIME ZONE the time in the session's zone, UTC here.
Written write_timestamp(const Slot& s, ZonedTime z, ub2 dty) {
  ub4 type = dty == SQLT_TIMESTAMP_TZ    ? OCI_DTYPE_TIMESTAMP_TZ
             : dty == SQLT_TIMESTAMP_LTZ ? OCI_DTYPE_TIMESTAMP_LTZ
                                         : OCI_DTYPE_TIMESTAMP;
  auto& d = descriptor_in<DateTime>(s, type, ora::unreasonable_conversion());
  if (dty == SQLT_TIMESTAMP_LTZ) z = {Timestamp{z.wall.ns - int64_t(z.offset_minutes) * 60 * kNanosPerSecond}, 0};
  d.offset_minutes = dty == SQLT_TIMESTAMP ? 0 : z.offset_minutes;
  Timestamp t = z.wall;
  CivilTime c = to_civil(t);
  d.year = sb2(c.year);
  d.month = ub1(c.month), d.day = ub1(c.day);
  d.hour = ub1(c.hour), d.minute = ub1(c.minute), d.second = ub1(c.second);
  d.nanosecond = ub4(c.nanosecond);
  return {std::size_t(s.size)};
}

Written write_lob(const Slot& s, const Cell& c, const ColumnInfo& column, const TextDelivery& delivery) {
  auto& lob = descriptor_in<LobLocator>(s, OCI_DTYPE_LOB, ora::invalid_lob_locator());
  lob.initialized = true;
  lob.is_clob = column.data_type == SQLT_CLOB;
  lob.charset_form = column.charset_form;
  lob.data = c.storage == SQLITE_TEXT || c.storage == SQLITE_BLOB ? std::string(c.bytes) : number_text(c);
  lob.polling = false;
  lob.length_prefetched = delivery.lob_prefetch_length;
  lob.value_prefetched = lob.data.size() <= delivery.lob_prefetch_size;
  return {std::size_t(s.size)};
}

}  // namespace

bool definable(ub2 dty) {
  for (ub2 t : {SQLT_CHR, SQLT_STR, SQLT_AFC, SQLT_INT, SQLT_VNU, SQLT_FLT, SQLT_BDOUBLE, SQLT_BIN, SQLT_DAT,
                SQLT_TIMESTAMP, SQLT_TIMESTAMP_TZ, SQLT_TIMESTAMP_LTZ, SQLT_CLOB, SQLT_BLOB})
    if (dty == t) return true;
  return false;
}

Written write_value(sqlite3_stmt* cursor, int i, const ColumnInfo& column, ub2 dty, const Slot& slot,
                    const TextDelivery& delivery) {
  Cell c = read_cell(cursor, i);
  switch (dty) {
    case SQLT_INT: require(column, dty, {SQLT_NUM, SQLT_CHR, SQLT_AFC}); return write_integer(slot, integer_of(c));
    case SQLT_VNU: {
      require(column, dty, {SQLT_NUM, SQLT_CHR, SQLT_AFC});
      if (slot.size < 22) throw ora::unreasonable_conversion();
      return copy_bytes(slot, oracle_number_of(c), std::size_t(slot.size));
    }
    case SQLT_FLT:
    case SQLT_BDOUBLE: require(column, dty, {SQLT_NUM, SQLT_CHR, SQLT_AFC}); return write_float(slot, number_of(c));
    case SQLT_BIN:
      require(column, dty, {SQLT_BIN, SQLT_BLOB});
      return copy_bytes(slot, c.bytes, std::size_t(slot.size));
    case SQLT_DAT: require(column, dty, {SQLT_DAT, SQLT_TIMESTAMP}); return write_oracle_date(slot, time_of(c, column));
    case SQLT_TIMESTAMP:
    case SQLT_TIMESTAMP_TZ:
    case SQLT_TIMESTAMP_LTZ:
      require(column, dty, {SQLT_DAT, SQLT_TIMESTAMP, SQLT_TIMESTAMP_TZ, SQLT_TIMESTAMP_LTZ});
      return write_timestamp(slot, zoned_time_of(c, column), dty);
    case SQLT_CLOB:
    case SQLT_BLOB: require(column, dty, {dty}); return write_lob(slot, c, column, delivery);
    default:
      return write_text(slot, dty,
                        delivered_text(text_of(c, column, dty), delivery.charset, column.charset_form == SQLCS_NCHAR,
                                       delivery.asked_as_nchar));
  }
}

}  // namespace tremora::oci_standin
