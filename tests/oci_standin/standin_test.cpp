// The stand-in Oracle client library, loaded with dlopen and driven the way
// the OCI documentation shows: connect, prepare, execute, describe, define
// arrays, fetch to OCI_NO_DATA, read LOBs, and the ORA errors on the way.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "oci_api.hpp"
#include "test_support.hpp"

namespace {

using tremora::testing::ScopedEnv;
using tremora::testing::TempDir;

// The library's functions, looked up by name as a driver does.
struct Oci {
  void* lib = dlopen(TREMORA_OCI_STANDIN_DIR "/libclntsh.so", RTLD_NOW | RTLD_LOCAL);
  template <class F>
  F get(const char* name) const {
    return lib ? reinterpret_cast<F>(dlsym(lib, name)) : nullptr;
  }
#define TREMORA_OCI_FN(name) decltype(&::name) name = get<decltype(&::name)>(#name)
  TREMORA_OCI_FN(OCIEnvNlsCreate);
  TREMORA_OCI_FN(OCIHandleAlloc);
  TREMORA_OCI_FN(OCIHandleFree);
  TREMORA_OCI_FN(OCIDescriptorAlloc);
  TREMORA_OCI_FN(OCIDescriptorFree);
  TREMORA_OCI_FN(OCIAttrSet);
  TREMORA_OCI_FN(OCIAttrGet);
  TREMORA_OCI_FN(OCIErrorGet);
  TREMORA_OCI_FN(OCIServerAttach);
  TREMORA_OCI_FN(OCIServerDetach);
  TREMORA_OCI_FN(OCISessionBegin);
  TREMORA_OCI_FN(OCISessionEnd);
  TREMORA_OCI_FN(OCIStmtPrepare2);
  TREMORA_OCI_FN(OCIStmtRelease);
  TREMORA_OCI_FN(OCIBindByName2);
  TREMORA_OCI_FN(OCIStmtExecute);
  TREMORA_OCI_FN(OCIParamGet);
  TREMORA_OCI_FN(OCIDefineByPos2);
  TREMORA_OCI_FN(OCIStmtFetch2);
  TREMORA_OCI_FN(OCILobGetLength2);
  TREMORA_OCI_FN(OCILobRead2);
  TREMORA_OCI_FN(OCIDateTimeGetDate);
  TREMORA_OCI_FN(OCIDateTimeGetTime);
  TREMORA_OCI_FN(OCIClientVersion);
  TREMORA_OCI_FN(OCIServerRelease);
  TREMORA_OCI_FN(OCIPing);
  TREMORA_OCI_FN(tremora_standin_live_handles);
#undef TREMORA_OCI_FN
};

const Oci& oci() {
  static const Oci loaded;
  return loaded;
}

constexpr const char* kClob = "Grüße, 日本 — ok";  // 14 characters in 22 bytes

void make_database(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  std::string sql = std::string(R"(
    CREATE TABLE samples (id INTEGER NOT NULL, name VARCHAR2(8), nname NVARCHAR2(10), code CHAR(3),
      amount NUMBER(10,2), whole NUMBER(5), anything NUMBER, ratio REAL, day DATE, stamp TIMESTAMP,
      note CLOB, nnote NCLOB, data BLOB, raw RAW(4));
    INSERT INTO samples VALUES (1, 'alpha', 'äö', 'ab', 12.5, 42, 7, 0.25, julianday('2024-03-01 18:30:15'),
      '2024-03-01 18:30:15.123456789', ')") +
                    kClob + R"(', 'n', x'00FF10', x'DEADBEEF');
    INSERT INTO samples VALUES (70000, 'a-longer-name', NULL, NULL, -3.75, NULL, NULL, NULL, NULL, NULL,
      'second', NULL, NULL, NULL);
    INSERT INTO samples VALUES (3, 'c', NULL, NULL, 0, 1, NULL, 1e20, julianday('1999-12-31'), NULL,
      'third', NULL, x'', NULL);)";
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

class Standin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(o.lib) << dlerror();
    make_database(dir / "qz.db");
    baseline = o.tremora_standin_live_handles();
    ASSERT_EQ(o.OCIEnvNlsCreate(&env, OCI_THREADED, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 873, 873),
              OCI_SUCCESS);
    for (auto [handle, type] : {std::pair{(void**)&err, OCI_HTYPE_ERROR},
                                {(void**)&srv, OCI_HTYPE_SERVER},
                                {(void**)&svc, OCI_HTYPE_SVCCTX},
                                {(void**)&ses, OCI_HTYPE_SESSION}})
      ASSERT_EQ(o.OCIHandleAlloc(env, handle, type, 0, nullptr), OCI_SUCCESS);
  }

  // Ends what is open and frees every handle on its own, so that a handle
  // the test left behind shows in the count.
  void TearDown() override {
    o.OCISessionEnd(svc, err, ses, OCI_DEFAULT);
    o.OCIServerDetach(srv, err, OCI_DEFAULT);
    for (auto [handle, type] : {std::pair{(void*)ses, OCI_HTYPE_SESSION},
                                {(void*)svc, OCI_HTYPE_SVCCTX},
                                {(void*)srv, OCI_HTYPE_SERVER},
                                {(void*)err, OCI_HTYPE_ERROR}})
      EXPECT_EQ(o.OCIHandleFree(handle, type), OCI_SUCCESS);
    EXPECT_EQ(o.tremora_standin_live_handles(), baseline);
    o.OCIHandleFree(env, OCI_HTYPE_ENV);
  }

  sword connect(const std::string& where = "//db.example:1521/QZ", const std::string& user = "scott",
                const std::string& password = "tiger") {
    sword rc = o.OCIServerAttach(srv, err, (const OraText*)where.data(), sb4(where.size()), OCI_DEFAULT);
    if (rc != OCI_SUCCESS) return rc;
    o.OCIAttrSet(svc, OCI_HTYPE_SVCCTX, srv, 0, OCI_ATTR_SERVER, err);
    o.OCIAttrSet(ses, OCI_HTYPE_SESSION, (void*)user.data(), ub4(user.size()), OCI_ATTR_USERNAME, err);
    o.OCIAttrSet(ses, OCI_HTYPE_SESSION, (void*)password.data(), ub4(password.size()), OCI_ATTR_PASSWORD, err);
    return o.OCISessionBegin(svc, err, ses, OCI_CRED_RDBMS, OCI_DEFAULT);
  }

  OCIStmt* prepare(const std::string& sql) {
    OCIStmt* st = nullptr;
    EXPECT_EQ(o.OCIStmtPrepare2(svc, &st, err, (const OraText*)sql.data(), ub4(sql.size()), nullptr, 0, OCI_NTV_SYNTAX,
                                OCI_DEFAULT),
              OCI_SUCCESS);
    return st;
  }

  sword execute(OCIStmt* st) { return o.OCIStmtExecute(svc, st, err, 0, 0, nullptr, nullptr, OCI_DEFAULT); }

  // A prepared and executed query.
  OCIStmt* query(const std::string& sql) {
    OCIStmt* st = prepare(sql);
    EXPECT_EQ(execute(st), OCI_SUCCESS) << sql << ": " << error();
    return st;
  }
  void release(OCIStmt* st) { EXPECT_EQ(o.OCIStmtRelease(st, err, nullptr, 0, OCI_DEFAULT), OCI_SUCCESS); }
  sword fetch(OCIStmt* st, ub4 rows) { return o.OCIStmtFetch2(st, err, rows, OCI_FETCH_NEXT, 0, OCI_DEFAULT); }

  template <class T>
  T attr(const void* handle, ub4 type, ub4 attribute) {
    T value{};
    EXPECT_EQ(o.OCIAttrGet(handle, type, &value, nullptr, attribute, err), OCI_SUCCESS);
    return value;
  }

  std::string error() {
    char text[512] = "";
    sb4 code = 0;
    o.OCIErrorGet(err, 1, nullptr, &code, (OraText*)text, sizeof text, OCI_HTYPE_ERROR);
    return text;
  }

  // The error the next fetch of one row gives (the statement released).
  std::string fetch_error(OCIStmt* st) {
    EXPECT_EQ(fetch(st, 1), OCI_ERROR);
    release(st);
    return error();
  }

  // The error a query gives at execute (its statement released).
  std::string execute_error(const std::string& sql) {
    OCIStmt* st = prepare(sql);
    EXPECT_EQ(execute(st), OCI_ERROR);
    release(st);
    return error();
  }

  sword define(OCIStmt* st, ub4 pos, void* value, sb8 size, ub2 dty, sb2* ind = nullptr, ub4* len = nullptr,
               ub2* code = nullptr) {
    OCIDefine* d = nullptr;
    return o.OCIDefineByPos2(st, &d, err, pos, value, size, dty, ind, len, code, OCI_DEFAULT);
  }

  const Oci& o = oci();
  TempDir dir;
  ScopedEnv databases{"TREMORA_OCI_STANDIN_DATABASES",
                      "db.example:1521/qz=" + (dir / "qz.db").string() + ";db.example:1521/other=/nowhere.db"};
  ScopedEnv login{"TREMORA_OCI_STANDIN_LOGIN", std::nullopt};
  ScopedEnv failure{"TREMORA_OCI_STANDIN_FAIL_FETCH_AFTER", std::nullopt};
  long baseline = 0;
  OCIEnv* env = nullptr;
  OCIError* err = nullptr;
  OCIServer* srv = nullptr;
  OCISvcCtx* svc = nullptr;
  OCISession* ses = nullptr;
};

TEST_F(Standin, ConnectsLogsOnAndReportsVersions) {
  ASSERT_EQ(connect("DB.example:1521/qz"), OCI_SUCCESS);
  EXPECT_EQ(o.OCIPing(svc, err, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(attr<ub4>(srv, OCI_HTYPE_SERVER, OCI_ATTR_SERVER_STATUS), OCI_SERVER_NORMAL);
  char release_text[100];
  ub4 version = 0;
  ASSERT_EQ(o.OCIServerRelease(svc, err, (OraText*)release_text, sizeof release_text, OCI_HTYPE_SVCCTX, &version),
            OCI_SUCCESS);
  EXPECT_STREQ(release_text, "Oracle Database 19c Stand-in Release 19.0.0.0.0");
  EXPECT_EQ(version >> 24, 19u);
  EXPECT_EQ(version & 0xFFFFFF, 0u);
  sword v[5] = {};
  o.OCIClientVersion(&v[0], &v[1], &v[2], &v[3], &v[4]);
  EXPECT_EQ(std::vector<sword>(v, v + 5), (std::vector<sword>{19, 99, 0, 0, 0}));
}

TEST_F(Standin, RefusesUnknownListenersServicesAndAccounts) {
  EXPECT_EQ(connect("//elsewhere:1521/QZ"), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-12541: TNS:no listener");
  EXPECT_EQ(connect("//db.example:1521/NOPE"), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-12514: TNS:listener does not currently know of service requested in connect descriptor");
  EXPECT_EQ(connect("no-service-here"), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-12154: TNS:could not resolve the connect identifier specified");
  ScopedEnv account("TREMORA_OCI_STANDIN_LOGIN", "SCOTT/tiger");
  EXPECT_EQ(connect("//db.example:1521/QZ", "scott", "TIGER"), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-01017: invalid username/password; logon denied");
  sb4 code = 0;
  EXPECT_EQ(o.OCIErrorGet(err, 2, nullptr, &code, nullptr, 0, OCI_HTYPE_ERROR), OCI_NO_DATA);
  EXPECT_EQ(o.OCISessionBegin(svc, err, ses, OCI_CRED_RDBMS, OCI_DEFAULT), OCI_ERROR);  // still the wrong password
  o.OCIAttrSet(ses, OCI_HTYPE_SESSION, (void*)"tiger", 5, OCI_ATTR_PASSWORD, err);
  EXPECT_EQ(o.OCISessionBegin(svc, err, ses, OCI_CRED_RDBMS, OCI_DEFAULT), OCI_SUCCESS);
}

TEST_F(Standin, DescribesDeclaredTypesAndExpressions) {
  ASSERT_EQ(connect(), OCI_SUCCESS);
  OCIStmt* st = prepare("SELECT * FROM QZDATA.samples");
  EXPECT_EQ(attr<ub2>(st, OCI_HTYPE_STMT, OCI_ATTR_STMT_TYPE), OCI_STMT_SELECT);
  ASSERT_EQ(execute(st), OCI_SUCCESS);
  ASSERT_EQ(attr<ub4>(st, OCI_HTYPE_STMT, OCI_ATTR_PARAM_COUNT), 14u);
  struct Expected {
    const char* name;
    ub2 type, size;
    sb2 precision;
    sb1 scale;
    ub1 form;
  };
  const Expected expected[] = {{"id", SQLT_NUM, 22, 38, 0, 0},
                               {"name", SQLT_CHR, 8, 0, 0, SQLCS_IMPLICIT},
                               {"nname", SQLT_CHR, 20, 0, 0, SQLCS_NCHAR},  // AL16UTF16 bytes
                               {"code", SQLT_AFC, 3, 0, 0, SQLCS_IMPLICIT},
                               {"amount", SQLT_NUM, 22, 10, 2, 0},
                               {"whole", SQLT_NUM, 22, 5, 0, 0},
                               {"anything", SQLT_NUM, 22, 0, -127, 0},
                               {"ratio", SQLT_NUM, 22, 126, -127, 0},
                               {"day", SQLT_DAT, 7, 0, 0, 0},
                               {"stamp", SQLT_TIMESTAMP, 11, 0, 6, 0},
                               {"note", SQLT_CLOB, 4000, 0, 0, SQLCS_IMPLICIT},
                               {"nnote", SQLT_CLOB, 4000, 0, 0, SQLCS_NCHAR},
                               {"data", SQLT_BLOB, 4000, 0, 0, 0},
                               {"raw", SQLT_BIN, 4, 0, 0, 0}};
  for (ub4 pos = 1; pos <= 14; ++pos) {
    const Expected& e = expected[pos - 1];
    void* param = nullptr;
    ASSERT_EQ(o.OCIParamGet(st, OCI_HTYPE_STMT, err, &param, pos), OCI_SUCCESS);
    OraText* name = nullptr;
    ub4 name_size = 0;
    o.OCIAttrGet(param, OCI_DTYPE_PARAM, &name, &name_size, OCI_ATTR_NAME, err);
    EXPECT_EQ(std::string((char*)name, name_size), e.name);
    EXPECT_EQ(attr<ub2>(param, OCI_DTYPE_PARAM, OCI_ATTR_DATA_TYPE), e.type) << e.name;
    EXPECT_EQ(attr<ub2>(param, OCI_DTYPE_PARAM, OCI_ATTR_DATA_SIZE), e.size) << e.name;
    EXPECT_EQ(attr<sb2>(param, OCI_DTYPE_PARAM, OCI_ATTR_PRECISION), e.precision) << e.name;
    EXPECT_EQ(attr<sb1>(param, OCI_DTYPE_PARAM, OCI_ATTR_SCALE), e.scale) << e.name;
    EXPECT_EQ(attr<ub1>(param, OCI_DTYPE_PARAM, OCI_ATTR_CHARSET_FORM), e.form) << e.name;
    EXPECT_EQ(attr<ub1>(param, OCI_DTYPE_PARAM, OCI_ATTR_IS_NULL), pos == 1 ? 0 : 1) << e.name;
    EXPECT_EQ(o.OCIDescriptorFree(param, OCI_DTYPE_PARAM), OCI_SUCCESS);
  }
  void* param = nullptr;
  EXPECT_EQ(o.OCIParamGet(st, OCI_HTYPE_STMT, err, &param, 15), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-24334: no descriptor for this position");
  release(st);

  st = prepare(
      "WITH t AS (SELECT 1) SELECT id * 2 AS twice, ratio * 1 AS r, name || 'x' AS t, NULL AS n "
      "FROM QZDATA.samples WHERE id = 1");
  EXPECT_EQ(attr<ub2>(st, OCI_HTYPE_STMT, OCI_ATTR_STMT_TYPE), OCI_STMT_SELECT);
  ASSERT_EQ(execute(st), OCI_SUCCESS);
  // A numeric expression is described as Oracle describes it: a NUMBER
  // without precision (0) or scale (-127).
  const std::pair<ub2, sb1> stored[] = {{SQLT_NUM, -127}, {SQLT_NUM, -127}, {SQLT_CHR, 0}, {SQLT_CHR, 0}};
  for (ub4 pos = 1; pos <= 4; ++pos) {
    void* p = nullptr;
    ASSERT_EQ(o.OCIParamGet(st, OCI_HTYPE_STMT, err, &p, pos), OCI_SUCCESS);
    EXPECT_EQ(attr<ub2>(p, OCI_DTYPE_PARAM, OCI_ATTR_DATA_TYPE), stored[pos - 1].first);
    EXPECT_EQ(attr<sb1>(p, OCI_DTYPE_PARAM, OCI_ATTR_SCALE), stored[pos - 1].second);
    o.OCIDescriptorFree(p, OCI_DTYPE_PARAM);
  }
  release(st);
  for (auto [sql, type] : {std::pair{"  /* note */ insert into t values (1)", OCI_STMT_INSERT},
                           {"UPDATE t SET a = 1", OCI_STMT_UPDATE},
                           {"begin null; end;", OCI_STMT_BEGIN}}) {
    st = prepare(sql);  // preparing alone never touches the database
    EXPECT_EQ(attr<ub2>(st, OCI_HTYPE_STMT, OCI_ATTR_STMT_TYPE), type) << sql;
    release(st);
  }
}

TEST_F(Standin, FetchesDefinedArraysUntilNoData) {
  ASSERT_EQ(connect(), OCI_SUCCESS);
  OCIStmt* st = query("SELECT id, name, amount, amount FROM QZDATA.samples ORDER BY rowid");
  int64_t ids[2] = {};
  char names[2][20] = {};
  double amounts[2] = {};
  char texts[2][10] = {};
  ub4 name_lengths[2] = {};
  ASSERT_EQ(define(st, 1, ids, 8, SQLT_INT), OCI_SUCCESS);
  ASSERT_EQ(define(st, 2, names, 20, SQLT_STR, nullptr, name_lengths), OCI_SUCCESS);
  ASSERT_EQ(define(st, 3, amounts, 8, SQLT_FLT), OCI_SUCCESS);
  ASSERT_EQ(define(st, 4, texts, 10, SQLT_STR), OCI_SUCCESS);
  EXPECT_EQ(define(st, 5, ids, 8, SQLT_INT), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-01007: variable not in select list");

  ASSERT_EQ(fetch(st, 2), OCI_SUCCESS);
  EXPECT_EQ(attr<ub4>(st, OCI_HTYPE_STMT, OCI_ATTR_ROWS_FETCHED), 2u);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 70000);
  EXPECT_STREQ(names[0], "alpha");
  EXPECT_STREQ(names[1], "a-longer-name");
  EXPECT_EQ(name_lengths[1], 13u);
  EXPECT_EQ(amounts[1], -3.75);
  EXPECT_STREQ(texts[0], "12.5");
  EXPECT_STREQ(texts[1], "-3.75");

  ASSERT_EQ(fetch(st, 2), OCI_NO_DATA);  // the last row, filled
  EXPECT_EQ(attr<ub4>(st, OCI_HTYPE_STMT, OCI_ATTR_ROWS_FETCHED), 1u);
  EXPECT_EQ(attr<ub4>(st, OCI_HTYPE_STMT, OCI_ATTR_ROW_COUNT), 3u);
  EXPECT_EQ(ids[0], 3);
  EXPECT_STREQ(texts[0], "0");
  EXPECT_EQ(fetch(st, 2), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-01002: fetch out of sequence");
  release(st);
}

TEST_F(Standin, ConvertsNumbersDatesTimestampsAndRaw) {
  ASSERT_EQ(connect(), OCI_SUCCESS);
  OCIStmt* st = query("SELECT whole, amount, ratio, day, stamp, day, raw, id FROM QZDATA.samples WHERE id = 1");
  int8_t whole = 0;
  int32_t amount = 0;
  char ratio[10] = {};
  ub1 day[7] = {};
  OCIDateTime *stamp = nullptr, *day_stamp = nullptr;
  o.OCIDescriptorAlloc(env, (void**)&stamp, OCI_DTYPE_TIMESTAMP, 0, nullptr);
  o.OCIDescriptorAlloc(env, (void**)&day_stamp, OCI_DTYPE_TIMESTAMP, 0, nullptr);
  ub1 raw[8] = {};
  ub4 raw_length = 0;
  int16_t id = 0;
  define(st, 1, &whole, 1, SQLT_INT);
  define(st, 2, &amount, 4, SQLT_INT);
  define(st, 3, ratio, sizeof ratio, SQLT_STR);
  define(st, 4, day, 7, SQLT_DAT);
  define(st, 5, &stamp, sizeof stamp, SQLT_TIMESTAMP);
  define(st, 6, &day_stamp, sizeof day_stamp, SQLT_TIMESTAMP);
  define(st, 7, raw, sizeof raw, SQLT_BIN, nullptr, &raw_length);
  define(st, 8, &id, 2, SQLT_INT);
  ASSERT_EQ(fetch(st, 1), OCI_SUCCESS) << error();
  EXPECT_EQ(whole, 42);
  EXPECT_EQ(amount, 12);  // the fraction cut off
  EXPECT_STREQ(ratio, ".25");
  EXPECT_EQ(std::vector<ub1>(day, day + 7), (std::vector<ub1>{120, 124, 3, 1, 19, 31, 16}));
  sb2 year = 0;
  ub1 month = 0, mday = 0, hour = 0, minute = 0, second = 0;
  ub4 fsec = 0;
  o.OCIDateTimeGetDate(env, err, stamp, &year, &month, &mday);
  o.OCIDateTimeGetTime(env, err, stamp, &hour, &minute, &second, &fsec);
  EXPECT_EQ(std::vector<int>({year, month, mday, hour, minute, second}), (std::vector<int>{2024, 3, 1, 18, 30, 15}));
  EXPECT_EQ(fsec, 123456789u);
  o.OCIDateTimeGetTime(env, err, day_stamp, &hour, &minute, &second, &fsec);
  EXPECT_EQ(std::vector<int>({hour, minute, second, int(fsec)}), (std::vector<int>{18, 30, 15, 0}));
  EXPECT_EQ(std::vector<ub1>(raw, raw + raw_length), (std::vector<ub1>{0xDE, 0xAD, 0xBE, 0xEF}));
  release(st);

  st = query("SELECT raw FROM QZDATA.samples WHERE id = 1");
  define(st, 1, ratio, sizeof ratio, SQLT_STR);  // RAW as text: hexadecimal
  ASSERT_EQ(fetch(st, 1), OCI_SUCCESS);
  EXPECT_STREQ(ratio, "DEADBEEF");
  release(st);

  st = query("SELECT id, ratio FROM QZDATA.samples WHERE id = 70000");
  define(st, 1, &id, 2, SQLT_INT);
  EXPECT_EQ(fetch_error(st), "ORA-01455: converting column overflows integer datatype");
  st = query("SELECT day FROM QZDATA.samples");
  define(st, 1, &amount, 4, SQLT_INT);
  EXPECT_EQ(fetch_error(st), "ORA-00932: inconsistent datatypes: expected NUMBER got DATE");
  o.OCIDescriptorFree(stamp, OCI_DTYPE_TIMESTAMP);
  o.OCIDescriptorFree(day_stamp, OCI_DTYPE_TIMESTAMP);
}

TEST_F(Standin, ReportsNullsAndTruncation) {
  ASSERT_EQ(connect(), OCI_SUCCESS);
  OCIStmt* st = query("SELECT name, whole FROM QZDATA.samples ORDER BY rowid");
  char names[3][6] = {};
  sb2 name_ind[3] = {}, whole_ind[3] = {};
  ub4 name_len[3] = {};
  ub2 name_code[3] = {}, whole_code[3] = {};
  int64_t wholes[3] = {};
  define(st, 1, names, 6, SQLT_CHR, name_ind, name_len, name_code);
  define(st, 2, wholes, 8, SQLT_INT, whole_ind, nullptr, whole_code);
  ASSERT_EQ(fetch(st, 3), OCI_SUCCESS_WITH_INFO);
  EXPECT_EQ(error(), "ORA-24345: A Truncation or null fetch error occurred");
  EXPECT_EQ(std::string(names[1], name_len[1]), "a-long");
  EXPECT_EQ(name_ind[1], 13);  // the length before truncation
  EXPECT_EQ(name_code[1], 1406);
  EXPECT_EQ(std::string(names[0], name_len[0]), "alpha");
  EXPECT_EQ(name_ind[0], 0);
  EXPECT_EQ(whole_ind[1], -1);
  EXPECT_EQ(whole_code[1], 1405);
  EXPECT_EQ(wholes[2], 1);
  release(st);

  st = query("SELECT whole FROM QZDATA.samples WHERE id = 70000");
  define(st, 1, wholes, 8, SQLT_INT);  // no indicator
  EXPECT_EQ(fetch_error(st), "ORA-01405: fetched column value is NULL");
}

TEST_F(Standin, ReadsLobsThroughLocators) {
  ASSERT_EQ(connect(), OCI_SUCCESS);
  constexpr ub2 kUtf8 = 873;  // AL32UTF8
  OCIStmt* st = query("SELECT note, data FROM QZDATA.samples ORDER BY rowid");
  OCILobLocator *clob = nullptr, *blob = nullptr;
  o.OCIDescriptorAlloc(env, (void**)&clob, OCI_DTYPE_LOB, 0, nullptr);
  o.OCIDescriptorAlloc(env, (void**)&blob, OCI_DTYPE_LOB, 0, nullptr);
  oraub8 length = 0, bytes = 0, chars = 0;
  char buf[64] = {};
  EXPECT_EQ(o.OCILobGetLength2(svc, err, clob, &length), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-22275: invalid LOB locator specified");
  sb2 blob_ind = 0;
  define(st, 1, &clob, sizeof clob, SQLT_CLOB);
  define(st, 2, &blob, sizeof blob, SQLT_BLOB, &blob_ind);
  ASSERT_EQ(fetch(st, 1), OCI_SUCCESS);

  ASSERT_EQ(o.OCILobGetLength2(svc, err, clob, &length), OCI_SUCCESS);
  EXPECT_EQ(length, 14u);
  ASSERT_EQ(o.OCILobRead2(svc, err, clob, &bytes, &chars, 1, buf, sizeof buf, OCI_ONE_PIECE, nullptr, nullptr, kUtf8,
                          SQLCS_IMPLICIT),
            OCI_SUCCESS);
  EXPECT_EQ(std::string(buf, bytes), kClob);
  EXPECT_EQ(chars, 14u);
  bytes = 0, chars = 3;  // three characters from the fourth: "ße,"
  ASSERT_EQ(o.OCILobRead2(svc, err, clob, &bytes, &chars, 4, buf, sizeof buf, OCI_ONE_PIECE, nullptr, nullptr, kUtf8,
                          SQLCS_IMPLICIT),
            OCI_SUCCESS);
  EXPECT_EQ(std::string(buf, bytes), "ße,");
  EXPECT_EQ(chars, 3u);

  std::string pieces;  // polling with a small buffer: whole characters per piece
  bytes = chars = 0;
  sword rc = o.OCILobRead2(svc, err, clob, &bytes, &chars, 1, buf, 5, OCI_FIRST_PIECE, nullptr, nullptr, kUtf8, 0);
  int calls = 1;
  for (pieces.append(buf, bytes); rc == OCI_NEED_DATA; pieces.append(buf, bytes), ++calls)
    rc = o.OCILobRead2(svc, err, clob, &bytes, &chars, 0, buf, 5, OCI_NEXT_PIECE, nullptr, nullptr, kUtf8, 0);
  EXPECT_EQ(rc, OCI_SUCCESS);
  EXPECT_EQ(pieces, kClob);
  EXPECT_GT(calls, 5);
  EXPECT_EQ(o.OCILobRead2(svc, err, clob, &bytes, &chars, 0, buf, 5, OCI_ONE_PIECE, nullptr, nullptr, 0, 0), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-24801: illegal parameter value in OCI lob function");
  // Character set id 0 is NLS_LANG's (US7ASCII when unset), not the environment's.
  bytes = chars = 0;
  ASSERT_EQ(o.OCILobRead2(svc, err, clob, &bytes, &chars, 1, buf, sizeof buf, OCI_ONE_PIECE, nullptr, nullptr, 0,
                          SQLCS_IMPLICIT),
            OCI_SUCCESS);
  EXPECT_EQ(std::string(buf, bytes), "Gr??e, ?? ? ok");
  // One piece of more characters than the buffer has bytes is refused.
  bytes = 0, chars = 14;
  EXPECT_EQ(o.OCILobRead2(svc, err, clob, &bytes, &chars, 1, buf, 5, OCI_ONE_PIECE, nullptr, nullptr, kUtf8, 0),
            OCI_ERROR);
  EXPECT_EQ(error(), "ORA-22921: length of input buffer is smaller than amount requested");

  ASSERT_EQ(o.OCILobGetLength2(svc, err, blob, &length), OCI_SUCCESS);
  EXPECT_EQ(length, 3u);
  bytes = 2;
  ASSERT_EQ(o.OCILobRead2(svc, err, blob, &bytes, nullptr, 2, buf, sizeof buf, OCI_ONE_PIECE, nullptr, nullptr, 0, 0),
            OCI_SUCCESS);
  EXPECT_EQ(std::string(buf, bytes), "\xFF\x10");

  ASSERT_EQ(fetch(st, 1), OCI_SUCCESS);  // the next row overwrites the locators
  EXPECT_EQ(blob_ind, -1);
  o.OCILobGetLength2(svc, err, clob, &length);
  EXPECT_EQ(length, 6u);
  release(st);
  o.OCIDescriptorFree(clob, OCI_DTYPE_LOB);
  o.OCIDescriptorFree(blob, OCI_DTYPE_LOB);
}

TEST_F(Standin, BindsNamedPlaceholders) {
  ASSERT_EQ(connect(), OCI_SUCCESS);
  OCIStmt* st = prepare(
      "SELECT count(*) FROM QZDATA.samples WHERE id >= :low AND name <> :Name AND "
      "amount < :top AND (:nothing IS NULL) AND (raw = :raw OR raw IS NULL)");
  int32_t low = 2;
  const char* name = "zzz";
  double top = 1.0;
  sb2 null_ind = -1;
  ub1 raw[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  OCIBind* b = nullptr;
  auto bind = [&](const char* ph, void* v, sb8 size, ub2 dty, sb2* ind = nullptr) {
    b = nullptr;
    return o.OCIBindByName2(st, &b, err, (const OraText*)ph, sb4(strlen(ph)), v, size, dty, ind, nullptr, nullptr, 0,
                            nullptr, OCI_DEFAULT);
  };
  ASSERT_EQ(bind(":low", &low, 4, SQLT_INT), OCI_SUCCESS);
  ASSERT_EQ(bind(":name", (void*)name, 4, SQLT_STR), OCI_SUCCESS);
  ASSERT_EQ(bind(":top", &top, 8, SQLT_FLT), OCI_SUCCESS);
  ASSERT_EQ(execute(st), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-01008: not all variables bound");
  ASSERT_EQ(bind(":nothing", &low, 4, SQLT_INT, &null_ind), OCI_SUCCESS);
  ASSERT_EQ(bind(":raw", raw, 4, SQLT_BIN), OCI_SUCCESS);
  ASSERT_EQ(execute(st), OCI_SUCCESS) << error();
  int64_t count = 0;
  define(st, 1, &count, 8, SQLT_INT);
  ASSERT_EQ(fetch(st, 1), OCI_SUCCESS);
  EXPECT_EQ(count, 2);  // ids 3 and 70000
  ASSERT_EQ(bind(":extra", &low, 4, SQLT_INT), OCI_SUCCESS);
  EXPECT_EQ(execute(st), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-01036: illegal variable name/number");
  release(st);
}

TEST_F(Standin, GivesOracleErrorsForBadSqlAndBadCalls) {
  ASSERT_EQ(connect(), OCI_SUCCESS);
  EXPECT_EQ(execute_error("SELECT * FROM QZDATA.missing"), "ORA-00942: table or view does not exist");
  EXPECT_EQ(execute_error("SELECT nope FROM QZDATA.samples"), "ORA-00904: \"nope\": invalid identifier");
  EXPECT_EQ(execute_error("SELEC 1"), "ORA-00900: invalid SQL statement: near \"SELEC\": syntax error");
  EXPECT_TRUE(execute_error("DELETE FROM QZDATA.samples").starts_with("ORA-01031: insufficient privileges: "));

  OCIStmt* st = prepare("SELECT id FROM QZDATA.samples");
  ub4 value = 0;
  EXPECT_EQ(o.OCIAttrGet(st, OCI_HTYPE_STMT, &value, nullptr, OCI_ATTR_USERNAME, err), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-24315: illegal attribute type");
  EXPECT_EQ(o.OCIAttrGet(st, OCI_HTYPE_SESSION, &value, nullptr, OCI_ATTR_USERNAME, err), OCI_INVALID_HANDLE);
  EXPECT_EQ(o.OCIAttrGet(ses, OCI_HTYPE_SESSION, &value, nullptr, OCI_ATTR_PASSWORD, err), OCI_ERROR);
  EXPECT_EQ(fetch(st, 1), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-24338: statement handle not executed");
  ASSERT_EQ(execute(st), OCI_SUCCESS);
  int64_t id = 0;
  define(st, 1, &id, 8, SQLT_INT);
  EXPECT_EQ(o.OCIStmtFetch2(st, err, 1, 0x4 /* first */, 0, OCI_DEFAULT), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-24391: invalid fetch operation");
  ub4 rows = 10;  // accepted and without effect on the results
  EXPECT_EQ(o.OCIAttrSet(st, OCI_HTYPE_STMT, &rows, 0, OCI_ATTR_PREFETCH_ROWS, err), OCI_SUCCESS);
  EXPECT_EQ(o.OCIAttrSet(ses, OCI_HTYPE_SESSION, &rows, 0, OCI_ATTR_DEFAULT_LOBPREFETCH_SIZE, err), OCI_SUCCESS);
  release(st);
  EXPECT_EQ(o.OCIStmtRelease(st, err, nullptr, 0, OCI_DEFAULT), OCI_INVALID_HANDLE);  // already released
}

TEST_F(Standin, LosesTheConnectionAtTheInjectedFetch) {
  ScopedEnv fail("TREMORA_OCI_STANDIN_FAIL_FETCH_AFTER", "1");
  ASSERT_EQ(connect(), OCI_SUCCESS);
  OCIStmt* st = query("SELECT id FROM QZDATA.samples");
  int64_t id = 0;
  define(st, 1, &id, 8, SQLT_INT);
  EXPECT_EQ(fetch(st, 1), OCI_SUCCESS);
  EXPECT_EQ(fetch(st, 1), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-03113: end-of-file on communication channel");
  EXPECT_EQ(o.OCIPing(svc, err, OCI_DEFAULT), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-03114: not connected to ORACLE");
  EXPECT_EQ(execute(st), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-03114: not connected to ORACLE");
  EXPECT_EQ(attr<ub4>(srv, OCI_HTYPE_SERVER, OCI_ATTR_SERVER_STATUS), OCI_SERVER_NOT_CONNECTED);
  release(st);
  EXPECT_EQ(o.OCISessionEnd(svc, err, ses, OCI_DEFAULT), OCI_ERROR);
  EXPECT_EQ(o.OCIServerDetach(srv, err, OCI_DEFAULT), OCI_SUCCESS);
}

TEST_F(Standin, CountsHandlesUntilFreed) {
  ASSERT_EQ(connect(), OCI_SUCCESS);
  long before = o.tremora_standin_live_handles();
  OCIStmt* st = prepare("SELECT id FROM QZDATA.samples WHERE id = :id");
  int32_t id = 1;
  OCIBind* b = nullptr;
  o.OCIBindByName2(st, &b, err, (const OraText*)":id", 3, &id, 4, SQLT_INT, nullptr, nullptr, nullptr, 0, nullptr,
                   OCI_DEFAULT);
  ASSERT_EQ(execute(st), OCI_SUCCESS);
  define(st, 1, &id, 4, SQLT_INT);
  void* param = nullptr;
  o.OCIParamGet(st, OCI_HTYPE_STMT, err, &param, 1);
  EXPECT_EQ(o.tremora_standin_live_handles(), before + 4);  // statement, bind, define, parameter
  release(st);                                              // with its bind and define
  EXPECT_EQ(o.tremora_standin_live_handles(), before + 1);  // the parameter is the caller's to free
  EXPECT_EQ(o.OCIHandleFree(param, OCI_DTYPE_PARAM), OCI_INVALID_HANDLE);
  EXPECT_EQ(o.OCIDescriptorFree(param, OCI_DTYPE_PARAM), OCI_SUCCESS);
  EXPECT_EQ(o.tremora_standin_live_handles(), before);

  OCIStmt* plain = nullptr;
  ASSERT_EQ(o.OCIHandleAlloc(env, (void**)&plain, OCI_HTYPE_STMT, 0, nullptr), OCI_SUCCESS);
  EXPECT_EQ(o.OCIStmtRelease(plain, err, nullptr, 0, OCI_DEFAULT), OCI_ERROR);
  EXPECT_EQ(error(), "ORA-24434: OCIStmtRelease called before OCIStmtPrepare2.");
  EXPECT_EQ(o.OCIHandleFree(plain, OCI_HTYPE_ERROR), OCI_INVALID_HANDLE);
  EXPECT_EQ(o.OCIHandleFree(plain, OCI_HTYPE_STMT), OCI_SUCCESS);

  OCIEnv* other = nullptr;  // freeing an environment frees what was allocated under it
  o.OCIEnvNlsCreate(&other, OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, 0);
  void* h = nullptr;
  o.OCIHandleAlloc(other, &h, OCI_HTYPE_ERROR, 0, nullptr);
  o.OCIDescriptorAlloc(other, &h, OCI_DTYPE_LOB, 0, nullptr);
  EXPECT_EQ(o.tremora_standin_live_handles(), before + 2);
  EXPECT_EQ(o.OCIHandleFree(other, OCI_HTYPE_ENV), OCI_SUCCESS);
  EXPECT_EQ(o.tremora_standin_live_handles(), before);
}

}  // namespace
