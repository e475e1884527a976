/* libccom: the CSAPI transport.
 *
 * Message buffers and their process-wide pool, a locked FIFO of messages, a
 * small doubly linked list, the challenge-response digest, the TCP/TLS socket
 * client with its reader thread, brace-counting message framing, and the
 * client library's logging (csLog) with password masking.
 *
 * Threads: any thread may allocate, free, send and disconnect; receives
 * happen only on a client's reader thread, inside its message handler.
 * ccom_client_disconnect joins the reader and must not be called from it. */
#ifndef CCOM_H
#define CCOM_H

#include <pthread.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

/* ---- Message buffers ------------------------------------------------- */

/* One CSAPI message: a growable byte buffer. The allocation behind data is
 * always CCOM_MSG_MARGIN bytes larger than size, so data[len] may hold a NUL
 * even when len == size. */
typedef struct ccom_msg_t {
  struct ccom_msg_t *next; /* towards the queue's tail; null when not queued */
  struct ccom_msg_t *prev; /* towards the queue's head; null when not queued */
  char *data;              /* owned by the message */
  uint32_t size;           /* capacity in bytes */
  uint32_t len;            /* bytes in use (text: strlen + 1) */
} ccom_msg_t;

#define CCOM_MSG_INITIAL_SIZE 512u
#define CCOM_MSG_MARGIN 10u

/* A FIFO of messages guarded by its own lock. Zero-initialise, then
 * ccom_msg_queue_init. */
typedef struct ccom_msg_queue_t {
  ccom_msg_t *head;
  ccom_msg_t *tail;
  pthread_mutex_t lock;
  int32_t count; /* queued messages */
  int32_t bytes; /* sum of size over the queued messages */
} ccom_msg_queue_t;

/* Generic list node; a list is a pointer to its first node. */
typedef struct clist_node_t {
  struct clist_node_t *next;
  struct clist_node_t *prev;
  uint32_t value;
} clist_node_t;

/* Returns non-zero to stop the walk. */
typedef int (*clist_visit_fn)(clist_node_t *node);

/* "libccom 0.0.1" */
KYR_API const char *ccom_get_version(void);

/* Buffer must have room for capacity + CCOM_MSG_MARGIN bytes. 0, or -1. */
KYR_API int ccom_msg_init(ccom_msg_t *msg, char *buf, uint32_t capacity);
/* Head of the queue, or a new 512-byte message; null on null queue / OOM. */
KYR_API ccom_msg_t *ccom_msg_alloc(ccom_msg_queue_t *queue);
/* Grows capacity to (floor(requested / 512) + 2) * 512. 0, or -1. */
KYR_API int ccom_msg_grow(ccom_msg_t *msg, uint32_t requested);
/* Copies text and its NUL (len = strlen + 1); data, or null. */
KYR_API char *ccom_msg_strcpy(ccom_msg_t *msg, const char *text);
/* Replaces the contents with count bytes (len = count); data, or null. */
KYR_API char *ccom_msg_memcpy(ccom_msg_t *msg, const void *bytes, uint32_t count);
/* Appends count bytes at data + len; where they were copied, or null. */
KYR_API char *ccom_msg_append(ccom_msg_t *msg, const void *bytes, uint32_t count);
/* Formats at data + len; the new len, -1 for a null message or failed
 * growth, 0 for a null format. */
/* Overwrites the bytes in use (len) with zeros and empties the message, so
 * that text once sent (a password) does not stay in a pooled buffer. */
KYR_API void ccom_msg_wipe(ccom_msg_t *msg);
KYR_API int ccom_msg_sprintf(ccom_msg_t *msg, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

KYR_API int ccom_msg_queue_init(ccom_msg_queue_t *queue);
/* Links msg at the tail; the new count, 0 for null arguments. */
KYR_API int ccom_msg_enqueue(ccom_msg_queue_t *queue, ccom_msg_t *msg);
/* Unlinks the head; null when empty. Never blocks. */
KYR_API ccom_msg_t *ccom_msg_dequeue(ccom_msg_queue_t *queue);
/* Releases every queued message; the sum of their sizes. */
KYR_API int ccom_msg_queue_free(ccom_msg_queue_t *queue);

/* The process-wide pool (client_msg_queue). */
KYR_API int ccom_client_init(void);
KYR_API ccom_msg_t *ccom_client_msg_alloc(void);
/* Returns msg to the pool; the pool's new count (0 for null). */
KYR_API int ccom_client_msg_free(ccom_msg_t *msg);
/* Non-zero flag: release the pool and the TLS thread support. Returns 0. */
KYR_API int ccom_client_exit(int final_exit);

KYR_API clist_node_t *clist_add(clist_node_t **list, uint32_t value);
KYR_API void clist_remove(clist_node_t **list, clist_node_t *node);
KYR_API void clist_walk(clist_node_t *list, clist_visit_fn visitor);
KYR_API int clist_size(clist_node_t *list);

/* SHA-1 over (first 32 chars of identity + first 95 chars of challenge) as
 * 40 lowercase hex digits and a NUL; out must hold at least 41 bytes.
 * Returns 0. */
#define CCOM_CHALLENGE_RSP_LEN 41
KYR_API int ccom_gen_challenge_rsp(const char *identity, const char *challenge, char *out);

/* ---- Logging ---------------------------------------------------------- */

/* csLog levels (names "EMERG" .. "DEBUG"). */
enum {
  CS_LOG_EMERG = 0,
  CS_LOG_ALERT = 1,
  CS_LOG_CRIT = 2,
  CS_LOG_ERR = 3,
  CS_LOG_WARNING = 4,
  CS_LOG_NOTICE = 5,
  CS_LOG_INFO = 6,
  CS_LOG_DEBUG = 7
};

/* DEBUG lines are written only while the flag is non-zero. Returns 0. */
KYR_API int csLogLocalEnable(int flag);
/* One line under the tag "CSAPI": "<name>:<LEVEL>:<message>" (or just the
 * message when name is null), cut at 511 characters. Any thread. */
KYR_API void csLog(const char *name, unsigned int level, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
KYR_API void csLogV(const char *name, unsigned int level, const char *fmt, va_list ap);

/* A malloc'ed copy of msg's text with the values of password-like keys
 * ("adminPwd", "newPwd", "oldPwd", "password*", any case) emptied; the
 * caller frees it. Null for a null message or data. */
KYR_API char *debug_string(ccom_msg_t *msg);

/* ---- Socket framing --------------------------------------------------- */

struct ssl_st; /* OpenSSL's SSL */

/* Largest message ccom_socket_read_line frames; a bigger one is a protocol
 * error that closes the connection. */
#define CCOM_MAX_FRAME (16u * 1024u * 1024u)
/* One socket read takes at most this many bytes into the receive buffer. */
#define CCOM_RX_READ_MAX 32768
/* Receive buffer size: a read plus room for the terminating NUL. */
#define CCOM_RX_BUF_SIZE 32780

/* 1 when fd is readable or timeout_sec passed (0 = no limit); -1 on error. */
KYR_API int ccom_socket_read_ready(int fd, int timeout_sec);
/* Writes msg's text without its NUL (len - 1 bytes). 0, or -1 (fd closed). */
KYR_API int ccom_socket_write_line(int fd, ccom_msg_t *msg, struct ssl_st *ssl);
/* Frames one message from buf (CCOM_RX_BUF_SIZE bytes, *count unconsumed),
 * reading the socket when the buffer runs dry. The message's len (> 0), 0
 * when nothing complete can be read now, -1 when the connection closed or
 * failed (fd has then been closed). */
KYR_API int ccom_socket_read_line(int fd, char *buf, int *count, ccom_msg_t *msg, struct ssl_st *ssl);

/* ---- Socket client ------------------------------------------------------ */

typedef struct ccom_client_t ccom_client_t;

/* Runs on the reader thread whenever the connection is readable or a
 * one-second wait passed; return 0 to keep reading, non-zero to end the
 * reader. Called once more with a null client when the reader ends. user is
 * the pointer given to ccom_client_connect, every time, so the handler never
 * has to search for the owner of its connection. */
typedef int (*ccom_msg_handler_fn)(ccom_client_t *client, void *user);

/* Connects (TCP keep-alive, TLS 1.0 to 1.3 unless to 127.0.0.1, or the flag
 * is 0, or "csapidisablessl.dat" exists) and starts the reader, which hands
 * user to every handler call. Null on failure; ccom_client_connect_result
 * tells an identity failure apart. */
KYR_API ccom_client_t *ccom_client_connect(const char *host, int port, ccom_msg_handler_fn handler, int use_tls,
                                           void *user);
/* 0, or -1. Any thread. */
KYR_API int ccom_client_send(ccom_client_t *client, ccom_msg_t *msg);
/* Reader thread only: the framed length, 0 when nothing can be read now,
 * -1 when the connection is closed or failed. Like a blocking read, it waits
 * for the rest of a message once the socket is readable (TLS included);
 * disconnect ends the wait. */
KYR_API int ccom_client_recv(ccom_client_t *client, ccom_msg_t *msg);
/* Closes the connection and joins the reader. Not from the reader. 0. */
KYR_API int ccom_client_disconnect(ccom_client_t *client);
/* Releases the record (after disconnect). Null does nothing. */
KYR_API int ccom_client_free(ccom_client_t *client);
/* Inside the handler: non-zero when it is called because the idle period
 * passed with nothing to read (it must not read then: the read would wait). */
KYR_API int ccom_client_idle_call(ccom_client_t *client);
/* Reader thread only: non-zero when a receive would not wait (input is
 * buffered or the socket is readable). */
KYR_API int ccom_client_input_ready(ccom_client_t *client);
/* Reader thread only: non-zero when received input is waiting to be framed
 * (in the receive buffer or the TLS session), so the next receive needs no
 * system call. Unlike ccom_client_input_ready it never asks the socket. */
KYR_API int ccom_client_input_buffered(ccom_client_t *client);
/* The reader's idle period in ms (at least 10; 1000 at connect). */
KYR_API void ccom_client_set_idle_ms(ccom_client_t *client, int ms);
/* TCP_USER_TIMEOUT on the connection where the platform has it: data the
 * peer does not acknowledge within ms ends it (0: the system's default).
 * 0, or -1. */
KYR_API int ccom_client_set_user_timeout(ccom_client_t *client, int ms);
/* Ends every connect in progress (TCP connect or TLS handshake) within a
 * fraction of a second; any thread. */
KYR_API void ccom_connect_cancel_all(void);
/* Closes fd when > 0 and returns 0; otherwise -1. */
KYR_API int close_socket(int fd);

/* ---- Server identity -------------------------------------------------- */

/* A server's fingerprint is the SHA-256 of its certificate's
 * SubjectPublicKeyInfo: 32 bytes, written as 64 lowercase hex digits. */
#define CCOM_FINGERPRINT_BYTES 32
#define CCOM_FINGERPRINT_SIZE 65 /* hex digits and the NUL */

/* Why the calling thread's last ccom_client_connect gave what it gave. */
enum {
  CCOM_CONNECT_OK = 0,        /* connected */
  CCOM_CONNECT_FAILED = -1,   /* lookup, socket, connect or handshake failure */
  CCOM_CONNECT_IDENTITY = -2  /* the server is not the pinned one (or not encrypted) */
};
KYR_API int ccom_client_connect_result(void);

/* Pins the fingerprint (64 hex digits, either case) every following connect
 * must present: another key, or a connection without TLS, fails right after
 * the handshake, before the owner can send anything. Null or "" clears the
 * pin. 0, or -1 for any other text (the pin stays as it was). Any thread. */
KYR_API int ccom_tls_set_pin(const char *hex);
/* The pin as lowercase hex into out (CCOM_FINGERPRINT_SIZE bytes): 1 when a
 * pin is set, 0 when none is (out empty), -1 for bad arguments. */
KYR_API int ccom_tls_get_pin(char *out, size_t size);
/* The connected server's fingerprint into out (CCOM_FINGERPRINT_SIZE bytes
 * or more). 0, or -1 for a plain TCP connection or bad arguments (out is
 * then empty when it can hold a byte). */
KYR_API int ccom_client_get_fingerprint(ccom_client_t *client, char *out, size_t size);

/* TLS library set-up, once per process. */
KYR_API void help_crypto_init(void);
KYR_API void CRYPTO_thread_setup(void);
KYR_API void CRYPTO_thread_cleanup(void);

KYR_EXTERN_C_END

#endif
