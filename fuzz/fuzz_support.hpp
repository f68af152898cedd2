// What every fuzz target shares: the input as text, and the rule for the
// errors a reader may give.
//
// A reader meeting bad input must stop with an error that says what failed
// and names the input. Errors of that kind are the expected outcome and are
// swallowed; anything else aborts the run so that libFuzzer keeps the input:
//   - std::length_error and std::bad_alloc, which betray a size or count taken
//     from the input without checking it against the data that is there;
//   - an error whose message does not name the input (`source`), where the
//     reader is given a name for it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tremora::fuzz {

/// The name the targets give their input; readers' errors must contain it.
inline const std::string kSource = "<fuzz input>";

inline std::string_view as_text(const uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

[[noreturn]] inline void finding(const char* kind, const char* message) {
  std::fprintf(stderr, "fuzz finding: %s: %s\n", kind, message);
  std::abort();
}

/// Runs `read`; an expected error passes when its message contains `must_name`
/// (nothing is required when it is empty).
template <class Read>
void expect_clean_errors(Read&& read, std::string_view must_name = kSource) {
  try {
    read();
  } catch (const std::length_error& e) {
    finding("length_error", e.what());
  } catch (const std::bad_alloc& e) {
    finding("bad_alloc", e.what());
  } catch (const std::exception& e) {
    // what() ends at a NUL byte, so a name holding one is seen up to it.
    must_name = must_name.substr(0, must_name.find('\0'));
    if (std::string_view(e.what()).find(must_name) == std::string_view::npos)
      finding("error message without the input's name", e.what());
  }
}

}  // namespace tremora::fuzz
