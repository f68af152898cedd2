// A stand-in for the Oracle client library: only OCIEnvNlsCreate, which
// counts its calls, so that the connector's one-time initialisation can be
// observed without an Oracle installation.
#include <cstddef>

extern "C" {

int tremora_fake_oci_calls = 0;

int OCIEnvNlsCreate(void** envp, unsigned, void*, void*, void*, void*, std::size_t, void**, unsigned short,
                    unsigned short) {
  static int environment;
  ++tremora_fake_oci_calls;
  *envp = &environment;
  return 0;
}
}
