// The OCI functions the stand-in client library exports, with the argument
// lists of Oracle's ociap.h / OCI Programmer's Guide, plus its leak counter.
// The library defines them; the tests take their types from here to call
// them through dlsym.
#pragma once

#include "oci_types.hpp"

#define TREMORA_OCI_EXPORT __attribute__((visibility("default")))

extern "C" {

TREMORA_OCI_EXPORT sword OCIEnvNlsCreate(OCIEnv** envp, ub4 mode, void* ctxp, void* (*malocfp)(void* ctxp, size_t size),
                                         void* (*ralocfp)(void* ctxp, void* memptr, size_t newsize),
                                         void (*mfreefp)(void* ctxp, void* memptr), size_t xtramem_sz, void** usrmempp,
                                         ub2 charset, ub2 ncharset);
TREMORA_OCI_EXPORT sword OCIHandleAlloc(const void* parenth, void** hndlpp, const ub4 type, const size_t xtramem_sz,
                                        void** usrmempp);
TREMORA_OCI_EXPORT sword OCIHandleFree(void* hndlp, const ub4 type);
TREMORA_OCI_EXPORT sword OCIDescriptorAlloc(const void* parenth, void** descpp, const ub4 type, const size_t xtramem_sz,
                                            void** usrmempp);
TREMORA_OCI_EXPORT sword OCIDescriptorFree(void* descp, const ub4 type);
TREMORA_OCI_EXPORT sword OCIAttrSet(void* trgthndlp, ub4 trghndltyp, void* attributep, ub4 size, ub4 attrtype,
                                    OCIError* errhp);
TREMORA_OCI_EXPORT sword OCIAttrGet(const void* trgthndlp, ub4 trghndltyp, void* attributep, ub4* sizep, ub4 attrtype,
                                    OCIError* errhp);
TREMORA_OCI_EXPORT sword OCIErrorGet(void* hndlp, ub4 recordno, OraText* sqlstate, sb4* errcodep, OraText* bufp,
                                     ub4 bufsiz, ub4 type);
TREMORA_OCI_EXPORT sword OCIServerAttach(OCIServer* srvhp, OCIError* errhp, const OraText* dblink, sb4 dblink_len,
                                         ub4 mode);
TREMORA_OCI_EXPORT sword OCIServerDetach(OCIServer* srvhp, OCIError* errhp, ub4 mode);
TREMORA_OCI_EXPORT sword OCISessionBegin(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 credt, ub4 mode);
TREMORA_OCI_EXPORT sword OCISessionEnd(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 mode);
TREMORA_OCI_EXPORT sword OCIStmtPrepare2(OCISvcCtx* svchp, OCIStmt** stmtp, OCIError* errhp, const OraText* stmt,
                                         ub4 stmt_len, const OraText* key, ub4 key_len, ub4 language, ub4 mode);
TREMORA_OCI_EXPORT sword OCIStmtRelease(OCIStmt* stmtp, OCIError* errhp, const OraText* key, ub4 key_len, ub4 mode);
TREMORA_OCI_EXPORT sword OCIBindByName2(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp, const OraText* placeholder,
                                        sb4 placeh_len, void* valuep, sb8 value_sz, ub2 dty, void* indp, ub4* alenp,
                                        ub2* rcodep, ub4 maxarr_len, ub4* curelep, ub4 mode);
TREMORA_OCI_EXPORT sword OCIStmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 rowoff,
                                        const OCISnapshot* snap_in, OCISnapshot* snap_out, ub4 mode);
TREMORA_OCI_EXPORT sword OCIParamGet(const void* hndlp, ub4 htype, OCIError* errhp, void** parmdpp, ub4 pos);
TREMORA_OCI_EXPORT sword OCIDefineByPos2(OCIStmt* stmtp, OCIDefine** defnp, OCIError* errhp, ub4 position, void* valuep,
                                         sb8 value_sz, ub2 dty, void* indp, ub4* rlenp, ub2* rcodep, ub4 mode);
TREMORA_OCI_EXPORT sword OCIStmtFetch2(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, sb4 scrollOffset,
                                       ub4 mode);
TREMORA_OCI_EXPORT sword OCILobGetLength2(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8* lenp);
TREMORA_OCI_EXPORT sword OCILobRead2(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8* byte_amtp,
                                     oraub8* char_amtp, oraub8 offset, void* bufp, oraub8 bufl, ub1 piece, void* ctxp,
                                     OCICallbackLobRead2 cbfp, ub2 csid, ub1 csfrm);
TREMORA_OCI_EXPORT sword OCIDateTimeGetDate(void* hndl, OCIError* err, const OCIDateTime* datetime, sb2* year,
                                            ub1* month, ub1* day);
TREMORA_OCI_EXPORT sword OCIDateTimeGetTime(void* hndl, OCIError* err, OCIDateTime* datetime, ub1* hour, ub1* min,
                                            ub1* sec, ub4* fsec);
TREMORA_OCI_EXPORT sword OCIDateTimeGetTimeZoneOffset(void* hndl, OCIError* err, const OCIDateTime* datetime, sb1* hour,
                                                      sb1* min);
TREMORA_OCI_EXPORT void OCIClientVersion(sword* featureRelease, sword* releaseUpdate, sword* releaseUpdateRevision,
                                         sword* increment, sword* ext);
TREMORA_OCI_EXPORT sword OCIServerRelease(void* hndlp, OCIError* errhp, OraText* bufp, ub4 bufsz, ub1 hndltype,
                                          ub4* version);
TREMORA_OCI_EXPORT sword OCIPing(OCISvcCtx* svchp, OCIError* errhp, ub4 mode);

/// The handles and descriptors allocated and not yet freed, environment
/// handles excepted (a test's leak check).
TREMORA_OCI_EXPORT long tremora_standin_live_handles(void);
/// The environments OCIEnvNlsCreate has created in this process.
TREMORA_OCI_EXPORT long tremora_standin_environments_created(void);
/// The round trips executes and fetches have made in this process (see
/// count_execute_trip).
TREMORA_OCI_EXPORT long tremora_standin_round_trips(void);
}
