/* kvel: a small select()-based event loop.
 *
 * One loop per process, run on one thread by kvel_event_loop(). It watches
 * up to eight readable descriptors and any number of one-shot timers. The
 * records (kvel_event) belong to the callers; the library only links and
 * unlinks them and never allocates.
 *
 * Threads: kvel_event_init() runs once, on the thread that will run the
 * loop, before anything else. kvel_event_add, kvel_event_del, kvel_timer_add
 * and kvel_timer_remove may be called from any thread, including from a
 * callback. A timer armed from another thread is only noticed when select()
 * returns, so such callers wake the loop (the service writes a byte into a
 * watched pipe). Callbacks run on the loop thread with no lock held. */
#ifndef KVEL_H
#define KVEL_H

#include <sys/time.h>

#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

typedef void (*kvel_callback_fn)(int fd, short events, void *cb_arg);

typedef struct kvel_event {
  struct kvel_event *next; /* timer list or pending list; null while unlinked */
  struct kvel_event *prev;
  int fd;                  /* watched descriptor; -1 for a timer */
  int slot;                /* index in the watch table while watched, else -1 */
  int persistent;          /* non-zero: a watch stays after it fires */
  struct timeval expiry;   /* absolute expiry of a timer (gettimeofday clock) */
  kvel_callback_fn callback;
  void *cb_arg;
} kvel_event;

/* Size of the watch table; there is no growth. */
#define KVEL_MAX_WATCHES 8

KYR_API void kvel_event_init(void);
KYR_API void kvel_event_set(kvel_event *ev, int fd, int persistent, kvel_callback_fn callback, void *cb_arg);
KYR_API void kvel_event_add(kvel_event *ev);
KYR_API void kvel_event_del(kvel_event *ev);
KYR_API void kvel_timer_add(kvel_event *ev, const struct timeval *tv);
KYR_API void kvel_timer_remove(kvel_event *ev);
KYR_API void kvel_event_loop(void);

/* Introspection and clock seam for the library's own tests; not exported. */
typedef void (*kvel_clock_fn)(struct timeval *now);
void kvel_set_clock(kvel_clock_fn fn); /* null restores gettimeofday */
int kvel_debug_nfds(void);
kvel_event *kvel_debug_watch(int slot);
int kvel_debug_is_set(int fd);
/* Copies up to max armed timers, earliest first; returns how many there are. */
int kvel_debug_timers(kvel_event **out, int max);

KYR_EXTERN_C_END

#endif
