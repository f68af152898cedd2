// tremora: the command-line program of the library.
#include <iostream>

#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "commands.hpp"

int main(int argc, char** argv) {
  // Ctrl-C or a kill while an output is being written leaves no partial file.
  tremora::remove_temporary_files_on_signals();
  CLI::App app{"tremora: earthquake-precursor observation data"};
  app.require_subcommand(1);
  tremora::cli::configure_help(app);
  tremora::cli::add_split(app);
  tremora::cli::add_show(app);
  tremora::cli::add_sample_db(app);
  tremora::cli::add_refresh_cache(app);
  tremora::cli::add_fetch(app);
  tremora::cli::add_dialog(app);
  tremora::cli::add_postprocessing(app);
  tremora::cli::add_gallery(app);
  tremora::cli::add_kp(app);
  tremora::cli::add_quakes(app);
  tremora::cli::add_plot(app);
  tremora::cli::add_annual(app);
  tremora::cli::add_demo(app);
  tremora::cli::add_export(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const std::exception& e) {
    std::cerr << "tremora: error: " << tremora::describe_exception(e) << '\n';
    return 1;
  }
  return 0;
}
