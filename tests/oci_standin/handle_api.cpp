// Creating and freeing environments, handles and descriptors.
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "handles.hpp"
#include "oci_api.hpp"
#include "ora_errors.hpp"

namespace tremora::oci_standin {
namespace {

std::atomic<long> g_environments_created{0};

// Registers `h`, with `xtramem_sz` bytes of user memory when asked for.
void* hand_out(std::unique_ptr<Handle> h, std::size_t xtramem_sz, void** usrmempp) {
  if (xtramem_sz > 0 && usrmempp) {
    h->user_memory.resize(xtramem_sz);
    *usrmempp = h->user_memory.data();
  }
  return adopt(std::move(h));
}

// Whether NLS_LANG, when set, is LANGUAGE_TERRITORY.CHARSET (each part
// optional) with parts the client knows, as the client checks it when an
// environment is created.
bool nls_lang_is_valid() {
  const char* value = std::getenv("NLS_LANG");
  if (!value || !*value) return true;
  std::string_view text = value;
  std::size_t dot = text.find('.');
  std::string_view language_territory = text.substr(0, dot);
  std::string_view charset = dot == std::string_view::npos ? "" : text.substr(dot + 1);
  std::string_view language = language_territory.substr(0, language_territory.find('_'));
  auto one_of = [](std::string_view word, std::initializer_list<std::string_view> known) {
    for (std::string_view k : known)
      if (word == k) return true;
    return false;
  };
  return one_of(language, {"", "AMERICAN", "ENGLISH", "SIMPLIFIED CHINESE"}) &&
         one_of(charset, {"", "AL32UTF8", "UTF8", "ZHS16GBK", "US7ASCII", "WE8ISO8859P1"});
}

std::unique_ptr<Handle> new_handle(ub4 type, Environment* env) {
  switch (type) {
    case OCI_HTYPE_ERROR: return std::make_unique<ErrorHandle>(env);
    case OCI_HTYPE_SVCCTX: return std::make_unique<ServiceContext>(env);
    case OCI_HTYPE_STMT: return std::make_unique<Statement>(env);
    case OCI_HTYPE_SERVER: return std::make_unique<Server>(env);
    case OCI_HTYPE_SESSION: return std::make_unique<Session>(env);
    default: return nullptr;
  }
}

std::unique_ptr<Handle> new_descriptor(ub4 type, Environment* env) {
  switch (type) {
    case OCI_DTYPE_LOB: return std::make_unique<LobLocator>(env);
    case OCI_DTYPE_TIMESTAMP:
    case OCI_DTYPE_TIMESTAMP_TZ:
    case OCI_DTYPE_TIMESTAMP_LTZ: return std::make_unique<DateTime>(env, type);
    default: return nullptr;  // parameter descriptors come from OCIParamGet
  }
}

// Allocates a handle or descriptor of `type` (made by `make`) under the
// environment `parenth`.
sword allocate(const void* parenth, void** out, ub4 type, std::size_t xtramem_sz, void** usrmempp,
               std::unique_ptr<Handle> (*make)(ub4, Environment*)) {
  auto* env = find_as<Environment>(parenth, OCI_HTYPE_ENV);
  auto h = env ? make(type, env) : nullptr;
  if (!h || !out) return OCI_INVALID_HANDLE;
  std::lock_guard lock(env->mutex);
  *out = hand_out(std::move(h), xtramem_sz, usrmempp);
  return OCI_SUCCESS;
}

// Frees a handle or descriptor of the given type; a bind or define freed
// on its own leaves its statement.
sword free_handle(void* address, ub4 type) {
  Handle* h = find(address, type);
  if (!h) return OCI_INVALID_HANDLE;
  if (type == OCI_HTYPE_ENV) {
    release(h);
    return OCI_SUCCESS;
  }
  std::lock_guard lock(h->env->mutex);
  if (type == OCI_HTYPE_BIND) static_cast<Bind*>(h)->owner->forget(h);
  if (type == OCI_HTYPE_DEFINE) static_cast<Define*>(h)->owner->forget(h);
  release(h);
  return OCI_SUCCESS;
}

}  // namespace
}  // namespace tremora::oci_standin

using namespace tremora::oci_standin;

sword OCIEnvNlsCreate(OCIEnv** envp, ub4 /*mode*/, void* /*ctxp*/, void* (* /*malocfp*/)(void*, size_t),
                      void* (* /*ralocfp*/)(void*, void*, size_t), void (* /*mfreefp*/)(void*, void*),
                      size_t xtramem_sz, void** usrmempp, ub2 charset, ub2 /*ncharset*/) {
  if (!envp) return OCI_INVALID_HANDLE;
  ++g_environments_created;
  auto env = std::make_unique<Environment>(charset);
  // A bad NLS_LANG fails the creation with a record on the environment,
  // which the caller reads with OCIErrorGet(OCI_HTYPE_ENV) and then frees.
  bool valid = nls_lang_is_valid();
  if (!valid) {
    const OraFailure failure = ora::bad_nls_environment();
    env->records = {{failure.code, failure.text}};
  }
  *envp = static_cast<OCIEnv*>(hand_out(std::move(env), xtramem_sz, usrmempp));
  return valid ? OCI_SUCCESS : OCI_ERROR;
}

sword OCIHandleAlloc(const void* parenth, void** hndlpp, const ub4 type, const size_t xtramem_sz, void** usrmempp) {
  return allocate(parenth, hndlpp, type, xtramem_sz, usrmempp, new_handle);
}

sword OCIHandleFree(void* hndlp, const ub4 type) {
  if (type >= OCI_DTYPE_LOB) return OCI_INVALID_HANDLE;  // descriptors go to OCIDescriptorFree
  return free_handle(hndlp, type);
}

sword OCIDescriptorAlloc(const void* parenth, void** descpp, const ub4 type, const size_t xtramem_sz, void** usrmempp) {
  return allocate(parenth, descpp, type, xtramem_sz, usrmempp, new_descriptor);
}

sword OCIDescriptorFree(void* descp, const ub4 type) {
  if (type != OCI_DTYPE_LOB && type != OCI_DTYPE_TIMESTAMP && type != OCI_DTYPE_TIMESTAMP_TZ &&
      type != OCI_DTYPE_TIMESTAMP_LTZ && type != OCI_DTYPE_PARAM)
    return OCI_INVALID_HANDLE;
  return free_handle(descp, type);
}

long tremora_standin_live_handles(void) { return live_handles(); }

long tremora_standin_environments_created(void) { return g_environments_created; }
