// The sqlite driver runs the system's Oracle-flavoured SQL unchanged on a
// generated sample database.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "recording_connection.hpp"
#include "small_sample_db.hpp"
#include "table_checks.hpp"
#include "test_support.hpp"
#include "tremora/db.hpp"
#include "tremora/errors.hpp"
#include "tremora/gzip.hpp"

namespace tremora::db {
namespace {

std::shared_ptr<Connection> open() { return open_sqlite(testing::small_sample_db()); }

using testing::texts;

TEST(SqliteDriver, DictionaryLookups) {
  auto conn = open();
  Table d = conn->query(
      "SELECT SUBSTR(ITEMID, 1, 3) AS methodid\nFROM QZDATA.QZ_DICT_STATIONITEMS \nWHERE SUBSTR(ITEMID, 1, 1) = '3'");
  EXPECT_EQ(texts(d, "methodid"), (std::vector<std::string>{"312", "321", "321"}));
  Table all = conn->query("SELECT SUBSTR(ITEMID, 1, 3) AS methodid\nFROM QZDATA.QZ_DICT_STATIONITEMS");
  EXPECT_EQ(all.num_rows(), 7u);
  Table m = conn->query(
      "SELECT METHODID AS methodid\nFROM QZDATA.QZ_DICT_METHODS \nWHERE METHODNAME LIKE '%' || :methodname || '%'",
      {{"methodname", "水位"}});
  EXPECT_EQ(texts(m, "methodid"), (std::vector<std::string>{"411", "417"}));
  Table s =
      conn->query("SELECT STATIONID \nFROM QZDATA.QZ_DICT_STATIONS \nWHERE STATIONNAME LIKE '%' || :stationname || '%'",
                  {{"stationname", "郯城"}});
  EXPECT_EQ(texts(s, "STATIONID"), (std::vector<std::string>{"37001"}));
  Table one = conn->query("SELECT ITEMID \nFROM QZDATA.QZ_DICT_ITEMS \nWHERE ITEMNAME LIKE '%' || :itemname || '%'",
                          {{"itemname", "地电场"}});
  EXPECT_EQ(texts(one, "ITEMID"), (std::vector<std::string>{"3211", "3212"}));
  Table list =
      conn->query("SELECT ITEMID \nFROM QZDATA.QZ_DICT_ITEMS \nWHERE ITEMNAME IN ('水位','直流单装置地电阻率')");
  EXPECT_EQ(texts(list, "ITEMID"), (std::vector<std::string>{"3121", "4112"}));
  EXPECT_EQ(conn->query("SELECT * FROM QZDATA.QZ_DICT_STATIONS").num_rows(), 3u);
  // LIKE is case-sensitive, as in Oracle.
  EXPECT_EQ(conn->query("SELECT TABLE_NAME FROM ALL_TABLES WHERE TABLE_NAME LIKE '%dyu%'").num_rows(), 0u);
}

TEST(SqliteDriver, TableNamesWithKeywordClause) {
  auto conn = open();
  std::string sql =
      "SELECT TABLE_NAME \nFROM ALL_TABLES \nWHERE TABLE_NAME LIKE '%' || :base_type_id || '%' \n"
      "AND TABLE_NAME LIKE '%' || :sample_rate_id || '%' \nAND TABLE_NAME LIKE '%' || :methodid || '%'";
  Table dyu = conn->query(sql, {{"base_type_id", "DYU"}, {"sample_rate_id", "01"}, {"methodid", "411"}});
  EXPECT_EQ(texts(dyu, "TABLE_NAME"), (std::vector<std::string>{"QZ_411_DYU_01", "QZ_411_DYU_DEV_01"}));
  Table cp = conn->query(
      sql + " AND (TABLE_NAME LIKE '%' || :kw1 || '%' OR TABLE_NAME LIKE '%' || :kw2 || '%')",
      {{"base_type_id", "CP"}, {"sample_rate_id", "60"}, {"methodid", "312"}, {"kw1", "AVG"}, {"kw2", "INS"}});
  EXPECT_EQ(texts(cp, "TABLE_NAME"), (std::vector<std::string>{"QZ_312_CP_AVG_60", "QZ_312_CP_INS_60"}));
  EXPECT_THROW(conn->query(sql, {{"base_type_id", "DYU"}}), DatabaseError);  // :sample_rate_id is not bound
}

TEST(SqliteDriver, DataAndDialogQueries) {
  auto conn = open();
  std::string one =
      "SELECT * FROM QZDATA.QZ_411_DYU_01 \nWHERE STARTDATE >= TO_DATE('20240509', 'yyyymmdd') \n"
      "AND STARTDATE < TO_DATE('20240510', 'yyyymmdd')+1 AND (STATIONID=37001) AND (ITEMID='4112')";
  std::string raw =
      "SELECT * FROM QZDATA.QZ_411_DYS_01 \nWHERE STARTDATE >= TO_DATE('20240509', 'yyyymmdd') \n"
      "AND STARTDATE < TO_DATE('20240510', 'yyyymmdd')+1 AND (STATIONID=37001) AND (ITEMID='4112') AND (POINTID='1')";
  Table t = conn->query(one);
  ASSERT_EQ(t.num_rows(), 2u);
  EXPECT_EQ(t.column_names(),
            (std::vector<std::string>{"STARTDATE", "STATIONID", "POINTID", "ITEMID", "SAMPLERATE", "OBSVALUE"}));
  EXPECT_EQ(t.column("STARTDATE").type(), DataType::Timestamp);
  EXPECT_EQ(t.column("STARTDATE").int64s()[0], make_timestamp(2024, 5, 9).ns);
  EXPECT_EQ(t.column("STARTDATE").int64s()[1], make_timestamp(2024, 5, 10).ns);
  EXPECT_EQ(t.column("OBSVALUE").type(), DataType::Binary);
  EXPECT_EQ(t.column("SAMPLERATE").type(), DataType::Int64);
  EXPECT_EQ(t.column("SAMPLERATE").int64s()[0], 1);
  std::string day = gzip_decompress(t.column("OBSVALUE").text(0));
  EXPECT_TRUE(day == "NULLALL" || std::count(day.begin(), day.end(), ' ') == 1439) << day.substr(0, 40);
  // Raw tables keep codes as numbers; a UNION ALL of both reads as one table.
  Table r = conn->query(raw);
  EXPECT_EQ(r.column("STATIONID").type(), DataType::Int64);
  Table u = conn->query(one + " UNION ALL " + one);
  EXPECT_EQ(u.num_rows(), 4u);
  Table log = conn->query(
      "SELECT * FROM QZDATA.QZ_411_DLG \nWHERE STARTDATE >= TO_DATE('20240401', 'yyyymmdd') \n"
      "AND STARTDATE < TO_DATE('20240530', 'yyyymmdd')+1\nAND EVTID IN (:evt_id)",
      {{"evt_id", "313"}});
  ASSERT_GT(log.num_rows(), 0u);
  for (std::size_t i = 0; i < log.num_rows(); ++i) EXPECT_EQ(log.column("EVTID").text(i), "313");
}

// A query is exactly one read-only SELECT: no ATTACH, PRAGMA, transaction or
// temporary object, and nothing but blanks, comments and ';' after it.
TEST(SqliteDriver, QueriesAreOneReadOnlySelect) {
  testing::TempDir dir;
  auto conn = open();
  auto refused = [&](const std::string& sql) {
    try {
      conn->query(sql);
    } catch (const DatabaseError& e) {
      return std::string(e.what());
    }
    return std::string("ran");
  };
  const std::string attach = "ATTACH DATABASE '" + (dir / "e.db").string() + "' AS E";
  const std::string not_select = "the query is not one read-only SELECT";
  EXPECT_NE(refused(attach).find(not_select), std::string::npos) << refused(attach);
  EXPECT_NE(refused("SELECT 1; " + attach).find("more than one statement"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "e.db"));
  EXPECT_NE(refused("SELECT 1; SELECT 2").find("more than one statement"), std::string::npos);
  EXPECT_NE(refused("SELECT 1; DELETE FROM QZDATA.QZ_DICT_ITEMS").find("more than one statement"), std::string::npos);
  for (const char* sql : {"PRAGMA case_sensitive_like = OFF", "PRAGMA QZDATA.table_info(QZ_DICT_ITEMS)", "BEGIN",
                          "DETACH DATABASE QZDATA", "EXPLAIN SELECT 1", "CREATE TEMP TABLE t (a)",
                          "DROP VIEW ALL_TABLES", "INSERT INTO QZDATA.QZ_DICT_ITEMS (ITEMID) VALUES ('1')"})
    EXPECT_NE(refused(sql).find(not_select), std::string::npos) << sql << ": " << refused(sql);
  for (const char* sql : {"", "  ", "-- only a comment", ";"})
    EXPECT_NE(refused(sql).find("no statement"), std::string::npos) << sql << ": " << refused(sql);
  // The connection's own setup stays as it was: LIKE is still case-sensitive, the view still there.
  EXPECT_EQ(conn->query("SELECT TABLE_NAME FROM ALL_TABLES WHERE TABLE_NAME LIKE '%dict_items%'").num_rows(), 0u);
  // Trailing blanks, comments and semicolons are no further statement.
  for (const char* sql : {"SELECT 1 AS n;", "SELECT 1 AS n ;  \n", "SELECT 1 AS n; -- done\n", "SELECT 1 AS n -- note",
                          "SELECT 1 AS n; /* end */ ;", "WITH x AS (SELECT 1 AS n) SELECT n FROM x"})
    EXPECT_EQ(conn->query(sql).column("n").int64s(), (std::vector<int64_t>{1})) << sql;
  EXPECT_EQ(conn->query("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 3) SELECT n FROM c")
                .num_rows(),
            3u);
  EXPECT_EQ(conn->query("VALUES (1), (2)").num_rows(), 2u);
}

TEST(SqliteDriver, ReadOnlyAndBadFiles) {
  auto conn = open();
  EXPECT_THROW(conn->query("CREATE TABLE QZDATA.X (A)"), DatabaseError);
  EXPECT_THROW(conn->query("DELETE FROM QZDATA.QZ_DICT_ITEMS"), DatabaseError);
  EXPECT_EQ(conn->query("SELECT count(*) AS n FROM QZDATA.QZ_DICT_ITEMS").column("n").int64s()[0], 9);
  conn->close();
  EXPECT_FALSE(conn->is_open());
  EXPECT_THROW(conn->query("SELECT 1"), DatabaseError);
  conn->close();

  testing::TempDir dir;
  auto missing = dir / "none.db";
  try {
    open_sqlite(missing);
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find(missing.string()), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
  auto text = dir.write("notes.db", "this is not a database, just some text that is long enough to have a header");
  try {
    open_sqlite(text);
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("not a SQLite database"), std::string::npos) << e.what();
  }
  EXPECT_THROW(connect("mysql", {}), DatabaseError);

  // File names are passed on as URIs: characters that mean something there
  // are escaped, so such a file opens as itself.
  auto odd = dir / "sample #1 %20?.db";
  std::filesystem::copy_file(testing::small_sample_db(), odd);
  EXPECT_EQ(open_sqlite(odd)->query("SELECT count(*) AS n FROM QZDATA.QZ_DICT_ITEMS").column("n").int64s()[0], 9);
}

// A file that another process holds locked for a moment is waited for,
// not refused at once with "database is locked".
TEST(SqliteDriver, WaitsForALockHeldForAMoment) {
  testing::TempDir dir;
  auto file = dir / "busy.db";
  std::filesystem::copy_file(testing::small_sample_db(), file);
  auto conn = open_sqlite(file);
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::thread release([writer] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr);
  });
  auto begin = std::chrono::steady_clock::now();
  Table t;
  std::string error = testing::error_of([&] { t = conn->query("SELECT count(*) AS n FROM QZDATA.QZ_DICT_ITEMS"); });
  auto waited = std::chrono::steady_clock::now() - begin;
  release.join();
  sqlite3_close(writer);
  ASSERT_EQ(error, "no error");
  EXPECT_EQ(t.column("n").int64s()[0], 9);
  EXPECT_GE(waited, std::chrono::milliseconds(300));  // it did wait for the lock
}

// A registered driver is reached by its name with the section's settings,
// and registering a name again replaces the driver.
TEST(Drivers, RegisteredDriversAreReachedByName) {
  std::vector<std::string> hosts;
  auto driver = [&](const std::string& tag) {
    return [&hosts, tag](const ConnectionSettings& s) {
      hosts.push_back(tag + ":" + s.host);
      return std::make_shared<testing::RecordingConnection>();
    };
  };
  register_driver("tremora-test", driver("first"));
  EXPECT_TRUE(connect("tremora-test", {.host = "a"})->is_open());
  register_driver("tremora-test", driver("second"));
  connect("tremora-test", {.host = "b"});
  EXPECT_EQ(hosts, (std::vector<std::string>{"first:a", "second:b"}));
  EXPECT_THROW(connect("sqlite", {}), DatabaseError);  // no DATABASE file
}

// TO_DATE reads eight digits in the one format the system's SQL uses; a
// missing text gives a missing date, anything else an error naming it.
TEST(SqliteDriver, ToDateReadsEightDigitsOnly) {
  auto conn = open();
  auto day = [&](const std::string& args) { return conn->query("SELECT TO_DATE(" + args + ") AS d").column("d"); };
  // A computed column has no declared type: the Julian day comes as a number.
  EXPECT_EQ(day("'20240229', 'yyyymmdd'").float64s()[0], 2460369.5);
  EXPECT_TRUE(day("NULL, 'yyyymmdd'").is_null(0));
  for (const char* bad : {"'2024-1', 'yyyymmdd'", "'20240230', 'yyyymmdd'", "'20240101', 'dd.mm.yyyy'"}) {
    try {
      day(bad);
      ADD_FAILURE() << "accepted TO_DATE(" << bad << ")";
    } catch (const DatabaseError& e) {
      std::string message = e.what(), text = std::string(bad).substr(1, std::string(bad).find('\'', 1) - 1);
      bool named =
          message.find("'" + text + "'") != std::string::npos || message.find("dd.mm.yyyy") != std::string::npos;
      EXPECT_TRUE(named) << message;
    }
  }
}

}  // namespace
}  // namespace tremora::db
