// The part of the Oracle Call Interface the oracle driver uses, declared
// from Oracle's public OCI documentation: its scalar types, handle and
// descriptor types, attribute numbers, external data types, and the
// prototypes of the functions, which are looked up in the client library
// at run time (the library is never linked, so tremora builds and runs
// where no Oracle client is installed).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tremora::db::oci {

// Scalar types of the interface.
using sword = int32_t;
using ub1 = uint8_t;
using sb1 = int8_t;
using ub2 = uint16_t;
using sb2 = int16_t;
using ub4 = uint32_t;
using sb4 = int32_t;
using sb8 = int64_t;
using oraub8 = uint64_t;
using OraText = unsigned char;

// Return codes.
constexpr sword kSuccess = 0;
constexpr sword kSuccessWithInfo = 1;
constexpr sword kNeedData = 99;
constexpr sword kNoData = 100;
constexpr sword kError = -1;
constexpr sword kInvalidHandle = -2;

// Modes.
constexpr ub4 kDefault = 0x0;
constexpr ub4 kThreaded = 0x1;
constexpr ub4 kObject = 0x2;
constexpr ub4 kCredRdbms = 1;
constexpr ub4 kNativeSyntax = 1;
constexpr ub2 kFetchNext = 0x2;
constexpr ub1 kOnePiece = 0;

// Handle types.
constexpr ub4 kHtypeEnv = 1;
constexpr ub4 kHtypeError = 2;
constexpr ub4 kHtypeSvcCtx = 3;
constexpr ub4 kHtypeStmt = 4;
constexpr ub4 kHtypeDefine = 6;
constexpr ub4 kHtypeServer = 8;
constexpr ub4 kHtypeSession = 9;

// Descriptor types.
constexpr ub4 kDtypeLob = 50;
constexpr ub4 kDtypeParam = 53;
constexpr ub4 kDtypeTimestamp = 68;
constexpr ub4 kDtypeTimestampTz = 70;

// Attributes: of a select-list parameter, of a statement, of the service
// context and session, and of a define.
constexpr ub4 kAttrDataSize = 1;
constexpr ub4 kAttrDataType = 2;
constexpr ub4 kAttrName = 4;
constexpr ub4 kAttrPrecision = 5;
constexpr ub4 kAttrScale = 6;
constexpr ub4 kAttrServer = 6;
constexpr ub4 kAttrSession = 7;
constexpr ub4 kAttrPrefetchRows = 11;
constexpr ub4 kAttrParamCount = 18;
constexpr ub4 kAttrUsername = 22;
constexpr ub4 kAttrPassword = 23;
constexpr ub4 kAttrStmtType = 24;
constexpr ub4 kAttrCharsetForm = 32;
constexpr ub4 kAttrRowsFetched = 197;
constexpr ub4 kAttrCharSize = 286;
constexpr ub4 kAttrLobPrefetchSize = 439;
constexpr ub4 kAttrLobPrefetchLength = 440;

// Statement types (kAttrStmtType).
constexpr ub2 kStmtSelect = 1;

// External data types.
constexpr ub2 kSqltChr = 1;   // VARCHAR2, NVARCHAR2
constexpr ub2 kSqltNum = 2;   // NUMBER, FLOAT
constexpr ub2 kSqltInt = 3;   // signed integer
constexpr ub2 kSqltFlt = 4;   // floating point
constexpr ub2 kSqltVnu = 6;   // NUMBER in its own form, after a length byte
constexpr ub2 kSqltLng = 8;   // LONG
constexpr ub2 kSqltDat = 12;  // DATE, 7 bytes
constexpr ub2 kSqltBin = 23;  // RAW
constexpr ub2 kSqltLbi = 24;  // LONG RAW
constexpr ub2 kSqltAfc = 96;  // CHAR, NCHAR
constexpr ub2 kSqltIbFloat = 100;
constexpr ub2 kSqltIbDouble = 101;
constexpr ub2 kSqltClob = 112;  // CLOB, NCLOB
constexpr ub2 kSqltBlob = 113;
constexpr ub2 kSqltRdd = 104;  // ROWID
constexpr ub2 kSqltTimestamp = 187;
constexpr ub2 kSqltTimestampTz = 188;
constexpr ub2 kSqltTimestampLtz = 232;
constexpr ub2 kSqltIntervalYm = 189;
constexpr ub2 kSqltIntervalDs = 190;
constexpr ub2 kSqltUrowid = 208;

// Character set forms.
constexpr ub1 kCsImplicit = 1;
constexpr ub1 kCsNchar = 2;

// The AL32UTF8 character set id.
constexpr ub2 kAl32Utf8 = 873;

// Column return codes of a define.
constexpr ub2 kRcodeNull = 1405;
constexpr ub2 kRcodeTruncated = 1406;

// Opaque handles.
struct OCIEnv;
struct OCIError;
struct OCIServer;
struct OCISvcCtx;
struct OCISession;
struct OCIStmt;
struct OCIBind;
struct OCIDefine;
struct OCIParam;
struct OCILobLocator;
struct OCIDateTime;
struct OCISnapshot;

using OCICallbackLobRead2 = sb4 (*)(void* ctxp, const void* bufp, oraub8 len, ub1 piece, void** changed_bufpp,
                                    oraub8* changed_lenp);

// The functions, as the documentation declares them.
using OCIEnvNlsCreate = sword (*)(OCIEnv** envp, ub4 mode, void* ctxp, void* (*malocfp)(void*, std::size_t),
                                  void* (*ralocfp)(void*, void*, std::size_t), void (*mfreefp)(void*, void*),
                                  std::size_t xtramem_sz, void** usrmempp, ub2 charset, ub2 ncharset);
using OCIHandleAlloc = sword (*)(const void* parenth, void** hndlpp, ub4 type, std::size_t xtramem_sz, void** usrmempp);
using OCIHandleFree = sword (*)(void* hndlp, ub4 type);
using OCIDescriptorAlloc = sword (*)(const void* parenth, void** descpp, ub4 type, std::size_t xtramem_sz,
                                     void** usrmempp);
using OCIDescriptorFree = sword (*)(void* descp, ub4 type);
using OCIAttrGet = sword (*)(const void* trgthndlp, ub4 trghndltyp, void* attributep, ub4* sizep, ub4 attrtype,
                             OCIError* errhp);
using OCIAttrSet = sword (*)(void* trgthndlp, ub4 trghndltyp, void* attributep, ub4 size, ub4 attrtype,
                             OCIError* errhp);
using OCIErrorGet = sword (*)(void* hndlp, ub4 recordno, OraText* sqlstate, sb4* errcodep, OraText* bufp, ub4 bufsiz,
                              ub4 type);
using OCIServerAttach = sword (*)(OCIServer* srvhp, OCIError* errhp, const OraText* dblink, sb4 dblink_len, ub4 mode);
using OCIServerDetach = sword (*)(OCIServer* srvhp, OCIError* errhp, ub4 mode);
using OCISessionBegin = sword (*)(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 credt, ub4 mode);
using OCISessionEnd = sword (*)(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 mode);
using OCIStmtPrepare2 = sword (*)(OCISvcCtx* svchp, OCIStmt** stmthp, OCIError* errhp, const OraText* stmttext,
                                  ub4 stmt_len, const OraText* key, ub4 keylen, ub4 language, ub4 mode);
using OCIStmtRelease = sword (*)(OCIStmt* stmthp, OCIError* errhp, const OraText* key, ub4 keylen, ub4 mode);
using OCIBindByName2 = sword (*)(OCIStmt* stmtp, OCIBind** bindpp, OCIError* errhp, const OraText* placeholder,
                                 sb4 placeh_len, void* valuep, sb8 value_sz, ub2 dty, void* indp, ub4* alenp,
                                 ub2* rcodep, ub4 maxarr_len, ub4* curelep, ub4 mode);
using OCIStmtExecute = sword (*)(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 rowoff,
                                 const OCISnapshot* snap_in, OCISnapshot* snap_out, ub4 mode);
using OCIParamGet = sword (*)(const void* hndlp, ub4 htype, OCIError* errhp, void** parmdpp, ub4 pos);
using OCIDefineByPos2 = sword (*)(OCIStmt* stmtp, OCIDefine** defnpp, OCIError* errhp, ub4 position, void* valuep,
                                  sb8 value_sz, ub2 dty, void* indp, ub4* rlenp, ub2* rcodep, ub4 mode);
using OCIStmtFetch2 = sword (*)(OCIStmt* stmthp, OCIError* errhp, ub4 nrows, ub2 orientation, sb4 scroll_offset,
                                ub4 mode);
using OCILobGetLength2 = sword (*)(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8* lenp);
using OCILobRead2 = sword (*)(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8* byte_amtp,
                              oraub8* char_amtp, oraub8 offset, void* bufp, oraub8 bufl, ub1 piece, void* ctxp,
                              OCICallbackLobRead2 cbfp, ub2 csid, ub1 csfrm);
using OCIDateTimeGetDate = sword (*)(void* hndl, OCIError* err, const OCIDateTime* date, sb2* yr, ub1* mnth, ub1* dy);
using OCIDateTimeGetTime = sword (*)(void* hndl, OCIError* err, OCIDateTime* datetime, ub1* hr, ub1* mm, ub1* ss,
                                     ub4* fsec);
using OCIDateTimeGetTimeZoneOffset = sword (*)(void* hndl, OCIError* err, const OCIDateTime* datetime, sb1* hr,
                                               sb1* mm);
using OCIClientVersion = void (*)(sword* major_version, sword* minor_version, sword* update_num, sword* patch_num,
                                  sword* port_update_num);
using OCIServerRelease = sword (*)(void* hndlp, OCIError* errhp, OraText* bufp, ub4 bufsz, ub1 hndltype, ub4* version);

/// The functions of a loaded client library.
struct Api {
  OCIEnvNlsCreate env_nls_create = nullptr;
  OCIHandleAlloc handle_alloc = nullptr;
  OCIHandleFree handle_free = nullptr;
  OCIDescriptorAlloc descriptor_alloc = nullptr;
  OCIDescriptorFree descriptor_free = nullptr;
  OCIAttrGet attr_get = nullptr;
  OCIAttrSet attr_set = nullptr;
  OCIErrorGet error_get = nullptr;
  OCIServerAttach server_attach = nullptr;
  OCIServerDetach server_detach = nullptr;
  OCISessionBegin session_begin = nullptr;
  OCISessionEnd session_end = nullptr;
  OCIStmtPrepare2 stmt_prepare2 = nullptr;
  OCIStmtRelease stmt_release = nullptr;
  OCIBindByName2 bind_by_name2 = nullptr;
  OCIStmtExecute stmt_execute = nullptr;
  OCIParamGet param_get = nullptr;
  OCIDefineByPos2 define_by_pos2 = nullptr;
  OCIStmtFetch2 stmt_fetch2 = nullptr;
  OCILobGetLength2 lob_get_length2 = nullptr;
  OCILobRead2 lob_read2 = nullptr;
  OCIDateTimeGetDate date_time_get_date = nullptr;
  OCIDateTimeGetTime date_time_get_time = nullptr;
  OCIDateTimeGetTimeZoneOffset date_time_get_time_zone_offset = nullptr;
  OCIClientVersion client_version = nullptr;
  OCIServerRelease server_release = nullptr;
};

}  // namespace tremora::db::oci
