// The Kp service's reply: a JSON body decoded into the Kp table.
#include "fuzz_support.hpp"
#include "reply.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tremora;
  nlohmann::json payload;
  fuzz::expect_clean_errors(
      [&] { payload = geomag::parse_json(std::string(fuzz::as_text(data, size)), fuzz::kSource); });
  // The shape errors of a reply name the service, not the body.
  fuzz::expect_clean_errors([&] { geomag::kp_table_from_reply(payload); }, "");
  return 0;
}
