/* Message framing over a connected socket, with or without TLS.
 *
 * The wire carries JSON objects back to back with no delimiter; a message
 * ends where the brace that opened it closes. ccom_frame_step is the pure
 * framer (no I/O, testable byte by byte); ccom_io_read_frame feeds it from
 * the socket and is shared by ccom_socket_read_line and the socket client. */
#include <ctype.h>
#include <errno.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ipc/libccom/ccom_internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

const char kName[] = "CCOM";

/* Fatal error on a connection: a standalone caller gets the descriptor
 * closed (its contract); a client only shuts the connection down and leaves
 * the single close to its owner, so the number is never closed twice. */
void io_fail(ccom_io *io) {
  if (io->client)
    ccom_client_fail(io->client);
  else
    close_socket(io->fd);
}

/* Waits for the socket to become ready for the direction TLS asked for.
 * Never called with the TLS lock held. */
void io_wait(int fd, short events, int timeout_ms) {
  struct pollfd p = {fd, events, 0};
  while (poll(&p, 1, timeout_ms) < 0 && errno == EINTR) {
  }
}

unsigned long syscall_detail() {
  unsigned long e = ERR_get_error();
  return e ? e : (unsigned long)errno;
}

/* A client connection made with TLS stays TLS even after its session was
 * freed: it then fails instead of falling back to clear text. */
bool uses_tls(const ccom_io *io) { return io->client ? io->client->use_tls != 0 : io->ssl != nullptr; }

/* One read into dst: bytes (> 0), 0 for nothing now, -1 fatal (handled). */
int io_read(ccom_io *io, char *dst, int cap) {
  if (!uses_tls(io)) {
    for (;;) {
      ssize_t n = recv(io->fd, dst, (size_t)cap, 0);
      if (n > 0) return (int)n;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
      if (n == 0)
        csLog(kName, CS_LOG_DEBUG, "socket closed during read of msg\n");
      else if (errno == EBADF || errno == ECONNRESET || errno == ETIMEDOUT)
        csLog(kName, CS_LOG_DEBUG, "socket recv() closed during msg\n");
      else
        csLog(kName, CS_LOG_WARNING, "socket recv() error:%s during msg\n", strerror(errno));
      io_fail(io);
      return -1;
    }
  }
  for (;;) {
    int err;
    unsigned long detail = 0;
    int n;
    if (io->client) {
      /* Every call on the session is serialised with the senders; the
       * socket is non-blocking, so the lock is held only while OpenSSL
       * works on buffered data, never while waiting for the peer. */
      pthread_mutex_lock(&io->client->tls_lock);
      if (!io->client->tls) {
        pthread_mutex_unlock(&io->client->tls_lock);
        return -1;
      }
      ERR_clear_error();
      n = SSL_read(io->client->tls, dst, cap);
      err = n > 0 ? SSL_ERROR_NONE : SSL_get_error(io->client->tls, n);
      if (err == SSL_ERROR_SYSCALL || err == SSL_ERROR_SSL) detail = syscall_detail();
      pthread_mutex_unlock(&io->client->tls_lock);
    } else {
      ERR_clear_error();
      n = SSL_read(io->ssl, dst, cap);
      err = n > 0 ? SSL_ERROR_NONE : SSL_get_error(io->ssl, n);
      if (err == SSL_ERROR_SYSCALL || err == SSL_ERROR_SSL) detail = syscall_detail();
    }
    if (n > 0) return n;
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
      if (!io->client) return 0;
      /* The client's receive waits for the peer like the plain path does;
       * shutting the socket down (disconnect) ends the wait. */
      io_wait(io->fd, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, -1);
      continue;
    }
    if (n == 0 || err == SSL_ERROR_ZERO_RETURN) {
      csLog(kName, CS_LOG_DEBUG, "socket closed during SSL_read of msg\n");
      io_fail(io);
      return -1;
    }
    if (err == SSL_ERROR_SYSCALL && (detail == EAGAIN || detail == EINTR)) {
      io_wait(io->fd, POLLIN, io->client ? -1 : 1000); /* read again, without spinning */
      continue;
    }
    /* A TLS protocol error (SSL_ERROR_SSL) leaves the session unusable, so
     * it ends the connection like any other fatal error. */
    csLog(kName, CS_LOG_DEBUG, "socket error during SSL_read of msg, SSL ssl_err:%d, err:%d, closing socket\n", err,
          err == SSL_ERROR_SYSCALL ? (int)detail : 0);
    io_fail(io);
    return -1;
  }
}

/* A long frame arrives in many reads: grow by doubling so that it is
 * copied a logarithmic number of times, not once per read. */
bool frame_reserve(ccom_msg_t *msg, uint32_t need) {
  if (need <= msg->size) return true;
  uint32_t want = msg->size >= CCOM_MAX_FRAME / 2 ? CCOM_MAX_FRAME : msg->size * 2;
  if (want < need) want = need;
  return ccom_msg_grow(msg, want) == 0;
}

}  // namespace

namespace {

/* The framer's scanning state while it works through one buffer. */
struct Scan {
  uint32_t depth;
  bool in_str;
  const char *esc_skip; /* the byte after a backslash inside a string */
  const char *start;    /* where this step's message begins */
};

enum ScanStop { SCAN_ON, SCAN_OBJECT_END, SCAN_STRAY_BEFORE_OBJECT };

/* Handles one byte that can matter: { } " or backslash. */
inline ScanStop scan_byte(Scan &s, const char *q) {
  if (q == s.esc_skip) return SCAN_ON;
  char c = *q;
  if (s.in_str) {
    if (c == '\\')
      s.esc_skip = q + 1;
    else if (c == '"')
      s.in_str = false;
    return SCAN_ON;
  }
  if (c == '{') {
    /* Stray bytes glued before an object go out as a message of their own,
     * so that they cannot take the object down with them. */
    if (s.depth == 0 && q != s.start) return SCAN_STRAY_BEFORE_OBJECT;
    s.depth++;
  } else if (c == '}') {
    /* A stray "}" before any "{" does not count. */
    if (s.depth > 1) {
      s.depth--;
    } else if (s.depth == 1) {
      s.depth = 0;
      return SCAN_OBJECT_END;
    }
  } else if (c == '"' && s.depth > 0) {
    s.in_str = true; /* quotes outside an object are just bytes */
  }
  return SCAN_ON;
}

inline bool interesting(char c) { return c == '{' || c == '}' || c == '"' || c == '\\'; }

}  // namespace

ccom_frame_result ccom_frame_step(ccom_frame_state *st, const char *buf, size_t n, size_t *skip, size_t *take) {
  size_t i = 0;
  if (st->depth == 0)
    while (i < n && isspace((unsigned char)buf[i])) i++;
  *skip = i;
  if (i == n) {
    *take = 0;
    return CCOM_FRAME_MORE;
  }
  const char *start = buf + i, *p = start, *end = buf + n;
  Scan s = {st->depth, st->in_str != 0, st->escaped ? start : nullptr, start};
  ScanStop stop = SCAN_ON;
  const char *at = nullptr;
#if defined(__SSE2__)
  /* Sixteen bytes at a time: most bytes of a message are plain text, and a
   * block without any brace, quote or backslash is skipped whole. */
  const __m128i v_open = _mm_set1_epi8('{'), v_close = _mm_set1_epi8('}'), v_quote = _mm_set1_epi8('"'),
                v_bslash = _mm_set1_epi8('\\');
  while (stop == SCAN_ON && end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, v_open), _mm_cmpeq_epi8(v, v_close)),
                               _mm_or_si128(_mm_cmpeq_epi8(v, v_quote), _mm_cmpeq_epi8(v, v_bslash)));
    unsigned mask = (unsigned)_mm_movemask_epi8(hit);
    while (mask) {
      const char *q = p + __builtin_ctz(mask);
      mask &= mask - 1;
      if ((stop = scan_byte(s, q)) != SCAN_ON) {
        at = q;
        break;
      }
    }
    if (stop == SCAN_ON) p += 16;
  }
#endif
  for (; stop == SCAN_ON && p < end; p++)
    if (interesting(*p) && (stop = scan_byte(s, p)) != SCAN_ON) at = p;
  st->depth = s.depth;
  st->in_str = s.in_str;
  if (stop == SCAN_OBJECT_END) {
    st->escaped = 0;
    *take = (size_t)(at + 1 - start);
    return CCOM_FRAME_OBJECT;
  }
  if (stop == SCAN_STRAY_BEFORE_OBJECT) {
    st->escaped = 0;
    *take = (size_t)(at - start);
    return CCOM_FRAME_RAW;
  }
  st->escaped = s.in_str && s.esc_skip == end;
  *take = (size_t)(end - start);
  return st->depth > 0 ? CCOM_FRAME_MORE : CCOM_FRAME_RAW;
}

int ccom_io_read_frame(ccom_io *io, char *buf, int *count, int *off, ccom_msg_t *msg) {
  if (!buf || !count || io->fd == 0) return -1;
  if (!msg || !msg->data) {
    csLog(kName, CS_LOG_ERR, "ccom_socket_read_line, NULL msg ptr\n");
    return -1;
  }
  int base = off ? *off : 0;
  /* Unconsumed bytes must lie inside one read's worth of the buffer. */
  if (*count < 0 || base < 0 || base > CCOM_RX_READ_MAX || *count > CCOM_RX_READ_MAX - base) {
    csLog(kName, CS_LOG_ERR, "ccom_socket_read_line, bad receive count %d\n", *count);
    *count = 0;
    base = 0;
  }
  msg->len = 0;
  memset(msg->data, 0, msg->size + CCOM_MSG_MARGIN < 10 ? msg->size + CCOM_MSG_MARGIN : 10);
  ccom_frame_state st = {0, 0, 0};
  for (;;) {
    if (*count == 0) {
      base = 0;
      if (off) *off = 0;
      int r = io_read(io, buf, CCOM_RX_READ_MAX);
      if (r <= 0) {
        /* A close is routine; a message cut short by it is a drop. */
        if (r < 0 && msg->len > 0)
          csLog(kName, CS_LOG_WARNING, "connection lost with %u bytes of an unfinished message, dropped\n",
                (unsigned)msg->len);
        buf[0] = '\0';
        return r;
      }
      *count = r;
      buf[r] = '\0';
    }
    size_t skip = 0, take = 0;
    ccom_frame_result res = ccom_frame_step(&st, buf + base, (size_t)*count, &skip, &take);
    if ((uint64_t)msg->len + take > CCOM_MAX_FRAME) {
      csLog(kName, CS_LOG_ERR, "message exceeds %u bytes, closing connection\n", CCOM_MAX_FRAME);
      *count = 0;
      if (off) *off = 0;
      io_fail(io);
      return -1;
    }
    const char *from = buf + base + skip;
    if (res == CCOM_FRAME_RAW) {
      /* Not JSON: passed on as it came, replacing the message's contents. */
      if (!ccom_msg_memcpy(msg, from, (uint32_t)take)) goto oom;
    } else {
      if (take > 0 && !frame_reserve(msg, msg->len + (uint32_t)take)) goto oom;
      if (take > 0 && !ccom_msg_append(msg, from, (uint32_t)take)) goto oom;
      if (res == CCOM_FRAME_MORE) {
        *count = 0;
        continue;
      }
    }
    /* A whole message: keep what follows it for the next call. */
    int used = (int)(skip + take);
    *count -= used;
    if (*count == 0) {
      if (off) *off = 0;
      buf[0] = '\0';
    } else if (off) {
      *off = base + used;
      buf[*off + *count] = '\0';
    } else {
      memmove(buf, buf + used, (size_t)*count);
      buf[*count] = '\0';
    }
    msg->data[msg->len] = '\0';
    ccom_log_msg("recv", io->fd, msg);
    return (int)msg->len;
  }
oom:
  csLog(kName, CS_LOG_ERR, "out of memory framing a %u-byte message, closing connection\n", (unsigned)msg->len);
  *count = 0;
  if (off) *off = 0;
  io_fail(io);
  return -1;
}

int ccom_io_write_msg(ccom_io *io, ccom_msg_t *msg) {
  if (io->fd <= 0) {
    csLog(kName, CS_LOG_ERR, "ccom_socket_write_line, socket is closed (%d)\n", io->fd);
    return -1;
  }
  if (!msg || !msg->data) {
    csLog(kName, CS_LOG_ERR, "ccom_socket_write_line, NULL msg ptr\n");
    io_fail(io);
    return -1;
  }
  ccom_log_msg("send", io->fd, msg);
  /* The text goes out without its NUL and without any terminator. */
  const char *p = msg->data;
  size_t left = msg->len > 0 ? msg->len - 1 : 0;
  if (left > msg->size) left = msg->size;
  while (left > 0) {
    if (!uses_tls(io)) {
      ssize_t n = send(io->fd, p, left, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) n = 0;
      if (n < 0) {
        csLog(kName, CS_LOG_WARNING, "send() error %s\n", strerror(errno));
        io_fail(io);
        return -1;
      }
      if (n == 0) {
        io_wait(io->fd, POLLOUT, -1);
        continue;
      }
      p += n;
      left -= (size_t)n;
      continue;
    }
    int chunk = left > (size_t)INT32_MAX ? INT32_MAX : (int)left;
    int n, err;
    unsigned long detail = 0;
    if (io->client) {
      pthread_mutex_lock(&io->client->tls_lock);
      if (!io->client->tls) {
        pthread_mutex_unlock(&io->client->tls_lock);
        csLog(kName, CS_LOG_DEBUG, "socket closed during SSL_write of msg\n");
        return -1;
      }
      ERR_clear_error();
      n = SSL_write(io->client->tls, p, chunk);
      err = n > 0 ? SSL_ERROR_NONE : SSL_get_error(io->client->tls, n);
      if (err == SSL_ERROR_SYSCALL) detail = syscall_detail();
      pthread_mutex_unlock(&io->client->tls_lock);
    } else {
      ERR_clear_error();
      n = SSL_write(io->ssl, p, chunk);
      err = n > 0 ? SSL_ERROR_NONE : SSL_get_error(io->ssl, n);
      if (err == SSL_ERROR_SYSCALL) detail = syscall_detail();
    }
    if (n > 0) {
      p += n;
      left -= (size_t)n;
      continue;
    }
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
      csLog(kName, CS_LOG_DEBUG, "socket returned %s\n", err == SSL_ERROR_WANT_READ ? "Want Read" : "Want Write");
      /* Incoming data may be taken by the reader thread meanwhile, so a
       * want-read wait is short and the write is simply tried again. */
      io_wait(io->fd, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, err == SSL_ERROR_WANT_READ ? 50 : -1);
      continue;
    }
    if (n == 0 && err != SSL_ERROR_SYSCALL) {
      csLog(kName, CS_LOG_DEBUG, "socket closed during SSL_write of msg\n");
    } else {
      csLog(kName, CS_LOG_DEBUG, "socket error during SSL_write of msg, ssl_err:%d, err:%d\n", err,
            err == SSL_ERROR_SYSCALL ? (int)detail : 0);
    }
    io_fail(io);
    return -1;
  }
  return 0;
}

extern "C" KYR_API int ccom_socket_read_ready(int fd, int timeout_sec) {
  if (fd < 0) return -1;
  struct pollfd p = {fd, POLLIN, 0};
  int ms = timeout_sec > 0 ? (timeout_sec > INT32_MAX / 1000 ? INT32_MAX : timeout_sec * 1000) : -1;
  for (;;) {
    int r = poll(&p, 1, ms);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      if (errno != ENOTSOCK && errno != EBADF)
        csLog(kName, CS_LOG_WARNING, "socket input: select() %d error %s\n", errno, strerror(errno));
      return -1;
    }
    if (r == 0) return 1; /* the time-out counts like readability */
    if (p.revents & POLLNVAL) return -1;
    /* Hang-up and error count as readable: the next read reports them. */
    return 1;
  }
}

extern "C" KYR_API int ccom_socket_write_line(int fd, ccom_msg_t *msg, struct ssl_st *ssl) {
  ccom_io io = {fd, ssl, nullptr};
  return ccom_io_write_msg(&io, msg);
}

extern "C" KYR_API int ccom_socket_read_line(int fd, char *buf, int *count, ccom_msg_t *msg, struct ssl_st *ssl) {
  ccom_io io = {fd, ssl, nullptr};
  return ccom_io_read_frame(&io, buf, count, nullptr, msg);
}
