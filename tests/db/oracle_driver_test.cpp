// The oracle driver against the stand-in client library: log-on and its
// refusals, column types, array fetches, binds, query errors, a connection
// lost while rows arrive, and no handle left behind on any of these paths.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "bind_names.hpp"
#include "oracle_number.hpp"
#include "sqlite_file.hpp"
#include "test_database.hpp"
#include "test_support.hpp"
#include "tremora/db.hpp"
#include "tremora/errors.hpp"
#include "tremora/time.hpp"

namespace tremora::db {
namespace {

using testing::ScopedEnv;

// One of the stand-in's counters, by the name of its function.
long standin_count(const char* counter) {
  oracle::init_client(testing::standin_client_dir(), "");
  void* lib = dlopen((testing::standin_client_dir() + "/libclntsh.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  auto count = reinterpret_cast<long (*)()>(dlsym(lib, counter));
  long n = count ? count() : -1;
  dlclose(lib);
  return n;
}

// The stand-in's count of live handles and descriptors.
long live_handles() { return standin_count("tremora_standin_live_handles"); }

// The error a call throws: its message and ORA code.
std::pair<std::string, int> database_error(const std::function<void()>& f) {
  try {
    f();
  } catch (const DatabaseError& e) {
    return {e.what(), e.code()};
  }
  return {"no error", 0};
}

TEST(BindNames, PlaceholdersOutsideQuotesAndComments) {
  EXPECT_EQ(bind_names("SELECT * FROM T WHERE A LIKE '%' || :name || '%' AND B = :id AND C = :name"),
            (std::vector<std::string>{"name", "id"}));
  EXPECT_EQ(bind_names("SELECT ':no', \":nor\" -- :not\n /* :none */ FROM T WHERE X = :yes"),
            (std::vector<std::string>{"yes"}));
  EXPECT_TRUE(bind_names("SELECT TO_DATE('20240101 10:00', 'yyyymmdd hh24:mi') FROM DUAL").empty());
  EXPECT_EQ(bind_names("WHERE A = :a1 AND B=:b_2"), (std::vector<std::string>{"a1", "b_2"}));
}

// The bytes are those DUMP() shows for these numbers (Typ=2).
TEST(OracleNumber, ReadsTheServersOwnForm) {
  auto read = [](std::initializer_list<int> bytes) {
    std::string b;
    for (int x : bytes) b += char(x);
    b.resize(oracle::kNumberBufferBytes);
    return oracle::read_number(b);
  };
  EXPECT_EQ(read({1, 128}).integer, 0);
  EXPECT_EQ(read({2, 193, 2}).integer, 1);
  EXPECT_EQ(read({3, 194, 2, 24}).integer, 123);
  EXPECT_EQ(read({2, 194, 2}).integer, 100);
  EXPECT_EQ(read({3, 62, 100, 102}).integer, -1);
  EXPECT_EQ(read({4, 61, 100, 78, 102}).integer, -123);
  oracle::NumberValue half = read({2, 192, 51});
  EXPECT_FALSE(half.integer);
  EXPECT_EQ(half.real, 0.5);
  oracle::NumberValue beyond = read({2, 202, 11});  // 10^19, past int64
  EXPECT_FALSE(beyond.integer);
  EXPECT_EQ(beyond.real, 1e19);
  EXPECT_EQ(read({11, 202, 10, 23, 34, 73, 4, 69, 55, 78, 59, 8}).integer, INT64_MAX);  // 9223372036854775807
  EXPECT_THROW(read({0}), std::invalid_argument);
  EXPECT_THROW(read({2, 193, 200}), std::invalid_argument);
}

// NUMBER columns as a server describes them: plain NUMBER (and COUNT(*))
// without precision, INTEGER as NUMBER(38); each is read exactly and is
// int64 when every value is an integer int64 holds.
TEST(OracleDriver, NumbersWithoutPrecisionAreReadExactly) {
  testing::TempDir dir;
  auto file = testing::make_sqlite_file(
      dir, {"CREATE TABLE N (CODE NUMBER, BIG INTEGER, MIXED NUMBER, WIDE NUMBER)",
            "INSERT INTO N VALUES (37001, 5, 1, 9007199254740993)", "INSERT INTO N VALUES (41001, 1e19, 2.5, NULL)"});
  auto conn = testing::open_through_standin(file);
  Table t = conn->query("SELECT CODE, BIG, MIXED, WIDE, COUNT(*) OVER () AS ROWS_ FROM QZDATA.N ORDER BY CODE");
  EXPECT_EQ(t.column("CODE").type(), DataType::Int64);
  EXPECT_EQ(t.column("CODE").int64s()[1], 41001);
  EXPECT_EQ(t.column("BIG").type(), DataType::Float64);  // 10^19 does not fit: no ORA-01455, a double
  EXPECT_EQ(t.column("BIG").float64s()[1], 1e19);
  EXPECT_EQ(t.column("MIXED").type(), DataType::Float64);
  EXPECT_EQ(t.column("MIXED").float64s()[1], 2.5);
  EXPECT_EQ(t.column("WIDE").type(), DataType::Int64);
  EXPECT_EQ(t.column("WIDE").int64s()[0], 9007199254740993);  // beyond a double's integers
  EXPECT_TRUE(t.column("WIDE").is_null(1));
  EXPECT_EQ(t.column("ROWS_").type(), DataType::Int64);
  EXPECT_EQ(to_text(t.column("CODE")).text(0), "37001");
}

// Columns the system does not use pass through a SELECT *: LONG, ROWID
// and UROWID and INTERVAL YEAR TO MONTH as text, INTERVAL DAY TO SECOND as
// a duration, TIMESTAMP WITH (LOCAL) TIME ZONE as UTC instants; an object
// column fails, naming it.
TEST(OracleDriver, OtherOracleTypesPassThrough) {
  testing::TempDir dir;
  auto file = testing::make_sqlite_file(
      dir, {"CREATE TABLE X (L LONG, RID ROWID, UR UROWID, DS 'INTERVAL DAY TO SECOND', YM 'INTERVAL YEAR TO MONTH', "
            "TZ 'TIMESTAMP WITH TIME ZONE', LTZ 'TIMESTAMP WITH LOCAL TIME ZONE', G SDO_GEOMETRY)",
            "INSERT INTO X VALUES ('long text', 'AAAR3sAAEAAAACXAAA', '*BAMAAJYBwE', '-01 02:03:04.5', '+02-03', "
            "'2024-05-10 12:00:00 +08:00', '2024-05-10 12:00:00 -02:30', 'x')"});
  auto conn = testing::open_through_standin(file);
  Table t = conn->query("SELECT L, RID, UR, DS, YM, TZ, LTZ FROM QZDATA.X");
  EXPECT_EQ(t.column("L").text(0), "long text");
  EXPECT_EQ(t.column("RID").text(0), "AAAR3sAAEAAAACXAAA");
  EXPECT_EQ(t.column("UR").text(0), "*BAMAAJYBwE");
  EXPECT_EQ(t.column("YM").text(0), "+02-03");
  ASSERT_EQ(t.column("DS").type(), DataType::Duration);
  EXPECT_EQ(t.column("DS").int64s()[0], -(((24 + 2) * 60 + 3) * 60 * kNanosPerSecond + 4'500'000'000));
  for (const char* zoned : {"TZ", "LTZ"}) {
    ASSERT_EQ(t.column(zoned).type(), DataType::Timestamp) << zoned;
    EXPECT_EQ(t.column(zoned).zone(), "UTC") << zoned;
  }
  EXPECT_EQ(t.column("TZ").int64s()[0], make_timestamp(2024, 5, 10, 4).ns);
  EXPECT_EQ(t.column("LTZ").int64s()[0], make_timestamp(2024, 5, 10, 14, 30).ns);
  auto [message, code] = database_error([&] { conn->query("SELECT * FROM QZDATA.X"); });
  EXPECT_NE(message.find("column 'G' has an Oracle type (108)"), std::string::npos) << message;
}

TEST(OracleDriver, ColumnTypesNullsAndArraysOfRows) {
  testing::TempDir dir;
  std::vector<std::string> sql{
      "CREATE TABLE T (N NUMBER(10), X NUMBER(12,4), F REAL, V VARCHAR2(20), C CHAR(4), W NVARCHAR2(10), "
      "D DATE, TS TIMESTAMP, R RAW(8), CL CLOB, BL BLOB)",
      "INSERT INTO T VALUES (1, 2.5, 0.125, '郯城', 'ab  ', '水位', 2460440.5, '2024-05-10 12:34:56.789', "
      "x'00ff', '地电阻率' || char(10) || 'two lines', x'1f8b08')",
      "INSERT INTO T VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)",
      "CREATE TABLE MANY (I INTEGER, S TEXT)",
      "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 1233) "
      "INSERT INTO MANY SELECT i, printf('row %d', i) FROM k"};
  auto file = testing::make_sqlite_file(dir, sql);
  long before = live_handles();
  {
    auto conn = testing::open_through_standin(file);
    // The LOB values come with their rows (their lengths asked for before
    // the prefetch size): the execute is the only round trip.
    long trips = standin_count("tremora_standin_round_trips");
    Table t = conn->query("SELECT * FROM QZDATA.T");
    EXPECT_EQ(standin_count("tremora_standin_round_trips") - trips, 1);
    ASSERT_EQ(t.num_rows(), 2u);
    EXPECT_EQ(t.column("N").type(), DataType::Int64);
    EXPECT_EQ(t.column("N").int64s()[0], 1);
    EXPECT_TRUE(t.column("N").is_null(1));
    EXPECT_EQ(t.column("X").type(), DataType::Float64);
    EXPECT_DOUBLE_EQ(t.column("X").float64s()[0], 2.5);
    EXPECT_TRUE(std::isnan(t.column("X").float64s()[1]));
    EXPECT_DOUBLE_EQ(t.column("F").float64s()[0], 0.125);
    EXPECT_EQ(t.column("V").text(0), "郯城");
    EXPECT_EQ(t.column("C").text(0), "ab  ");
    EXPECT_EQ(t.column("W").text(0), "水位");
    EXPECT_TRUE(t.column("V").is_null(1));
    EXPECT_EQ(t.column("D").type(), DataType::Timestamp);
    EXPECT_EQ(t.column("D").int64s()[0], make_timestamp(2024, 5, 10).ns);
    EXPECT_EQ(t.column("D").int64s()[1], Timestamp::NaT);
    EXPECT_EQ(t.column("TS").int64s()[0], make_timestamp(2024, 5, 10, 12, 34, 56).ns + 789'000'000);
    EXPECT_EQ(t.column("R").type(), DataType::Binary);
    EXPECT_EQ(t.column("R").text(0), std::string("\x00\xff", 2));
    EXPECT_EQ(t.column("CL").type(), DataType::String);
    EXPECT_EQ(t.column("CL").text(0), "地电阻率\ntwo lines");
    EXPECT_EQ(t.column("BL").type(), DataType::Binary);
    EXPECT_EQ(t.column("BL").text(0), "\x1f\x8b\x08");
    EXPECT_TRUE(t.column("BL").is_null(1) && t.column("CL").is_null(1) && t.column("TS").is_null(1));
    // More rows than one array holds, in their order, one round trip per
    // array: the execute's reply already brings the first.
    trips = standin_count("tremora_standin_round_trips");
    Table many = conn->query("SELECT I, S FROM QZDATA.MANY ORDER BY I");
    EXPECT_EQ(standin_count("tremora_standin_round_trips") - trips, 3);  // 1234 rows, 500 an array
    ASSERT_EQ(many.num_rows(), 1234u);
    EXPECT_EQ(many.column("I").int64s()[1233], 1233);
    EXPECT_EQ(many.column("S").text(777), "row 777");
    // An empty result keeps its columns and their types.
    Table none = conn->query("SELECT I, S FROM QZDATA.MANY WHERE I < 0");
    EXPECT_EQ(none.num_rows(), 0u);
    EXPECT_EQ(none.column("I").type(), DataType::Int64);
    EXPECT_EQ(none.column("S").type(), DataType::String);
    conn->close();
    EXPECT_FALSE(conn->is_open());
    EXPECT_NE(database_error([&] { conn->query("SELECT I FROM QZDATA.MANY"); }).first.find("closed"),
              std::string::npos);
  }
  EXPECT_EQ(live_handles(), before);
}

TEST(OracleDriver, NamedBindsOfEveryKind) {
  testing::TempDir dir;
  auto file =
      testing::make_sqlite_file(dir, {"CREATE TABLE T (ID INTEGER, NAME TEXT, W REAL, D DATE)",
                                      "INSERT INTO T VALUES (1, '郯城', 1.5, 2460440.5), (2, '泰安', 2.5, 2460441.5)"});
  auto conn = testing::open_through_standin(file);
  Binds binds{{"name", Value(std::string("郯"))}, {"unused", Value(int64_t(7))}};
  Table t = conn->query("SELECT ID FROM QZDATA.T WHERE NAME LIKE '%' || :name || '%'", binds);
  ASSERT_EQ(t.num_rows(), 1u);
  EXPECT_EQ(t.column("ID").int64s()[0], 1);
  EXPECT_EQ(conn->query("SELECT ID FROM QZDATA.T WHERE ID = :id", {{"id", Value(int64_t(2))}}).num_rows(), 1u);
  EXPECT_EQ(conn->query("SELECT ID FROM QZDATA.T WHERE W > :w", {{"w", Value(2.0)}}).num_rows(), 1u);
  EXPECT_EQ(conn->query("SELECT ID FROM QZDATA.T WHERE NAME = :n", {{"n", Value()}}).num_rows(), 0u);
  EXPECT_EQ(database_error([&] { conn->query("SELECT ID FROM QZDATA.T WHERE ID = :id"); }).first,
            "no value is bound for the parameter :id");
}

// Times and bytes bound as parameters select the same rows on both drivers:
// the oracle driver sends times as seven-byte DATEs, the sqlite driver as
// the Julian days its files hold.
TEST(Drivers, TimeAndByteBindsSelectTheSameRows) {
  testing::TempDir dir;
  auto file =
      testing::make_sqlite_file(dir, {"CREATE TABLE T (ID INTEGER, D DATE, R BLOB)",
                                      "INSERT INTO T VALUES (1, 2460440.5, X'0102'), (2, 2460441.75, X'FF00')"});
  for (const auto& conn : {testing::open_through_standin(file), open_sqlite(file)}) {
    auto ids = [&](const std::string& where, const Value& v) {
      Table t = conn->query("SELECT ID FROM QZDATA.T WHERE " + where + " ORDER BY ID", {{"v", v}});
      std::vector<int64_t> out;
      for (std::size_t i = 0; i < t.num_rows(); ++i) out.push_back(t.column("ID").int64s()[i]);
      return out;
    };
    SCOPED_TRACE(conn->info().count("tremora_server_version") ? "oracle driver" : "sqlite driver");
    EXPECT_EQ(ids("D = :v", Value(make_timestamp(2024, 5, 10))), std::vector<int64_t>{1});
    EXPECT_EQ(ids("D > :v", Value(make_timestamp(2024, 5, 11, 5, 59, 59))), std::vector<int64_t>{2});
    EXPECT_EQ(ids("D > :v", Value(make_timestamp(2024, 5, 11, 6, 0, 0))), std::vector<int64_t>{});
    EXPECT_EQ(ids("D < :v", Value(make_timestamp(1901, 1, 1))), std::vector<int64_t>{});
    EXPECT_EQ(ids("R = :v", Value(Bytes{std::string("\xff\x00", 2)})), std::vector<int64_t>{2});
  }
}

TEST(OracleDriver, RefusalsAndErrorsCarryTheirOraCodes) {
  testing::TempDir dir;
  auto file = testing::make_sqlite_file(dir, {"CREATE TABLE T (ID INTEGER)", "INSERT INTO T VALUES (1)"});
  long before = live_handles();
  ConnectionSettings good = testing::standin_service(file);
  {
    ScopedEnv login("TREMORA_OCI_STANDIN_LOGIN", "qz/pw");
    ConnectionSettings wrong = good;
    wrong.password = "not-the-password";
    auto [message, code] = database_error([&] { open_oracle(wrong); });
    EXPECT_EQ(code, 1017);
    EXPECT_NE(message.find("ORA-01017"), std::string::npos) << message;
    EXPECT_EQ(message.find("not-the-password"), std::string::npos) << message;
  }
  ConnectionSettings service = good;
  service.tnsname = "NOSUCH";
  auto [unknown, unknown_code] = database_error([&] { open_oracle(service); });
  EXPECT_EQ(unknown_code, 12514);
  EXPECT_NE(unknown.find("ORA-12514"), std::string::npos) << unknown;
  EXPECT_NE(unknown.find("(TNSNAME 'NOSUCH' as a SID failed too: ORA-12505: "), std::string::npos) << unknown;
  EXPECT_EQ(open_oracle(good)->info().at("tremora_connect_form"), "service name");
  {
    // A TNSNAME the listener knows only as a SID connects in that form.
    ScopedEnv sid_only("TREMORA_OCI_STANDIN_DATABASES",
                       "standin:1521:ORCL=" + std::filesystem::absolute(file).string());
    ConnectionSettings by_sid = good;
    by_sid.tnsname = "ORCL";
    auto conn = open_oracle(by_sid);
    EXPECT_EQ(conn->info().at("tremora_connect_form"), "SID");
    EXPECT_EQ(conn->query("SELECT ID FROM QZDATA.T").num_rows(), 1u);
  }
  ConnectionSettings host = good;
  host.port = "1";
  auto [refused, refused_code] = database_error([&] { open_oracle(host); });
  EXPECT_EQ(refused_code, 12541);
  EXPECT_NE(refused.find("//standin:1/"), std::string::npos) << refused;
  auto conn = open_oracle(good);
  auto [missing, missing_code] = database_error([&] { conn->query("SELECT * FROM QZDATA.NOSUCH"); });
  EXPECT_EQ(missing_code, 942);
  EXPECT_NE(missing.find("ORA-00942"), std::string::npos) << missing;
  EXPECT_NE(database_error([&] { conn->query("DELETE FROM QZDATA.T"); }).first.find("not one read-only SELECT"),
            std::string::npos);
  EXPECT_EQ(conn->query("SELECT ID FROM QZDATA.T").num_rows(), 1u);  // the session is still usable
  conn.reset();
  EXPECT_EQ(live_handles(), before);
}

TEST(OracleDriver, ConnectionLostWhileFetchingIsAnError) {
  testing::TempDir dir;
  auto file =
      testing::make_sqlite_file(dir, {"CREATE TABLE MANY (I INTEGER, B BLOB)",
                                      "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 1999) "
                                      "INSERT INTO MANY SELECT i, randomblob(100) FROM k"});
  long before = live_handles();
  {
    ScopedEnv drop("TREMORA_OCI_STANDIN_FAIL_FETCH_AFTER", "2");
    auto conn = testing::open_through_standin(file);
    auto [message, code] = database_error([&] { conn->query("SELECT I, B FROM QZDATA.MANY"); });
    EXPECT_EQ(code, 3113);
    EXPECT_NE(message.find("ORA-03113"), std::string::npos) << message;
    EXPECT_NE(database_error([&] { conn->query("SELECT I FROM QZDATA.MANY"); }).second, 0);
  }
  EXPECT_EQ(live_handles(), before);
}

TEST(OracleDriver, MissingClientLibraryTellsWhatToInstall) {
  testing::TempDir empty;
  if (oracle::client_ready()) GTEST_SKIP() << "the client is loaded in this process already";
  std::string message = testing::error_of([&] { oracle::init_client(empty.path().string(), ""); });
  EXPECT_NE(message.find("cannot load the Oracle client library libclntsh.so (searched '" + empty.path().string()),
            std::string::npos)
      << message;
  EXPECT_NE(message.find("install Oracle Instant Client"), std::string::npos) << message;
  EXPECT_NE(message.find("ORACLE_CLIENT_LIB_DIR"), std::string::npos) << message;
}

// Each case loads the client in a fresh process (the client is loaded once
// per process): a folder holding only a versioned library file, and an
// NLS_LANG the client refuses, whose own error is reported.
TEST(OracleDriverDeathTest, VersionedLibraryNamesAndEnvironmentErrors) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  testing::TempDir copied;
  std::filesystem::copy_file(testing::standin_client_dir() + "/libclntsh.so", copied / "libclntsh.so.19.1");
  EXPECT_EXIT(
      {
        oracle::init_client(copied.path().string(), "");
        std::fprintf(stderr, "loaded %s\n", oracle::client_info().library.c_str());
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "loaded .*/libclntsh.so.19.1");
  auto refused_nls_lang = [] {
    setenv("NLS_LANG", "KLINGON_KRONOS.AL32UTF8", 1);
    std::pair<std::string, int> error = database_error([] { oracle::init_client(testing::standin_client_dir(), ""); });
    std::fprintf(stderr, "%d %s\n", error.second, error.first.c_str());
    std::_Exit(0);
  };
  EXPECT_EXIT(refused_nls_lang(), ::testing::ExitedWithCode(0),
              "12705 the Oracle client environment could not be created: ORA-12705: Cannot access NLS data files");
}

}  // namespace
}  // namespace tremora::db
