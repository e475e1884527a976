/* The socket client: one TCP connection with keep-alive, wrapped in TLS
 * (policy in ccom_tls.cpp) unless switched off, and a reader thread that
 * hands incoming data to the owner's handler.
 *
 * Descriptor ownership: the number in `fd` stays open until the reader has
 * ended and no sender can be inside a write (closers hold write_lock); a
 * fatal error only shuts the connection down. So the descriptor is closed
 * exactly once and a number reused by another open file is never touched.
 *
 * TLS: OpenSSL forbids concurrent calls on one session, so every SSL_* call
 * takes tls_lock. The socket under TLS is non-blocking, which lets the
 * reader and senders wait for the peer without holding the lock. */
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <new>

#include "ipc/libccom/ccom_internal.h"
#include "ipc/libccom/ccom_tool.h"

int ccom_connect_timeout_ms = 10000;
int ccom_handshake_timeout_ms = 10000;

namespace {

const char kName[] = "CCOM";
const char kDisableTlsFile[] = "csapidisablessl.dat";

int64_t now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void set_nonblocking(int fd, bool on) {
  int fl = fcntl(fd, F_GETFL, 0);
  if (fl < 0) return;
  fcntl(fd, F_SETFL, on ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK));
}

/* Frees the TLS objects. Every call on the session holds tls_lock, so
 * taking it here guarantees none is in progress; later calls find the
 * pointers cleared and fail instead of touching freed memory. */
void free_tls(ccom_client_t *c) {
  if (!c->tls_lock_ready) return;
  pthread_mutex_lock(&c->tls_lock);
  if (c->tls) {
    csLog(kName, CS_LOG_DEBUG, "freeing SSL session:%p\n", (void *)c->tls);
    SSL_shutdown(c->tls);
    SSL_free(c->tls);
    c->tls = nullptr;
  }
  if (c->tls_ctx) {
    csLog(kName, CS_LOG_DEBUG, "freeing SSL context:%p\n", (void *)c->tls_ctx);
    SSL_CTX_free(c->tls_ctx);
    c->tls_ctx = nullptr;
  }
  pthread_mutex_unlock(&c->tls_lock);
}

void shutdown_fd(ccom_client_t *c) {
  pthread_mutex_lock(&c->fd_lock);
  if (c->fd_open) shutdown(c->fd, SHUT_RDWR);
  pthread_mutex_unlock(&c->fd_lock);
}

/* The single close. Callers make sure the reader no longer runs and hold
 * write_lock, so no thread is using the number. */
void close_fd(ccom_client_t *c) {
  pthread_mutex_lock(&c->fd_lock);
  if (c->fd_open) {
    close_socket(c->fd);
    c->fd_open = false;
  }
  pthread_mutex_unlock(&c->fd_lock);
}

/* Ends the connection from the reader's side or from disconnect: wake any
 * sender, wait for it to leave, then release TLS and the descriptor. */
void release_connection(ccom_client_t *c) {
  shutdown_fd(c);
  if (c->write_lock_ready) pthread_mutex_lock(&c->write_lock);
  free_tls(c);
  close_fd(c);
  if (c->write_lock_ready) pthread_mutex_unlock(&c->write_lock);
}

/* Data already received but not yet framed, in rx_buf or inside the TLS
 * session, must reach the handler without waiting for the socket. */
bool input_pending(ccom_client_t *c) {
  if (c->rx_count > 0) return true;
  if (!c->use_tls) return false;
  bool pending = false;
  pthread_mutex_lock(&c->tls_lock);
  if (c->tls) pending = SSL_has_pending(c->tls) != 0;
  pthread_mutex_unlock(&c->tls_lock);
  return pending;
}

void *client_reader(void *arg) {
  ccom_client_t *c = static_cast<ccom_client_t *>(arg);
  for (;;) {
    int ready = input_pending(c) ? 1 : ccom_wait_readable_ms(c->fd, c->idle_ms.load());
    if (ready < 0) {
      csLog(kName, CS_LOG_WARNING, "client_reader() read_ready error:%s\n", strerror(errno));
      break;
    }
    c->idle_call.store(ready == 0);
    if (c->msg_handler(c, c->user) != 0) break;
    /* A connection that failed or is being disconnected has nothing more
     * to deliver; a handler that ignores -1 must not keep the reader (and
     * the disconnect that joins it) spinning. */
    if (c->sock.load() <= 0) break;
  }
  c->msg_handler(nullptr, c->user);
  int expect = c->fd;
  c->sock.compare_exchange_strong(expect, -1);
  release_connection(c);
  csLog(kName, CS_LOG_DEBUG, "ccom client_reader thread exit, thread:%x\n", (unsigned)(uintptr_t)pthread_self());
  return nullptr;
}

/* Runs the client handshake on the non-blocking socket within the bound. */
[[nodiscard]] bool tls_handshake(ccom_client_t *c, const char *host, int port, uint32_t gen) {
  int64_t deadline = now_ms() + ccom_handshake_timeout_ms;
  for (;;) {
    if (ccom_connect_cancelled(gen)) {
      csLog(kName, CS_LOG_ERR, "SSL_connect handshake cancelled\n");
      return false;
    }
    ERR_clear_error();
    int r = SSL_connect(c->tls);
    if (r == 1) return true;
    int err = SSL_get_error(c->tls, r);
    int64_t left = deadline - now_ms();
    if (r < 0 && (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) && left > 0) {
      struct pollfd p = {c->fd, (short)(err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
      if (poll(&p, 1, left < 50 ? (int)left : 50) >= 0 || errno == EINTR) continue;
    }
    csLog(kName, CS_LOG_ERR, "SSL_connect handshake failed\n");
    ccom_tls_log_handshake_failure(host, port);
    return false;
  }
}

void set_socket_options(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  struct linger lg = {1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  struct {
    int level, name, value;
    const char *err;
  } const keepalive[] = {
      {SOL_SOCKET, SO_KEEPALIVE, 1, "unable to set keep alive on socket:%d, err:%d\n"},
      {IPPROTO_TCP, TCP_KEEPCNT, 3, "unable to set keep alive count on socket:%d, err:%d\n"},
      {IPPROTO_TCP, TCP_KEEPIDLE, 10, "unable to set keep alive idle on socket:%d, err:%d\n"},
      {IPPROTO_TCP, TCP_KEEPINTVL, 10, "unable to set keep alive interval on socket:%d, err:%d\n"},
  };
  for (const auto &k : keepalive) {
    int r = setsockopt(fd, k.level, k.name, &k.value, sizeof k.value);
    if (r != 0) csLog(kName, CS_LOG_ERR, k.err, fd, r);
  }
}

/* Tears down a partly built client: the caller never sees it. */
void abandon(ccom_client_t *c) {
  (void)ccom_client_disconnect(c);
  (void)ccom_client_free(c);
}

}  // namespace

extern "C" KYR_API int ccom_client_input_ready(ccom_client_t *c) {
  if (!c || c->sock.load() <= 0) return 0;
  if (input_pending(c)) return 1;
  struct pollfd p = {c->fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0 ? 1 : 0;
}

extern "C" KYR_API int ccom_client_input_buffered(ccom_client_t *c) {
  return c && c->sock.load() > 0 && input_pending(c) ? 1 : 0;
}

void ccom_client_fail(ccom_client_t *c) {
  shutdown_fd(c);
  int expect = c->fd;
  c->sock.compare_exchange_strong(expect, -1);
}

extern "C" KYR_API int close_socket(int fd) {
  if (fd <= 0) return -1;
  close(fd);
  return 0;
}

extern "C" KYR_API ccom_client_t *ccom_client_connect(const char *host, int port, ccom_msg_handler_fn handler,
                                                      int use_tls, void *user) {
  ccom_tls_connect_begin();
  if (!host) {
    csLog(kName, CS_LOG_ERR, "couldn't lookup host: %s\n", "(null)");
    return nullptr;
  }
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_flags = AI_CANONNAME;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  char service[16];
  snprintf(service, sizeof service, "%d", port);
  struct addrinfo *res = nullptr;
  if (getaddrinfo(host, port ? service : nullptr, &hints, &res) != 0 || !res) {
    csLog(kName, CS_LOG_ERR, "couldn't lookup host: %s\n", host);
    if (res) freeaddrinfo(res);
    return nullptr;
  }
  if (!handler) {
    freeaddrinfo(res);
    return nullptr;
  }

  ccom_client_t *c = new (std::nothrow) ccom_client_t();
  if (!c) {
    csLog(kName, CS_LOG_ERR, "ccom_client_connect: malloc() error\n");
    freeaddrinfo(res);
    return nullptr;
  }
  c->msg_handler = handler;
  c->user = user;
  c->use_tls = 1;
  c->fd = -1;
  pthread_mutex_init(&c->fd_lock, nullptr);
  c->fd_lock_ready = true;
  pthread_mutex_init(&c->tls_lock, nullptr);
  c->tls_lock_ready = true;
  if (pthread_mutex_init(&c->write_lock, nullptr) != 0) {
    csLog(kName, CS_LOG_ERR, "could not create write mutex\n");
    freeaddrinfo(res);
    abandon(c);
    return nullptr;
  }
  c->write_lock_ready = true;

  const uint32_t gen = ccom_connect_generation();
  bool loopback4 = false;
  csLog(kName, CS_LOG_DEBUG, "connecting to %s:%d\n", res->ai_canonname ? res->ai_canonname : host, port);
  int fd = ccom_connect_any(res, gen, set_socket_options, &loopback4);
  if (fd < 0) {
    c->sock = -1;
    csLog(kName, CS_LOG_ERR, "couldn't create a socket\n");
    freeaddrinfo(res);
    abandon(c);
    return nullptr;
  }
  c->fd = fd;
  c->fd_open = true;
  csLog(kName, CS_LOG_DEBUG, "Initialized socket : %x\n", fd);
  set_nonblocking(fd, false);
  c->sock = fd;
  csLog(kName, CS_LOG_DEBUG, "connect() for cmd/response socket %d, client %p\n", fd, (void *)c);

  c->use_tls = use_tls;
  if (loopback4) {
    csLog(kName, CS_LOG_DEBUG, "disabling SSL (connecting to internal server)\n");
    c->use_tls = 0;
  }
  freeaddrinfo(res);

  /* A tool's explicit choice overrides address, flag and marker file. */
  const int forced = ccom_tls_mode();
  if (forced != CCOM_TLS_AUTO) c->use_tls = forced;
  struct stat st;
  if (forced == CCOM_TLS_AUTO && stat(kDisableTlsFile, &st) == 0) {
    csLog(kName, CS_LOG_DEBUG, "SSL disabled\n");
    c->use_tls = 0;
  } else if (c->use_tls) {
    csLog(kName, CS_LOG_DEBUG, "SSL enabled\n");
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    c->tls_ctx = ccom_tls_client_context();
    if (!c->tls_ctx) {
      csLog(kName, CS_LOG_ERR, "couldn't initialize SSL context\n");
      abandon(c);
      return nullptr;
    }
    csLog(kName, CS_LOG_DEBUG, "allocated SSL context:%p\n", (void *)c->tls_ctx);
    c->tls = SSL_new(c->tls_ctx);
    if (!c->tls) {
      csLog(kName, CS_LOG_ERR, "couldn't create a new SSL session\n");
      abandon(c);
      return nullptr;
    }
    csLog(kName, CS_LOG_DEBUG, "allocated SSL session:%p\n", (void *)c->tls);
    const BIO_METHOD *meth = ccom_bio_nosigpipe();
    BIO *bio = meth ? BIO_new(meth) : nullptr;
    if (!bio || BIO_set_fd(bio, fd, BIO_NOCLOSE) != 1) {
      if (bio) BIO_free(bio);
      csLog(kName, CS_LOG_ERR, "couldn't set SSL socket\n");
      abandon(c);
      return nullptr;
    }
    SSL_set_bio(c->tls, bio, bio);
    set_nonblocking(fd, true);
    if (!tls_handshake(c, host, port, gen)) {
      abandon(c);
      return nullptr;
    }
    csLog(kName, CS_LOG_DEBUG, "SSL encryption complete\n");
  }
  /* Before the reader starts and before the owner can send anything. */
  if (c->use_tls ? ccom_tls_after_handshake(c, host, port) != 0 : !ccom_tls_plain_allowed(host, port)) {
    abandon(c);
    return nullptr;
  }

  snprintf(c->host, sizeof c->host, "%s", host);
  c->port = port;
  if (pthread_create(&c->reader, nullptr, client_reader, c) != 0) {
    csLog(kName, CS_LOG_DEBUG, "failed to create client reader thread\n");
    abandon(c);
    return nullptr;
  }
  c->reader_started = true;
  help_crypto_init();
  ccom_tls_connect_done();
  return c;
}

extern "C" KYR_API int ccom_client_send(ccom_client_t *client, ccom_msg_t *msg) {
  if (!msg) {
    csLog(kName, CS_LOG_ERR, "NULL msg ptr\n");
    return -1;
  }
  if (!client) {
    csLog(kName, CS_LOG_ERR, "cannot send to server, NULL client specified\n");
    return -1;
  }
  pthread_mutex_lock(&client->write_lock);
  client->busy.fetch_or(2);
  int sock = client->sock.load();
  /* The session pointer is read only under tls_lock, inside the write. */
  ccom_io io = {sock > 0 ? client->fd : sock, nullptr, client};
  int r = ccom_io_write_msg(&io, msg);
  client->busy.fetch_and(~2u);
  pthread_mutex_unlock(&client->write_lock);
  if (r != 0) {
    csLog(kName, CS_LOG_ERR, "client send failed\n");
    return -1;
  }
  return 0;
}

extern "C" KYR_API int ccom_client_recv(ccom_client_t *client, ccom_msg_t *msg) {
  if (!client || !msg) return 0;
  client->busy.fetch_or(1);
  int r;
  if (client->sock.load() <= 0) {
    r = -1;
  } else {
    ccom_io io = {client->fd, nullptr, client};
    r = ccom_io_read_frame(&io, client->rx_buf, &client->rx_count, &client->rx_off, msg);
  }
  client->busy.fetch_and(~1u);
  if (r > 0 && msg->len == 0) csLog(kName, CS_LOG_ERR, "received 0-length command?\n");
  return r;
}

extern "C" KYR_API int ccom_client_disconnect(ccom_client_t *client) {
  if (!client) return 0;
  int old = client->sock.exchange(0);
  csLog(kName, CS_LOG_DEBUG, "Disconnect client %x\n", old);
  if (old > 0 && client->use_tls && client->tls_lock_ready) {
    /* Tell the peer the session ends (best effort, never blocks). */
    pthread_mutex_lock(&client->tls_lock);
    if (client->tls && SSL_is_init_finished(client->tls)) SSL_shutdown(client->tls);
    pthread_mutex_unlock(&client->tls_lock);
  }
  /* Shutting down wakes a reader blocked in a read or a wait. */
  shutdown_fd(client);
  if (old != 0) {
    csLog(kName, CS_LOG_DEBUG, "ccom_client_disconnect: cmd/response socket %d, client:0x%x\n", old,
          (unsigned)(uintptr_t)client);
  }
  if (client->reader_started && !client->reader_joined) {
    if (pthread_equal(client->reader, pthread_self())) {
      /* Joining itself would deadlock; the reader's end releases the rest. */
      csLog(kName, CS_LOG_ERR, "ccom_client_disconnect called from the reader thread\n");
      return 0;
    }
    pthread_join(client->reader, nullptr);
    client->reader_joined = true;
  }
  release_connection(client);
  csLog(kName, CS_LOG_DEBUG, "ccom_client_disconnect: free client:0x%x\n", (unsigned)(uintptr_t)client);
  return 0;
}

extern "C" KYR_API int ccom_client_free(ccom_client_t *client) {
  if (!client) return 0;
  /* Never release the record under a running reader. */
  bool fd_open = false;
  if (client->fd_lock_ready) {
    pthread_mutex_lock(&client->fd_lock);
    fd_open = client->fd_open;
    pthread_mutex_unlock(&client->fd_lock);
  }
  if ((client->reader_started && !client->reader_joined) || fd_open) (void)ccom_client_disconnect(client);
  if (client->reader_started && !client->reader_joined) return -1;
  if (client->write_lock_ready) pthread_mutex_destroy(&client->write_lock);
  if (client->tls_lock_ready) pthread_mutex_destroy(&client->tls_lock);
  if (client->fd_lock_ready) pthread_mutex_destroy(&client->fd_lock);
  delete client;
  return 0;
}
