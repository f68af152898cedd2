// The loaded Oracle client library, for the oracle driver: the functions
// looked up in it and the process's client environment.
#pragma once

#include "oci_api.hpp"

namespace tremora::db::oracle {

/// The functions of the client library; init_client must have succeeded.
const oci::Api& api();
/// The client environment (AL32UTF8, threaded); init_client must have succeeded.
oci::OCIEnv* environment();

}  // namespace tremora::db::oracle
