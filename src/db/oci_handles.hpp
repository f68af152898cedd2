// The handles, descriptors and errors of the Oracle Call Interface, as the
// oracle driver's files share them: each handle freed when it goes, and a
// failed call turned into a DatabaseError with its ORA code and text.
#pragma once

#include <string>
#include <utility>

#include "oci_api.hpp"

namespace tremora::db::oracle {

/// The functions of the loaded client library.
const oci::Api& fns();

/// The first error record of a handle: its ORA code and text.
std::pair<int, std::string> error_record(void* handle, oci::ub4 type);

/// Throws a DatabaseError, with the error handle's ORA code and text, for a
/// call that did not succeed.
void check(oci::sword status, oci::OCIError* err, const std::string& what);

// A handle or descriptor of the client library, freed when it goes.
class Owned {
 public:
  Owned() = default;
  Owned(void* p, oci::ub4 type, bool descriptor) : p_(p), type_(type), descriptor_(descriptor) {}
  Owned(Owned&& o) noexcept : p_(std::exchange(o.p_, nullptr)), type_(o.type_), descriptor_(o.descriptor_) {}
  Owned& operator=(Owned&& o) noexcept {
    reset();
    p_ = std::exchange(o.p_, nullptr);
    type_ = o.type_;
    descriptor_ = o.descriptor_;
    return *this;
  }
  ~Owned() { reset(); }
  void reset();
  void* get() const { return p_; }

 private:
  void* p_ = nullptr;
  oci::ub4 type_ = 0;
  bool descriptor_ = false;
};

/// A new handle (or descriptor) of the environment.
Owned new_handle(oci::ub4 type);
Owned new_descriptor(oci::ub4 type);

/// An attribute of a handle; DatabaseError naming `what` when it cannot be read.
template <typename T>
T attribute(const void* handle, oci::ub4 handle_type, oci::ub4 attr, oci::OCIError* err, const std::string& what) {
  T value{};
  check(fns().attr_get(handle, handle_type, &value, nullptr, attr, err), err, what);
  return value;
}

}  // namespace tremora::db::oracle
