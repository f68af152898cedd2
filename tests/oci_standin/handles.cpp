// The registry of live handles.
#include "handles.hpp"

#include <algorithm>
#include <unordered_map>

namespace tremora::oci_standin {
namespace {

struct Registry {
  std::mutex mutex;
  std::unordered_map<const void*, std::unique_ptr<Handle>> handles;
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: handles may outlive static destruction
  return *r;
}

// The handles freed with `h`: an environment takes everything allocated
// under it, other handles their children.
std::vector<Handle*> dependants(const Registry& r, Handle* h) {
  if (h->type != OCI_HTYPE_ENV) return h->children();
  std::vector<Handle*> out;
  for (const auto& [address, handle] : r.handles)
    if (handle->env == h && handle.get() != h) out.push_back(handle.get());
  return out;
}

}  // namespace

std::vector<Handle*> Statement::children() const {
  std::vector<Handle*> out(binds.begin(), binds.end());
  out.insert(out.end(), defines.begin(), defines.end());
  return out;
}

void Statement::forget(Handle* h) {
  std::erase(binds, h);
  std::erase(defines, h);
}

void* adopt(std::unique_ptr<Handle> handle) {
  Registry& r = registry();
  void* address = handle.get();
  std::lock_guard lock(r.mutex);
  r.handles.emplace(address, std::move(handle));
  return address;
}

Handle* find(const void* address, ub4 type) {
  if (!address) return nullptr;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.handles.find(address);
  return it != r.handles.end() && it->second->type == type ? it->second.get() : nullptr;
}

void release(Handle* handle) {
  Registry& r = registry();
  std::vector<std::unique_ptr<Handle>> doomed;  // deleted when the lock is let go
  {
    std::lock_guard lock(r.mutex);
    std::vector<Handle*> all = dependants(r, handle);
    all.push_back(handle);
    for (Handle* h : all) {
      auto it = r.handles.find(h);
      if (it == r.handles.end()) continue;
      doomed.push_back(std::move(it->second));
      r.handles.erase(it);
    }
  }
}

long live_handles() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return static_cast<long>(std::count_if(r.handles.begin(), r.handles.end(),
                                         [](const auto& entry) { return entry.second->type != OCI_HTYPE_ENV; }));
}

}  // namespace tremora::oci_standin
