// The date and time parts of a TIMESTAMP descriptor.
#include "oci_api.hpp"
#include "ora_errors.hpp"

using namespace tremora::oci_standin;

namespace {

// The handle a datetime call names: an environment or a session.
bool valid_context(void* hndl) { return find(hndl, OCI_HTYPE_ENV) || find(hndl, OCI_HTYPE_SESSION); }

// The descriptor type of a datetime: TIMESTAMP, or WITH (LOCAL) TIME ZONE.
ub4 datetime_type(const void* datetime) {
  for (ub4 type : {OCI_DTYPE_TIMESTAMP_TZ, OCI_DTYPE_TIMESTAMP_LTZ})
    if (find(const_cast<void*>(datetime), type)) return type;
  return OCI_DTYPE_TIMESTAMP;
}

}  // namespace

sword OCIDateTimeGetDate(void* hndl, OCIError* err, const OCIDateTime* datetime, sb2* year, ub1* month, ub1* day) {
  if (!valid_context(hndl)) return OCI_INVALID_HANDLE;
  return run_call<DateTime>(datetime, datetime_type(datetime), err, [&](DateTime& d, ErrorHandle&) {
    if (year) *year = d.year;
    if (month) *month = d.month;
    if (day) *day = d.day;
    return OCI_SUCCESS;
  });
}

sword OCIDateTimeGetTime(void* hndl, OCIError* err, OCIDateTime* datetime, ub1* hour, ub1* min, ub1* sec, ub4* fsec) {
  if (!valid_context(hndl)) return OCI_INVALID_HANDLE;
  return run_call<DateTime>(datetime, datetime_type(datetime), err, [&](DateTime& d, ErrorHandle&) {
    if (hour) *hour = d.hour;
    if (min) *min = d.minute;
    if (sec) *sec = d.second;
    if (fsec) *fsec = d.nanosecond;  // fractional seconds in nanoseconds
    return OCI_SUCCESS;
  });
}

sword OCIDateTimeGetTimeZoneOffset(void* hndl, OCIError* err, const OCIDateTime* datetime, sb1* hour, sb1* min) {
  if (!valid_context(hndl)) return OCI_INVALID_HANDLE;
  return run_call<DateTime>(datetime, datetime_type(datetime), err, [&](DateTime& d, ErrorHandle&) {
    // A plain TIMESTAMP has no zone: ORA-01891, as the server says.
    if (d.type == OCI_DTYPE_TIMESTAMP) throw ora::no_time_zone();
    if (hour) *hour = sb1(d.offset_minutes / 60);
    if (min) *min = sb1(d.offset_minutes % 60);
    return OCI_SUCCESS;
  });
}
