// OCIAttrSet and OCIAttrGet: the attributes a driver sets or reads, with
// the C types the OCI documentation gives them. Any other attribute is
// ORA-24315, as with the real client.
#include <cstring>

#include "oci_api.hpp"
#include "ora_errors.hpp"

namespace tremora::oci_standin {
namespace {

template <class T>
sword put(void* out, ub4* sizep, T v) {
  std::memcpy(out, &v, sizeof v);
  if (sizep) *sizep = sizeof v;
  return OCI_SUCCESS;
}

// A text attribute: a pointer to the text, and its length.
sword put_text(void* out, ub4* sizep, const std::string& text) {
  const OraText* p = reinterpret_cast<const OraText*>(text.c_str());
  std::memcpy(out, &p, sizeof p);
  if (sizep) *sizep = ub4(text.size());
  return OCI_SUCCESS;
}

template <class T>
void take(T& target, const void* in) {
  if (!in) throw ora::illegal_attribute();
  std::memcpy(&target, in, sizeof target);
}

sword get_statement(const Statement& st, ub4 attr, void* out, ub4* sizep) {
  switch (attr) {
    case OCI_ATTR_PREFETCH_ROWS: return put(out, sizep, st.prefetch_rows);
    case OCI_ATTR_PREFETCH_MEMORY: return put(out, sizep, st.prefetch_memory);
    case OCI_ATTR_PARAM_COUNT: return put(out, sizep, ub4(st.executed ? st.columns.size() : 0));
    case OCI_ATTR_ROWS_FETCHED: return put(out, sizep, st.rows_fetched);
    case OCI_ATTR_ROW_COUNT: return put(out, sizep, st.row_count);
    case OCI_ATTR_STMT_TYPE: return put(out, sizep, st.statement_type);
    default: throw ora::illegal_attribute();
  }
}

sword get_param(const ColumnInfo& c, ub4 attr, void* out, ub4* sizep) {
  switch (attr) {
    case OCI_ATTR_DATA_TYPE: return put(out, sizep, c.data_type);
    case OCI_ATTR_DATA_SIZE: return put(out, sizep, c.data_size);
    case OCI_ATTR_NAME: return put_text(out, sizep, c.name);
    case OCI_ATTR_PRECISION: return put(out, sizep, c.precision);  // sb2 in a select-list describe
    case OCI_ATTR_SCALE: return put(out, sizep, c.scale);
    case OCI_ATTR_CHARSET_FORM: return put(out, sizep, c.charset_form);
    case OCI_ATTR_CHAR_SIZE: return put(out, sizep, c.char_size);
    case OCI_ATTR_IS_NULL: return put(out, sizep, c.nullable);
    default: throw ora::illegal_attribute();
  }
}

sword get_attribute(const Handle& h, ub4 attr, void* out, ub4* sizep) {
  if (!out) throw ora::illegal_attribute();
  if (h.type == OCI_HTYPE_STMT) return get_statement(static_cast<const Statement&>(h), attr, out, sizep);
  if (h.type == OCI_DTYPE_PARAM) return get_param(static_cast<const Param&>(h).column, attr, out, sizep);
  if (h.type == OCI_HTYPE_SVCCTX && attr == OCI_ATTR_SERVER)
    return put(out, sizep, static_cast<const ServiceContext&>(h).server);
  if (h.type == OCI_HTYPE_SVCCTX && attr == OCI_ATTR_SESSION)
    return put(out, sizep, static_cast<const ServiceContext&>(h).session);
  if (h.type == OCI_HTYPE_SERVER && attr == OCI_ATTR_SERVER_STATUS) {
    const auto& server = static_cast<const Server&>(h);
    return put(out, sizep, server.db && !server.dead ? OCI_SERVER_NORMAL : OCI_SERVER_NOT_CONNECTED);
  }
  if (h.type == OCI_HTYPE_SESSION && attr == OCI_ATTR_USERNAME)  // the password is write-only
    return put_text(out, sizep, static_cast<const Session&>(h).username);
  if (h.type == OCI_HTYPE_SESSION && attr == OCI_ATTR_DEFAULT_LOBPREFETCH_SIZE)
    return put(out, sizep, static_cast<const Session&>(h).default_lob_prefetch);
  if (h.type == OCI_HTYPE_DEFINE && attr == OCI_ATTR_LOBPREFETCH_SIZE)
    return put(out, sizep, static_cast<const Define&>(h).lob_prefetch_size);
  if (h.type == OCI_HTYPE_DEFINE && attr == OCI_ATTR_LOBPREFETCH_LENGTH)
    return put(out, sizep, static_cast<const Define&>(h).lob_prefetch_length);
  throw ora::illegal_attribute();
}

// The handle of type `type` an attribute value points at.
void* handle_value(void* in, ub4 type) {
  if (!find(in, type)) throw ora::illegal_attribute();
  return in;
}

void set_session(Session& s, ub4 attr, const void* in, ub4 size) {
  switch (attr) {
    case OCI_ATTR_USERNAME: s.username.assign(static_cast<const char*>(in), in ? size : 0); break;
    case OCI_ATTR_PASSWORD: s.password.assign(static_cast<const char*>(in), in ? size : 0); break;
    case OCI_ATTR_DEFAULT_LOBPREFETCH_SIZE: take(s.default_lob_prefetch, in); break;
    default: throw ora::illegal_attribute();
  }
}

void set_attribute(Handle& h, ub4 attr, void* in, ub4 size) {
  if (h.type == OCI_HTYPE_SESSION) return set_session(static_cast<Session&>(h), attr, in, size);
  if (h.type == OCI_HTYPE_SVCCTX && attr == OCI_ATTR_SERVER)
    return void(static_cast<ServiceContext&>(h).server = handle_value(in, OCI_HTYPE_SERVER));
  if (h.type == OCI_HTYPE_SVCCTX && attr == OCI_ATTR_SESSION)
    return void(static_cast<ServiceContext&>(h).session = handle_value(in, OCI_HTYPE_SESSION));
  if (h.type == OCI_HTYPE_STMT && attr == OCI_ATTR_PREFETCH_ROWS)
    return take(static_cast<Statement&>(h).prefetch_rows, in);
  if (h.type == OCI_HTYPE_STMT && attr == OCI_ATTR_PREFETCH_MEMORY)
    return take(static_cast<Statement&>(h).prefetch_memory, in);
  if (h.type == OCI_HTYPE_DEFINE && attr == OCI_ATTR_LOBPREFETCH_SIZE) {
    // The LOB guide has the size follow OCI_ATTR_LOBPREFETCH_LENGTH; a
    // client may ignore a size set before it, and this one does.
    auto& d = static_cast<Define&>(h);
    if (d.lob_prefetch_length) take(d.lob_prefetch_size, in);
    return;
  }
  if (h.type == OCI_HTYPE_DEFINE && attr == OCI_ATTR_LOBPREFETCH_LENGTH)
    return take(static_cast<Define&>(h).lob_prefetch_length, in);
  if (h.type == OCI_HTYPE_DEFINE && attr == OCI_ATTR_CHARSET_FORM)
    return take(static_cast<Define&>(h).charset_form, in);
  throw ora::illegal_attribute();
}

}  // namespace
}  // namespace tremora::oci_standin

using namespace tremora::oci_standin;

sword OCIAttrSet(void* trgthndlp, ub4 trghndltyp, void* attributep, ub4 size, ub4 attrtype, OCIError* errhp) {
  return run_call<Handle>(trgthndlp, trghndltyp, errhp, [&](Handle& h, ErrorHandle&) {
    set_attribute(h, attrtype, attributep, size);
    return OCI_SUCCESS;
  });
}

sword OCIAttrGet(const void* trgthndlp, ub4 trghndltyp, void* attributep, ub4* sizep, ub4 attrtype, OCIError* errhp) {
  return run_call<Handle>(trgthndlp, trghndltyp, errhp,
                          [&](Handle& h, ErrorHandle&) { return get_attribute(h, attrtype, attributep, sizep); });
}
