// The driver of a fuzz target in builds without libFuzzer (gcc, the
// sanitizer build): runs the target once over each file named on the command
// line and over every file in each folder named, in name order, so that the
// committed corpora are checked with the tests. A crash or sanitizer report
// in the target ends the run as it would under libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputs_of(const fs::path& path, std::error_code& error) {
  std::vector<fs::path> out;
  if (!fs::is_directory(path, error)) {
    if (!error) out.push_back(path);
    return out;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(path, error))
    if (entry.is_regular_file()) out.push_back(entry.path());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    std::vector<fs::path> inputs = inputs_of(argv[i], error);
    if (error) {
      std::fprintf(stderr, "cannot read '%s': %s\n", argv[i], error.message().c_str());
      return 2;
    }
    for (const fs::path& input : inputs) {
      std::ifstream in(input, std::ios::binary);
      // Each input in a buffer of exactly its size, so that reading past its
      // end is caught by AddressSanitizer.
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!in.eof() && in.fail()) {
        std::fprintf(stderr, "cannot read '%s'\n", input.c_str());
        return 2;
      }
      std::fprintf(stderr, "replaying %s\n", input.c_str());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++replayed;
    }
  }
  std::fprintf(stderr, "replayed %zu inputs\n", replayed);
  return replayed == 0 ? 2 : 0;
}
