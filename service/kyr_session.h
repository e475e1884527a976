/* The service's lifecycle: one session record per process, its states and
 * the transitions between them. Internal to the service core
 * (kyr_session.cpp, kyr_cookie.cpp, kyr_threads.cpp, kyr_service.cpp).
 *
 * Lock discipline of the record
 * -----------------------------
 * One mutex, `mu`, and one condition variable, `cv`. Every wait of the
 * lifecycle sleeps on cv with mu held and re-checks its own condition: set-up
 * waiting for the dispatch thread and for the main loop, the main loop
 * waiting for its worker, the worker pausing after "no connection",
 * kyr_service_wait_idle. Whoever changes a field below under mu notifies cv
 * (notify_all) before letting go, so one condition variable serves them all.
 *
 *   guarded by mu      env, cookie->refs and cookie->finalized, state (the
 *                      writes), close_requested, worker_alive,
 *                      worker_started, main_loops, main_reported,
 *                      main_result, dispatch_claimed, dispatch_ack, serial
 *   atomic, lock-free  state may be read without mu (the getters never
 *                      wait); instance (exchanged, so exactly one caller
 *                      gives a connection up); connect_gen; the dispatch
 *                      loop's fields (published by loop_running); the test
 *                      seams
 *
 * Nothing is called with mu held but plain field work: no event is posted, no
 * JNI, CSAPI, module hook, handle registry or log call is made, no thread is
 * created or joined. mu is therefore always the innermost lock, there is no
 * order to keep, and a listener or hook that comes back into the service
 * simply takes mu afresh. */
#ifndef KYR_SESSION_H
#define KYR_SESSION_H

#include <jni.h>
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "service/events.h"
#include "service/kvel.h"
#include "service/kyr_service.h"

/* The states, each with the value Java sees and the states it may move to.
 * CLOSED is the state without a running worker (before the first set-up and
 * after each close): Java sees it as Disconnected, and only a new start
 * leaves it. Moving to the state one is in changes nothing and posts nothing.
 * CLOSED comes last so that every value Java sees names its first row. */
#define KYR_SESSION_STATE_LIST(X)                                                                      \
  X(SESSION_STARTED, KYR_Connect_Started,                                                              \
    TO(SESSION_DISCONNECTED) | TO(SESSION_FAILED) | TO(SESSION_PAIRING) | TO(SESSION_CONNECTED) |     \
        TO(SESSION_CLOSED))                                                                            \
  X(SESSION_DISCONNECTED, KYR_Connect_Disconnected,                                                    \
    TO(SESSION_FAILED) | TO(SESSION_PAIRING) | TO(SESSION_CONNECTED) | TO(SESSION_CLOSED))             \
  X(SESSION_FAILED, KYR_Connect_Failed,                                                                \
    TO(SESSION_DISCONNECTED) | TO(SESSION_PAIRING) | TO(SESSION_CONNECTED) | TO(SESSION_CLOSED))       \
  X(SESSION_PAIRING, KYR_Connect_PairingRequired,                                                      \
    TO(SESSION_DISCONNECTED) | TO(SESSION_FAILED) | TO(SESSION_CONNECTED) | TO(SESSION_CLOSED))        \
  X(SESSION_CONNECTED, KYR_Connect_Connected,                                                          \
    TO(SESSION_DISCONNECTED) | TO(SESSION_FAILED) | TO(SESSION_PAIRING) | TO(SESSION_CLOSED))          \
  X(SESSION_CLOSED, KYR_Connect_Disconnected, TO(SESSION_STARTED))

#define KYR_SESSION_ENUM(name, visible, allowed) name,
enum session_state { KYR_SESSION_STATE_LIST(KYR_SESSION_ENUM) SESSION_STATE_COUNT };
#undef KYR_SESSION_ENUM

/* The cookie's lifetime is shared: the set-up (dropped by NativeFinalize or
 * NativeRelease), the main-loop and worker threads (for as long as they run,
 * since notification handlers get it as userDefined), and every post in
 * flight hold a reference. The global references to Java are deleted with
 * the last one, so a late event can never reach a freed cookie. */
struct callback_cookie {
  jclass clazz;   /* global reference to the service class */
  jobject ref;    /* global reference to NativeSetup's reference object */
  jmethodID post; /* postEventFromNative */
  JavaVM *vm;
  int refs;       /* guarded by the session's mu */
  bool finalized; /* Java let go of it: nothing more is posted through it */
};

struct session_record {
  std::mutex mu;
  std::condition_variable cv;

  /* ---- set-up ---- */
  svc_context env{nullptr, nullptr}; /* the set-up's cookie and VM; cookie null when not set up */

  /* ---- connection ---- */
  std::atomic<int> state{SESSION_CLOSED}; /* a session_state; written through session_transition */
  std::atomic<int> instance{-1};          /* the server instance, -1 when none */
  /* Counts disconnects: a connect that started before one must not report
   * itself connected (or failed) afterwards. */
  std::atomic<unsigned> connect_gen{0};
  char serial[256] = ""; /* of the last connect, for pairing */

  /* ---- threads of a set-up ---- */
  bool close_requested = false; /* native_close: the worker is to end */
  bool worker_alive = false;    /* a worker runs and has not yet reported its end */
  bool worker_started = false;  /* ... and has named itself */
  int main_loops = 0;           /* main-loop threads alive */
  bool main_reported = false;   /* the main loop told set-up how its worker started */
  int main_result = 0;          /* ... and this is what it said */

  /* ---- the dispatch thread (one per process) ---- */
  bool dispatch_claimed = false; /* a dispatch thread runs or is starting */
  bool dispatch_ack = false;     /* the one started reached its loop set-up; never taken back */
  std::atomic<bool> loop_running{false};
  pthread_t dispatch_thread{}; /* written before loop_running is published */
  int wake_write = -1;
  kvel_event wake_event{};
  /* Set while a wake-up byte is unread, so a burst of timers costs one write. */
  std::atomic<bool> wake_pending{false};
  std::atomic<int> dispatch_starts{0};

  /* ---- test seams ---- */
  std::atomic<void (*)(void)> on_worker_closed{nullptr};
  std::atomic<int> fail_worker_start{0};
};

/* The one record. */
session_record &kyr_session(void);

/* What Java sees for a state. */
KYR_Connect_State session_visible(session_state s);
/* Whether the table lets `from` move to `to` (a move to itself always). */
bool session_allowed(session_state from, session_state to);

/* Any generation (see session_transition). */
constexpr long long kAnyGen = -1;

/* Moves the session to `to` when the table allows it from the current state
 * and, when gen is not kAnyGen, no disconnect came since connect_gen was gen.
 * A refused move is logged with `who` and changes nothing. When Java's view
 * changed, logs it and posts EVENT_CONNECT_STATE_CHANGED on the calling
 * thread (after letting go of mu). Moving to CLOSED, or being refused in
 * CLOSED, gives the connection up. True when the session is now in `to`. */
bool session_transition(session_state to, const char *who, long long gen = kAnyGen);

/* Moves CONNECTED to FAILED, and nothing else: the worker's loss report,
 * which must not overwrite a state someone else set since. */
bool session_report_loss(void);

/* Gives the connection up; the modules hear of it once per connection. */
void session_drop_connection(void);

/* Disconnect or release while a connect runs: end it within a moment. */
void session_cancel_connects(void);

/* Starts the detached post-connect thread, which runs the modules' pair
 * hooks for the current instance (kyr_threads.cpp). */
void kyr_start_post_connect(void);

/* Cookie references (kyr_cookie.cpp). */
void cookie_hold(callback_cookie *c);
void cookie_drop(callback_cookie *c);
/* Drops the set-up's reference, once. */
void cookie_finalize(callback_cookie *c);
bool session_is_set_up(void);

#endif
