// The Oracle client library, loaded at run time so that tremora builds and
// runs where it is not installed. "Thick mode" is the loaded library with a
// client environment created once per process.
#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "tremora/db.hpp"
#include "tremora/errors.hpp"

namespace tremora::db::oracle {
namespace {

// From Oracle's OCI documentation: OCIEnvNlsCreate and its constants.
using OCIEnvNlsCreateFn = int (*)(void** envp, unsigned mode, void* ctxp, void* (*malocfp)(void*, std::size_t),
                                  void* (*ralocfp)(void*, void*, std::size_t), void (*mfreefp)(void*, void*),
                                  std::size_t xtramem_sz, void** usrmempp, unsigned short charset,
                                  unsigned short ncharset);
constexpr unsigned kOciThreaded = 0x1;
constexpr unsigned kOciObject = 0x2;
constexpr unsigned short kAl32Utf8 = 873;
constexpr const char* kLibrary = "libclntsh.so";

std::mutex g_mutex;
std::atomic<bool> g_ready{false};
void* g_library = nullptr;
void* g_environment = nullptr;

}  // namespace

void init_client(const std::string& lib_dir, const std::string& config_dir) {
  if (g_ready) return;
  std::lock_guard lock(g_mutex);
  if (g_ready) return;
  std::string path = lib_dir.empty() ? std::string(kLibrary) : lib_dir + "/" + kLibrary;
  std::string searched = lib_dir.empty() ? "the system library path" : "'" + lib_dir + "'";
  dlerror();
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (!library) {
    const char* why = dlerror();
    throw ImportError(std::string("cannot load the Oracle client library ") + kLibrary + " (searched " + searched +
                      "): " + (why ? why : "unknown error"));
  }
  auto create = reinterpret_cast<OCIEnvNlsCreateFn>(dlsym(library, "OCIEnvNlsCreate"));
  if (!create) {
    dlclose(library);
    throw ImportError(std::string("the Oracle client library in ") + searched + " has no OCIEnvNlsCreate");
  }
  if (!config_dir.empty()) setenv("TNS_ADMIN", config_dir.c_str(), 1);
  void* environment = nullptr;
  int status = create(&environment, kOciThreaded | kOciObject, nullptr, nullptr, nullptr, nullptr, 0, nullptr,
                      kAl32Utf8, kAl32Utf8);
  if (status != 0 || !environment) {
    dlclose(library);
    throw DatabaseError("the Oracle client environment could not be created (OCI status " + std::to_string(status) +
                        ")");
  }
  g_library = library;
  g_environment = environment;
  g_ready = true;
}

bool client_ready() { return g_ready; }

}  // namespace tremora::db::oracle
