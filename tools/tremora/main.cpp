// tremora: the command-line program of the library.
//
// Exit status: 0 when the work is done (or help or the version was asked
// for), 1 when the work failed, 2 when the command line is wrong.
#include <iostream>

#include "commands.hpp"
#include "terminal_text.hpp"
#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "tremora/memory.hpp"

namespace {

constexpr int kWorkFailed = 1;
constexpr int kUsageError = 2;

}  // namespace

int main(int argc, char** argv) {
  // A fetch or a chart frees and allocates buffers of several MiB: reused,
  // they cost no page faults again.
  tremora::keep_freed_memory();
  // Ctrl-C or a kill while an output is being written leaves no partial file.
  tremora::remove_temporary_files_on_signals();
  // Data reaches the terminal as text, never as control sequences.
  tremora::cli::EscapedStream escaped_out(std::cout), escaped_err(std::cerr);
  CLI::App app{"tremora: earthquake-precursor observation data"};
  app.set_version_flag("--version", std::string("tremora ") + TREMORA_VERSION);
  app.require_subcommand(1);
  tremora::cli::configure_help(app);
  tremora::cli::add_split(app);
  tremora::cli::add_show(app);
  tremora::cli::add_stats(app);
  tremora::cli::add_sample_db(app);
  tremora::cli::add_refresh_cache(app);
  tremora::cli::add_info(app);
  tremora::cli::add_check(app);
  tremora::cli::add_fetch(app);
  tremora::cli::add_dialog(app);
  tremora::cli::add_load(app);
  tremora::cli::add_postprocessing(app);
  tremora::cli::add_gallery(app);
  tremora::cli::add_kp(app);
  tremora::cli::add_quakes(app);
  tremora::cli::add_plot(app);
  tremora::cli::add_annual(app);
  tremora::cli::add_demo(app);
  tremora::cli::add_review(app);
  tremora::cli::add_export(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and --version are "errors" of status 0; the rest are usage errors.
    int status = app.exit(e);
    return status == 0 ? 0 : kUsageError;
  } catch (const std::exception& e) {
    std::cerr << "tremora: error: " << tremora::describe_exception(e) << '\n';
    return kWorkFailed;
  }
  return 0;
}
