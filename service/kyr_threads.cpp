/* The service's threads: the dispatch loop (one per process), and per set-up
 * the main loop, its worker and the post-connect fetch. Their start-up and
 * close handshakes all wait on the session record's one condition variable. */
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <new>

#include "csapi/client/csapi_callback.h"
#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_rpc.h"
#include "platform/kyr_log.h"
#include "service/kyr_modules.h"
#include "service/kyr_notify_table.h"
#include "service/kyr_session.h"

namespace {

const char kTag[] = "KyrConnectLib";

/* Starts a detached thread (nobody joins these); 0 or pthread_create's error. */
int start_detached(void *(*body)(void *), void *arg) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t t;
  const int rc = pthread_create(&t, &attr, body, arg);
  pthread_attr_destroy(&attr);
  return rc;
}

/* ---- dispatch thread ---- */

struct timed_callback {
  kvel_event ev;
  void (*function)(void *);
  void *argument;
};

void processWakeupCallback(int fd, short, void *) {
  kyr_session().wake_pending = false;
  char buf[16];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    break;
  }
}

void triggerEvLoop() {
  session_record &s = kyr_session();
  if (!s.loop_running.load()) return;
  if (pthread_equal(pthread_self(), s.dispatch_thread)) return;
  if (s.wake_pending.exchange(true)) return;
  const char c = ' ';
  while (write(s.wake_write, &c, 1) < 0 && errno == EINTR) {
  }
}

void userTimerCallback(int, short, void *arg) {
  auto *t = static_cast<timed_callback *>(arg);
  t->function(t->argument);
  delete t;
}

/* Lets the next set-up start a fresh loop rather than arm timers nobody fires. */
void dispatch_gone(session_record &s) {
  std::lock_guard<std::mutex> g(s.mu);
  s.dispatch_claimed = false;
  s.cv.notify_all();
}

void *eventLoop(void *) {
  session_record &s = kyr_session();
  pthread_setname_np(pthread_self(), "kyr-dispatch");
  kvel_event_init();
  s.dispatch_thread = pthread_self();
  {
    std::lock_guard<std::mutex> g(s.mu);
    s.dispatch_ack = true;
    s.cv.notify_all();
  }

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Error in pipe() errno:%d", errno);
    dispatch_gone(s);
    return nullptr;
  }
  s.wake_write = fds[1];
  /* A full pipe already wakes the loop; never block a writer on it. */
  (void)fcntl(s.wake_write, F_SETFL, O_NONBLOCK);
  kvel_event_set(&s.wake_event, fds[0], 1, processWakeupCallback, nullptr);
  kvel_event_add(&s.wake_event);
  s.loop_running = true;
  triggerEvLoop();
  kvel_event_loop();
  const int err = errno;
  s.loop_running = false;
  kyr_log_printf(KYR_LOG_ERROR, kTag, "error in event_loop_base errno:%d", err);
  /* The pipe stays open: another thread may still be writing to it. */
  dispatch_gone(s);
  return nullptr;
}

/* Starts the dispatch thread unless one runs, and waits until it has reached
 * its loop set-up (also when another set-up is starting it). */
void start_dispatch(session_record &s) {
  std::unique_lock<std::mutex> lk(s.mu);
  if (!s.dispatch_claimed) {
    /* Claimed before the thread exists, so two set-ups racing here cannot
     * both start one. */
    s.dispatch_claimed = true;
    s.dispatch_ack = false;
    lk.unlock();
    const int rc = start_detached(eventLoop, nullptr);
    lk.lock();
    if (rc != 0) {
      s.dispatch_claimed = false;
      s.cv.notify_all();
      lk.unlock();
      kyr_log_printf(KYR_LOG_ERROR, kTag, "Failed to create event dispatch thread errno:%d", rc);
      return;
    }
    s.dispatch_starts++;
  }
  s.cv.wait(lk, [&] { return s.dispatch_ack || !s.dispatch_claimed; });
}

/* ---- post-connect thread ---- */

void *connected_func(void *arg) {
  pthread_setname_np(pthread_self(), "kyr-connected");
  kyr_modules_run(KYR_MODULE_PAIR, static_cast<int>(reinterpret_cast<intptr_t>(arg)));
  return nullptr;
}

/* ---- worker and main loop ---- */

struct HandlerRow {
  const char *name;
  csCallbackFunc func;
};
#define KYR_HANDLER_ROW(name, fn, Kind) {name, reinterpret_cast<csCallbackFunc>(fn)},
const HandlerRow kWorkerHandlers[] = {KYR_WORKER_HANDLER_LIST(KYR_HANDLER_ROW){nullptr, nullptr}};
#undef KYR_HANDLER_ROW

/* The worker's end closes the session: Java hears the final Disconnected
 * from the worker thread, and the connection is given up. */
void onNativeWorkerClosed() { session_transition(SESSION_CLOSED, "worker end"); }

bool close_requested(session_record &s) {
  std::lock_guard<std::mutex> g(s.mu);
  return s.close_requested;
}

void *native_workerLoop(void *arg) {
  session_record &s = kyr_session();
  pthread_setname_np(pthread_self(), "kyr-worker");
  auto *cookie = static_cast<callback_cookie *>(arg);
  {
    std::lock_guard<std::mutex> g(s.mu);
    s.worker_started = true;
    s.cv.notify_all();
  }

  /* What an earlier set-up of this process left in the queue belongs to its
   * connection, not to this one. */
  if (csCallbackSkipQueued() != 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "callback registry not available\n");
  /* Synthetic notifications of the test hooks reach these callbacks from
   * their own thread. */
  if (csCallbackShareThreadRegistry() != 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "callback registry not shared\n");
  for (const HandlerRow *h = kWorkerHandlers; h->name; h++) {
    if (!h->func) {
      kyr_log_printf(KYR_LOG_WARN, kTag, "no callback linked in for %s\n", h->name);
      continue;
    }
    if (csCallbackAdd(0, h->name, h->func, reinterpret_cast<uintptr_t>(cookie)) < 0)
      kyr_log_printf(KYR_LOG_ERROR, kTag, "csCallbackAdd(%s) failed\n", h->name);
  }

  while (!close_requested(s)) {
    int rc = csCallbackProcess(1000);
    if (rc == CSAPI_ERR_NO_CONNECT && s.state.load() == SESSION_CONNECTED) {
      kyr_log_printf(KYR_LOG_ERROR, kTag, "csCallbackProcess() returns CSAPI_ERR_NO_CONNECT");
      session_report_loss();
    }
    /* A wait that ran its second, or one that dispatched, goes straight
     * back to the queue: a pause there would leave a burst to the ring
     * alone and lose what overflows it. The one-second pause is for a call
     * that came back at once (no connection) and ends early when the close
     * request comes or a new connection is up. */
    if (rc >= 0 || rc == CSAPI_ERR_TIMEOUT) continue;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    const bool was_connected = s.state.load() == SESSION_CONNECTED;
    std::unique_lock<std::mutex> lk(s.mu);
    s.cv.wait_until(lk, until, [&] {
      return s.close_requested || (!was_connected && s.state.load() == SESSION_CONNECTED);
    });
  }

  /* No synthetic delivery may still hold the cookie once it is dropped. */
  csCallbackUnshareThreadRegistry();
  void (*onClosed)(void) = s.on_worker_closed.load();
  if (onClosed) onClosed();
  {
    std::lock_guard<std::mutex> g(s.mu);
    s.worker_alive = false;
    s.cv.notify_all();
  }
  cookie_drop(cookie);
  return nullptr;
}

int native_open(session_record &s, callback_cookie *cookie) {
  int rc = s.fail_worker_start.load() ? EAGAIN : 0;
  if (rc == 0) {
    {
      /* Set before the worker exists, so a close request that comes as
       * soon as set-up returns is never lost. */
      std::lock_guard<std::mutex> g(s.mu);
      s.close_requested = false;
      s.worker_alive = true;
      s.worker_started = false;
    }
    cookie_hold(cookie);
    rc = start_detached(native_workerLoop, cookie);
    if (rc != 0) {
      cookie_drop(cookie);
      std::lock_guard<std::mutex> g(s.mu);
      s.worker_alive = false;
      s.cv.notify_all();
    }
  }
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "pthread_create (error:%d, %s)\n", rc, strerror(rc));
    return -1;
  }
  /* Set-up returns with the worker running under its name. */
  std::unique_lock<std::mutex> lk(s.mu);
  s.cv.wait(lk, [&] { return s.worker_started; });
  return 0;
}

void report_to_setup(session_record &s, int result) {
  std::lock_guard<std::mutex> g(s.mu);
  s.main_result = result;
  s.main_reported = true;
  s.cv.notify_all();
}

void *mainLoop(void *arg) {
  session_record &s = kyr_session();
  pthread_setname_np(pthread_self(), "kyr-mainloop");
  auto *cookie = static_cast<callback_cookie *>(arg);
  set_on_worker_closed(onNativeWorkerClosed);

  int rc = native_open(s, cookie);
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "native_open (error:%d)\n", rc);
    /* Set-up is waiting for us: tell it the worker did not start. */
    report_to_setup(s, -1);
  } else {
    session_transition(SESSION_STARTED, "main loop");
    report_to_setup(s, 0);
    {
      std::unique_lock<std::mutex> lk(s.mu);
      s.cv.wait(lk, [&] { return !s.worker_alive; });
    }
    /* Normally the worker's end closed the session already; this covers a
     * close that came before the start above. */
    session_transition(SESSION_CLOSED, "main loop end");
  }
  cookie_drop(cookie);
  std::lock_guard<std::mutex> g(s.mu);
  s.main_loops--;
  s.cv.notify_all();
  return nullptr;
}

}  // namespace

extern "C" void set_on_worker_closed(void (*function)(void)) { kyr_session().on_worker_closed = function; }

void kyr_start_post_connect(void) {
  const int instance = kyr_session().instance.load();
  const int rc = start_detached(connected_func, reinterpret_cast<void *>(static_cast<intptr_t>(instance)));
  if (rc != 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "pthread_create (error:%d, %s)\n", rc, strerror(rc));
}

extern "C" int requestTimedCallback(void (*function)(void *), void *argument, const struct timeval *relative) {
  if (!function) return -1;
  if (!kyr_session().loop_running.load()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "requestTimedCallback: event dispatch thread not running");
    return -1;
  }
  auto *t = new (std::nothrow) timed_callback;
  if (!t) return -1;
  t->function = function;
  t->argument = argument;
  kvel_event_set(&t->ev, -1, 0, userTimerCallback, t);
  const struct timeval now = {0, 0};
  kvel_timer_add(&t->ev, relative ? relative : &now);
  triggerEvLoop();
  return 0;
}

extern "C" void native_close(void) {
  session_record &s = kyr_session();
  std::lock_guard<std::mutex> g(s.mu);
  s.close_requested = true;
  s.cv.notify_all();
}

extern "C" int native_init(callback_cookie *cookie) {
  session_record &s = kyr_session();
  csLogEnable(0, 3);
  int rc = csInit(nullptr);
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "csInit (error:%d, %s)\n", rc, csErrorString());
    return -1;
  }
  start_dispatch(s);

  {
    std::lock_guard<std::mutex> g(s.mu);
    s.main_reported = false;
    s.main_result = 0;
    s.main_loops++;
  }
  cookie_hold(cookie);
  rc = start_detached(mainLoop, cookie);
  std::unique_lock<std::mutex> lk(s.mu);
  if (rc != 0) {
    s.main_loops--;
    s.cv.notify_all();
    lk.unlock();
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Failed to create mainloop thread errno:%d", rc);
    cookie_drop(cookie);
    return rc;
  }
  s.cv.wait(lk, [&] { return s.main_reported; });
  return s.main_result;
}

extern "C" void kyr_service_debug_fail_worker_start(int fail) { kyr_session().fail_worker_start = fail; }

extern "C" int kyr_service_wait_idle(int timeout_ms) {
  session_record &s = kyr_session();
  std::unique_lock<std::mutex> lk(s.mu);
  const bool idle = s.cv.wait_for(lk, std::chrono::milliseconds(timeout_ms), [&] { return s.main_loops == 0; });
  return idle ? 0 : -1;
}

extern "C" int kyr_service_dispatch_threads_started(void) { return kyr_session().dispatch_starts.load(); }
