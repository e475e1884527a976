/* JSON-RPC 2.0 records of the CSAPI protocol, the CSAPI error codes with
 * their texts, and the per-thread last error.
 *
 * JSON items in RpcReq/RpcRsp point into a cJSON tree the caller owns and
 * deletes, except the id of a request parsed with parseRpcReqMsg, which is
 * detached and deleted separately. */
#ifndef CSAPI_RPC_H
#define CSAPI_RPC_H

#include <stdint.h>

#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

typedef struct cJSON cJSON;

/* Every CSAPI error code: name, value, text. 0 is success. */
#define CSAPI_ERR_LIST(X)                                             \
  X(NONE, 0, "No error")                                              \
  X(UNKNOWN_FUNCTION, -1, "Unknown function")                         \
  X(BAD_MESSAGE, -2, "Bad message")                                   \
  X(UNSUPPORTED_FUNCTION, -3, "Unsupported function")                 \
  X(NOT_FOUND, -4, "Not found")                                       \
  X(FULL, -5, "Full")                                                 \
  X(TIMEOUT, -6, "Timeout")                                           \
  X(EOF, -7, "EOF")                                                   \
  X(BAD_ADDRESS, -8, "Bad address")                                   \
  X(OUT_OF_RANGE, -9, "Out of range")                                 \
  X(BAD_PARAMETER, -10, "Bad parameter")                              \
  X(NOT_AUTHORIZED, -11, "Not authorized")                            \
  X(OUT_OF_RESOURCES, -12, "Out of resources")                        \
  X(IN_USE, -13, "In use")                                            \
  X(WRONG_VERSION, -14, "Wrong version")                              \
  X(NOT_INITIALIZED, -15, "Not initialized")                          \
  X(UNKNOWN, -16, "Unknown")                                          \
  X(DUPLICATE, -17, "Duplicate")                                      \
  X(NO_CONNECT, -18, "No Connection")                                 \
  X(INVALID, -19, "Invalid")                                          \
  X(PENDING, -20, "Pending")                                          \
  X(UNSUPPORTED_RESOLUTION, -21, "Unsupported Resolution")            \
  X(LOGIN_REQUIRED, -22, "Login required")                            \
  X(PAIRING_REQUIRED, -23, "Pairing required")                        \
  X(IO, -24, "I/O error")                                             \
  X(NOT_CONFIGURED, -25, "Not configured")                            \
  X(PROTOCOL, -26, "Protocol error")                                  \
  X(OPERATION, -27, "Operation error")                                \
  X(BUSY, -28, "Busy")                                                \
  X(WRONG_CLIENT_VERSION, -29, "Wrong client version")                \
  X(WRONG_SERVER_VERSION, -30, "Wrong server version")                \
  X(TOO_MANY_ATTEMPTS, -31, "Too many attempts")                      \
  X(SERVER_IDENTITY, -32, "Server identity changed")

#define CSAPI_ERR_ENUM(name, value, text) CSAPI_ERR_##name = (value),
enum { CSAPI_ERR_LIST(CSAPI_ERR_ENUM) };
#undef CSAPI_ERR_ENUM

/* A request or notification. */
typedef struct RpcReq {
  char jsonrpc[32];
  char method[64];
  cJSON *id;     /* null when the message has none */
  cJSON *params; /* the "params" object */
} RpcReq;

/* A response. */
typedef struct RpcRsp {
  char jsonrpc[32];
  int32_t code; /* 0 when the response has no "error" */
  char message[1024];
  cJSON *data;
  cJSON *result;
  cJSON *id;
} RpcRsp;

/* Starts a request tree: {"method":..,"params":{},["id":..,]"jsonrpc":"2.0"}.
 * id 0 leaves the id out (a notification); any other value asks for a
 * request id, and the request gets a fresh one from csapi_next_request_id so
 * that every call on the wire is told apart from every other, including
 * calls an earlier caller gave up on. 0, or -1. */
KYR_API int allocRpcReq(RpcReq *req, cJSON **tree, const char *method, int32_t id);
/* Unformatted JSON text (malloc'ed, the caller frees it), or null. */
KYR_API char *buildRpcReqMsg(RpcReq *req, cJSON *tree);
/* 0, or -1 for null arguments or text that is not JSON (tree then null). */
KYR_API int parseRpcRspMsg(RpcRsp *rsp, cJSON **tree, const char *text);
/* 0, or -1 for null arguments, text that is not JSON, or no "params" (the
 * tree is still returned then and must be deleted). */
KYR_API int parseRpcReqMsg(RpcReq *req, cJSON **tree, const char *text);
KYR_API int allocRpcRsp(RpcRsp *rsp, RpcReq *req, cJSON **tree, int32_t code, const char *message);
KYR_API int buildRpcRsp(RpcRsp *rsp, cJSON *tree);
KYR_API int buildRpcRspInt(RpcRsp *rsp, cJSON *tree, int32_t code, const char *message);
KYR_API char *buildRpcRspIntMsg(RpcRsp *rsp, RpcReq *req, int32_t code, const char *message);
KYR_API char *buildRpcRspMsg(RpcRsp *rsp, cJSON *tree);

/* Next request id: process-wide, never 0, always within 1..INT32_MAX. */
KYR_API int32_t csapi_next_request_id(void);

/* Last error. Every thread has its own slot, created on first use. */
KYR_API int csapi_err_init(void);
KYR_API int csapi_err_set(int code);
KYR_API int csapi_err_get(void);
KYR_API int csapi_err_exit(void);
KYR_API const char *csapi_err_get_string(int code);
KYR_API int csError(void);
KYR_API const char *csErrorString(void);

KYR_EXTERN_C_END

#endif
