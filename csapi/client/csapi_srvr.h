/* The instance table's entries, shared by the connection side
 * (csapi_client.cpp: table, connect, the reader's handler) and the call
 * side (csapi_call.cpp: tickets, sending, waiting). Not exported. */
#ifndef CSAPI_SRVR_H
#define CSAPI_SRVR_H

#include <pthread.h>
#include <stdint.h>

#include <atomic>

#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_liveness.h"

namespace csapi_detail {

using Waiter = csapi_ticket_t; /* done: 0 waiting, 1 answer in rsp, or the failure */

/* Each instance keeps a list of the calls waiting on it, one ticket per
 * request in flight. A caller registers the ticket before it sends; the
 * reader thread hands the received message buffer straight to the ticket
 * whose request id the response carries and wakes only its owner. */
struct Srvr {
  pthread_mutex_t rspMutex; /* guards everything below that is not atomic */
  pthread_cond_t idle;      /* signalled when senders drops to 0 */
  std::atomic<int32_t> state;
  std::atomic<ccom_client_t *> client; /* null once the connection ended */
  ccom_client_t *conn;                 /* owned handle, freed by delete or reuse */
  bool ended;                          /* the connection is gone: calls get -18 */
  bool claimed;                        /* being set up by new_csapi_client (gSrvrMutex) */
  int senders;                         /* callers inside ccom_client_send */
  Waiter *waiters;
  Liveness live;
  ccom_msg_t *rxBuf; /* the reader's receive buffer (reader thread only) */
  char protoVers[33];
  char srvrDeviceType[33];
  char srvrSWVer[65];
  char srvrChallenge[33];
  char minClientSWVer[65];
  char maxClientSWVer[65];
};

extern Srvr gSrvr[CSAPI_SRVR_MAX];

/* Sets up the table's locks once (any entry point may come first). */
void srvr_init();
/* Condition attributes on the monotonic clock, for the tickets. */
const pthread_condattr_t *mono_condattr();

/* Gives a response to the call waiting for its id (reader thread). The
 * buffer passes to the caller, so *buf is replaced by a fresh one (null
 * when none can be had). */
void deliver_response(Srvr &s, int64_t id, ccom_msg_t **buf);

}  // namespace csapi_detail

#endif
