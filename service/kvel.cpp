#include "service/kvel.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <string.h>
#include <sys/select.h>

#include "platform/kyr_log.h"

namespace {

const char kTag[] = "KVELEVENT";

/* Module state: one loop per process. listMutex guards both lists, the
 * watch table, readFds and nfds. */
pthread_mutex_t listMutex = PTHREAD_MUTEX_INITIALIZER;
fd_set readFds;
int nfds = 0;
kvel_event *watch_table[KVEL_MAX_WATCHES];
/* Sentinels start out empty so that a stray call before kvel_event_init()
 * cannot follow a null link. */
kvel_event timer_list = {&timer_list, &timer_list, -1, 0, 0, {0, 0}, nullptr, nullptr};
kvel_event pending_list = {&pending_list, &pending_list, -1, 0, 0, {0, 0}, nullptr, nullptr};

void system_clock(struct timeval *now) { gettimeofday(now, nullptr); }
kvel_clock_fn g_clock = system_clock;

void sentinel_init(kvel_event *s) {
  memset(s, 0, sizeof *s);
  s->next = s;
  s->prev = s;
  s->fd = -1;
}

bool list_empty(const kvel_event *s) { return s->next == s; }

/* a < b, seconds first, then microseconds. */
bool tv_before(const struct timeval &a, const struct timeval &b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_usec < b.tv_usec);
}

void link_before(kvel_event *ev, kvel_event *at) {
  ev->next = at;
  ev->prev = at->prev;
  at->prev->next = ev;
  at->prev = ev;
}

void unlink(kvel_event *ev) {
  ev->prev->next = ev->next;
  ev->next->prev = ev->prev;
  ev->next = nullptr;
  ev->prev = nullptr;
}

bool fd_in_range(int fd) { return fd >= 0 && fd < FD_SETSIZE; }

/* Caller holds listMutex. */
void remove_watch(kvel_event *ev) {
  watch_table[ev->slot] = nullptr;
  ev->slot = -1;
  if (fd_in_range(ev->fd)) FD_CLR(ev->fd, &readFds);
  if (ev->fd + 1 == nfds) {
    int highest = 0;
    for (kvel_event *w : watch_table)
      if (w && w->fd + 1 > highest) highest = w->fd + 1;
    /* An empty table still leaves 1: select() then watches descriptor 0's
     * (cleared) bit, which is harmless. */
    nfds = highest > 0 ? highest : 1;
  }
}

}  // namespace

extern "C" void kvel_event_init(void) {
  pthread_mutex_init(&listMutex, nullptr);
  FD_ZERO(&readFds);
  sentinel_init(&timer_list);
  sentinel_init(&pending_list);
  for (kvel_event *&w : watch_table) w = nullptr;
}

extern "C" void kvel_event_set(kvel_event *ev, int fd, int persistent, kvel_callback_fn callback, void *cb_arg) {
  if (!ev) return;
  memset(ev, 0, sizeof *ev);
  ev->fd = fd;
  ev->slot = -1;
  ev->persistent = persistent;
  ev->callback = callback;
  ev->cb_arg = cb_arg;
  /* For a timer (fd -1) this simply fails. */
  (void)fcntl(fd, F_SETFL, O_NONBLOCK);
}

extern "C" void kvel_event_add(kvel_event *ev) {
  if (!ev) return;
  /* A descriptor outside the select() set would write past readFds. */
  if (!fd_in_range(ev->fd)) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "kvel_event_add: descriptor %d cannot be watched", ev->fd);
    return;
  }
  pthread_mutex_lock(&listMutex);
  for (int i = 0; i < KVEL_MAX_WATCHES; i++) {
    if (watch_table[i]) continue;
    watch_table[i] = ev;
    ev->slot = i;
    FD_SET(ev->fd, &readFds);
    if (ev->fd >= nfds) nfds = ev->fd + 1;
    break;
  }
  pthread_mutex_unlock(&listMutex);
}

extern "C" void kvel_event_del(kvel_event *ev) {
  if (!ev) return;
  pthread_mutex_lock(&listMutex);
  if (ev->slot >= 0 && ev->slot < KVEL_MAX_WATCHES && watch_table[ev->slot] == ev) remove_watch(ev);
  pthread_mutex_unlock(&listMutex);
}

extern "C" void kvel_timer_add(kvel_event *ev, const struct timeval *tv) {
  if (!ev || !tv) return;
  pthread_mutex_lock(&listMutex);
  /* Re-arming a record that is still linked would corrupt both lists;
   * take it off first. */
  if (ev->next) unlink(ev);
  ev->fd = -1;
  struct timeval now;
  g_clock(&now);
  ev->expiry.tv_sec = now.tv_sec + tv->tv_sec;
  ev->expiry.tv_usec = now.tv_usec + tv->tv_usec;
  if (ev->expiry.tv_usec > 999999) {
    ev->expiry.tv_usec -= 1000000;
    ev->expiry.tv_sec += 1;
  }
  kvel_event *at = timer_list.next;
  while (at != &timer_list && tv_before(at->expiry, ev->expiry)) at = at->next;
  link_before(ev, at);
  pthread_mutex_unlock(&listMutex);
}

extern "C" void kvel_timer_remove(kvel_event *ev) {
  if (!ev) return;
  pthread_mutex_lock(&listMutex);
  /* A record that is on no list is left alone. */
  if (ev->next && ev->prev) unlink(ev);
  pthread_mutex_unlock(&listMutex);
}

extern "C" void kvel_event_loop(void) {
  for (;;) {
    fd_set working;
    struct timeval timeout;
    struct timeval *ptimeout = nullptr;
    int n;

    pthread_mutex_lock(&listMutex);
    working = readFds;
    n = nfds;
    if (!list_empty(&timer_list)) {
      struct timeval now;
      g_clock(&now);
      const struct timeval &exp = timer_list.next->expiry;
      if (tv_before(now, exp)) {
        timeout.tv_sec = exp.tv_sec - now.tv_sec;
        timeout.tv_usec = exp.tv_usec - now.tv_usec;
        if (timeout.tv_usec < 0) {
          timeout.tv_usec += 1000000;
          timeout.tv_sec -= 1;
        }
      } else {
        timeout.tv_sec = 0;
        timeout.tv_usec = 0;
      }
      ptimeout = &timeout;
    }
    pthread_mutex_unlock(&listMutex);

    int count = select(n, &working, nullptr, nullptr, ptimeout);
    if (count < 0) {
      if (errno == EINTR) continue;
      kyr_log_printf(KYR_LOG_ERROR, kTag, "kvel_event: select error (%d)", errno);
      return;
    }

    pthread_mutex_lock(&listMutex);
    struct timeval now;
    g_clock(&now);
    /* A timer due exactly now waits for the next pass, whose time-out is 0. */
    while (!list_empty(&timer_list) && tv_before(timer_list.next->expiry, now)) {
      kvel_event *ev = timer_list.next;
      unlink(ev);
      link_before(ev, &pending_list);
    }
    pthread_mutex_unlock(&listMutex);

    if (count > 0) {
      pthread_mutex_lock(&listMutex);
      for (int i = 0; i < KVEL_MAX_WATCHES && count > 0; i++) {
        kvel_event *ev = watch_table[i];
        if (!ev || !FD_ISSET(ev->fd, &working)) continue;
        link_before(ev, &pending_list);
        if (!ev->persistent) remove_watch(ev);
        count--;
      }
      pthread_mutex_unlock(&listMutex);
    }

    /* Each record is taken off under the lock (so a concurrent
     * kvel_timer_remove cannot tear the list) and fired without it, and is
     * not touched again: its callback may free or re-arm it. */
    for (;;) {
      pthread_mutex_lock(&listMutex);
      if (list_empty(&pending_list)) {
        pthread_mutex_unlock(&listMutex);
        break;
      }
      kvel_event *ev = pending_list.next;
      unlink(ev);
      int fd = ev->fd;
      kvel_callback_fn cb = ev->callback;
      void *arg = ev->cb_arg;
      pthread_mutex_unlock(&listMutex);
      if (cb) cb(fd, 0, arg);
    }
  }
}

extern "C" void kvel_set_clock(kvel_clock_fn fn) { g_clock = fn ? fn : system_clock; }

extern "C" int kvel_debug_nfds(void) {
  pthread_mutex_lock(&listMutex);
  int n = nfds;
  pthread_mutex_unlock(&listMutex);
  return n;
}

extern "C" kvel_event *kvel_debug_watch(int slot) {
  if (slot < 0 || slot >= KVEL_MAX_WATCHES) return nullptr;
  pthread_mutex_lock(&listMutex);
  kvel_event *ev = watch_table[slot];
  pthread_mutex_unlock(&listMutex);
  return ev;
}

extern "C" int kvel_debug_is_set(int fd) {
  if (!fd_in_range(fd)) return 0;
  pthread_mutex_lock(&listMutex);
  int set = FD_ISSET(fd, &readFds) ? 1 : 0;
  pthread_mutex_unlock(&listMutex);
  return set;
}

extern "C" int kvel_debug_timers(kvel_event **out, int max) {
  int n = 0;
  pthread_mutex_lock(&listMutex);
  for (kvel_event *ev = timer_list.next; ev != &timer_list; ev = ev->next, n++)
    if (out && n < max) out[n] = ev;
  pthread_mutex_unlock(&listMutex);
  return n;
}
