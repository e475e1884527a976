#include "service/kyr_service.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <new>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_callback.h"
#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_rpc.h"
#include "platform/jni_util.h"
#include "platform/kyr_log.h"
#include "service/interfaces/kyr_iface.h"
#include "service/kvel.h"
#include "service/kyr_modules.h"
#include "service/kyr_handles.h"
#include "service/kyr_notify_table.h"

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
  int refs;       /* guarded by s_envMutex */
  bool finalized; /* Java let go of it: nothing more is posted through it */
};

namespace {

const char kTag[] = "KyrConnectLib";
const char kBoardRevPath[] = "//data//boardrev.txt";
const char kPostName[] = "postEventFromNative";
const char kPostSig[] = "(Ljava/lang/Object;IIILjava/lang/Object;)V";
const char kCookieField[] = "mNativeCallbackCookie";
const char kDeviceType[] = "davix";
/* Bound on waiting for an earlier set-up's threads to end; its worker
 * normally ends within a second of being asked. */
const int kIdleWaitMs = 5000;

/* ---- set-up context and cookie ---- */

std::mutex s_envMutex;
svc_context *g_service_env = nullptr; /* guarded by s_envMutex */

void cookie_destroy(callback_cookie *c) {
  if (c->vm) {
    JNIEnv *env = javavm_attach_thread(c->vm);
    if (env) {
      if (c->clazz) env->DeleteGlobalRef(c->clazz);
      if (c->ref) env->DeleteGlobalRef(c->ref);
    }
  }
  delete c;
}

void cookie_hold(callback_cookie *c) {
  if (!c) return;
  std::lock_guard<std::mutex> g(s_envMutex);
  c->refs++;
}

void cookie_drop(callback_cookie *c) {
  if (!c) return;
  bool last;
  {
    std::lock_guard<std::mutex> g(s_envMutex);
    last = --c->refs == 0;
  }
  if (last) cookie_destroy(c);
}

/* Drops the set-up's reference, once. */
void cookie_finalize(callback_cookie *c) {
  if (!c) return;
  {
    std::lock_guard<std::mutex> g(s_envMutex);
    if (c->finalized) return;
    c->finalized = true;
  }
  kyr_handle_forget(c);
  cookie_drop(c);
}

bool is_set_up() {
  std::lock_guard<std::mutex> g(s_envMutex);
  return g_service_env != nullptr;
}

/* ---- connection ---- */

std::atomic<int> sKyrConnectState{KYR_Connect_Disconnected};
std::atomic<int> g_server_instance{-1};
std::atomic<int> connecting{0};
/* Counts disconnects: a connect that started before one must not report
 * itself connected (or failed) afterwards. */
std::atomic<unsigned> s_connectGen{0};

/* Disconnect or release while a connect runs: end it within a moment. */
void cancel_connects() {
  s_connectGen.fetch_add(1);
  csapi_cancel_connects();
}
std::mutex s_addrMutex; /* guards the two buffers while they are copied */
char g_ipaddress[256];
char g_serial_number[256];

/* Gives the connection up; the modules hear of it once per connection. */
void drop_connection() {
  const int instance = g_server_instance.exchange(-1);
  csDisconnect(instance);
  if (instance >= 0) kyr_modules_run(KYR_MODULE_LOSS, instance);
}

/* ---- state, close and start-up handshakes ---- */

pthread_mutex_t s_stateMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t s_stateCond = PTHREAD_COND_INITIALIZER;
int s_closed = 0;      /* guarded by s_stateMutex */
int s_mainRunning = 0; /* main-loop threads alive; guarded by s_stateMutex */

pthread_mutex_t s_workerMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t s_workerCond = PTHREAD_COND_INITIALIZER;
int s_worker_closed = 0; /* guarded by s_workerMutex */

pthread_mutex_t s_workerStartupMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t s_workerStartupCond = PTHREAD_COND_INITIALIZER;
int s_worker_started = 0;

pthread_mutex_t s_mainStartupMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t s_mainStartupCond = PTHREAD_COND_INITIALIZER;
int s_main_started = 0;
int s_main_result = 0;

std::atomic<void (*)(void)> s_onWorkerClosed{nullptr};
std::atomic<int> s_failWorkerStart{0};

/* ---- dispatch thread ---- */

pthread_mutex_t s_startupMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t s_startupCond = PTHREAD_COND_INITIALIZER;
int s_started = 0;    /* a dispatch thread runs or is starting; guarded by s_startupMutex */
int s_startAck = 0;   /* the thread started has reached its loop set-up; same guard */
std::atomic<int> s_dispatchStarts{0};
std::atomic<bool> s_loopRunning{false};
pthread_t s_dispatchThread; /* written before s_loopRunning is published */
int s_fdWakeupRead = -1;
int s_fdWakeupWrite = -1;
kvel_event s_wakeupfd_event;
/* Set while a wake-up byte is unread, so a burst of timers costs one write. */
std::atomic<bool> s_wakePending{false};

struct timed_callback {
  kvel_event ev;
  void (*function)(void *);
  void *argument;
};

void processWakeupCallback(int fd, short, void *) {
  s_wakePending = false;
  char buf[16];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    break;
  }
}

void triggerEvLoop() {
  if (!s_loopRunning.load()) return;
  if (pthread_equal(pthread_self(), s_dispatchThread)) return;
  if (s_wakePending.exchange(true)) return;
  const char c = ' ';
  while (write(s_fdWakeupWrite, &c, 1) < 0 && errno == EINTR) {
  }
}

void userTimerCallback(int, short, void *arg) {
  auto *t = static_cast<timed_callback *>(arg);
  t->function(t->argument);
  delete t;
}

void *eventLoop(void *) {
  pthread_setname_np(pthread_self(), "kyr-dispatch");
  kvel_event_init();
  s_dispatchThread = pthread_self();
  pthread_mutex_lock(&s_startupMutex);
  s_startAck = 1;
  pthread_cond_broadcast(&s_startupCond);
  pthread_mutex_unlock(&s_startupMutex);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Error in pipe() errno:%d", errno);
    /* Without its pipe the loop cannot be woken; let the next set-up try
     * again rather than arm timers nobody fires. */
    pthread_mutex_lock(&s_startupMutex);
    s_started = 0;
    pthread_mutex_unlock(&s_startupMutex);
    return nullptr;
  }
  s_fdWakeupRead = fds[0];
  s_fdWakeupWrite = fds[1];
  /* A full pipe already wakes the loop; never block a writer on it. */
  (void)fcntl(s_fdWakeupWrite, F_SETFL, O_NONBLOCK);
  kvel_event_set(&s_wakeupfd_event, s_fdWakeupRead, 1, processWakeupCallback, nullptr);
  kvel_event_add(&s_wakeupfd_event);
  s_loopRunning = true;
  triggerEvLoop();
  kvel_event_loop();
  const int err = errno;
  s_loopRunning = false;
  kyr_log_printf(KYR_LOG_ERROR, kTag, "error in event_loop_base errno:%d", err);
  /* Let the next set-up start a fresh loop rather than arm timers nobody
   * fires. The pipe stays open: another thread may still be writing to it. */
  pthread_mutex_lock(&s_startupMutex);
  s_started = 0;
  pthread_mutex_unlock(&s_startupMutex);
  return nullptr;
}

/* ---- post-connect thread ---- */

void *connected_func(void *arg) {
  pthread_setname_np(pthread_self(), "kyr-connected");
  kyr_modules_run(KYR_MODULE_PAIR, static_cast<int>(reinterpret_cast<intptr_t>(arg)));
  return nullptr;
}

void start_post_connect() {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  /* Nobody joins it, so it must not linger as a zombie after its fetches. */
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t t;
  int rc = pthread_create(&t, &attr, connected_func, reinterpret_cast<void *>(static_cast<intptr_t>(g_server_instance.load())));
  pthread_attr_destroy(&attr);
  if (rc != 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "pthread_create (error:%d, %s)\n", rc, strerror(rc));
}

/* ---- worker and main loop ---- */

struct HandlerRow {
  const char *name;
  csCallbackFunc func;
};
#define KYR_HANDLER_ROW(name, fn, Kind) {name, reinterpret_cast<csCallbackFunc>(fn)},
const HandlerRow kWorkerHandlers[] = {KYR_WORKER_HANDLER_LIST(KYR_HANDLER_ROW){nullptr, nullptr}};
#undef KYR_HANDLER_ROW

void onNativeWorkerClosed() {
  setConnectState(KYR_Connect_Disconnected);
  drop_connection();
  pthread_mutex_lock(&s_stateMutex);
  s_closed = 1;
  pthread_cond_broadcast(&s_stateCond);
  pthread_mutex_unlock(&s_stateMutex);
}

bool worker_closed() {
  pthread_mutex_lock(&s_workerMutex);
  bool closed = s_worker_closed != 0;
  pthread_mutex_unlock(&s_workerMutex);
  return closed;
}

void *native_workerLoop(void *arg) {
  pthread_setname_np(pthread_self(), "kyr-worker");
  auto *cookie = static_cast<callback_cookie *>(arg);
  pthread_mutex_lock(&s_workerMutex);
  s_worker_closed = 0;
  pthread_mutex_unlock(&s_workerMutex);
  pthread_mutex_lock(&s_workerStartupMutex);
  s_worker_started = 1;
  pthread_cond_broadcast(&s_workerStartupCond);
  pthread_mutex_unlock(&s_workerStartupMutex);

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

  while (!worker_closed()) {
    int rc = csCallbackProcess(1000);
    if (rc == CSAPI_ERR_NO_CONNECT && sKyrConnectState.load() == KYR_Connect_Connected && connecting.load() == 0) {
      kyr_log_printf(KYR_LOG_ERROR, kTag, "csCallbackProcess() returns CSAPI_ERR_NO_CONNECT");
      setConnectState(KYR_Connect_Failed);
    }
    /* A wait that ran its second, or one that dispatched, goes straight
     * back to the queue: a pause there would leave a burst to the ring
     * alone and lose what overflows it. The one-second pause is for a call
     * that came back at once (no connection) and ends early when the close
     * request comes. */
    if (rc >= 0 || rc == CSAPI_ERR_TIMEOUT) continue;
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += 1;
    const bool was_connected = sKyrConnectState.load() == KYR_Connect_Connected;
    pthread_mutex_lock(&s_workerMutex);
    while (!s_worker_closed && (was_connected || sKyrConnectState.load() != KYR_Connect_Connected))
      if (pthread_cond_timedwait(&s_workerCond, &s_workerMutex, &until) == ETIMEDOUT) break;
    pthread_mutex_unlock(&s_workerMutex);
  }

  /* No synthetic delivery may still hold the cookie once it is dropped. */
  csCallbackUnshareThreadRegistry();
  void (*onClosed)(void) = s_onWorkerClosed.load();
  if (onClosed) onClosed();
  cookie_drop(cookie);
  return nullptr;
}

int native_open(callback_cookie *cookie) {
  pthread_mutex_lock(&s_workerStartupMutex);
  s_worker_started = 0;
  pthread_mutex_unlock(&s_workerStartupMutex);

  int rc = s_failWorkerStart.load() ? EAGAIN : 0;
  pthread_t t;
  if (rc == 0) {
    cookie_hold(cookie);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    rc = pthread_create(&t, &attr, native_workerLoop, cookie);
    pthread_attr_destroy(&attr);
    if (rc != 0) cookie_drop(cookie);
  }
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "pthread_create (error:%d, %s)\n", rc, strerror(rc));
    return -1;
  }
  pthread_mutex_lock(&s_workerStartupMutex);
  while (!s_worker_started) pthread_cond_wait(&s_workerStartupCond, &s_workerStartupMutex);
  pthread_mutex_unlock(&s_workerStartupMutex);
  return 0;
}

void release_setup(int result) {
  pthread_mutex_lock(&s_mainStartupMutex);
  s_main_result = result;
  s_main_started = 1;
  pthread_cond_broadcast(&s_mainStartupCond);
  pthread_mutex_unlock(&s_mainStartupMutex);
}

void *mainLoop(void *arg) {
  pthread_setname_np(pthread_self(), "kyr-mainloop");
  auto *cookie = static_cast<callback_cookie *>(arg);
  set_on_worker_closed(onNativeWorkerClosed);
  pthread_mutex_lock(&s_stateMutex);
  s_closed = 0;
  pthread_mutex_unlock(&s_stateMutex);

  int rc = native_open(cookie);
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "native_open (error:%d)\n", rc);
    /* Set-up is waiting for us: tell it the worker did not start. */
    release_setup(-1);
  } else {
    setConnectState(KYR_Connect_Started);
    release_setup(0);
    struct timespec one = {1, 0};
    while (nanosleep(&one, &one) != 0 && errno == EINTR) {
    }
    pthread_mutex_lock(&s_stateMutex);
    while (!s_closed) pthread_cond_wait(&s_stateCond, &s_stateMutex);
    pthread_mutex_unlock(&s_stateMutex);
  }
  cookie_drop(cookie);
  pthread_mutex_lock(&s_stateMutex);
  s_mainRunning--;
  pthread_cond_broadcast(&s_stateCond);
  pthread_mutex_unlock(&s_stateMutex);
  return nullptr;
}

/* ---- helpers for the entry points ---- */

void copy_cut(char *dst, size_t size, const char *src) {
  if (!src) src = "";
  size_t n = strlen(src);
  if (n >= size) n = size - 1;
  memcpy(dst, src, n);
  dst[n] = '\0';
}

jfieldID cookie_field(JNIEnv *env, jobject thiz) {
  if (!thiz) return nullptr;
  jclass cls = env->GetObjectClass(thiz);
  if (!cls) return nullptr;
  jfieldID f = env->GetFieldID(cls, kCookieField, "I");
  if (!f) {
    jni_check_exception(env, kTag, kCookieField);
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Can't find KyrConnectService.%s", kCookieField);
  }
  env->DeleteLocalRef(cls);
  return f;
}

/* Finalizes the cookie Java holds by handle in its field, if any. */
void finalize_cookie_of(JNIEnv *env, jobject thiz, jfieldID field) {
  if (!field) return;
  const jint h = env->GetIntField(thiz, field);
  if (h == 0) return;
  auto *c = static_cast<callback_cookie *>(kyr_handle_release(h, KYR_HANDLE_COOKIE, kTag));
  cookie_finalize(c);
}

}  // namespace

/* ======================================================================== */

extern "C" JNIEnv *javavm_attach_thread(JavaVM *vm) { return jni_attach(vm, kTag, "javavm_attach_thread"); }

extern "C" JavaVM *jnienv_to_javavm(JNIEnv *env) {
  if (!env) return nullptr;
  JavaVM *vm = nullptr;
  jint rc = env->GetJavaVM(&vm);
  if (rc != JNI_OK) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: GetJavaVM failed %d\n", "jnienv_to_javavm", (int)rc);
    return nullptr;
  }
  return vm;
}

extern "C" void set_on_worker_closed(void (*function)(void)) { s_onWorkerClosed = function; }

namespace {

/* Calls postEventFromNative through cookie (null: the current set-up's).
 * True when Java was called; false when the event was dropped. */
bool deliver(callback_cookie *cookie, int code, int value1, int value2, jobject obj) {
  JavaVM *vm;
  {
    std::lock_guard<std::mutex> g(s_envMutex);
    if (!g_service_env || !g_service_env->vm) {
      vm = nullptr;
    } else {
      if (!cookie) cookie = g_service_env->cookie;
      if (!cookie || cookie->finalized) return false;
      vm = g_service_env->vm;
      cookie->refs++;
    }
  }
  if (!vm) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: NULL JavaVM\n", "unknown function");
    return false;
  }
  JNIEnv *env = javavm_attach_thread(vm);
  bool delivered = false;
  if (!env) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: GetEnv/AttachCurrentThread failed\n", "send_event");
  } else {
    env->CallStaticVoidMethod(cookie->clazz, cookie->post, cookie->ref, (jint)code, (jint)value1, (jint)value2, obj);
    /* A listener that threw has still been handed the event. */
    jni_check_exception(env, kTag, kPostName);
    delivered = true;
  }
  cookie_drop(cookie);
  return delivered;
}

}  // namespace

extern "C" void send_event(callback_cookie *cookie, int code, int value1, int value2, jobject obj) {
  if (!cookie) {
    /* Logged as before when nothing is set up; silently dropped otherwise. */
    if (!is_set_up()) kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: NULL JavaVM\n", "unknown function");
    return;
  }
  deliver(cookie, code, value1, value2, obj);
}

extern "C" int kyr_post_keep(int code, int value1, int value2, jobject obj) {
  return deliver(nullptr, code, value1, value2, obj) ? 1 : 0;
}

extern "C" int kyr_post(int code, int value1, int value2, jobject obj) {
  if (kyr_post_keep(code, value1, value2, obj)) return 1;
  if (kyr_event_payload_kind(code) == PAYLOAD_OWNED && value1 > 0) kyr_payload_free(value1);
  return 0;
}

extern "C" int requestTimedCallback(void (*function)(void *), void *argument, const struct timeval *relative) {
  if (!function) return -1;
  if (!s_loopRunning.load()) {
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

extern "C" void setConnectState(KYR_Connect_State state) {
  pthread_mutex_lock(&s_stateMutex);
  const int old = sKyrConnectState.load();
  if (s_closed > 0) {
    drop_connection();
    state = KYR_Connect_Disconnected;
  }
  if (state != old || s_closed > 0) {
    sKyrConnectState = state;
    pthread_cond_broadcast(&s_stateCond);
  }
  pthread_mutex_unlock(&s_stateMutex);
  if (state == old) return;
  /* A worker pausing after "no connection" watches the new one at once. */
  if (state == KYR_Connect_Connected) {
    pthread_mutex_lock(&s_workerMutex);
    pthread_cond_broadcast(&s_workerCond);
    pthread_mutex_unlock(&s_workerMutex);
  }
  kyr_log_printf(KYR_LOG_INFO, kTag, "connection state %s -> %s", kyr_connect_state_name(old),
                 kyr_connect_state_name(state));
  kyr_post(EVENT_CONNECT_STATE_CHANGED, state, 0, nullptr);
}

extern "C" void native_close(void) {
  pthread_mutex_lock(&s_workerMutex);
  s_worker_closed = 1;
  pthread_cond_broadcast(&s_workerCond);
  pthread_mutex_unlock(&s_workerMutex);
}

extern "C" int native_init(callback_cookie *cookie) {
  csLogEnable(0, 3);
  int rc = csInit(nullptr);
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "csInit (error:%d, %s)\n", rc, csErrorString());
    return -1;
  }

  /* s_started is claimed before the thread exists, so two set-ups racing
   * here cannot both start one; the wait is on the thread's acknowledgement,
   * which (unlike s_started) it never takes back. */
  pthread_mutex_lock(&s_startupMutex);
  if (!s_started) {
    s_started = 1;
    s_startAck = 0;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t t;
    rc = pthread_create(&t, &attr, eventLoop, nullptr);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
      s_started = 0;
      kyr_log_printf(KYR_LOG_ERROR, kTag, "Failed to create event dispatch thread errno:%d", rc);
    } else {
      s_dispatchStarts++;
      while (!s_startAck) pthread_cond_wait(&s_startupCond, &s_startupMutex);
    }
  }
  pthread_mutex_unlock(&s_startupMutex);

  pthread_mutex_lock(&s_mainStartupMutex);
  s_main_started = 0;
  s_main_result = 0;
  pthread_mutex_unlock(&s_mainStartupMutex);
  pthread_mutex_lock(&s_stateMutex);
  s_mainRunning++;
  pthread_mutex_unlock(&s_stateMutex);
  cookie_hold(cookie);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t t;
  rc = pthread_create(&t, &attr, mainLoop, cookie);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Failed to create mainloop thread errno:%d", rc);
    cookie_drop(cookie);
    pthread_mutex_lock(&s_stateMutex);
    s_mainRunning--;
    pthread_cond_broadcast(&s_stateCond);
    pthread_mutex_unlock(&s_stateMutex);
    return rc;
  }
  pthread_mutex_lock(&s_mainStartupMutex);
  while (!s_main_started) pthread_cond_wait(&s_mainStartupCond, &s_mainStartupMutex);
  rc = s_main_result;
  pthread_mutex_unlock(&s_mainStartupMutex);
  return rc;
}

extern "C" int kyr_server_instance(void) { return g_server_instance.load(); }
extern "C" void kyr_service_debug_set_server_instance(int instance) { g_server_instance = instance; }
extern "C" int kyr_connect_state(void) { return sKyrConnectState.load(); }

extern "C" callback_cookie *kyr_cookie_get(void) {
  std::lock_guard<std::mutex> g(s_envMutex);
  if (!g_service_env || !g_service_env->cookie) return nullptr;
  g_service_env->cookie->refs++;
  return g_service_env->cookie;
}

extern "C" void kyr_cookie_put(callback_cookie *cookie) { cookie_drop(cookie); }

extern "C" void kyr_read_board_revision(const char *path, char *out) {
  FILE *f = path ? fopen(path, "r") : nullptr;
  if (!f) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeSendSystemInfoToKyr: can't open file %s, error %d", path ? path : "",
                   errno);
    strcpy(out, "UNKNOWN");
    return;
  }
  if (!fgets(out, 65, f)) out[0] = '\0';
  fclose(f);
  out[strcspn(out, "\n")] = '\0';
  out[strcspn(out, "\r")] = '\0';
}

extern "C" void kyr_service_debug_fail_worker_start(int fail) { s_failWorkerStart = fail; }

extern "C" int kyr_service_wait_idle(int timeout_ms) {
  struct timespec until;
  clock_gettime(CLOCK_REALTIME, &until);
  until.tv_sec += timeout_ms / 1000;
  until.tv_nsec += (long)(timeout_ms % 1000) * 1000000L;
  if (until.tv_nsec >= 1000000000L) {
    until.tv_sec++;
    until.tv_nsec -= 1000000000L;
  }
  pthread_mutex_lock(&s_stateMutex);
  while (s_mainRunning > 0)
    if (pthread_cond_timedwait(&s_stateCond, &s_stateMutex, &until) == ETIMEDOUT) break;
  const int busy = s_mainRunning;
  pthread_mutex_unlock(&s_stateMutex);
  return busy > 0 ? -1 : 0;
}

extern "C" int kyr_service_dispatch_threads_started(void) { return s_dispatchStarts.load(); }

/* ======================================================================== */
/* JNI entry points                                                         */

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativeSetup(JNIEnv *env, jobject thiz, jobject ref) {
  /* An earlier set-up's worker that ends after this one started would mark
   * the new service closed; ask it to end and wait until it has. */
  if (kyr_service_wait_idle(0) != 0) {
    native_close();
    if (kyr_service_wait_idle(kIdleWaitMs) != 0) {
      kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeSetup: the previous service did not end\n");
      jfieldID f = cookie_field(env, thiz);
      if (f) env->SetIntField(thiz, f, 0);
      return -1;
    }
  }

  {
    std::lock_guard<std::mutex> g(s_envMutex);
    delete g_service_env;
    g_service_env = nullptr;
  }

  jfieldID field = nullptr;
  jclass clazz = thiz ? env->GetObjectClass(thiz) : nullptr;
  if (!clazz) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Can't find KyrConnectService class when setting up callback.");
    return -1;
  }
  JavaVM *vm = jnienv_to_javavm(env);
  if (!vm) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Could not get handle to the VM\n");
    env->DeleteLocalRef(clazz);
    return -1;
  }

  auto *cookie = new (std::nothrow) callback_cookie();
  if (!cookie) {
    env->DeleteLocalRef(clazz);
    return -1;
  }
  cookie->clazz = static_cast<jclass>(env->NewGlobalRef(clazz));
  cookie->ref = ref ? env->NewGlobalRef(ref) : nullptr;
  cookie->vm = vm;
  cookie->refs = 1; /* the set-up's own */
  int32_t handle = -1;
  svc_context *ctx = nullptr;

  cookie->post = env->GetStaticMethodID(clazz, kPostName, kPostSig);
  if (!cookie->post) {
    jni_check_exception(env, kTag, kPostName);
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Can't find KyrConnectService.%s", kPostName);
    goto fail;
  }
  field = env->GetFieldID(clazz, kCookieField, "I");
  if (!field) {
    jni_check_exception(env, kTag, kCookieField);
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Can't find KyrConnectService.%s", kCookieField);
    goto fail;
  }
  /* Setting up the same object again lets go of its earlier cookie. */
  finalize_cookie_of(env, thiz, field);

  handle = kyr_handle_register(cookie, sizeof *cookie, KYR_HANDLE_COOKIE);
  if (handle < 0) goto fail;
  ctx = new (std::nothrow) svc_context{cookie, vm};
  if (!ctx) goto fail;
  {
    std::lock_guard<std::mutex> g(s_envMutex);
    g_service_env = ctx;
  }
  if (native_init(cookie) == 0) {
    env->SetIntField(thiz, field, handle);
    env->DeleteLocalRef(clazz);
    return 0;
  }
  {
    std::lock_guard<std::mutex> g(s_envMutex);
    g_service_env = nullptr;
  }
  delete ctx;

fail:
  if (handle > 0) kyr_handle_release(handle, KYR_HANDLE_COOKIE, kTag);
  cookie_finalize(cookie);
  if (field) env->SetIntField(thiz, field, 0);
  env->DeleteLocalRef(clazz);
  return -1;
}

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativeConnect(JNIEnv *env, jobject,
                                                                               jstring address, jstring serial,
                                                                               jstring clientVersion,
                                                                               jstring minServerVersion,
                                                                               jstring maxServerVersion) {
  JniUtf addr(env, address), sn(env, serial), cv(env, clientVersion), minv(env, minServerVersion),
      maxv(env, maxServerVersion);

  /* Read before the drop: the worker now learns of it at once and may
   * already have reported it when the state is looked at below. */
  const bool was_connected = sKyrConnectState.load() == KYR_Connect_Connected;
  drop_connection();
  if (!is_set_up()) return CSAPI_ERR_NOT_INITIALIZED;
  if (!addr.get()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeConnect: no server address\n");
    return CSAPI_ERR_BAD_PARAMETER;
  }
  if (strlen(addr.get()) >= sizeof g_ipaddress || (sn.get() && strlen(sn.get()) >= sizeof g_serial_number)) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeConnect: address or serial number too long\n");
    return CSAPI_ERR_BAD_PARAMETER;
  }

  char address_copy[sizeof g_ipaddress];
  char serial_copy[sizeof g_serial_number];
  {
    std::lock_guard<std::mutex> g(s_addrMutex);
    copy_cut(g_ipaddress, sizeof g_ipaddress, addr.get());
    copy_cut(g_serial_number, sizeof g_serial_number, sn.get());
    memcpy(address_copy, g_ipaddress, sizeof address_copy);
    memcpy(serial_copy, g_serial_number, sizeof serial_copy);
  }

  if (was_connected) {
    /* The connection closed above is reported lost by the worker. */
    connecting = 0;
    return 0;
  }

  connecting = 1;
  const unsigned gen = s_connectGen.load();
  const int handle = csConnect(address_copy, kDeviceType, cv.get(), minv.get(), maxv.get());
  if (gen != s_connectGen.load()) {
    /* Disconnected meanwhile: that wins. */
    if (handle >= 0) csDisconnect(handle);
    connecting = 0;
    return CSAPI_ERR_NO_CONNECT;
  }
  if (handle < 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "csConnect error (error:%d, %s)\n", handle, csErrorString());
    setConnectState(KYR_Connect_Failed);
    connecting = 0;
    return handle;
  }
  g_server_instance = handle;
  kyr_modules_run(KYR_MODULE_CONNECT, handle);

  const int rc = csAuth(handle, serial_copy);
  if (gen != s_connectGen.load()) {
    int expect = handle;
    if (g_server_instance.compare_exchange_strong(expect, -1)) csDisconnect(handle);
    connecting = 0;
    return CSAPI_ERR_NO_CONNECT;
  }
  if (rc == 0) {
    connecting = 0;
    setConnectState(KYR_Connect_Connected);
    start_post_connect();
    return 0;
  }
  if (rc == CSAPI_ERR_PAIRING_REQUIRED) {
    /* The connection stays open for NativePair. */
    setConnectState(KYR_Connect_PairingRequired);
    return rc;
  }
  kyr_log_printf(KYR_LOG_ERROR, kTag, "csAuth error (error:%d, %s)\n", rc, csErrorString());
  drop_connection();
  return rc;
}

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativePair(JNIEnv *env, jobject, jstring name,
                                                                            jstring password) {
  JniUtf n(env, name), p(env, password);
  if (!is_set_up()) return CSAPI_ERR_NOT_INITIALIZED;
  if (!n.get()) return 0;
  int rc;
  if (!p.get()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativePair: no password\n");
    rc = CSAPI_ERR_BAD_PARAMETER;
  } else {
    char serial_copy[sizeof g_serial_number];
    {
      std::lock_guard<std::mutex> g(s_addrMutex);
      memcpy(serial_copy, g_serial_number, sizeof serial_copy);
    }
    rc = csPair(g_server_instance.load(), serial_copy, n.get(), p.get());
    if (rc == 0) {
      connecting = 0;
      setConnectState(KYR_Connect_Connected);
      start_post_connect();
    } else {
      kyr_log_printf(KYR_LOG_ERROR, kTag, "csPair error (error:%d, %s)\n", rc, csErrorString());
    }
  }
  connecting = 0;
  return rc;
}

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativeDisconnect(JNIEnv *, jobject) {
  cancel_connects();
  setConnectState(KYR_Connect_Disconnected);
  drop_connection();
  return 0;
}

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativeGetConnectionState(JNIEnv *, jobject) {
  return sKyrConnectState.load(std::memory_order_relaxed);
}

extern "C" jstring Java_quorvex_kyrconnectservice_KyrConnectService_NativeGetMinDavixVersion(JNIEnv *env, jobject) {
  const int instance = g_server_instance.load();
  CSSrvrInfo info;
  memset(&info, 0, sizeof info);
  if (csSrvrGet(&info, instance >= 0 ? (unsigned)instance : 0u) != 0) return nullptr;
  return jni_new_string(env, info.minClientSWVer);
}

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativeSendSystemInfoToKyr(
    JNIEnv *env, jobject, jstring appVersion, jstring platformVersion, jint addressMode, jstring language) {
  JniUtf app(env, appVersion), plat(env, platformVersion), lang(env, language);
  if (!is_set_up()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeSendSystemInfoToKyr: g_service_env not initialized!");
    return CSAPI_ERR_NOT_INITIALIZED;
  }
  char hardware[65];
  kyr_read_board_revision(kBoardRevPath, hardware);
  if (!app.get() || !plat.get() || !lang.get()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag,
                   "NativeSendSystemInfoToKyr: appPackageVersionStr && platformVersionStr && systemLanguageStr == NULL");
    return CSAPI_ERR_BAD_PARAMETER;
  }
  CSClientInfo info;
  memset(&info, 0, sizeof info);
  copy_cut(info.applicationVersion, sizeof info.applicationVersion, app.get());
  copy_cut(info.platformVersion, sizeof info.platformVersion, plat.get());
  copy_cut(info.hardwareVersion, sizeof info.hardwareVersion, hardware);
  info.addressMode = (uint32_t)addressMode;
  copy_cut(info.language, sizeof info.language, lang.get());
  const int rc = csClientSet(&info, g_server_instance.load());
  if (rc != 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "csClientSet error (error:%d, %s)\n", rc, csErrorString());
  return rc;
}

extern "C" void Java_quorvex_kyrconnectservice_KyrConnectService_NativeFinalize(JNIEnv *env, jobject thiz) {
  cancel_connects();
  /* Let go of Java first: the worker reacts to the close request at once,
   * and its last state change must find the service already gone. */
  finalize_cookie_of(env, thiz, cookie_field(env, thiz));
  {
    std::lock_guard<std::mutex> g(s_envMutex);
    delete g_service_env;
    g_service_env = nullptr;
  }
  native_close();
  kyr_modules_run(KYR_MODULE_RELEASE, -1);
}

extern "C" void Java_quorvex_kyrconnectservice_KyrConnectService_NativeRelease(JNIEnv *env, jobject thiz) {
  Java_quorvex_kyrconnectservice_KyrConnectService_NativeFinalize(env, thiz);
  jfieldID f = cookie_field(env, thiz);
  if (f) env->SetIntField(thiz, f, 0);
}
