// The subcommands of the tremora program. Each add_* function registers one
// subcommand on the application; its callback does the work and throws on
// failure (main turns the error into one line on standard error).
#pragma once

#include <CLI/CLI.hpp>
#include <filesystem>

#include "progress.hpp"
#include "tremora/fetching.hpp"
#include "tremora/quakecat.hpp"
#include "tremora/table.hpp"

namespace tremora::cli {

/// Help texts that show the default of every option, aligned by display
/// width. Called before the subcommands are added (they inherit it).
void configure_help(CLI::App& app);
/// The help's footer: command lines ("tremora fetch ...") that run as shown
/// in the folder `tremora demo` writes, whose sample database is the alias
/// "sample".
void set_examples(CLI::App* cmd, const std::vector<std::string>& command_lines);

void add_split(CLI::App& app);
void add_show(CLI::App& app);
void add_stats(CLI::App& app);
void add_sample_db(CLI::App& app);
void add_refresh_cache(CLI::App& app);
void add_info(CLI::App& app);
void add_check(CLI::App& app);
void add_fetch(CLI::App& app);
void add_dialog(CLI::App& app);
void add_load(CLI::App& app);
void add_postprocessing(CLI::App& app);
void add_gallery(CLI::App& app);
void add_kp(CLI::App& app);
void add_quakes(CLI::App& app);
void add_plot(CLI::App& app);
void add_annual(CLI::App& app);
void add_demo(CLI::App& app);
void add_review(CLI::App& app);
void add_export(CLI::App& app);

/// The options of a data request, shared by fetch and export.
struct RequestArgs {
  std::string db, start, end, method, station = std::string(fetching::kAll), rate, type, point;
  std::vector<std::string> items;
  bool gzip = false;
};
/// Adds --db (required) and the request options, --start, --end, --method,
/// --rate and --type required when `required` is set.
void add_request_options(CLI::App* cmd, RequestArgs& args, bool required);
/// A usage error (CLI::RequiredError) for the first of `names` that the
/// command line does not give: "--rate (WHEN)".
void require_options(const CLI::App& cmd, std::initializer_list<const char*> names, const std::string& when);
/// The connection of a database alias; an error naming the alias when
/// there is none (the library logs why).
std::shared_ptr<db::Connection> connect(const std::string& alias);
/// The metadata cache folder of a database alias, found without connecting:
/// the cache folder (the default one when empty) and the alias's HOST.
std::string offline_cache_dir(const std::string& alias, const std::string& cache_dir);
/// Refuses an output that is the database file the connection reads.
void refuse_writing_over_database(const db::Connection& conn, const std::string& out);
/// The observation table of a request (split into samples when `split`);
/// when the request cannot be resolved, an error saying which name resolves
/// to nothing or which table is missing.
Table fetch_observations(db::Connection* conn, const RequestArgs& args, bool split = true);

/// Catalogue filters "200:3,300:4": distance limits in km and minimum
/// magnitudes; std::invalid_argument naming the text otherwise.
std::vector<quakecat::Filter> parse_filters(const std::string& text);

/// Reads a table file by its extension (.csv, or .parquet and .vuzo, which are Parquet files).
Table read_table_file(const std::filesystem::path& path);
/// True for a file named as a VUZO file (.vuzo).
bool is_vuzo_file(const std::filesystem::path& path);
/// Reads a STARTDATE column of texts (as a CSV gives it) as timestamps.
void read_start_times(Table& table);
/// Types the observation columns of a table file the way the commands read
/// them: STARTDATE as read_start_times; an OBSVALUE of texts that are all
/// single numbers (or missing) as float64 numbers, as the post-processing
/// operations read it. Day rows, whose texts hold a day of samples, keep
/// their texts (split reads those).
void read_observation_types(Table& table);
/// A table file of observations: KeyError naming the file when it has no
/// STARTDATE column; STARTDATE read as read_start_times.
Table read_observation_file(const std::string& path);
/// Creates the folder a file goes into, when it is missing.
void create_parent_folder(const std::filesystem::path& path);

/// A file named on the command line: the argument or option that names it
/// and the path as given (empty when the option is absent).
struct FileArg {
  std::string name;
  std::string path;
};
/// Refuses an output that is the same file (same_file) as an input or as an
/// earlier output: a usage error (CLI::ValidationError) naming both.
/// Absent paths are skipped.
void refuse_same_files(const std::vector<FileArg>& inputs, const std::vector<FileArg>& outputs);

/// Writes a table file by its extension (.csv or .parquet, with the row key
/// as its first column), atomically, creating its folder when missing.
void write_table_file(const Table& table, const std::filesystem::path& path);
/// write_table_file, then "wrote PATH: N rows" on standard output; the
/// writing is the last step of `progress`, whose line is gone before the
/// report is printed.
void write_and_report(const Table& table, const std::string& path, Progress* progress = nullptr);
/// A count and its noun, plural unless one: "1 record", "3 records".
std::string counted(std::size_t n, const std::string& noun);

}  // namespace tremora::cli
