/* The instance table and the connection side of every instance: claiming
 * and connecting an entry, its end, and the reader thread's handler, which
 * hands answers to the call side (csapi_call.cpp) and notifications to the
 * notification module (callback_postmsg). */
#include "csapi/client/csapi_client.h"

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "csapi/client/cs_dispatch.h"
#include "csapi/client/csapi_callback.h"
#include "csapi/client/csapi_internal.h"
#include "csapi/client/csapi_liveness.h"
#include "csapi/client/csapi_rpc.h"
#include "csapi/client/csapi_srvr.h"
#include "csapi/client/test/csapi_test.h"
#include "ipc/libccom/ccom.h"
#include "ipc/libccom/ccom_internal.h"

namespace csapi_detail {

Srvr gSrvr[CSAPI_SRVR_MAX];

}  // namespace csapi_detail

namespace {

using csapi_detail::gSrvr;
using csapi_detail::Srvr;
using csapi_detail::Waiter;

pthread_mutex_t gSrvrMutex = PTHREAD_MUTEX_INITIALIZER;

std::atomic<bool> gInitialised{false};
std::atomic<csConfigReadFunc> gConfigRead{nullptr};

pthread_once_t gOnce = PTHREAD_ONCE_INIT;
pthread_condattr_t gMonoAttr;

void once_init() {
  pthread_condattr_init(&gMonoAttr);
  pthread_condattr_setclock(&gMonoAttr, CLOCK_MONOTONIC);
  for (Srvr &s : gSrvr) {
    pthread_mutex_init(&s.rspMutex, nullptr);
    pthread_cond_init(&s.idle, nullptr);
  }
  /* Lent once: the notification module reads states through it and calls
   * nothing of this table. */
  csapi_detail::callback_set_state_reader(csapi_client_get_state);
}

void ensure_init() { pthread_once(&gOnce, once_init); }

template <size_t N>
void copy_text(char (&dst)[N], const char *src) {
  if (!src) src = "";
  size_t n = strnlen(src, N - 1);
  memcpy(dst, src, n);
  dst[n] = '\0';
}

int leave(int rc) {
  csapi_err_set(rc);
  return rc;
}

bool valid_instance(int instance) { return instance >= 0 && instance < CSAPI_SRVR_MAX; }

/* The connection is gone: fail every waiting call (rspMutex held). */
void end_connection_locked(Srvr &s) {
  s.ended = true;
  s.state.store(CLIENT_STATE_DISCONNECTED);
  s.client.store(nullptr);
  for (Waiter *w = s.waiters; w; w = w->next) {
    w->done = CSAPI_ERR_NO_CONNECT;
    w->listed = 0;
    pthread_cond_signal(&w->cond);
  }
  s.waiters = nullptr;
  csapi_detail::callback_connection_ended();
}

/* Waits until no caller is inside a send on s (rspMutex held). A limit of 0
 * waits without one; otherwise false when the limit passed first. */
bool wait_no_senders_locked(Srvr &s, int limitMs) {
  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += limitMs / 1000;
  deadline.tv_nsec += (long)(limitMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec++;
    deadline.tv_nsec -= 1000000000L;
  }
  while (s.senders > 0) {
    if (limitMs == 0) {
      pthread_cond_wait(&s.idle, &s.rspMutex);
    } else if (pthread_cond_timedwait(&s.idle, &s.rspMutex, &deadline) == ETIMEDOUT) {
      return s.senders == 0;
    }
  }
  return true;
}

/* Ends and frees the transport connection of s, if any. Not on its reader. */
void drop_connection(Srvr &s) {
  pthread_mutex_lock(&s.rspMutex);
  ccom_client_t *c = s.conn;
  if (c) end_connection_locked(s);
  /* A sender normally leaves at once; give it a moment before the socket
   * is shut under it (which then makes it fail). */
  if (c) (void)wait_no_senders_locked(s, 2000);
  pthread_mutex_unlock(&s.rspMutex);
  if (!c) return;
  ccom_client_disconnect(c);
  pthread_mutex_lock(&s.rspMutex);
  (void)wait_no_senders_locked(s, 0);
  s.conn = nullptr;
  pthread_mutex_unlock(&s.rspMutex);
  ccom_client_free(c);
}
void handle_incoming(Srvr &s, int instance, ccom_msg_t **buf) {
  ccom_msg_t *m = *buf;
  if (m->len == 0) {
    csLog("csapi_client", CS_LOG_ERR, "received empty message\n");
    return;
  }
  csapi_detail::TopScan scan;
  if (!csapi_detail::scan_top(m->data, m->len, &scan)) {
    csLog("csapi_client", CS_LOG_ERR, "can't parse message:%s\n", m->data);
    return;
  }
  if (scan.hasId && scan.id != 0) {
    csapi_detail::deliver_response(s, scan.id, buf);
    return;
  }
  if (scan.method) {
    char name[128];
    size_t n = scan.methodLen < sizeof name - 1 ? scan.methodLen : sizeof name - 1;
    memcpy(name, scan.method, n);
    name[n] = '\0';
    callback_postmsg(instance, name, m);
    return;
  }
  csLog("csapi_client", CS_LOG_ERR, "can't parse message (no \"id\" or \"method\" fields):%s\n", m->data);
}

}  // namespace

namespace csapi_detail {

void srvr_init() { ensure_init(); }

const pthread_condattr_t *mono_condattr() { return &gMonoAttr; }

csConfigReadFunc installed_config_read() { return gConfigRead.load(); }

}  // namespace csapi_detail

/* ---- library ---- */

int csInit(csConfigReadFunc configRead) {
  ensure_init();
  if (gInitialised.load()) return 0;
  gConfigRead.store(configRead ? configRead : csConfigRead);
  csapi_err_init();
  callback_init();
  gInitialised.store(true);
  return 0;
}

int csExit(void) {
  if (!gInitialised.load()) return 0;
  callback_exit();
  ccom_client_exit(1);
  gInitialised.store(false);
  return 0;
}

/* ---- server table ---- */

int csSrvrMax(void) {
  csapi_client_test_count("csSrvrMax");
  return CSAPI_SRVR_MAX;
}

int csSrvrCount(void) {
  csapi_client_test_count("csSrvrCount");
  int n = 0;
  for (Srvr &s : gSrvr)
    if (s.client.load() && s.state.load() != CLIENT_STATE_DISCONNECTED) n++;
  return n;
}

int csapi_client_get_srvr_info(int instance, csapi_srvr_t *out) {
  if (!valid_instance(instance) || !out) return CSAPI_ERR_BAD_PARAMETER;
  ensure_init();
  Srvr &s = gSrvr[instance];
  pthread_mutex_lock(&s.rspMutex);
  ccom_client_t *c = s.client.load();
  if (c) {
    out->index = instance;
    out->client = c;
    out->state = s.state.load();
    copy_text(out->protoVers, s.protoVers);
    copy_text(out->srvrDeviceType, s.srvrDeviceType);
    copy_text(out->srvrSWVer, s.srvrSWVer);
    copy_text(out->srvrChallenge, s.srvrChallenge);
    copy_text(out->minClientSWVer, s.minClientSWVer);
    copy_text(out->maxClientSWVer, s.maxClientSWVer);
  }
  pthread_mutex_unlock(&s.rspMutex);
  return c ? 0 : CSAPI_ERR_BAD_PARAMETER;
}

int csGetServerFingerprint(int instance, char *out, int size) {
  if (!valid_instance(instance) || !out || size < CS_FINGERPRINT_SIZE) return leave(CSAPI_ERR_BAD_PARAMETER);
  ensure_init();
  Srvr &s = gSrvr[instance];
  /* The connection is freed only after client is cleared under rspMutex. */
  pthread_mutex_lock(&s.rspMutex);
  ccom_client_t *c = s.client.load();
  int rc = !c || s.ended ? CSAPI_ERR_NO_CONNECT
                         : ccom_client_get_fingerprint(c, out, (size_t)size) == 0 ? 0 : CSAPI_ERR_NOT_FOUND;
  pthread_mutex_unlock(&s.rspMutex);
  if (rc != 0) out[0] = '\0';
  return leave(rc);
}

int csapi_client_set_srvr_info(int instance, const csapi_srvr_t *in) {
  if (!valid_instance(instance) || !in) return CSAPI_ERR_BAD_PARAMETER;
  ensure_init();
  Srvr &s = gSrvr[instance];
  pthread_mutex_lock(&s.rspMutex);
  bool ok = s.client.load() != nullptr;
  if (ok) {
    copy_text(s.protoVers, in->protoVers);
    copy_text(s.srvrDeviceType, in->srvrDeviceType);
    copy_text(s.srvrSWVer, in->srvrSWVer);
    copy_text(s.srvrChallenge, in->srvrChallenge);
    copy_text(s.minClientSWVer, in->minClientSWVer);
    copy_text(s.maxClientSWVer, in->maxClientSWVer);
  }
  pthread_mutex_unlock(&s.rspMutex);
  return ok ? 0 : CSAPI_ERR_BAD_PARAMETER;
}

int csSrvrGet(CSSrvrInfo *info, unsigned int instance) {
  csapi_client_test_count("csSrvrGet");
  if (!info) return leave(CSAPI_ERR_BAD_PARAMETER);
  if (instance >= CSAPI_SRVR_MAX) return leave(CSAPI_ERR_OUT_OF_RANGE);
  csapi_srvr_t e;
  if (csapi_client_get_srvr_info((int)instance, &e) != 0) return leave(CSAPI_ERR_BAD_PARAMETER);
  info->index = e.index;
  info->state = e.state;
  copy_text(info->protoVers, e.protoVers);
  copy_text(info->srvrDeviceType, e.srvrDeviceType);
  copy_text(info->srvrSWVer, e.srvrSWVer);
  copy_text(info->minClientSWVer, e.minClientSWVer);
  copy_text(info->maxClientSWVer, e.maxClientSWVer);
  return leave(0);
}

int csapi_client_get_state(int instance) {
  /* Instance numbers also arrive from the notification queue; anything out
   * of range reads as a free entry rather than memory past the table. */
  if (!valid_instance(instance)) return CLIENT_STATE_DISCONNECTED;
  return gSrvr[instance].state.load();
}

int csapi_client_set_state(int instance, int state) {
  if (!valid_instance(instance)) return CSAPI_ERR_BAD_PARAMETER;
  Srvr &s = gSrvr[instance];
  ensure_init();
  pthread_mutex_lock(&s.rspMutex);
  bool ok = s.client.load() != nullptr && !s.ended;
  if (ok) s.state.store(state);
  pthread_mutex_unlock(&s.rspMutex);
  return ok ? 0 : CSAPI_ERR_BAD_PARAMETER;
}

int new_csapi_client(char *address) {
  ensure_init();
  pthread_mutex_lock(&gSrvrMutex);
  int idx = -1;
  /* Prefer entries nobody holds; an entry whose connection ended but whose
   * owner has not deleted it yet is taken only when nothing else is free. */
  for (int pass = 0; pass < 2 && idx < 0; pass++)
    for (int i = 0; i < CSAPI_SRVR_MAX; i++) {
      Srvr &s = gSrvr[i];
      if (s.claimed || s.state.load() != CLIENT_STATE_DISCONNECTED) continue;
      pthread_mutex_lock(&s.rspMutex);
      bool held = s.conn != nullptr;
      pthread_mutex_unlock(&s.rspMutex);
      if (pass == 0 && held) continue;
      idx = i;
      break;
    }
  if (idx < 0) {
    pthread_mutex_unlock(&gSrvrMutex);
    return leave(CSAPI_ERR_OUT_OF_RESOURCES);
  }
  Srvr &s = gSrvr[idx];
  s.claimed = true;
  pthread_mutex_unlock(&gSrvrMutex);

  drop_connection(s);
  pthread_mutex_lock(&s.rspMutex);
  s.ended = false;
  s.waiters = nullptr;
  s.protoVers[0] = s.srvrDeviceType[0] = s.srvrSWVer[0] = s.srvrChallenge[0] = '\0';
  s.minClientSWVer[0] = s.maxClientSWVer[0] = '\0';
  pthread_mutex_unlock(&s.rspMutex);

  /* "host", "host:port", "[v6]:port" or a bare IPv6 address. */
  char host[257] = "localhost";
  int port = CSAPI_DEFAULT_PORT;
  if (address && ccom_split_host_port(address, host, sizeof host, &port) != 0) host[0] = '\0';
  /* Callers see a "host:port" address cut at its colon, as always. */
  char *colon = address ? strchr(address, ':') : nullptr;
  if (colon && colon == strrchr(address, ':') && address[0] != '[') *colon = '\0';
  int useTls = port != CSAPI_PLAIN_PORT;

  const uint32_t cancelGen = ccom_connect_generation();
  /* Before the reader can run: its notifications carry the new stamp. */
  csapi_detail::callback_connection_began(idx);
  csapi_detail::liveness_start(&s.live);
  /* The entry itself is the connection's user pointer: its reader finds it
   * without searching, even before the handle is stored below. */
  ccom_client_t *c = host[0] ? ccom_client_connect(host, port, ccom_response_handler, useTls, &s) : nullptr;
  if (!c) {
    const bool identity = ccom_client_connect_result() == CCOM_CONNECT_IDENTITY;
    csLog("csapi_client", CS_LOG_ERR, "can't connect to csapi server:%s\n", host);
    pthread_mutex_lock(&gSrvrMutex);
    s.claimed = false;
    pthread_mutex_unlock(&gSrvrMutex);
    return leave(identity ? CSAPI_ERR_SERVER_IDENTITY : CSAPI_ERR_BAD_ADDRESS);
  }
  pthread_mutex_lock(&s.rspMutex);
  s.conn = c;
  /* A connection its reader already saw end stays ended. */
  if (!s.ended) {
    s.state.store(CLIENT_STATE_CONNECTED);
    s.client.store(c);
  }
  /* Cancelled while the transport finished: the handshake must not start. */
  if (ccom_connect_cancelled(cancelGen)) end_connection_locked(s);
  pthread_mutex_unlock(&s.rspMutex);

  pthread_mutex_lock(&gSrvrMutex);
  (void)csapiClientInitAll();
  s.claimed = false;
  pthread_mutex_unlock(&gSrvrMutex);
  return idx;
}

int csapi_cancel_connects(void) {
  ensure_init();
  ccom_connect_cancel_all();
  int n = 0;
  for (Srvr &s : gSrvr) {
    pthread_mutex_lock(&s.rspMutex);
    int st = s.state.load();
    if (s.conn && !s.ended && st != CLIENT_STATE_DISCONNECTED && st != CLIENT_STATE_READY) {
      end_connection_locked(s);
      n++;
    }
    pthread_mutex_unlock(&s.rspMutex);
  }
  return n;
}

int delete_csapi_client(int instance) {
  if (!valid_instance(instance)) return 0;
  ensure_init();
  Srvr &s = gSrvr[instance];
  drop_connection(s);
  pthread_mutex_lock(&gSrvrMutex);
  pthread_mutex_lock(&s.rspMutex);
  s.client.store(nullptr);
  s.state.store(CLIENT_STATE_DISCONNECTED);
  pthread_mutex_unlock(&s.rspMutex);
  pthread_mutex_unlock(&gSrvrMutex);
  return 0;
}

namespace {

/* The codec stayed silent past the liveness limit. */
int lost(Srvr &s) {
  pthread_mutex_lock(&s.rspMutex);
  end_connection_locked(s);
  pthread_mutex_unlock(&s.rspMutex);
  return -1;
}

}  // namespace

int ccom_response_handler(ccom_client_t *client, void *user) {
  Srvr *sp = static_cast<Srvr *>(user);
  if (!sp || sp < gSrvr || sp >= gSrvr + CSAPI_SRVR_MAX) return -1;
  Srvr &s = *sp;
  if (!client) {
    /* Its reader is ending. */
    pthread_mutex_lock(&s.rspMutex);
    if (!s.ended) end_connection_locked(s);
    pthread_mutex_unlock(&s.rspMutex);
    ccom_client_msg_free(s.rxBuf);
    s.rxBuf = nullptr;
    return -1;
  }
  const int instance = (int)(sp - gSrvr);

  /* Nothing arrived for a while: only the liveness watch has work. */
  if (ccom_client_idle_call(client)) return csapi_detail::liveness_tick(&s.live, client, instance) ? 0 : lost(s);

  /* The reader's own buffer lives as long as the connection, so a wake-up
   * costs no trip to the shared pool. */
  if (!s.rxBuf) s.rxBuf = ccom_client_msg_alloc();
  if (!s.rxBuf) return -1;
  int n;
  for (;;) {
    n = ccom_client_recv(client, s.rxBuf);
    if (n <= 0) break;
    csapi_detail::liveness_heard(&s.live);
    handle_incoming(s, instance, &s.rxBuf);
    if (!s.rxBuf) {
      n = -1;
      break;
    }
    /* Back to the reader once nothing is buffered, rather than into a read
     * that would wait: its wait for the socket costs the one system call an
     * extra readiness check would, and its idle calls keep the liveness
     * watch going. */
    if (!ccom_client_input_buffered(client)) {
      n = 0;
      break;
    }
  }
  /* 0 only means nothing complete could be read just now; the connection
   * is still up and the reader comes back. */
  if (n < 0) {
    csLog("csapi_client", CS_LOG_DEBUG, "disconnected from the server\n");
    pthread_mutex_lock(&s.rspMutex);
    end_connection_locked(s);
    pthread_mutex_unlock(&s.rspMutex);
  }
  return n;
}
