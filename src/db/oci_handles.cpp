#include "oci_handles.hpp"

#include "oracle_client.hpp"
#include "tremora/errors.hpp"

namespace tremora::db::oracle {

using namespace oci;

const Api& fns() { return api(); }

std::pair<int, std::string> error_record(void* handle, ub4 type) {
  OraText text[3072] = {0};
  sb4 code = 0;
  if (fns().error_get(handle, 1, nullptr, &code, text, sizeof text, type) != kSuccess) return {0, ""};
  std::string message(reinterpret_cast<const char*>(text));
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  return {code, message};
}

void check(sword status, OCIError* err, const std::string& what) {
  if (status == kSuccess || status == kSuccessWithInfo) return;
  if (status == kInvalidHandle) throw DatabaseError(what + ": the Oracle client reported an invalid handle");
  auto [code, text] = error_record(err, kHtypeError);
  if (text.empty()) text = "OCI status " + std::to_string(status);
  throw DatabaseError(what + ": " + text, code);
}

void Owned::reset() {
  if (!p_) return;
  if (descriptor_) fns().descriptor_free(p_, type_);
  else fns().handle_free(p_, type_);
  p_ = nullptr;
}

namespace {

Owned allocate(ub4 type, bool descriptor) {
  void* p = nullptr;
  sword status = descriptor ? fns().descriptor_alloc(oracle::environment(), &p, type, 0, nullptr)
                            : fns().handle_alloc(oracle::environment(), &p, type, 0, nullptr);
  if (status != kSuccess || !p)
    throw DatabaseError(std::string("the Oracle client could not allocate a ") +
                        (descriptor ? "descriptor" : "handle") + " (type " + std::to_string(type) + ")");
  return Owned(p, type, descriptor);
}

}  // namespace

Owned new_handle(ub4 type) { return allocate(type, false); }
Owned new_descriptor(ub4 type) { return allocate(type, true); }

}  // namespace tremora::db::oracle
