/* Liveness of a connection: when nothing has arrived for N seconds, one
 * read that changes nothing on the codec ("csSysGet") is sent; when nothing
 * has arrived N seconds after that, the connection counts as lost. The
 * watch runs on the connection's reader thread, in the idle calls of its
 * handler, so it needs no thread of its own. Off (0) by default. */
#ifndef CSAPI_LIVENESS_H
#define CSAPI_LIVENESS_H

#include <stdint.h>

#include <atomic>

#include "ipc/libccom/ccom.h"
#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN
/* 0 (off) to 300 seconds; anything else leaves it and gives
 * CSAPI_ERR_BAD_PARAMETER. Process-wide; it outlives every connection and
 * takes effect on open connections within one idle period. */
KYR_API int csapi_set_liveness(int seconds);
KYR_API int csapi_get_liveness(void);
/* The method of the probe. */
#define CSAPI_LIVENESS_PROBE "csSysGet"
KYR_EXTERN_C_END

namespace csapi_detail {

/* Per connection; written by its reader thread only, except last_rx which
 * the reader writes and anyone may read. */
struct Liveness {
  std::atomic<int64_t> last_rx_ms{0};
  int64_t probe_at_ms = 0; /* 0: no probe outstanding */
  std::atomic<int64_t> probe_id{0};
  int applied = -1;        /* the setting the socket was last tuned for */
};

/* A new connection starts the watch. */
void liveness_start(Liveness *l);
/* Something arrived. */
void liveness_heard(Liveness *l);
/* Whether a response id is the answer to this connection's probe. */
bool liveness_is_probe(const Liveness *l, int64_t id);
/* The reader's idle call: sends the probe when due. false when the
 * connection is to be declared lost. */
bool liveness_tick(Liveness *l, ccom_client_t *client, int instance);

}  // namespace csapi_detail

#endif
