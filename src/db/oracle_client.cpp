// The Oracle client library, loaded at run time so that tremora builds and
// runs where it is not installed. "Thick mode" is the loaded library with a
// client environment created once per process.
#include "oracle_client.hpp"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "tremora/db.hpp"
#include "tremora/errors.hpp"
#include "tremora/text.hpp"

namespace tremora::db::oracle {
namespace {

constexpr const char* kLibrary = "libclntsh.so";
// The names tried in turn: the link Instant Client's folder holds, then
// the versioned files it links to, so that a folder copied without its
// links still loads (the order ODPI-C uses, newest releases first).
constexpr const char* kLibraryNames[] = {kLibrary,
                                         "libclntsh.so.23.1",
                                         "libclntsh.so.21.1",
                                         "libclntsh.so.19.1",
                                         "libclntsh.so.18.1",
                                         "libclntsh.so.12.1",
                                         "libclntsh.so.11.1"};
constexpr const char* kInstallHint =
    "; install Oracle Instant Client (Basic or Basic Light, 19c or later, from oracle.com) and set "
    "ORACLE_CLIENT_LIB_DIR in the database's section of default.conf to its folder, or add that folder to "
    "LD_LIBRARY_PATH";

std::mutex g_mutex;
std::atomic<bool> g_ready{false};
void* g_library = nullptr;
oci::Api g_api;
oci::OCIEnv* g_environment = nullptr;
ClientInfo g_info;

// Looks up one function; ImportError naming it when the library lacks it.
template <typename Fn>
void look_up(void* library, const char* name, Fn& fn, const std::string& searched) {
  fn = reinterpret_cast<Fn>(dlsym(library, name));
  if (!fn)
    throw ImportError(std::string("the Oracle client library in ") + searched + " has no " + name +
                      " (it is older than the driver needs)" + kInstallHint);
}

oci::Api look_up_all(void* library, const std::string& searched) {
  oci::Api a;
  look_up(library, "OCIEnvNlsCreate", a.env_nls_create, searched);
  look_up(library, "OCIHandleAlloc", a.handle_alloc, searched);
  look_up(library, "OCIHandleFree", a.handle_free, searched);
  look_up(library, "OCIDescriptorAlloc", a.descriptor_alloc, searched);
  look_up(library, "OCIDescriptorFree", a.descriptor_free, searched);
  look_up(library, "OCIAttrGet", a.attr_get, searched);
  look_up(library, "OCIAttrSet", a.attr_set, searched);
  look_up(library, "OCIErrorGet", a.error_get, searched);
  look_up(library, "OCIServerAttach", a.server_attach, searched);
  look_up(library, "OCIServerDetach", a.server_detach, searched);
  look_up(library, "OCISessionBegin", a.session_begin, searched);
  look_up(library, "OCISessionEnd", a.session_end, searched);
  look_up(library, "OCIStmtPrepare2", a.stmt_prepare2, searched);
  look_up(library, "OCIStmtRelease", a.stmt_release, searched);
  look_up(library, "OCIBindByName2", a.bind_by_name2, searched);
  look_up(library, "OCIStmtExecute", a.stmt_execute, searched);
  look_up(library, "OCIParamGet", a.param_get, searched);
  look_up(library, "OCIDefineByPos2", a.define_by_pos2, searched);
  look_up(library, "OCIStmtFetch2", a.stmt_fetch2, searched);
  look_up(library, "OCILobGetLength2", a.lob_get_length2, searched);
  look_up(library, "OCILobRead2", a.lob_read2, searched);
  look_up(library, "OCIDateTimeGetDate", a.date_time_get_date, searched);
  look_up(library, "OCIDateTimeGetTime", a.date_time_get_time, searched);
  look_up(library, "OCIDateTimeGetTimeZoneOffset", a.date_time_get_time_zone_offset, searched);
  look_up(library, "OCIClientVersion", a.client_version, searched);
  look_up(library, "OCIServerRelease", a.server_release, searched);
  return a;
}

// The file the library was loaded from and the client's version.
ClientInfo describe(const oci::Api& a) {
  ClientInfo info;
  Dl_info where{};
  if (dladdr(reinterpret_cast<void*>(a.env_nls_create), &where) && where.dli_fname) info.library = where.dli_fname;
  oci::sword major = 0, minor = 0, update = 0, patch = 0, port = 0;
  a.client_version(&major, &minor, &update, &patch, &port);
  info.version = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(update) + "." +
                 std::to_string(patch) + "." + std::to_string(port);
  return info;
}

}  // namespace

namespace {

// Loads the first of kLibraryNames found in `lib_dir` (or the system's
// path); ImportError with the first name's failure when none loads.
void* load_library(const std::string& lib_dir, const std::string& searched) {
  std::string first_failure;
  for (const char* name : kLibraryNames) {
    std::string path = lib_dir.empty() ? std::string(name) : lib_dir + "/" + name;
    dlerror();
    if (void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL)) return library;
    const char* why = dlerror();
    if (first_failure.empty()) first_failure = why ? why : "unknown error";
  }
  throw ImportError(std::string("cannot load the Oracle client library ") + kLibrary + " (searched " + searched +
                    "): " + first_failure + kInstallHint);
}

// The client environment, in UTF-8. A creation that succeeds with
// information counts; a failure carries the environment's own error record
// (a bad NLS_LANG gives ORA-12705) when the client made one.
oci::OCIEnv* create_environment(const oci::Api& api) {
  oci::OCIEnv* env = nullptr;
  oci::sword status = api.env_nls_create(&env, oci::kThreaded | oci::kObject, nullptr, nullptr, nullptr, nullptr, 0,
                                         nullptr, oci::kAl32Utf8, oci::kAl32Utf8);
  if (env && (status == oci::kSuccess || status == oci::kSuccessWithInfo)) return env;
  std::string text = "OCI status " + std::to_string(status);
  oci::sb4 code = 0;
  if (env) {
    oci::OraText message[3072] = {0};
    if (api.error_get(env, 1, nullptr, &code, message, sizeof message, oci::kHtypeEnv) == oci::kSuccess && message[0])
      text = std::string(strip_whitespace(reinterpret_cast<const char*>(message)));
    api.handle_free(env, oci::kHtypeEnv);
  }
  throw DatabaseError("the Oracle client environment could not be created: " + text, code);
}

}  // namespace

void init_client(const std::string& lib_dir, const std::string& config_dir) {
  if (g_ready) return;
  std::lock_guard lock(g_mutex);
  if (g_ready) return;
  std::string searched = lib_dir.empty() ? "the system library path" : "'" + lib_dir + "'";
  void* library = load_library(lib_dir, searched);
  oci::Api api;
  try {
    api = look_up_all(library, searched);
  } catch (...) {
    dlclose(library);
    throw;
  }
  if (!config_dir.empty()) setenv("TNS_ADMIN", config_dir.c_str(), 1);
  // A loaded client is never unloaded, also when its environment cannot be
  // made: the library may have started threads or set handlers by then.
  g_environment = create_environment(api);
  g_library = library;
  g_api = api;
  g_info = describe(api);
  g_ready = true;
}

bool client_ready() { return g_ready; }

ClientInfo client_info() { return g_ready ? g_info : ClientInfo{}; }

const oci::Api& api() { return g_api; }

oci::OCIEnv* environment() { return g_environment; }

}  // namespace tremora::db::oracle
