// The subcommands of the tremora program. Each add_* function registers one
// subcommand on the application; its callback does the work and throws on
// failure (main turns the error into one line on standard error).
#pragma once

#include <CLI/CLI.hpp>
#include <filesystem>

#include "tremora/table.hpp"

namespace tremora::cli {

void add_split(CLI::App& app);
void add_show(CLI::App& app);
void add_sample_db(CLI::App& app);
void add_refresh_cache(CLI::App& app);
void add_fetch(CLI::App& app);
void add_dialog(CLI::App& app);
void add_postprocessing(CLI::App& app);
void add_gallery(CLI::App& app);
void add_kp(CLI::App& app);
void add_quakes(CLI::App& app);

/// Reads a table file by its extension (.csv or .parquet).
Table read_table_file(const std::filesystem::path& path);
/// Creates the folder a file goes into, when it is missing.
void create_parent_folder(const std::filesystem::path& path);

/// Writes a table file by its extension (.csv or .parquet, with the row key
/// as its first column), atomically, creating its folder when missing.
void write_table_file(const Table& table, const std::filesystem::path& path);

}  // namespace tremora::cli
