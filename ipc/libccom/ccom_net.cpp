/* The socket client's network side: connecting to every address of a host
 * (IPv6 and IPv4) within the connect bound, cancellable from any thread;
 * the reader's idle period and the limit on unacknowledged data, both
 * driven by the liveness watch. */
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "ipc/libccom/ccom_internal.h"

int ccom_wait_readable_ms(int fd, int timeout_ms) {
  if (fd < 0) return -1;
  struct pollfd p = {fd, POLLIN, 0};
  for (;;) {
    int r = poll(&p, 1, timeout_ms > 0 ? timeout_ms : -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) return 0;
    /* Hang-up and error count as readable: the next read reports them. */
    return (p.revents & POLLNVAL) ? -1 : 1;
  }
}

extern "C" KYR_API int ccom_client_idle_call(ccom_client_t *client) { return client && client->idle_call.load(); }

extern "C" KYR_API void ccom_client_set_idle_ms(ccom_client_t *client, int ms) {
  if (client) client->idle_ms.store(ms < 10 ? 10 : ms);
}

extern "C" KYR_API int ccom_client_set_user_timeout(ccom_client_t *client, int ms) {
  if (!client || ms < 0) return -1;
  int rc = -1;
#ifdef TCP_USER_TIMEOUT
  unsigned int v = (unsigned int)ms;
  pthread_mutex_lock(&client->fd_lock);
  if (client->fd_open) rc = setsockopt(client->fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &v, sizeof v);
  pthread_mutex_unlock(&client->fd_lock);
  if (rc != 0) csLog("CCOM", CS_LOG_WARNING, "TCP_USER_TIMEOUT not set: %s\n", strerror(errno));
#endif
  return rc == 0 ? 0 : -1;
}

/* ---- connect: every address of the host, bounded, cancellable ---- */

namespace {

std::atomic<uint32_t> gCancelGen{0};

int64_t mono_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/* Waits for a non-blocking connect until deadline, in short slices so a
 * cancel is seen at once. 0 connected, -1 failed, timed out or cancelled. */
int wait_connected(int fd, int64_t deadline, uint32_t gen) {
  for (;;) {
    if (gCancelGen.load() != gen) return -1;
    int64_t left = deadline - mono_ms();
    if (left <= 0) return -1;
    struct pollfd p = {fd, POLLOUT, 0};
    int r = poll(&p, 1, left < 50 ? (int)left : 50);
    if (r < 0 && errno != EINTR) return -1;
    if (r <= 0) continue;
    int soerr = 0;
    socklen_t len = sizeof soerr;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len) < 0 || soerr != 0) {
      errno = soerr;
      return -1;
    }
    return 0;
  }
}

}  // namespace

extern "C" KYR_API void ccom_connect_cancel_all(void) { gCancelGen.fetch_add(1); }

uint32_t ccom_connect_generation(void) { return gCancelGen.load(); }

bool ccom_connect_cancelled(uint32_t gen) { return gCancelGen.load() != gen; }

int ccom_connect_any(const struct addrinfo *list, uint32_t gen, void (*prepare)(int fd), bool *loopback4) {
  int count = 0;
  for (const struct addrinfo *a = list; a; a = a->ai_next) count++;
  const int64_t end = mono_ms() + ccom_connect_timeout_ms;
  int left_addrs = count;
  for (const struct addrinfo *a = list; a; a = a->ai_next, left_addrs--) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    int64_t now = mono_ms();
    if (now >= end || gCancelGen.load() != gen) break;
    /* An address that swallows the SYN may not eat the whole bound: each
     * gets its share of what is left. */
    int64_t deadline = now + (end - now) / (left_addrs > 0 ? left_addrs : 1);
    int fd = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      csLog("CCOM", CS_LOG_ERR, "error creating client socket: %d - %s\n", errno, strerror(errno));
      continue;
    }
    if (prepare) prepare(fd);
    int fl = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, fl | O_NONBLOCK);
    int rc = connect(fd, a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) rc = wait_connected(fd, deadline, gen);
    if (rc == 0) {
      fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
      *loopback4 = a->ai_family == AF_INET &&
                   reinterpret_cast<const struct sockaddr_in *>(a->ai_addr)->sin_addr.s_addr == htonl(INADDR_LOOPBACK);
      return fd;
    }
    char text[INET6_ADDRSTRLEN] = "?";
    const void *where = a->ai_family == AF_INET
                            ? (const void *)&reinterpret_cast<const struct sockaddr_in *>(a->ai_addr)->sin_addr
                            : (const void *)&reinterpret_cast<const struct sockaddr_in6 *>(a->ai_addr)->sin6_addr;
    inet_ntop(a->ai_family, where, text, sizeof text);
    csLog("CCOM", CS_LOG_ERR, "connect to %s failed: %s\n", text,
          gCancelGen.load() != gen ? "cancelled" : rc != 0 && errno ? strerror(errno) : "timeout on connect");
    close(fd);
  }
  return -1;
}

int ccom_split_host_port(const char *address, char *host, size_t size, int *port) {
  if (!address || !host || size == 0) return -1;
  const char *colon = strrchr(address, ':');
  const char *first = strchr(address, ':');
  size_t n;
  if (address[0] == '[') {
    /* "[v6]" or "[v6]:port" */
    const char *close = strchr(address, ']');
    if (!close) return -1;
    n = (size_t)(close - address - 1);
    if (n >= size) return -1;
    memcpy(host, address + 1, n);
    host[n] = '\0';
    if (close[1] == ':') *port = atoi(close + 2);
    return 0;
  }
  if (colon && colon == first) {
    /* "host:port" */
    n = (size_t)(colon - address);
    if (n >= size) return -1;
    memcpy(host, address, n);
    host[n] = '\0';
    *port = atoi(colon + 1);
    return 0;
  }
  /* A name, an IPv4 address, or a bare IPv6 address (several colons). */
  n = strlen(address);
  if (n >= size) return -1;
  memcpy(host, address, n + 1);
  return 0;
}
