/* Transport seams for command-line tools: the message trace, the TLS
 * override and the negotiated TLS version. */
#include "ipc/libccom/ccom_tool.h"

#include <openssl/ssl.h>
#include <stdlib.h>

#include <atomic>

#include "ipc/libccom/ccom_internal.h"

namespace {

struct Trace {
  ccom_trace_fn fn;
  void *user;
};
/* Written before any connection exists, read by every reader thread. */
std::atomic<const Trace *> g_trace{nullptr};
Trace g_traceSlot;
std::atomic<int> g_tlsMode{CCOM_TLS_AUTO};

}  // namespace

void ccom_set_trace(ccom_trace_fn fn, void *user) {
  if (!fn) {
    g_trace.store(nullptr);
    return;
  }
  g_traceSlot = Trace{fn, user};
  g_trace.store(&g_traceSlot);
}

void ccom_trace_msg(const char *what, ccom_msg_t *msg) {
  const Trace *t = g_trace.load();
  if (!t || !msg || !msg->data) return;
  char *red = debug_string(msg);
  if (red) t->fn(what, red, t->user);
  free(red);
}

void ccom_set_tls_mode(int mode) {
  g_tlsMode.store(mode == CCOM_TLS_ON || mode == CCOM_TLS_OFF ? mode : CCOM_TLS_AUTO);
}

int ccom_tls_mode(void) { return g_tlsMode.load(); }

void ccom_set_connect_timeout_ms(int ms) {
  if (ms <= 0) return;
  ccom_connect_timeout_ms = ms;
  ccom_handshake_timeout_ms = ms;
}

const char *ccom_client_tls_version(ccom_client_t *c) {
  if (!c || !c->tls_lock_ready) return nullptr;
  const char *v = nullptr;
  pthread_mutex_lock(&c->tls_lock);
  if (c->tls) v = SSL_get_version(c->tls);
  pthread_mutex_unlock(&c->tls_lock);
  return v;
}
