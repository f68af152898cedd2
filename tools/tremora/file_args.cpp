// Files named on the command line: no command writes over a file it reads,
// nor writes two outputs into one file.
#include "commands.hpp"
#include "tremora/files.hpp"

namespace tremora::cli {
namespace {

void refuse_if_same(const FileArg& out, const FileArg& other) {
  if (other.path.empty() || !same_file(out.path, other.path)) return;
  throw CLI::ValidationError(out.name + " '" + out.path + "' and " + other.name + " '" + other.path +
                             "' are the same file");
}

}  // namespace

void refuse_same_files(const std::vector<FileArg>& inputs, const std::vector<FileArg>& outputs) {
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    if (outputs[k].path.empty()) continue;
    for (const FileArg& in : inputs) refuse_if_same(outputs[k], in);
    for (std::size_t j = 0; j < k; ++j) refuse_if_same(outputs[k], outputs[j]);
  }
}

}  // namespace tremora::cli
