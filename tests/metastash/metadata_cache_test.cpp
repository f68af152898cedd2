#include <gtest/gtest.h>

#include <fstream>

#include "recording_connection.hpp"
#include "small_sample_db.hpp"
#include "test_database.hpp"
#include "tremora/errors.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/metastash.hpp"

namespace tremora::metastash {
namespace {

using C = MetadataCache;
namespace fs = std::filesystem;

struct Home {
  testing::TempDir dir;
  testing::ScopedEnv home{"HOME", dir.path().string()};
};

std::shared_ptr<testing::RecordingConnection> sample_connection(const std::string& host = "10.0.0.5") {
  auto conn = std::make_shared<testing::RecordingConnection>(testing::open_test_db(testing::small_sample_db()));
  conn->info()["tremora_cache_namespace"] = host;
  conn->info()["tremora_db_alias"] = "db1";
  return conn;
}

TEST(MetadataCache, NamespacesAndPaths) {
  Home h;
  EXPECT_EQ(C::safe_namespace("  my db/1  "), "my_db_1");
  EXPECT_EQ(C::safe_namespace("a  //  b"), "a_b");
  EXPECT_EQ(C::safe_namespace("郯城台"), "_");
  EXPECT_EQ(C::safe_namespace(""), "");
  EXPECT_EQ(C::safe_namespace("10.0.0.5"), "10.0.0.5");
  EXPECT_EQ(C::cache_path("items"), (h.dir.path() / ".tremo/metastash/items.parquet").string());
  EXPECT_EQ(C::resolve_cache_dir("", "10.0.0.5"), (h.dir.path() / ".tremo/metastash/10.0.0.5").string());
  EXPECT_EQ(C::resolve_cache_dir("rel", ""), (fs::current_path() / "rel").string());
  EXPECT_EQ(C::resolve_cache_dir("/c", "x y"), "/c/x_y");
  EXPECT_FALSE(fs::exists(h.dir.path() / ".tremo"));  // resolving creates nothing
  try {
    C::cache_path("nope");
    FAIL();
  } catch (const KeyError& e) {
    EXPECT_STREQ(e.what(), "Unsupported metadata table: nope");
  }
  testing::RecordingConnection conn;
  EXPECT_EQ(C::infer_namespace(nullptr), "");
  EXPECT_EQ(C::infer_namespace(&conn), "");
  conn.info()["tremora_db_alias"] = "my alias";
  EXPECT_EQ(C::infer_namespace(&conn), "my_alias");
  conn.info()["tremora_cache_namespace"] = "10.0.0.5";
  EXPECT_EQ(C::infer_namespace(&conn), "10.0.0.5");
  EXPECT_EQ(C::TABLE_SPECS().size(), 5u);
  EXPECT_EQ(C::TABLE_SPECS()[0].first, "methods");
  EXPECT_EQ(C::TABLE_SPECS()[4].first, "stationitems");
}

TEST(MetadataCache, GetTableFetchesOnceThenReadsTheFile) {
  Home h;
  EXPECT_THROW(C::get_table("items"), FileNotFoundError);
  auto conn = sample_connection();
  Table items = C::get_table("items", conn.get());
  EXPECT_EQ(conn->statements.size(), 1u);
  EXPECT_EQ(items.column_names(), (std::vector<std::string>{"ITEMID", "ITEMNAME", "UNIT"}));
  EXPECT_TRUE(fs::exists(h.dir.path() / ".tremo/metastash/10.0.0.5/items.parquet"));
  Table again = C::get_table("items", conn.get());
  EXPECT_EQ(conn->statements.size(), 1u);  // read from the file
  EXPECT_EQ(again.num_rows(), items.num_rows());
  C::get_table("items", conn.get(), "", true);
  EXPECT_EQ(conn->statements.size(), 2u);  // refresh asked
  // An explicit namespace wins over the connection's.
  C::get_table("items", conn.get(), "", false, "other");
  EXPECT_TRUE(fs::exists(h.dir.path() / ".tremo/metastash/other/items.parquet"));
  // Offline: the cached copy answers, with the failure logged.
  conn->fail = true;
  logger_config::LogCapture capture;
  Table offline = C::get_table("items", conn.get(), "", true);
  EXPECT_EQ(offline.num_rows(), items.num_rows());
  EXPECT_TRUE(capture.contains("metastash", logger_config::Level::warning,
                               "metadata cache refresh failed for items: the network is down"));
  EXPECT_EQ(C::get_table("items", nullptr, "", false, "10.0.0.5").num_rows(), items.num_rows());
}

// A cache file that cannot serve says which file, whether the database
// could not replace it either, and what to do.
TEST(MetadataCache, UnusableCacheFilesAreNamed) {
  Home h;
  auto conn = sample_connection();
  C::refresh_cache(*conn);
  const std::string items = C::cache_path("items", "", "10.0.0.5"),
                    stations = C::cache_path("stations", "", "10.0.0.5");
  // A defective copy is replaced while the database answers...
  std::ofstream(items, std::ios::binary | std::ios::trunc) << "not a parquet file";
  EXPECT_GT(C::get_table("items", conn.get()).num_rows(), 0u);
  EXPECT_EQ(C::load_table("items", "", "10.0.0.5").column_names()[0], "ITEMID");
  // ...and named, with the database's failure, when it does not.
  std::ofstream(items, std::ios::binary | std::ios::trunc) << "not a parquet file";
  conn->fail = true;
  EXPECT_EQ(testing::error_of([&] { C::get_table("items", conn.get()); }),
            "metadata cache file '" + items +
                "' cannot be read: not a Parquet file (no PAR1 magic); the database look-up failed too: the network "
                "is down; refresh the cache when the database answers (tremora refresh-cache --db db1)");
  fs::copy_file(stations, items, fs::copy_options::overwrite_existing);
  EXPECT_EQ(testing::error_of([&] { C::get_table("items", nullptr, "", false, "10.0.0.5"); }),
            "metadata cache file '" + items +
                "' holds no column 'ITEMID' (its columns: STATIONID, STATIONNAME, LONGITUDE, LATITUDE), so it is not "
                "the items table; refresh the cache when the database answers (tremora refresh-cache --db ALIAS)");
}

TEST(MetadataCache, RefreshWritesAllTablesInUpperCase) {
  Home h;
  testing::TempDir cache;
  testing::RecordingConnection lower_case;
  lower_case.answer = [](const std::string&) {
    return Table(
        std::vector<Column>{Column::from_strings("stationid", {"37001"}), Column::from_strings("itemid", {"4112"})});
  };
  auto tables = C::refresh_cache(lower_case, cache.path().string(), {"stationitems"});
  EXPECT_EQ(tables.at("stationitems").column_names(), (std::vector<std::string>{"STATIONID", "ITEMID"}));
  EXPECT_EQ(C::load_table("stationitems", cache.path().string()).column_names(),
            (std::vector<std::string>{"STATIONID", "ITEMID"}));
  auto conn = sample_connection("db host");
  auto all = C::refresh_cache(*conn, cache.path().string());
  EXPECT_EQ(all.size(), 5u);
  EXPECT_EQ(conn->statements, (std::vector<std::string>{C::TABLE_SPECS()[0].second.sql, C::TABLE_SPECS()[1].second.sql,
                                                        C::TABLE_SPECS()[2].second.sql, C::TABLE_SPECS()[3].second.sql,
                                                        C::TABLE_SPECS()[4].second.sql}));
  for (const auto& [key, entry] : C::TABLE_SPECS())
    EXPECT_TRUE(fs::exists(cache.path() / "db_host" / entry.filename)) << key;
  TimeseriesInfo info = C::get_timeseries_info(nullptr, cache.path().string(), false, "db host");
  EXPECT_EQ(info.stations.num_rows(), 3u);
  EXPECT_EQ(info.points.column_names(), (std::vector<std::string>{"STATIONID", "POINTID", "POINTNAME"}));
  EXPECT_THROW(C::fetch_and_cache_table(*conn, "nope"), KeyError);
}

// A namespace is always one folder below the root: names that would be the
// root itself or its parent become underscores, one per dot (blank: one).
TEST(MetadataCache, NamespacesStayBelowTheRoot) {
  Home h;
  EXPECT_EQ(C::safe_namespace("."), "_");
  EXPECT_EQ(C::safe_namespace(" .. "), "__");
  EXPECT_EQ(C::safe_namespace("   "), "_");
  EXPECT_EQ(C::safe_namespace("..."), "...");  // an ordinary folder name, kept as it was
  EXPECT_EQ(C::safe_namespace("../x"), ".._x");
  EXPECT_EQ(C::resolve_cache_dir("/c", ".."), "/c/__");
  EXPECT_EQ(C::resolve_cache_dir("/c", "."), "/c/_");
  testing::TempDir parent;
  const fs::path root = parent / "cache";
  for (const char* host : {"..", ".", " "}) {
    auto conn = sample_connection(host);
    EXPECT_EQ(C::infer_namespace(conn.get()), std::string(std::string_view(host) == ".." ? "__" : "_"));
    C::refresh_cache(*conn, root.string(), {"items"});
  }
  EXPECT_TRUE(fs::exists(root / "__" / "items.parquet"));
  EXPECT_TRUE(fs::exists(root / "_" / "items.parquet"));
  EXPECT_FALSE(fs::exists(root / "items.parquet"));
  EXPECT_FALSE(fs::exists(parent / "items.parquet"));
}

TEST(MetadataCache, FolderThatCannotBeCreatedNamesThePath) {
  Home h;
  testing::TempDir dir;
  auto file = dir.write("blocker", "a file where a folder should be");
  auto conn = sample_connection();
  try {
    C::refresh_cache(*conn, (file / "cache").string());
    FAIL();
  } catch (const IOError& e) {
    EXPECT_NE(std::string(e.what()).find((file / "cache").string()), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace tremora::metastash
