// Describing a select list, and OCIParamGet.
#include "describe.hpp"

#include <cstdlib>
#include <vector>

#include "oci_api.hpp"
#include "ora_errors.hpp"
#include "tremora/text.hpp"

namespace tremora::oci_standin {
namespace {

constexpr ub2 kNumberSize = 22;  // bytes of Oracle's internal NUMBER
constexpr ub2 kLongestText = 4000;
constexpr sb1 kFloatScale = -127;  // scale of a NUMBER without scale, and of FLOAT
constexpr sb2 kFloatPrecision = 126;

// "NUMBER(10, 2)" as base "NUMBER" and arguments {10, 2}; "VARCHAR2(20 CHAR)"
// gives {20}.
struct DeclaredType {
  std::string base;
  std::vector<int> args;
};

DeclaredType split(const std::string& declared) {
  std::string d = to_upper_ascii(strip_whitespace(declared));
  std::size_t paren = d.find('(');
  DeclaredType t{std::string(strip_whitespace(std::string_view(d).substr(0, paren))), {}};
  for (std::size_t at = paren; at != std::string::npos && at + 1 < d.size(); at = d.find(',', at + 1))
    t.args.push_back(std::atoi(d.c_str() + at + 1));
  return t;
}

// A text column of `size` characters; national-character columns report
// their size in AL16UTF16 bytes, two a character, as a server does.
ColumnInfo text(ub2 type, int size, ub1 form) {
  ColumnInfo c;
  c.data_type = type;
  c.char_size = ub2(size);
  c.data_size = ub2(form == SQLCS_NCHAR ? 2 * size : size);
  c.charset_form = form;
  return c;
}

ColumnInfo number(sb2 precision, sb1 scale) {
  ColumnInfo c;
  c.data_type = SQLT_NUM;
  c.data_size = kNumberSize;
  c.precision = precision;
  c.scale = scale;
  return c;
}

ColumnInfo of_type(ub2 type, ub2 size, ub1 form = 0) {
  ColumnInfo c;
  c.data_type = type;
  c.data_size = size;
  c.charset_form = form;
  return c;
}

ColumnInfo declared_number(const std::vector<int>& args) {
  if (args.empty()) return number(0, kFloatScale);
  return number(sb2(args[0]), args.size() > 1 ? sb1(args[1]) : sb1(0));
}

ColumnInfo timestamp(const std::vector<int>& args) {
  ColumnInfo c = of_type(SQLT_TIMESTAMP, 11);
  c.scale = sb1(args.empty() ? 6 : args[0]);  // fractional seconds precision
  return c;
}

// Whether the column's table declares it NOT NULL (1: it may hold NULL).
ub1 nullable(sqlite3_stmt* cursor, int i) {
  const char* db = sqlite3_column_database_name(cursor, i);
  const char* table = sqlite3_column_table_name(cursor, i);
  const char* column = sqlite3_column_origin_name(cursor, i);
  int not_null = 0;
  if (db && table && column &&
      sqlite3_table_column_metadata(sqlite3_db_handle(cursor), db, table, column, nullptr, nullptr, &not_null, nullptr,
                                    nullptr) == SQLITE_OK)
    return not_null ? 0 : 1;
  return 1;
}

}  // namespace

// Types the system does not use, as a server describes them.
std::optional<ColumnInfo> describe_other(const std::string& declared_type) {
  std::string d = to_upper_ascii(strip_whitespace(declared_type));
  if (contains(d, "WITH LOCAL TIME ZONE")) return of_type(SQLT_TIMESTAMP_LTZ, 11);
  if (contains(d, "WITH TIME ZONE")) return of_type(SQLT_TIMESTAMP_TZ, 13);
  if (d.starts_with("INTERVAL DAY")) return of_type(SQLT_INTERVAL_DS, 11);
  if (d.starts_with("INTERVAL YEAR")) return of_type(SQLT_INTERVAL_YM, 5);
  if (d == "LONG") return of_type(SQLT_LNG, 0);
  if (d == "ROWID") return of_type(SQLT_RDD, 10);
  if (d.starts_with("UROWID")) return of_type(SQLT_UROWID, kLongestText);
  if (d == "SDO_GEOMETRY" || d == "XMLTYPE") return of_type(SQLT_NTY, 0);
  return std::nullopt;
}

std::optional<ColumnInfo> describe_declared(const std::string& declared_type) {
  if (auto other = describe_other(declared_type)) return other;
  DeclaredType t = split(declared_type);
  int size = t.args.empty() ? 0 : t.args[0];
  if (t.base == "VARCHAR2" || t.base == "VARCHAR") return text(SQLT_CHR, size ? size : kLongestText, SQLCS_IMPLICIT);
  if (t.base == "NVARCHAR2") return text(SQLT_CHR, size ? size : kLongestText, SQLCS_NCHAR);
  if (t.base == "CHAR") return text(SQLT_AFC, size ? size : 1, SQLCS_IMPLICIT);
  if (t.base == "NCHAR") return text(SQLT_AFC, size ? size : 1, SQLCS_NCHAR);
  if (t.base == "NUMBER") return declared_number(t.args);
  if (t.base == "INTEGER" || t.base == "INT") return number(38, 0);
  if (t.base == "REAL" || t.base == "FLOAT" || t.base == "DOUBLE" || t.base == "DOUBLE PRECISION")
    return number(kFloatPrecision, kFloatScale);
  if (t.base == "DATE") return of_type(SQLT_DAT, 7);
  if (t.base == "TIMESTAMP") return timestamp(t.args);
  if (t.base == "TEXT" || t.base == "CLOB") return of_type(SQLT_CLOB, kLongestText, SQLCS_IMPLICIT);
  if (t.base == "NCLOB") return of_type(SQLT_CLOB, kLongestText, SQLCS_NCHAR);
  if (t.base == "BLOB") return of_type(SQLT_BLOB, kLongestText);
  if (t.base == "RAW") return of_type(SQLT_BIN, ub2(size));
  return std::nullopt;
}

ColumnInfo describe_stored(int sqlite_storage_class) {
  switch (sqlite_storage_class) {
    case SQLITE_INTEGER: return number(0, kFloatScale);  // an expression such as COUNT(*): a plain NUMBER
    case SQLITE_FLOAT: return number(kFloatPrecision, kFloatScale);
    case SQLITE_BLOB: return of_type(SQLT_BLOB, kLongestText);
    default: return text(SQLT_CHR, kLongestText, SQLCS_IMPLICIT);  // text, or only NULLs
  }
}

std::vector<ColumnInfo> describe_query(sqlite3_stmt* cursor, bool on_row) {
  std::vector<ColumnInfo> columns;
  for (int i = 0; i < sqlite3_column_count(cursor); ++i) {
    const char* declared = sqlite3_column_decltype(cursor, i);
    std::optional<ColumnInfo> c = declared ? describe_declared(declared) : std::nullopt;
    if (!c) c = describe_stored(on_row ? sqlite3_column_type(cursor, i) : SQLITE_NULL);
    c->name = sqlite3_column_name(cursor, i);
    c->nullable = nullable(cursor, i);
    columns.push_back(*c);
  }
  return columns;
}

std::string type_name(const ColumnInfo& column) {
  switch (column.data_type) {
    case SQLT_NUM: return "NUMBER";
    case SQLT_DAT: return "DATE";
    case SQLT_TIMESTAMP: return "TIMESTAMP";
    case SQLT_TIMESTAMP_TZ: return "TIMESTAMP WITH TIME ZONE";
    case SQLT_TIMESTAMP_LTZ: return "TIMESTAMP WITH LOCAL TIME ZONE";
    case SQLT_INTERVAL_DS: return "INTERVAL DAY TO SECOND";
    case SQLT_INTERVAL_YM: return "INTERVAL YEAR TO MONTH";
    case SQLT_LNG: return "LONG";
    case SQLT_RDD: return "ROWID";
    case SQLT_UROWID: return "UROWID";
    case SQLT_NTY: return "OBJECT";
    case SQLT_CLOB: return column.charset_form == SQLCS_NCHAR ? "NCLOB" : "CLOB";
    case SQLT_BLOB: return "BLOB";
    case SQLT_BIN: return "BINARY";
    default: return "CHAR";
  }
}

}  // namespace tremora::oci_standin

using namespace tremora::oci_standin;

sword OCIParamGet(const void* hndlp, ub4 htype, OCIError* errhp, void** parmdpp, ub4 pos) {
  if (htype != OCI_HTYPE_STMT || !parmdpp) return OCI_INVALID_HANDLE;
  return run_call<Statement>(hndlp, htype, errhp, [&](Statement& st, ErrorHandle&) {
    if (!st.executed) throw ora::not_executed();
    if (pos < 1 || pos > st.columns.size()) throw ora::no_descriptor();
    *parmdpp = adopt(std::make_unique<Param>(st.env, st.columns[pos - 1]));
    return OCI_SUCCESS;
  });
}
