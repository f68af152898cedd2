// The ORA errors the stand-in client reports, with the message texts of
// Oracle's error documentation (https://docs.oracle.com/en/error-help/db/),
// and the way a call turns them into error records.
#pragma once

#include <stdexcept>
#include <string>

#include "handles.hpp"

namespace tremora::oci_standin {

/// A failed call: the ORA code and the message after "ORA-NNNNN: ".
struct OraFailure {
  sb4 code;
  std::string text;
};

namespace ora {
inline OraFailure internal(const std::string& what) { return {600, "internal error code, arguments: [" + what + "]"}; }
inline OraFailure invalid_sql(const std::string& detail) { return {900, "invalid SQL statement: " + detail}; }
inline OraFailure invalid_identifier(const std::string& name) { return {904, "\"" + name + "\": invalid identifier"}; }
inline OraFailure inconsistent_types(const std::string& expected, const std::string& got) {
  return {932, "inconsistent datatypes: expected " + expected + " got " + got};
}
inline OraFailure no_table() { return {942, "table or view does not exist"}; }
inline OraFailure fetch_out_of_sequence() { return {1002, "fetch out of sequence"}; }
inline OraFailure not_in_select_list() { return {1007, "variable not in select list"}; }
inline OraFailure not_all_bound() { return {1008, "not all variables bound"}; }
inline OraFailure not_logged_on() { return {1012, "not logged on"}; }
inline OraFailure logon_denied() { return {1017, "invalid username/password; logon denied"}; }
inline OraFailure insufficient_privileges(const std::string& detail) {
  return {1031, "insufficient privileges: " + detail};
}
inline OraFailure not_available(const std::string& detail) { return {1034, "ORACLE not available: " + detail}; }
inline OraFailure illegal_variable() { return {1036, "illegal variable name/number"}; }
inline OraFailure column_null() { return {1405, "fetched column value is NULL"}; }
inline OraFailure integer_overflow() { return {1455, "converting column overflows integer datatype"}; }
inline OraFailure unreasonable_conversion() { return {1460, "unimplemented or unreasonable conversion requested"}; }
inline OraFailure invalid_number() { return {1722, "invalid number"}; }
inline OraFailure bad_date_literal() { return {1861, "literal does not match format string"}; }
inline OraFailure no_time_zone() { return {1891, "Datetime/Interval internal error"}; }
inline OraFailure end_of_file() { return {3113, "end-of-file on communication channel"}; }
inline OraFailure not_connected() { return {3114, "not connected to ORACLE"}; }
inline OraFailure cannot_resolve() { return {12154, "TNS:could not resolve the connect identifier specified"}; }
inline OraFailure unknown_service() {
  return {12514, "TNS:listener does not currently know of service requested in connect descriptor"};
}
inline OraFailure unknown_sid() {
  return {12505, "TNS:listener does not currently know of SID given in connect descriptor"};
}
inline OraFailure no_listener() { return {12541, "TNS:no listener"}; }
inline OraFailure bad_nls_environment() {
  return {12705, "Cannot access NLS data files or invalid environment specified"};
}
inline OraFailure buffer_below_amount() { return {22921, "length of input buffer is smaller than amount requested"}; }
inline OraFailure invalid_lob_locator() { return {22275, "invalid LOB locator specified"}; }
inline OraFailure already_connected() { return {24309, "already connected to a server"}; }
inline OraFailure illegal_attribute() { return {24315, "illegal attribute type"}; }
inline OraFailure no_descriptor() { return {24334, "no descriptor for this position"}; }
inline OraFailure execute_before_prepare2() { return {24437, "OCIStmtExecute called before OCIStmtPrepare2."}; }
inline OraFailure not_executed() { return {24338, "statement handle not executed"}; }
inline OraFailure truncated_or_null() { return {24345, "A Truncation or null fetch error occurred"}; }
inline OraFailure bad_statement_length() { return {24373, "invalid length specified for statement"}; }
inline OraFailure no_define() { return {24374, "define not done before fetch or execute and fetch"}; }
inline OraFailure invalid_fetch() { return {24391, "invalid fetch operation"}; }
inline OraFailure release_before_prepare2() { return {24434, "OCIStmtRelease called before OCIStmtPrepare2."}; }
inline OraFailure illegal_lob_parameter() { return {24801, "illegal parameter value in OCI lob function"}; }
}  // namespace ora

/// Replaces the records of `err` by one for `failure`.
void record(ErrorHandle& err, const OraFailure& failure);

/// "ORA-NNNNN: text".
std::string format_record(const ErrorRecord& r);

/// Runs the body of a call on `target` (a live handle of type `type`) that
/// reports to `errhp` (a live error handle), holding the environment's
/// lock: OCI_INVALID_HANDLE when either handle is not live, OCI_ERROR with
/// a record when the body throws an OraFailure, else the body's result.
template <class T, class Body>
sword run_call(const void* target, ub4 type, const void* errhp, Body&& body) {
  T* handle = find_as<T>(target, type);
  ErrorHandle* err = find_as<ErrorHandle>(errhp, OCI_HTYPE_ERROR);
  if (!handle || !err) return OCI_INVALID_HANDLE;
  std::lock_guard lock(handle->env->mutex);
  try {
    return body(*handle, *err);
  } catch (const OraFailure& f) {
    record(*err, f);
  } catch (const std::exception& e) {
    record(*err, ora::internal(e.what()));
  }
  return OCI_ERROR;
}

}  // namespace tremora::oci_standin
