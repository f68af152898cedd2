// The state of a connection as the other calls need it.
#pragma once

#include "handles.hpp"

namespace tremora::oci_standin {

/// The attached server of a service context, still reachable; an
/// OraFailure ORA-03114 otherwise.
Server& live_server(const ServiceContext& svc);

/// The same for a service context with a begun session (ORA-01012 when
/// the session is missing or ended).
Server& logged_on_server(const ServiceContext& svc);

}  // namespace tremora::oci_standin
