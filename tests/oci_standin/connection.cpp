// Attaching to a "server" (a SQLite file named by the connect string),
// logging on, pinging and the version calls.
//
// TREMORA_OCI_STANDIN_DATABASES maps connect strings to SQLite files:
// "host:port/service=/path/file.db;host2:port:SID=/other.db". A listener
// knows an instance by service name ("host:port/name") or by SID
// ("host:port:name"), and a connect string names one or the other: the
// easy-connect form "//host:port/name" a service, a descriptor
// "(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=h)(PORT=p))(CONNECT_DATA=
// (SID=name)))" a SID (or, with SERVICE_NAME=, a service).
// TREMORA_OCI_STANDIN_LOGIN="user/password", when set, is the only
// account that may log on.
#include "connection.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "oci_api.hpp"
#include "ora_errors.hpp"
#include "sqlite_qzdata.hpp"
#include "tremora/errors.hpp"
#include "tremora/text.hpp"

namespace tremora::oci_standin {
namespace {

constexpr const char* kServerRelease = "Oracle Database 19c Stand-in Release 19.0.0.0.0";
constexpr ub4 kServerReleaseNumber = 19u << 24;  // 19.0.0.0.0 (feature release in bits 24-31)

/// "host:port" and the service name or SID of a connect string, in lower
/// case (all are case-insensitive in Oracle Net).
struct Address {
  std::string host_port;
  std::string name;
  bool is_sid = false;
};

std::string with_port(std::string host_port) {
  if (host_port.find(':') == std::string::npos) host_port += ":1521";
  return host_port;
}

// "//host:port/service", "host:port/service" or "host/service" (port 1521).
std::optional<Address> parse_easy_connect(std::string_view text) {
  if (text.starts_with("//")) text.remove_prefix(2);
  std::size_t slash = text.find('/');
  if (slash == std::string_view::npos || slash == 0 || slash + 1 == text.size()) return std::nullopt;
  return Address{with_port(to_lower_ascii(text.substr(0, slash))), to_lower_ascii(text.substr(slash + 1)), false};
}

// The value of "(KEY=value)" in a descriptor, the key in any case.
std::string descriptor_value(std::string_view descriptor, std::string_view key) {
  std::string upper = to_upper_ascii(descriptor);
  std::string pattern = "(";
  pattern.append(key).append("=");
  std::size_t at = upper.find(pattern);
  if (at == std::string::npos) return "";
  std::size_t begin = at + key.size() + 2, end = upper.find(')', begin);
  return to_lower_ascii(strip_whitespace(descriptor.substr(begin, end - begin)));
}

std::optional<Address> parse_descriptor(std::string_view text) {
  std::string host = descriptor_value(text, "HOST"), port = descriptor_value(text, "PORT");
  std::string sid = descriptor_value(text, "SID"), service = descriptor_value(text, "SERVICE_NAME");
  if (host.empty() || (sid.empty() == service.empty())) return std::nullopt;
  return Address{host + ":" + (port.empty() ? "1521" : port), sid.empty() ? service : sid, !sid.empty()};
}

std::optional<Address> parse_connect_string(std::string_view text) {
  text = strip_whitespace(text);
  return text.starts_with("(") ? parse_descriptor(text) : parse_easy_connect(text);
}

// A key of the database map: "host:port/service" or "host:port:SID".
std::optional<Address> parse_map_key(std::string_view key) {
  key = strip_whitespace(key);
  if (key.find('/') != std::string_view::npos) return parse_easy_connect(key);
  std::size_t last = key.rfind(':');
  if (last == std::string_view::npos || key.find(':') == last) return std::nullopt;
  return Address{to_lower_ascii(key.substr(0, last)), to_lower_ascii(key.substr(last + 1)), true};
}

// The SQLite file of an address, from TREMORA_OCI_STANDIN_DATABASES.
std::string database_file(const Address& wanted) {
  const char* map = std::getenv("TREMORA_OCI_STANDIN_DATABASES");
  bool listener_found = false;
  std::string_view rest = map ? map : "";
  while (!rest.empty()) {
    std::size_t end = rest.find(';');
    std::string_view entry = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos) continue;
    auto key = parse_map_key(entry.substr(0, eq));
    if (!key || key->host_port != wanted.host_port) continue;
    listener_found = true;
    if (key->is_sid == wanted.is_sid && key->name == wanted.name)
      return std::string(strip_whitespace(entry.substr(eq + 1)));
  }
  if (!listener_found) throw ora::no_listener();
  throw wanted.is_sid ? ora::unknown_sid() : ora::unknown_service();
}

void check_credentials(const Session& session) {
  const char* login = std::getenv("TREMORA_OCI_STANDIN_LOGIN");
  if (!login) return;
  std::string_view expected = login;
  std::size_t slash = expected.find('/');
  std::string_view user = expected.substr(0, slash);
  std::string_view password = slash == std::string_view::npos ? "" : expected.substr(slash + 1);
  // User names are case-insensitive, passwords are not.
  if (to_upper_ascii(session.username) != to_upper_ascii(user) || session.password != password)
    throw ora::logon_denied();
}

void attach(Server& server, std::string_view connect_string) {
  if (server.db) throw ora::already_connected();
  auto address = parse_connect_string(connect_string);
  if (!address) throw ora::cannot_resolve();
  std::string file = database_file(*address);
  try {
    server.db = db::sqlite_qzdata::open(file);
  } catch (const DatabaseError& e) {
    throw ora::not_available(e.what());
  }
  server.address = std::string(connect_string);
  server.file = file;
  server.dead = false;
}

}  // namespace

Server& live_server(const ServiceContext& svc) {
  auto* server = find_as<Server>(svc.server, OCI_HTYPE_SERVER);
  if (!server || !server->db || server->dead) throw ora::not_connected();
  return *server;
}

Server& logged_on_server(const ServiceContext& svc) {
  Server& server = live_server(svc);
  auto* session = find_as<Session>(svc.session, OCI_HTYPE_SESSION);
  if (!session || !session->begun) throw ora::not_logged_on();
  return server;
}

}  // namespace tremora::oci_standin

using namespace tremora::oci_standin;

sword OCIServerAttach(OCIServer* srvhp, OCIError* errhp, const OraText* dblink, sb4 dblink_len, ub4 /*mode*/) {
  return run_call<Server>(srvhp, OCI_HTYPE_SERVER, errhp, [&](Server& server, ErrorHandle&) {
    std::string_view text =
        dblink ? std::string_view(reinterpret_cast<const char*>(dblink), std::size_t(std::max(dblink_len, 0)))
               : std::string_view{};
    attach(server, text);
    return OCI_SUCCESS;
  });
}

sword OCIServerDetach(OCIServer* srvhp, OCIError* errhp, ub4 /*mode*/) {
  return run_call<Server>(srvhp, OCI_HTYPE_SERVER, errhp, [](Server& server, ErrorHandle&) {
    if (!server.db) throw ora::not_connected();
    server.close();  // also after a lost connection: what is left on this side goes
    return OCI_SUCCESS;
  });
}

sword OCISessionBegin(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 /*credt*/, ub4 /*mode*/) {
  return run_call<ServiceContext>(svchp, OCI_HTYPE_SVCCTX, errhp, [&](ServiceContext& svc, ErrorHandle&) {
    auto* session = find_as<Session>(usrhp, OCI_HTYPE_SESSION);
    if (!session) return OCI_INVALID_HANDLE;
    live_server(svc);
    check_credentials(*session);
    session->begun = true;
    svc.session = session;
    return OCI_SUCCESS;
  });
}

sword OCISessionEnd(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 /*mode*/) {
  return run_call<ServiceContext>(svchp, OCI_HTYPE_SVCCTX, errhp, [&](ServiceContext& svc, ErrorHandle&) {
    auto* session = find_as<Session>(usrhp ? usrhp : svc.session, OCI_HTYPE_SESSION);
    if (!session) return OCI_INVALID_HANDLE;
    bool was_begun = session->begun;
    session->begun = false;  // ended on this side even when the server is gone
    if (!was_begun) throw ora::not_logged_on();
    live_server(svc);
    return OCI_SUCCESS;
  });
}

sword OCIPing(OCISvcCtx* svchp, OCIError* errhp, ub4 /*mode*/) {
  return run_call<ServiceContext>(svchp, OCI_HTYPE_SVCCTX, errhp, [](ServiceContext& svc, ErrorHandle&) {
    logged_on_server(svc);
    return OCI_SUCCESS;
  });
}

sword OCIServerRelease(void* hndlp, OCIError* errhp, OraText* bufp, ub4 bufsz, ub1 hndltype, ub4* version) {
  auto body = [&](Server& server) {
    if (!server.db || server.dead) throw ora::not_connected();
    if (bufp && bufsz > 0) {
      std::size_t n = std::min<std::size_t>(std::strlen(kServerRelease), bufsz - 1);
      std::memcpy(bufp, kServerRelease, n);
      bufp[n] = '\0';
    }
    if (version) *version = kServerReleaseNumber;
    return OCI_SUCCESS;
  };
  if (hndltype == OCI_HTYPE_SERVER)
    return run_call<Server>(hndlp, OCI_HTYPE_SERVER, errhp, [&](Server& s, ErrorHandle&) { return body(s); });
  return run_call<ServiceContext>(hndlp, OCI_HTYPE_SVCCTX, errhp,
                                  [&](ServiceContext& svc, ErrorHandle&) { return body(live_server(svc)); });
}

void OCIClientVersion(sword* featureRelease, sword* releaseUpdate, sword* releaseUpdateRevision, sword* increment,
                      sword* ext) {
  if (featureRelease) *featureRelease = 19;
  if (releaseUpdate) *releaseUpdate = 99;
  if (releaseUpdateRevision) *releaseUpdateRevision = 0;
  if (increment) *increment = 0;
  if (ext) *ext = 0;
}
