/* The socket client's network tuning: the reader's idle period and the
 * limit on unacknowledged data, both driven by the liveness watch. */
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>

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
