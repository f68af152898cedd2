// The C types, opaque handle types and numeric constants of the Oracle Call
// Interface that the stand-in client library implements and its tests use.
// Declared from Oracle's public OCI documentation and headers; each value
// below was checked against the sources named in the table.
//
// Sources:
//   [oci.h 11g]   Oracle oci.h (c) 1995-2008, as published in
//                 FISCO-BCOS/FISCO-BCOS libodbc/include/ora_linux/oci.h
//   [oci.h 19c]   Oracle oci.h (c) 1995-2021, as published in
//                 EnielAlves/ClienteOracle sdk/include/oci.h
//   [ocidfn.h]    Oracle ocidfn.h (c) 1991-2005, FISCO-BCOS/FISCO-BCOS
//                 libodbc/include/ora_linux/ocidfn.h
//   [ociap.h 19c] Oracle ociap.h (c) 1996-2021, EnielAlves/ClienteOracle
//                 sdk/include/ociap.h (prototypes, see oci_api.hpp)
//   [OCI guide]   Oracle Call Interface Programmer's Guide,
//                 https://docs.oracle.com/en/database/oracle/oracle-database/19/lnoci/
//
//   constant                           value        source
//   ---------------------------------  -----------  -----------------------------
//   OCI_SUCCESS                        0            oci.h 11g, oci.h 19c
//   OCI_SUCCESS_WITH_INFO              1            oci.h 11g
//   OCI_NEED_DATA                      99           oci.h 11g
//   OCI_NO_DATA                        100          oci.h 11g
//   OCI_ERROR                          -1           oci.h 11g
//   OCI_INVALID_HANDLE                 -2           oci.h 11g
//   OCI_DEFAULT                        0x0          oci.h 11g
//   OCI_THREADED                       0x1          oci.h 11g
//   OCI_OBJECT                         0x2          oci.h 11g
//   OCI_HTYPE_ENV / ERROR / SVCCTX     1 / 2 / 3    oci.h 11g
//   OCI_HTYPE_STMT / BIND / DEFINE     4 / 5 / 6    oci.h 11g
//   OCI_HTYPE_SERVER / SESSION         8 / 9        oci.h 11g
//   OCI_DTYPE_LOB                      50           oci.h 11g
//   OCI_DTYPE_PARAM                    53           oci.h 11g
//   OCI_DTYPE_TIMESTAMP / _TZ / _LTZ   68 / 70 / 71 oci.h 11g
//   OCI_ATTR_DATA_SIZE / DATA_TYPE     1 / 2        oci.h 11g (describe attributes)
//   OCI_ATTR_NAME                      4            oci.h 11g
//   OCI_ATTR_PRECISION / SCALE         5 / 6        oci.h 11g
//   OCI_ATTR_IS_NULL                   7            oci.h 11g
//   OCI_ATTR_SERVER / SESSION          6 / 7        oci.h 11g (handle attributes)
//   OCI_ATTR_ROW_COUNT                 9            oci.h 11g
//   OCI_ATTR_PREFETCH_ROWS             11           oci.h 11g
//   OCI_ATTR_PREFETCH_MEMORY           13           oci.h 11g
//   OCI_ATTR_PARAM_COUNT               18           oci.h 11g
//   OCI_ATTR_USERNAME / PASSWORD       22 / 23      oci.h 11g
//   OCI_ATTR_STMT_TYPE                 24           oci.h 11g
//   OCI_ATTR_CHARSET_FORM              32           oci.h 11g
//   OCI_ATTR_SERVER_STATUS             143          oci.h 11g
//   OCI_ATTR_ROWS_FETCHED              197          oci.h 11g
//   OCI_ATTR_CHAR_SIZE                 286          oci.h 11g
//   OCI_ATTR_DEFAULT_LOBPREFETCH_SIZE  438          oci.h 11g
//   OCI_ATTR_LOBPREFETCH_SIZE          439          oci.h 11g
//   OCI_ATTR_LOBPREFETCH_LENGTH        440          oci.h 11g
//   OCI_SERVER_NOT_CONNECTED / NORMAL  0x0 / 0x1    oci.h 11g
//   OCI_CRED_RDBMS / OCI_CRED_EXT      1 / 2        oci.h 11g
//   OCI_NTV_SYNTAX                     1            oci.h 11g
//   OCI_FETCH_NEXT                     0x2          oci.h 11g
//   OCI_DESCRIBE_ONLY                  0x10         oci.h 11g
//   OCI_ONE/FIRST/NEXT/LAST_PIECE      0 / 1 / 2 / 3  oci.h 11g, ocidfn.h
//   OCI_STMT_UNKNOWN .. OCI_STMT_CALL  0 .. 10      oci.h 11g, oci.h 19c
//     (SELECT 1, UPDATE 2, DELETE 3, INSERT 4, CREATE 5, DROP 6, ALTER 7,
//      BEGIN 8, DECLARE 9, CALL 10)
//   OCI_STMT_MERGE                     16           oci.h 19c
//   SQLT_CHR / NUM / INT / FLT / STR   1/2/3/4/5    ocidfn.h
//   SQLT_VNU                           6            ocidfn.h
//   SQLT_DAT                           12           ocidfn.h
//   SQLT_BDOUBLE                       22           ocidfn.h
//   SQLT_BIN                           23           ocidfn.h
//   SQLT_AFC                           96           ocidfn.h
//   SQLT_CLOB / SQLT_BLOB              112 / 113    ocidfn.h
//   SQLT_TIMESTAMP                     187          ocidfn.h
//   SQLT_LNG / RDD / NTY               8/104/108    ocidfn.h
//   SQLT_TIMESTAMP_TZ / _LTZ           188 / 232    ocidfn.h
//   SQLT_INTERVAL_YM / _DS             189 / 190    ocidfn.h
//   SQLT_UROWID                        208          ocidfn.h
//   SQLCS_IMPLICIT / SQLCS_NCHAR       1 / 2        ocidfn.h
//   server release number of 19.0.0.0.0: feature release in bits 24-31
//     (OCI_SERVER_RELEASE_REL(v) = (v >> 24) & 0xFF), the other fields 0,
//     so 0x13000000                                  oci.h 19c
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef unsigned char ub1;
typedef signed char sb1;
typedef uint16_t ub2;
typedef int16_t sb2;
typedef uint32_t ub4;
typedef int32_t sb4;
typedef int64_t sb8;
typedef uint64_t oraub8;
typedef int sword;
typedef int boolean;
typedef unsigned char OraText;

typedef struct OCIEnv OCIEnv;
typedef struct OCIError OCIError;
typedef struct OCISvcCtx OCISvcCtx;
typedef struct OCIStmt OCIStmt;
typedef struct OCIBind OCIBind;
typedef struct OCIDefine OCIDefine;
typedef struct OCIServer OCIServer;
typedef struct OCISession OCISession;
typedef struct OCISnapshot OCISnapshot;
typedef struct OCIParam OCIParam;
typedef struct OCILobLocator OCILobLocator;
typedef struct OCIDateTime OCIDateTime;

/// The read callback of OCILobRead2 (ociap.h).
typedef sb4 (*OCICallbackLobRead2)(void* ctxp, const void* bufp, oraub8 len, ub1 piece, void** changed_bufpp,
                                   oraub8* changed_lenp);
}

// Return codes.
inline constexpr sword OCI_SUCCESS = 0;
inline constexpr sword OCI_SUCCESS_WITH_INFO = 1;
inline constexpr sword OCI_NEED_DATA = 99;
inline constexpr sword OCI_NO_DATA = 100;
inline constexpr sword OCI_ERROR = -1;
inline constexpr sword OCI_INVALID_HANDLE = -2;

// Modes.
inline constexpr ub4 OCI_DEFAULT = 0x0;
inline constexpr ub4 OCI_THREADED = 0x1;
inline constexpr ub4 OCI_OBJECT = 0x2;
inline constexpr ub4 OCI_DESCRIBE_ONLY = 0x10;
inline constexpr ub4 OCI_NTV_SYNTAX = 1;
inline constexpr ub4 OCI_CRED_RDBMS = 1;
inline constexpr ub4 OCI_CRED_EXT = 2;
inline constexpr ub2 OCI_FETCH_NEXT = 0x2;

// Handle types.
inline constexpr ub4 OCI_HTYPE_ENV = 1;
inline constexpr ub4 OCI_HTYPE_ERROR = 2;
inline constexpr ub4 OCI_HTYPE_SVCCTX = 3;
inline constexpr ub4 OCI_HTYPE_STMT = 4;
inline constexpr ub4 OCI_HTYPE_BIND = 5;
inline constexpr ub4 OCI_HTYPE_DEFINE = 6;
inline constexpr ub4 OCI_HTYPE_SERVER = 8;
inline constexpr ub4 OCI_HTYPE_SESSION = 9;

// Descriptor types.
inline constexpr ub4 OCI_DTYPE_LOB = 50;
inline constexpr ub4 OCI_DTYPE_PARAM = 53;
inline constexpr ub4 OCI_DTYPE_TIMESTAMP = 68;
inline constexpr ub4 OCI_DTYPE_TIMESTAMP_TZ = 70;
inline constexpr ub4 OCI_DTYPE_TIMESTAMP_LTZ = 71;

// Attributes of parameter descriptors (describe).
inline constexpr ub4 OCI_ATTR_DATA_SIZE = 1;
inline constexpr ub4 OCI_ATTR_DATA_TYPE = 2;
inline constexpr ub4 OCI_ATTR_NAME = 4;
inline constexpr ub4 OCI_ATTR_PRECISION = 5;
inline constexpr ub4 OCI_ATTR_SCALE = 6;
inline constexpr ub4 OCI_ATTR_IS_NULL = 7;
inline constexpr ub4 OCI_ATTR_CHARSET_FORM = 32;
inline constexpr ub4 OCI_ATTR_CHAR_SIZE = 286;

// Attributes of handles.
inline constexpr ub4 OCI_ATTR_SERVER = 6;
inline constexpr ub4 OCI_ATTR_SESSION = 7;
inline constexpr ub4 OCI_ATTR_ROW_COUNT = 9;
inline constexpr ub4 OCI_ATTR_PREFETCH_ROWS = 11;
inline constexpr ub4 OCI_ATTR_PREFETCH_MEMORY = 13;
inline constexpr ub4 OCI_ATTR_PARAM_COUNT = 18;
inline constexpr ub4 OCI_ATTR_USERNAME = 22;
inline constexpr ub4 OCI_ATTR_PASSWORD = 23;
inline constexpr ub4 OCI_ATTR_STMT_TYPE = 24;
inline constexpr ub4 OCI_ATTR_SERVER_STATUS = 143;
inline constexpr ub4 OCI_ATTR_ROWS_FETCHED = 197;
inline constexpr ub4 OCI_ATTR_DEFAULT_LOBPREFETCH_SIZE = 438;
inline constexpr ub4 OCI_ATTR_LOBPREFETCH_SIZE = 439;
inline constexpr ub4 OCI_ATTR_LOBPREFETCH_LENGTH = 440;

inline constexpr ub4 OCI_SERVER_NOT_CONNECTED = 0x0;
inline constexpr ub4 OCI_SERVER_NORMAL = 0x1;

// Pieces of piecewise operations.
inline constexpr ub1 OCI_ONE_PIECE = 0;
inline constexpr ub1 OCI_FIRST_PIECE = 1;
inline constexpr ub1 OCI_NEXT_PIECE = 2;
inline constexpr ub1 OCI_LAST_PIECE = 3;

// Statement types (OCI_ATTR_STMT_TYPE).
inline constexpr ub2 OCI_STMT_UNKNOWN = 0;
inline constexpr ub2 OCI_STMT_SELECT = 1;
inline constexpr ub2 OCI_STMT_UPDATE = 2;
inline constexpr ub2 OCI_STMT_DELETE = 3;
inline constexpr ub2 OCI_STMT_INSERT = 4;
inline constexpr ub2 OCI_STMT_CREATE = 5;
inline constexpr ub2 OCI_STMT_DROP = 6;
inline constexpr ub2 OCI_STMT_ALTER = 7;
inline constexpr ub2 OCI_STMT_BEGIN = 8;
inline constexpr ub2 OCI_STMT_DECLARE = 9;
inline constexpr ub2 OCI_STMT_CALL = 10;
inline constexpr ub2 OCI_STMT_MERGE = 16;

// External data types.
inline constexpr ub2 SQLT_CHR = 1;
inline constexpr ub2 SQLT_NUM = 2;
inline constexpr ub2 SQLT_INT = 3;
inline constexpr ub2 SQLT_FLT = 4;
inline constexpr ub2 SQLT_STR = 5;
inline constexpr ub2 SQLT_VNU = 6;
inline constexpr ub2 SQLT_LNG = 8;
inline constexpr ub2 SQLT_DAT = 12;
inline constexpr ub2 SQLT_BDOUBLE = 22;
inline constexpr ub2 SQLT_BIN = 23;
inline constexpr ub2 SQLT_AFC = 96;
inline constexpr ub2 SQLT_CLOB = 112;
inline constexpr ub2 SQLT_BLOB = 113;
inline constexpr ub2 SQLT_RDD = 104;  // ROWID
inline constexpr ub2 SQLT_NTY = 108;  // object types
inline constexpr ub2 SQLT_TIMESTAMP = 187;
inline constexpr ub2 SQLT_TIMESTAMP_TZ = 188;
inline constexpr ub2 SQLT_INTERVAL_YM = 189;
inline constexpr ub2 SQLT_INTERVAL_DS = 190;
inline constexpr ub2 SQLT_UROWID = 208;
inline constexpr ub2 SQLT_TIMESTAMP_LTZ = 232;

// Character set forms.
inline constexpr ub1 SQLCS_IMPLICIT = 1;
inline constexpr ub1 SQLCS_NCHAR = 2;
