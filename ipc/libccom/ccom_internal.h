/* Internals of the transport shared by its sources and its unit tests.
 * Nothing here is exported from libkyrconnect.so. */
#ifndef CCOM_INTERNAL_H
#define CCOM_INTERNAL_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "ipc/libccom/ccom.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

/* ---- Process-wide message state --------------------------------------- */

extern ccom_msg_queue_t client_msg_queue; /* the pool of free messages */
extern pthread_mutex_t gQMutex;
/* Diagnostic counters; relaxed atomics so that concurrent pool users do not
 * race on them (they only feed log lines). */
extern std::atomic<int32_t> alloc_bufs_num;
extern std::atomic<int32_t> alloc_bufs_size;

/* The capacity ccom_msg_grow picks for a request. */
inline uint32_t ccom_grow_capacity(uint32_t requested) {
  return (requested / CCOM_MSG_INITIAL_SIZE + 2u) * CCOM_MSG_INITIAL_SIZE;
}

/* ---- Logging ---------------------------------------------------------- */

extern int gbLogEnable;
inline bool ccom_debug_on() { return __atomic_load_n(&gbLogEnable, __ATOMIC_RELAXED) != 0; }

/* ---- Framer ------------------------------------------------------------ */

/* Brace-counting framer state for one frame in progress. Braces inside JSON
 * string values do not count; strings are only tracked inside an object. */
struct ccom_frame_state {
  uint32_t depth;   /* open braces; 0 = no object begun */
  uint8_t in_str;   /* inside a string value */
  uint8_t escaped;  /* the previous byte inside the string was a lone backslash */
};

enum ccom_frame_result {
  CCOM_FRAME_MORE = 0,   /* all `take` bytes belong to an unfinished object */
  CCOM_FRAME_OBJECT = 1, /* `take` bytes end with the brace closing the object */
  CCOM_FRAME_RAW = 2,    /* `take` bytes without "{" (all of them, or those before an
                            object's "{") are a non-JSON message */
};

/* Pure framing step over buf[0..n). When no object is begun, leading white
 * space is skipped first (*skip bytes); then *take bytes from buf + *skip
 * belong to the message as the result says. With n == *skip (only white
 * space) the result is CCOM_FRAME_MORE with *take 0. */
ccom_frame_result ccom_frame_step(ccom_frame_state *st, const char *buf, size_t n, size_t *skip, size_t *take);

/* One connection as the framing functions see it. With a client, calls on
 * the TLS session take the client's tls_lock, waits for the peer happen
 * without it, and a fatal error shuts the connection down (the client closes
 * the descriptor once, later); without one, a fatal error closes fd. */
struct ccom_io {
  int fd;
  SSL *ssl;               /* without a client: the session, null for plain TCP */
  ccom_client_t *client;  /* with a client: its use_tls decides, its tls is used */
};


/* The framing loop of ccom_socket_read_line. With off non-null the
 * unconsumed bytes are buf[*off .. *off + *count) instead of being moved to
 * the front after every message. */
int ccom_io_read_frame(ccom_io *io, char *buf, int *count, int *off, ccom_msg_t *msg);
/* ccom_socket_write_line over io. */
int ccom_io_write_msg(ccom_io *io, ccom_msg_t *msg);

/* Logs the DEBUG "send"/"recv" line for msg (redacted when it is JSON). */
void ccom_log_msg(const char *what, int fd, ccom_msg_t *msg);

/* ---- Socket client ------------------------------------------------------ */

struct ccom_client_t {
  char host[256];
  int32_t port;
  std::atomic<int32_t> sock; /* 0 = disconnected, -1 = failed/ended, else the descriptor */
  ccom_msg_handler_fn msg_handler;
  void *user; /* handed back to msg_handler */
  pthread_t reader;
  pthread_mutex_t write_lock; /* serialises senders */
  int32_t use_tls;
  SSL_CTX *tls_ctx;
  SSL *tls;
  /* Serialises every call on the TLS session and the freeing of the TLS
   * objects; never held while waiting on the socket. */
  pthread_mutex_t tls_lock;
  std::atomic<uint32_t> busy; /* bit 0: receive in progress, bit 1: send in progress */
  char rx_buf[CCOM_RX_BUF_SIZE];
  int32_t rx_count;
  int32_t rx_off; /* unconsumed bytes start at rx_buf + rx_off */

  /* The connected descriptor; its number stays reserved until fd_open is
   * cleared under fd_lock, which happens exactly once, when neither the
   * reader nor a sender can use it any more. */
  int fd;
  bool fd_open;
  pthread_mutex_t fd_lock;
  bool reader_started;
  bool reader_joined;
  bool write_lock_ready;
  bool tls_lock_ready;
  bool fd_lock_ready;
  char peer_fp[CCOM_FINGERPRINT_SIZE]; /* the server's fingerprint; empty without TLS */
};

/* A fatal error on the client's connection: shut it down (waking the reader
 * and any sender) and mark it failed; the descriptor stays reserved. */
void ccom_client_fail(ccom_client_t *client);

/* Bounds (milliseconds) on the TCP connect and on the whole TLS handshake;
 * tests shorten them. */
extern int ccom_connect_timeout_ms;
extern int ccom_handshake_timeout_ms;

/* TLS thread support state (ssl_thread.cpp). */
extern pthread_mutex_t *lock_cs;
extern long *lock_count;
extern pthread_mutex_t gCryptoMutex;

/* ---- TLS policy (ccom_tls.cpp) ------------------------------------------ */

typedef struct ssl_cipher_st SSL_CIPHER;
typedef struct x509_st X509;

/* A client context with the allowed versions and suites. Null on failure. */
SSL_CTX *ccom_tls_client_context(void);
/* Whether a cipher suite may be used at all. */
bool ccom_tls_suite_allowed(const SSL_CIPHER *suite);
/* Logs why a handshake failed, from the TLS error queue. */
void ccom_tls_log_handshake_failure(const char *host, int port);
/* The fingerprint of cert into out (CCOM_FINGERPRINT_SIZE bytes); 0, or -1
 * (out empty). */
int ccom_tls_fingerprint_of(X509 *cert, char *out);
/* Right after the handshake: logs the version and suite, keeps the
 * server's fingerprint, and checks it against the pin. 0, or -1 when the
 * server is not the pinned one. */
int ccom_tls_after_handshake(ccom_client_t *client, const char *host, int port);
/* For a connection without TLS: 1 when allowed, 0 when a pin forbids it. */
int ccom_tls_plain_allowed(const char *host, int port);
/* Bracket a connect for ccom_client_connect_result. */
void ccom_tls_connect_begin(void);
void ccom_tls_connect_done(void);

/* A socket BIO that writes with MSG_NOSIGNAL, so a peer that went away never
 * raises SIGPIPE in the host process. */
struct bio_method_st;
const struct bio_method_st *ccom_bio_nosigpipe(void);

#endif
