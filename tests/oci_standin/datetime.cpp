// The date and time parts of a TIMESTAMP descriptor.
#include "oci_api.hpp"
#include "ora_errors.hpp"

using namespace tremora::oci_standin;

namespace {

// The handle a datetime call names: an environment or a session.
bool valid_context(void* hndl) { return find(hndl, OCI_HTYPE_ENV) || find(hndl, OCI_HTYPE_SESSION); }

}  // namespace

sword OCIDateTimeGetDate(void* hndl, OCIError* err, const OCIDateTime* datetime, sb2* year, ub1* month, ub1* day) {
  if (!valid_context(hndl)) return OCI_INVALID_HANDLE;
  return run_call<DateTime>(datetime, OCI_DTYPE_TIMESTAMP, err, [&](DateTime& d, ErrorHandle&) {
    if (year) *year = d.year;
    if (month) *month = d.month;
    if (day) *day = d.day;
    return OCI_SUCCESS;
  });
}

sword OCIDateTimeGetTime(void* hndl, OCIError* err, OCIDateTime* datetime, ub1* hour, ub1* min, ub1* sec, ub4* fsec) {
  if (!valid_context(hndl)) return OCI_INVALID_HANDLE;
  return run_call<DateTime>(datetime, OCI_DTYPE_TIMESTAMP, err, [&](DateTime& d, ErrorHandle&) {
    if (hour) *hour = d.hour;
    if (min) *min = d.minute;
    if (sec) *sec = d.second;
    if (fsec) *fsec = d.nanosecond;  // fractional seconds in nanoseconds
    return OCI_SUCCESS;
  });
}
