/* The server instance table, the calls (synchronous and pipelined) and the
 * receive side of every connection.
 *
 * Each instance keeps a list of the calls waiting on it, one ticket per
 * request in flight. A caller registers the ticket before it sends; the
 * reader thread hands the received message buffer straight to the ticket
 * whose request id the response carries and wakes only its owner. Callers
 * never queue behind one another for a shared response slot, the reader
 * never waits for a caller, and one thread may have several requests in
 * flight (csapi_call_begin) before it waits for any. */
#include "csapi/client/csapi_client.h"

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <cjson/cJSON.h>

#include "csapi/client/cs_dispatch.h"
#include "csapi/client/csapi_callback.h"
#include "csapi/client/csapi_internal.h"
#include "csapi/client/csapi_rpc.h"
#include "csapi/client/test/csapi_test.h"
#include "ipc/libccom/ccom.h"

namespace {

using Waiter = csapi_ticket_t; /* done: 0 waiting, 1 answer in rsp, or the failure */

/* Tickets this thread has in flight: while there are any, the notification
 * writer must not wait for this thread (see callback_thread_calling). */
thread_local int t_inflight = 0;

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
  char protoVers[33];
  char srvrDeviceType[33];
  char srvrSWVer[65];
  char srvrChallenge[33];
  char minClientSWVer[65];
  char maxClientSWVer[65];
};

Srvr gSrvr[CSAPI_SRVR_MAX];
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
  /* Dispatch reads the instances' states through this; it calls nothing
   * else of the core. */
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

/* Gives a response to the call waiting for its id. The buffer passes to the
 * caller, so *buf is replaced by a fresh one (null when none can be had). */
void deliver_response(Srvr &s, int64_t id, ccom_msg_t **buf) {
  pthread_mutex_lock(&s.rspMutex);
  for (Waiter **pp = &s.waiters; *pp; pp = &(*pp)->next) {
    Waiter *w = *pp;
    if (w->id != id) continue;
    *pp = w->next;
    w->listed = 0;
    w->rsp = *buf;
    w->done = 1;
    pthread_cond_signal(&w->cond);
    pthread_mutex_unlock(&s.rspMutex);
    *buf = ccom_client_msg_alloc();
    return;
  }
  pthread_mutex_unlock(&s.rspMutex);
  csLog("csapi_client", CS_LOG_ERR, "response id:%lld matches no waiting call (late or unknown), dropped\n",
        (long long)id);
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
    deliver_response(s, scan.id, buf);
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

/* Deadline for a call's time-out argument (see csapi_client_call). */
struct timespec call_deadline(int timeout) {
  long long ms;
  if (timeout <= 0)
    ms = CSAPI_CALL_TIMEOUT * 1000LL;
  else if (timeout <= CSAPI_CALL_TIMEOUT)
    ms = timeout * 1000LL;
  else
    ms = timeout / 1000 + CSAPI_CALL_TIMEOUT * 1000LL;
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  t.tv_sec += (time_t)(ms / 1000);
  t.tv_nsec += (long)(ms % 1000) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec++;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}

/* Registers t on its instance and sends its request; 0 once sent, else the
 * failure, which is also left in t->done so that the end returns it. */
int begin_impl(unsigned int instance, ccom_msg_t *msg, int timeout, Waiter *t) {
  t->next = nullptr;
  t->msg = msg;
  t->rsp = nullptr;
  t->instance = (int32_t)instance;
  t->id = 0;
  t->listed = 0;
  t->done = CSAPI_ERR_BAD_PARAMETER;
  if (instance >= CSAPI_SRVR_MAX) return t->done;
  if (!msg || !msg->data) return t->done;
  ensure_init();
  Srvr &s = gSrvr[instance];
  if (s.state.load() == CLIENT_STATE_DISCONNECTED) return t->done = CSAPI_ERR_NO_CONNECT;
  csapi_detail::TopScan scan;
  size_t textLen = strnlen(msg->data, msg->len);
  if (!csapi_detail::scan_top(msg->data, textLen, &scan) || !scan.hasId || scan.id == 0) {
    csLog("csapi_client", CS_LOG_ERR, "request without an id cannot be answered\n");
    return t->done;
  }
  t->deadline = call_deadline(timeout);

  pthread_mutex_lock(&s.rspMutex);
  if (s.ended || !s.conn || s.state.load() == CLIENT_STATE_DISCONNECTED) {
    pthread_mutex_unlock(&s.rspMutex);
    return t->done = CSAPI_ERR_NO_CONNECT;
  }
  /* Registered before sending, so even an immediate answer finds us. A
   * ticket with an id is one its end must wait for and take off. */
  t->id = (int32_t)scan.id;
  t->done = 0;
  pthread_cond_init(&t->cond, &gMonoAttr);
  t->next = s.waiters;
  s.waiters = t;
  t->listed = 1;
  s.senders++;
  ccom_client_t *conn = s.conn;
  pthread_mutex_unlock(&s.rspMutex);

  /* From inside a callback: the reader thread must not wait for this
   * thread's notifications while it carries our answer. */
  if (t_inflight++ == 0) csapi_detail::callback_thread_calling(true);
  int sent = ccom_client_send(conn, msg);
  /* A request may carry a password: none stays behind in the buffer. */
  ccom_msg_wipe(msg);

  pthread_mutex_lock(&s.rspMutex);
  if (--s.senders == 0) pthread_cond_broadcast(&s.idle);
  if (sent != 0 && t->done == 0) t->done = CSAPI_ERR_NO_CONNECT;
  int rc = t->done < 0 ? t->done : 0; /* the reader may write it once we let go */
  pthread_mutex_unlock(&s.rspMutex);
  return rc;
}

/* Waits for t's answer: 0 with the answer in t->msg, or the failure. */
int end_wait(Waiter *t) {
  if (t->id == 0) return t->done; /* begin failed before anything was set up */
  Srvr &s = gSrvr[t->instance];
  int rc = 0;
  pthread_mutex_lock(&s.rspMutex);
  while (t->done == 0) {
    int wr = pthread_cond_timedwait(&t->cond, &s.rspMutex, &t->deadline);
    if (t->done != 0) break;
    if (wr == ETIMEDOUT) {
      rc = CSAPI_ERR_TIMEOUT;
      break;
    }
    if (wr != 0) {
      csLog("csapi_client", CS_LOG_ERR, "csapi server not responding\n");
      rc = CSAPI_ERR_NO_CONNECT;
      break;
    }
  }
  if (t->listed) {
    /* Still listed: take it off so a late answer is dropped. */
    for (Waiter **pp = &s.waiters; *pp; pp = &(*pp)->next)
      if (*pp == t) {
        *pp = t->next;
        break;
      }
    t->listed = 0;
  }
  pthread_mutex_unlock(&s.rspMutex);
  pthread_cond_destroy(&t->cond);
  t->id = 0;
  if (--t_inflight == 0) csapi_detail::callback_thread_calling(false);

  if (t->done < 0) return t->done;
  if (t->done == 0) return rc;

  ccom_msg_t *rsp = t->rsp, *msg = t->msg;
  t->rsp = nullptr;
  if (!ccom_msg_memcpy(msg, rsp->data, rsp->len)) {
    ccom_client_msg_free(rsp);
    return CSAPI_ERR_OUT_OF_RESOURCES;
  }
  msg->data[msg->len] = '\0';
  ccom_client_msg_free(rsp);
  return 0;
}

/* The call's result from the answer text in msg. */
int answer_result(ccom_msg_t *msg) {
  RpcRsp r;
  cJSON *tree = nullptr;
  if (parseRpcRspMsg(&r, &tree, msg->data) != 0 || !tree) {
    cJSON_Delete(tree);
    return CSAPI_ERR_BAD_MESSAGE;
  }
  int rc;
  if (r.result)
    rc = cJSON_IsNumber(r.result) ? r.result->valueint : 0;
  else
    rc = r.code;
  cJSON_Delete(tree);
  return rc;
}

}  // namespace

namespace csapi_detail {

csConfigReadFunc installed_config_read() { return gConfigRead.load(); }

int call_begin(unsigned int instance, ccom_msg_t *msg, int timeout, csapi_ticket_t *ticket) {
  return begin_impl(instance, msg, timeout, ticket);
}

int call_end_raw(csapi_ticket_t *ticket) { return end_wait(ticket); }

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

  const char *host = address ? address : "localhost";
  int port = CSAPI_DEFAULT_PORT;
  if (address) {
    char *colon = strchr(address, ':');
    if (colon) {
      *colon = '\0';
      port = atoi(colon + 1);
    }
  }
  int useTls = port != CSAPI_PLAIN_PORT;

  /* The entry itself is the connection's user pointer: its reader finds it
   * without searching, even before the handle is stored below. */
  ccom_client_t *c = ccom_client_connect(host, port, ccom_response_handler, useTls, &s);
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
  pthread_mutex_unlock(&s.rspMutex);

  pthread_mutex_lock(&gSrvrMutex);
  (void)csapiClientInitAll();
  s.claimed = false;
  pthread_mutex_unlock(&gSrvrMutex);
  return idx;
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

int csapi_call_begin(unsigned int instance, ccom_msg_t *msg, int timeout, csapi_ticket_t *ticket) {
  if (!ticket) return CSAPI_ERR_BAD_PARAMETER;
  return begin_impl(instance, msg, timeout, ticket);
}

int csapi_call_end(csapi_ticket_t *ticket) {
  if (!ticket) return leave(CSAPI_ERR_BAD_PARAMETER);
  int rc = end_wait(ticket);
  return leave(rc == 0 ? answer_result(ticket->msg) : rc);
}

int csapi_client_call(unsigned int instance, ccom_msg_t *msg, int timeout) {
  csapi_ticket_t t;
  (void)begin_impl(instance, msg, timeout, &t);
  return csapi_call_end(&t);
}

ccom_msg_t *csapi_client_msg_alloc(void) { return ccom_client_msg_alloc(); }

void csapi_client_msg_free(ccom_msg_t *msg) { (void)ccom_client_msg_free(msg); }

int ccom_response_handler(ccom_client_t *client, void *user) {
  Srvr *sp = static_cast<Srvr *>(user);
  if (!sp || sp < gSrvr || sp >= gSrvr + CSAPI_SRVR_MAX) return -1;
  Srvr &s = *sp;
  if (!client) {
    /* Its reader is ending. */
    pthread_mutex_lock(&s.rspMutex);
    if (!s.ended) end_connection_locked(s);
    pthread_mutex_unlock(&s.rspMutex);
    return -1;
  }
  const int instance = (int)(sp - gSrvr);

  ccom_msg_t *buf = ccom_client_msg_alloc();
  if (!buf) return -1;
  int n;
  for (;;) {
    n = ccom_client_recv(client, buf);
    if (n <= 0) break;
    handle_incoming(s, instance, &buf);
    if (!buf) {
      n = -1;
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
  if (buf) ccom_client_msg_free(buf);
  return n;
}
