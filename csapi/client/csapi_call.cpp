/* The calls, synchronous and pipelined: a ticket per request in flight,
 * registered on its instance before the request is sent, answered by the
 * reader thread (deliver_response) and ended by its owner. Callers never
 * queue behind one another for a shared response slot, the reader never
 * waits for a caller, and one thread may have several requests in flight
 * (csapi_call_begin) before it waits for any. */
#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <cstring>

#include <cjson/cJSON.h>

#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_internal.h"
#include "csapi/client/csapi_liveness.h"
#include "csapi/client/csapi_rpc.h"
#include "csapi/client/csapi_srvr.h"
#include "ipc/libccom/ccom.h"

namespace {

using csapi_detail::gSrvr;
using csapi_detail::Srvr;
using csapi_detail::Waiter;

/* Tickets this thread has in flight: while there are any, the notification
 * writer must not wait for this thread (see callback_thread_calling). */
thread_local int t_inflight = 0;

int leave(int rc) {
  csapi_err_set(rc);
  return rc;
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
  csapi_detail::srvr_init();
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
  pthread_cond_init(&t->cond, csapi_detail::mono_condattr());
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
  if (liveness_is_probe(&s.live, id)) return;
  csLog("csapi_client", CS_LOG_ERR, "response id:%lld matches no waiting call (late or unknown), dropped\n",
        (long long)id);
}

int call_begin(unsigned int instance, ccom_msg_t *msg, int timeout, csapi_ticket_t *ticket) {
  return begin_impl(instance, msg, timeout, ticket);
}

int call_end_raw(csapi_ticket_t *ticket) { return end_wait(ticket); }

}  // namespace csapi_detail

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
