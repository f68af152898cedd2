// Error records and OCIErrorGet.
#include "ora_errors.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "oci_api.hpp"

namespace tremora::oci_standin {

void record(ErrorHandle& err, const OraFailure& failure) { err.records = {{failure.code, failure.text}}; }

std::string format_record(const ErrorRecord& r) {
  char code[16];
  std::snprintf(code, sizeof code, "ORA-%05d: ", static_cast<int>(r.code));
  return code + r.text;
}

namespace {

// The records of an error handle or an environment.
std::vector<ErrorRecord>* records_of(void* hndlp, ub4 type) {
  if (type == OCI_HTYPE_ERROR)
    if (auto* err = find_as<ErrorHandle>(hndlp, type)) return &err->records;
  if (type == OCI_HTYPE_ENV)
    if (auto* env = find_as<Environment>(hndlp, type)) return &env->records;
  return nullptr;
}

}  // namespace

}  // namespace tremora::oci_standin

using namespace tremora::oci_standin;

sword OCIErrorGet(void* hndlp, ub4 recordno, OraText* /*sqlstate*/, sb4* errcodep, OraText* bufp, ub4 bufsiz,
                  ub4 type) {
  const std::vector<ErrorRecord>* records = records_of(hndlp, type);
  if (!records) return OCI_INVALID_HANDLE;
  std::lock_guard lock(static_cast<Handle*>(hndlp)->env->mutex);
  if (recordno < 1 || recordno > records->size()) return OCI_NO_DATA;
  const ErrorRecord& r = (*records)[recordno - 1];
  if (errcodep) *errcodep = r.code;
  if (bufp && bufsiz > 0) {
    std::string text = format_record(r);
    std::size_t n = std::min<std::size_t>(text.size(), bufsiz - 1);
    std::memcpy(bufp, text.data(), n);
    bufp[n] = '\0';
  }
  return OCI_SUCCESS;
}
