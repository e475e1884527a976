/* Server instances, the synchronous call, the session handshake and the
 * library's start and end.
 *
 * Threads: csInit/csExit and connecting run on one thread at a time;
 * csapi_client_call (and so every CS operation) may run on any number of
 * threads at once, also on one instance; each blocks until its own response
 * arrives, the connection ends, or its time-out passes. Every call leaves its
 * result as the calling thread's last error (csError). */
#ifndef CSAPI_CLIENT_H
#define CSAPI_CLIENT_H

#include <pthread.h>
#include <stdint.h>
#include <time.h>

#include "csapi/client/csapi_instance.h"
#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

typedef struct ccom_msg_t ccom_msg_t;
typedef struct ccom_client_t ccom_client_t;

#define CSAPI_DEFAULT_PORT 4122
/* Connections to this port are never wrapped in TLS. */
#define CSAPI_PLAIN_PORT 4123
/* The time-out every operation passes to csapi_client_call, in seconds. */
#define CSAPI_CALL_TIMEOUT 30

/* A copy of one server table entry (csapi_client_get_srvr_info). */
typedef struct csapi_srvr_t {
  int32_t index;
  ccom_client_t *client; /* null when the instance has no connection */
  int32_t state;
  char protoVers[33];
  char srvrDeviceType[33];
  char srvrSWVer[65];
  char srvrChallenge[33];
  char minClientSWVer[65];
  char maxClientSWVer[65];
} csapi_srvr_t;

/* Server information for callers outside the core. */
typedef struct CSSrvrInfo {
  int32_t index;
  int32_t state;
  char protoVers[33];
  char srvrDeviceType[33];
  char srvrSWVer[65];
  char minClientSWVer[65];
  char maxClientSWVer[65];
} CSSrvrInfo;

/* The client's identity, sent by csClientSet. */
typedef struct CSClientInfo {
  char applicationVersion[65];
  char platformVersion[65];
  char hardwareVersion[65];
  uint32_t addressMode;
  char language[33];
} CSClientInfo;

/* Reads configuration value name/index into dest (size bytes with the NUL).
 * 0, or a non-zero error. */
typedef int (*csConfigReadFunc)(const char *name, int index, char *dest, int size);

/* ---- library ---- */
KYR_API int csInit(csConfigReadFunc configRead);
KYR_API int csExit(void);

/* ---- server table ---- */
KYR_API int csSrvrMax(void);
KYR_API int csSrvrCount(void);
KYR_API int csSrvrGet(CSSrvrInfo *info, unsigned int instance);
KYR_API int csapi_client_get_srvr_info(int instance, csapi_srvr_t *out);
KYR_API int csapi_client_set_srvr_info(int instance, const csapi_srvr_t *in);
KYR_API int csapi_client_get_state(int instance);
KYR_API int csapi_client_set_state(int instance, int state);

/* Claims a free instance and connects it: "host" or "host:port" (the text
 * is cut at the ':' in place), null for "localhost"; port 4122 by default,
 * TLS unless the port is 4123. The instance number, -12, -8, or -32 when the
 * server is not the pinned one. */
KYR_API int new_csapi_client(char *address);
KYR_API int delete_csapi_client(int instance);
/* Ends every connect still in progress: the transport's connect or TLS
 * handshake, and every instance not yet authenticated (its waiting calls
 * return -18 at once). The number of instances ended. Any thread. */
KYR_API int csapi_cancel_connects(void);

/* Sends the request in msg and waits for its response, which replaces the
 * request in msg. timeout is in seconds (0 or less: 30); a value above 30
 * encodes milliseconds as ms * 1000 + 1 and waits that many milliseconds
 * plus 30 seconds. The response's integer "result", 0 for a non-numeric
 * result, or its error code; -6 when no response came in time, -18 without
 * a connection, -2 for an unreadable response, -10 for bad arguments. */
KYR_API int csapi_client_call(unsigned int instance, ccom_msg_t *msg, int timeout);

/* Pipelined calls: csapi_call_begin sends the request in msg and returns at
 * once; csapi_call_end waits for that request's answer, which then replaces
 * the request in msg. Independent requests begun together on one instance
 * share one round trip instead of one each. csapi_client_call is begin and
 * end in one.
 *
 * The ticket is the caller's storage (its stack is fine) and belongs to the
 * client core from begin until end. Every ticket begun is ended exactly
 * once, on the thread that began it, also when begin failed; msg stays the
 * caller's and must stay alive until then. Answers are matched by request
 * id, so tickets may be ended in any order whatever order the server
 * answers in.
 *
 * csapi_call_begin: 0 once sent; otherwise the failure (-10 bad arguments
 * or a request without an id, -18 no connection or the send failed), which
 * csapi_call_end then returns without waiting. It leaves the last error as
 * it was. The time-out (as in csapi_client_call) counts from the begin.
 *
 * csapi_call_end: exactly what csapi_client_call would have returned for
 * this request, left as the calling thread's last error. When the
 * connection ends, every ticket still waiting on it fails with -18 at
 * once. */
typedef struct csapi_ticket_t {
  /* Private to the client core. */
  struct csapi_ticket_t *next;
  ccom_msg_t *msg;
  ccom_msg_t *rsp;
  int32_t instance;
  int32_t id;
  int32_t done; /* 0 waiting, 1 answered, or the failure */
  int32_t listed;
  struct timespec deadline;
  pthread_cond_t cond;
} csapi_ticket_t;

KYR_API int csapi_call_begin(unsigned int instance, ccom_msg_t *msg, int timeout, csapi_ticket_t *ticket);
KYR_API int csapi_call_end(csapi_ticket_t *ticket);

KYR_API ccom_msg_t *csapi_client_msg_alloc(void);
KYR_API void csapi_client_msg_free(ccom_msg_t *msg);
KYR_API int csapiClientInitAll(void);
/* The transport's message handler for every instance (reader thread); user
 * is the instance's table entry, given to ccom_client_connect. */
KYR_API int ccom_response_handler(ccom_client_t *client, void *user);

/* ---- session handshake ---- */
KYR_API int csConnect(const char *address, const char *deviceType, const char *swVer, const char *minSrvrSWVer,
                      const char *maxSrvrSWVer);
KYR_API int csAuth(int instance, const char *clientId);
KYR_API int csPair(int instance, const char *clientId, const char *adminName, const char *adminPwd);
KYR_API int csUnpair(int instance, const char *clientId, const char *adminName, const char *adminPwd);
KYR_API int csLogEnable(int instance, int flags);
KYR_API int csClientSet(const CSClientInfo *info, int instance);
KYR_API int csDisconnect(int instance);
/* ---- server identity ---- */
/* 64 hex digits and a NUL. */
#define CS_FINGERPRINT_SIZE 65
/* Pins the codec's fingerprint (64 hex digits, either case: the SHA-256 of
 * its certificate's SubjectPublicKeyInfo) for every following connect; null
 * or "" clears the pin. With a pin, a connect to a server with another key,
 * or without TLS, fails with -32 (CSAPI_ERR_SERVER_IDENTITY) before any
 * request is sent. 0, or -10 for any other text (the pin stays). */
KYR_API int csSetPinnedFingerprint(const char *hex);
/* The pin into out (CS_FINGERPRINT_SIZE bytes): 1 when set, 0 when none
 * (out empty), -10 for bad arguments. */
KYR_API int csGetPinnedFingerprint(char *out, int size);
/* The fingerprint of the server the instance is connected to, as 64
 * lowercase hex digits, into out (CS_FINGERPRINT_SIZE bytes). 0; -10 for bad
 * arguments; -18 when the instance has no connection; -4 when the
 * connection is not encrypted. */
KYR_API int csGetServerFingerprint(int instance, char *out, int size);
/* Reads the first line of <name><index>.dat (index <= 0) or <name>.dat in
 * the working directory. 0, -1 for null arguments, or errno. */
KYR_API int csConfigRead(const char *name, int index, char *dest, int size);

KYR_EXTERN_C_END

#endif
