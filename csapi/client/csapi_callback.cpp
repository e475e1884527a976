/* Callback registries, the notification ring and the processing loop. */
#include "csapi/client/csapi_callback.h"

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_hash.h"
#include "csapi/client/csapi_internal.h"
#include "csapi/client/csapi_rpc.h"
#include "ipc/libccom/ccom.h"

namespace {

/* ---- registries ---- */

/* A registry's read position and what the writer needs to know about its
 * reader are guarded by callbacks_mut; its name table by its own lock (the
 * global one) or by belonging to one thread. */
struct Registry {
  bool initialised;
  bool shared;      /* other threads read it: changes take gSharedMut */
  bool synced;      /* has taken its first position in the ring */
  int32_t readPos;  /* next record to read */
  uint64_t readSeq; /* sequence number of that record */
  /* Reader activity, for the writer's choice between waiting and
   * overwriting. */
  int64_t lastWaitNs;  /* when a thread last entered or left a wait on it */
  int waiting;         /* threads inside a wait on it right now */
  bool givenUp;        /* the writer's wait for it timed out since its last wait */
  bool calling;        /* its processing thread is inside a synchronous call */
  pthread_t waiter;    /* the thread that last waited on it */
  Registry *prev, *next; /* synced registries, linked from gReaders */
  csHashTable table;
  csHashSlot slots[CSAPI_CALLBACK_HASH_SLOTS];
};

Registry gCallbackHashTable;
pthread_mutex_t gCallbackHashTable_mut = PTHREAD_MUTEX_INITIALIZER;

pthread_key_t gThreadRegistryKey;
pthread_once_t gOnce = PTHREAD_ONCE_INIT;

/* The one thread registry other threads may read (the service worker's).
 * gSharedBusy counts readers running its callbacks; withdrawing it waits for
 * them, so its owner can free what the callbacks use right after. */
pthread_mutex_t gSharedMut = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t gSharedIdle = PTHREAD_COND_INITIALIZER;
Registry *gShared = nullptr; /* guarded by gSharedMut */
int gSharedBusy = 0;         /* guarded by gSharedMut */

void unshare(Registry *reg) {
  pthread_mutex_lock(&gSharedMut);
  if (gShared == reg) gShared = nullptr;
  while (gSharedBusy > 0) pthread_cond_wait(&gSharedIdle, &gSharedMut);
  pthread_mutex_unlock(&gSharedMut);
}

/* ---- notification ring ---- */

/* Each record: 4-byte length L, L message bytes, the instance byte, 3 spare
 * bytes. A zero length means "continue at offset 0". Sequence numbers let a
 * reader see that the writer has overwritten records it had not read.
 *
 * Readers find a record through its sequence number in startOf rather than
 * by following the zero-length mark: a record that wraps to offset 0 can be
 * long enough to cover its own mark, and a reader that was waiting at the
 * old write position would then read message bytes as a length. Records
 * take at least 9 bytes, so fewer than 8192 are ever intact at once. */
constexpr uint32_t kStartSlots = 131072;
static_assert(CSAPI_NOTIFY_RING_LIMIT / 9 < kStartSlots, "start index too small");

struct MsgQueue {
  int32_t writePos;
  int32_t tailPos;
  uint64_t writeSeq;
  uint64_t tailSeq;
  uint64_t lost;           /* records readers lost to overruns, all readers */
  int writersWaiting;      /* writers waiting for an active reader */
  uint64_t wakeSeq;        /* they want a reader at or past this record */
  int32_t startOf[kStartSlots]; /* start offset of record seq, by seq % kStartSlots */
  unsigned char ring[CSAPI_NOTIFY_RING_SIZE];
};

MsgQueue callbacks_msgq;
pthread_mutex_t callbacks_mut = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t callbacks_cond; /* readers: a record was written */
pthread_cond_t space_cond;     /* writers: a reader moved on */
Registry *gReaders;            /* synced registries (callbacks_mut) */
/* The registry this thread is dispatching from, if any. */
thread_local Registry *t_dispatching;

/* A reader counts as processing while it waited on the queue within this
 * window; the writer waits for a processing reader at most kWaitBoundMs per
 * message before it overwrites what that reader has not read. */
int gActiveWindowMs = 1000;
int gWaitBoundMs = 100;

void free_registry_contents(Registry *reg) {
  if (!reg->initialised) return;
  for (int i = 0; i < reg->table.size; i++) {
    csHashSlot *s = &reg->table.slots[i];
    if (s->key) {
      free(s->key);
      free(s->value);
      s->key = nullptr;
      s->value = nullptr;
    }
  }
  reg->table.count = 0;
}

int64_t mono_ns() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (int64_t)t.tv_sec * 1000000000LL + t.tv_nsec;
}

struct timespec mono_at(int64_t ns) {
  struct timespec t;
  t.tv_sec = (time_t)(ns / 1000000000LL);
  t.tv_nsec = (long)(ns % 1000000000LL);
  return t;
}

/* Wakes writers waiting for readers when this change may let them go on
 * (callbacks_mut held). */
void wake_writers() {
  if (callbacks_msgq.writersWaiting > 0) pthread_cond_broadcast(&space_cond);
}

void unlink_reader(Registry *reg) {
  pthread_mutex_lock(&callbacks_mut);
  if (reg->synced) {
    if (reg->prev) reg->prev->next = reg->next;
    else gReaders = reg->next;
    if (reg->next) reg->next->prev = reg->prev;
    reg->synced = false;
    wake_writers();
  }
  pthread_mutex_unlock(&callbacks_mut);
}

void thread_registry_destructor(void *p) {
  Registry *reg = static_cast<Registry *>(p);
  unlink_reader(reg);
  if (reg->shared) unshare(reg);
  free_registry_contents(reg);
  free(reg);
}

void once_init() {
  pthread_key_create(&gThreadRegistryKey, thread_registry_destructor);
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&callbacks_cond, &attr);
  pthread_cond_init(&space_cond, &attr);
  pthread_condattr_destroy(&attr);
}

void ensure_init() { pthread_once(&gOnce, once_init); }

/* The registry for the flag; the global one comes back locked and must be
 * given back with release_registry. Null for any other flag or when the
 * thread's registry cannot be allocated. */
Registry *obtain_registry(int global) {
  ensure_init();
  if (global == 1) {
    pthread_mutex_lock(&gCallbackHashTable_mut);
    if (!gCallbackHashTable.initialised) {
      (void)HashInit(&gCallbackHashTable.table, gCallbackHashTable.slots, CSAPI_CALLBACK_HASH_SLOTS);
      gCallbackHashTable.initialised = true;
    }
    return &gCallbackHashTable;
  }
  if (global != 0) return nullptr;
  Registry *reg = static_cast<Registry *>(pthread_getspecific(gThreadRegistryKey));
  if (reg) {
    if (reg->shared) pthread_mutex_lock(&gSharedMut);
    return reg;
  }
  reg = static_cast<Registry *>(calloc(1, sizeof(Registry)));
  if (!reg) {
    csLog("callback", CS_LOG_ERR, "callback_add: ERROR, couldn't alloc local callback hashtable\n");
    return nullptr;
  }
  (void)HashInit(&reg->table, reg->slots, CSAPI_CALLBACK_HASH_SLOTS);
  reg->initialised = true;
  if (pthread_setspecific(gThreadRegistryKey, reg) != 0) {
    free(reg);
    csLog("callback", CS_LOG_ERR, "callback_add: ERROR, couldn't alloc local callback hashtable\n");
    return nullptr;
  }
  return reg;
}

void release_registry(Registry *reg) {
  if (reg == &gCallbackHashTable) pthread_mutex_unlock(&gCallbackHashTable_mut);
  else if (reg->shared) pthread_mutex_unlock(&gSharedMut);
}

bool same_entry(const csCallbackEntry &e, csCallbackFunc func, uintptr_t ud, uintptr_t inst) {
  return e.func == func && e.userDefined == ud && e.srvrInstance == inst;
}

int32_t ring_len_at(int32_t pos) {
  int32_t len;
  memcpy(&len, callbacks_msgq.ring + pos, sizeof len);
  return len;
}

/* Moves the tail past its oldest record (callbacks_mut held). */
void evict_oldest() {
  MsgQueue &q = callbacks_msgq;
  q.tailSeq++;
  if (q.tailSeq < q.writeSeq) q.tailPos = q.startOf[q.tailSeq % kStartSlots];
}

/* Takes the reader to the oldest intact record when the writer has lapped
 * it (callbacks_mut held). A registry's first read starts there quietly. */
void resync(Registry *reg) {
  MsgQueue &q = callbacks_msgq;
  if (!reg->synced) {
    reg->synced = true;
    reg->readSeq = q.tailSeq;
    reg->readPos = q.tailPos;
    reg->prev = nullptr;
    reg->next = gReaders;
    if (gReaders) gReaders->prev = reg;
    gReaders = reg;
    return;
  }
  if (reg->readSeq < q.tailSeq) {
    q.lost += q.tailSeq - reg->readSeq;
    csLog("callback", CS_LOG_WARNING, "notification queue overran this reader, %llu notifications lost\n",
          (unsigned long long)(q.tailSeq - reg->readSeq));
    reg->readSeq = q.tailSeq;
    reg->readPos = q.tailPos;
  }
}

/* Marks a thread entering or leaving a wait on reg (callbacks_mut held). */
void note_wait(Registry *reg, int delta) {
  reg->waiting += delta;
  reg->lastWaitNs = mono_ns();
  reg->givenUp = false;
  reg->waiter = pthread_self();
}

/* Whether reader r makes the writer wait before overwriting record seq: it
 * still has that record to read and is processing (callbacks_mut held). A
 * reader the writer already gave up on, one inside a synchronous call (the
 * answer it waits for is behind this notification on the connection) and
 * the posting thread's own do not count. */
bool holds_up(const Registry *r, uint64_t seq, int64_t now) {
  if (r->readSeq > seq || r->givenUp || r->calling) return false;
  if (r->waiting == 0 && now - r->lastWaitNs >= (int64_t)gActiveWindowMs * 1000000LL) return false;
  return !pthread_equal(r->waiter, pthread_self());
}

bool reader_needs(uint64_t seq, int64_t now) {
  for (Registry *r = gReaders; r; r = r->next)
    if (holds_up(r, seq, now)) return true;
  return false;
}

/* The writer's wait timed out: it stops waiting for every reader that still
 * holds it up, until that reader waits on the queue again. */
void give_up_on_readers(uint64_t seq, int64_t now) {
  for (Registry *r = gReaders; r; r = r->next)
    if (holds_up(r, seq, now)) r->givenUp = true;
}

std::atomic<int (*)(int)> gStateReader{nullptr};

int instance_state(int instance) {
  int (*state)(int) = gStateReader.load();
  return state ? state(instance) : CLIENT_STATE_DISCONNECTED;
}

bool any_instance_connected() {
  for (int i = 0; i < CSAPI_SRVR_MAX; i++)
    if (instance_state(i) != CLIENT_STATE_DISCONNECTED) return true;
  return false;
}

}  // namespace

namespace csapi_detail {

void callback_set_state_reader(int (*state)(int instance)) { gStateReader.store(state); }

RingView ring_view() {
  pthread_mutex_lock(&callbacks_mut);
  const MsgQueue &q = callbacks_msgq;
  RingView v{q.writePos, q.tailPos, q.writeSeq, q.tailSeq, q.lost};
  pthread_mutex_unlock(&callbacks_mut);
  return v;
}

void ring_set_patience(int activeWindowMs, int waitBoundMs) {
  pthread_mutex_lock(&callbacks_mut);
  gActiveWindowMs = activeWindowMs > 0 ? activeWindowMs : 1000;
  gWaitBoundMs = waitBoundMs > 0 ? waitBoundMs : 100;
  pthread_mutex_unlock(&callbacks_mut);
}

void callback_thread_calling(bool calling) {
  /* The registry being dispatched, else the thread's own: a thread that
   * processes between its calls reads nothing while it waits for one. */
  Registry *reg = t_dispatching;
  if (!reg) {
    ensure_init();
    reg = static_cast<Registry *>(pthread_getspecific(gThreadRegistryKey));
  }
  if (!reg) return;
  pthread_mutex_lock(&callbacks_mut);
  reg->calling = calling;
  if (calling) wake_writers();
  pthread_mutex_unlock(&callbacks_mut);
}

}  // namespace csapi_detail

int callback_init(void) {
  ensure_init();
  return 0;
}

int callback_exit(void) {
  /* The key, mutex and condition stay: reader threads and thread registries
   * may outlive the library's end, and a destroyed lock under them would be
   * worse than the few bytes kept. */
  csLog("callback", CS_LOG_DEBUG, "callback_Exit\n");
  return 0;
}

int callback_add_client(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined, int global) {
  if (!name || !func) return -1;
  Registry *reg = obtain_registry(global);
  if (!reg) return -1;
  int rc = -1;
  csCallbackEntry *table = static_cast<csCallbackEntry *>(HashLookup(&reg->table, name, 0));
  if (!table) {
    table = static_cast<csCallbackEntry *>(calloc(CS_CALLBACK_TABLE_ENTRIES, sizeof(csCallbackEntry)));
    if (!table) {
      csLog("callback", CS_LOG_ERR, "callback_add: ERROR, couldn't alloc callback table\n");
      goto out;
    }
    if (HashAdd(&reg->table, name, table) != 0) {
      csLog("callback", CS_LOG_ERR, "callback_add: couldn't add callback:%s hash to callback hashtable\n", name);
      free(table);
      goto out;
    }
  }
  {
    uintptr_t inst = (uintptr_t)(intptr_t)instance;
    int freeIdx = -1;
    bool present = false;
    for (int i = 0; i < CS_CALLBACK_TABLE_ENTRIES; i++) {
      if (same_entry(table[i], func, userDefined, inst)) {
        present = true;
        break;
      }
      if (!table[i].func && freeIdx < 0) freeIdx = i;
    }
    if (!present) {
      if (freeIdx < 0) {
        csLog("callback", CS_LOG_ERR, "callback_add: ERROR, out of entries in callback table for:%s\n", name);
        goto out;
      }
      table[freeIdx].func = func;
      table[freeIdx].userDefined = userDefined;
      table[freeIdx].srvrInstance = inst;
    }
  }
  rc = reg->table.count;
out:
  release_registry(reg);
  return rc;
}

int callback_delete_client(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined, int global) {
  if (!name) return -1;
  Registry *reg = obtain_registry(global);
  if (!reg) return -1;
  csCallbackEntry *table = static_cast<csCallbackEntry *>(HashLookup(&reg->table, name, 0));
  if (!table) {
    csLog("callback", CS_LOG_WARNING,
          "callback_delete: name:%s func:%p userDefined:%lx callback function table not found\n", name,
          (void *)func, (unsigned long)userDefined);
  } else {
    uintptr_t inst = (uintptr_t)(intptr_t)instance;
    bool found = false;
    for (int i = 0; i < CS_CALLBACK_TABLE_ENTRIES; i++) {
      if (same_entry(table[i], func, userDefined, inst)) {
        table[i] = csCallbackEntry{nullptr, 0, 0};
        found = true;
        break;
      }
    }
    if (!found)
      csLog("callback", CS_LOG_WARNING,
            "callback_delete: name:%s func:%p userDefined:%lx not found in the callback table\n", name,
            (void *)func, (unsigned long)userDefined);
    bool empty = true;
    for (int i = 0; i < CS_CALLBACK_TABLE_ENTRIES && empty; i++)
      if (table[i].func || table[i].userDefined) empty = false;
    if (empty) {
      (void)HashDelete(&reg->table, name);
      free(table);
    }
  }
  int rc = reg->table.count;
  release_registry(reg);
  return rc;
}

int callback_lookup_client(const char *name, csCallbackEntry *dest, int global) {
  if (!name || !dest) return -1;
  Registry *reg = obtain_registry(global);
  if (!reg) {
    csLog("callback", CS_LOG_ERR, "callback_lookup: ERROR hashtable not found \n");
    return -1;
  }
  const csCallbackEntry *table = static_cast<const csCallbackEntry *>(HashLookup(&reg->table, name, 0));
  if (table) memcpy(dest, table, sizeof(csCallbackEntry) * CS_CALLBACK_TABLE_ENTRIES);
  release_registry(reg);
  return table ? 0 : -1;
}

int callback_postmsg(int instance, const char *method, ccom_msg_t *msg) {
  if (!method || !msg || !msg->data) return 0;
  uint32_t len = msg->len;
  /* A zero length would read as the wrap mark. */
  if (len == 0) return 0;
  if ((uint64_t)len + 8 > CSAPI_NOTIFY_RING_LIMIT) {
    csLog("callback", CS_LOG_ERR, "notification %s of %u bytes does not fit in the queue, dropped\n", method,
          (unsigned)len);
    return 0;
  }
  ensure_init();
  int32_t L = (int32_t)len;
  pthread_mutex_lock(&callbacks_mut);
  MsgQueue &q = callbacks_msgq;
  int64_t now = 0, deadline = 0;
  int32_t w, start;
  bool wrap;
  for (;;) {
    w = q.writePos;
    start = w;
    wrap = w + L + 8 > CSAPI_NOTIFY_RING_LIMIT;
    if (wrap) start = 0;
    /* Retire, oldest first, every record the new bytes will cover. Records
     * from the write position on are older than those before it, so on a
     * wrap all of them go before any record at the start is touched. */
    if (q.tailSeq == q.writeSeq) break;
    int32_t p = q.tailPos;
    bool covered = wrap ? (p >= w || p < L + 8) : (p >= w && p < w + L + 8);
    if (!covered) break;
    if (now == 0) {
      now = mono_ns();
      deadline = now + (int64_t)gWaitBoundMs * 1000000LL;
    }
    if (!reader_needs(q.tailSeq, now)) {
      evict_oldest();
      continue;
    }
    /* Wait until readers have taken an eighth of what is queued, so the
     * writer is not woken for every single record. */
    uint64_t want = q.tailSeq + 1 + (q.writeSeq - q.tailSeq) / 8;
    if (q.writersWaiting == 0 || want < q.wakeSeq) q.wakeSeq = want;
    q.writersWaiting++;
    struct timespec until = mono_at(deadline);
    int rc = pthread_cond_timedwait(&space_cond, &callbacks_mut, &until);
    q.writersWaiting--;
    now = mono_ns();
    if (rc == ETIMEDOUT || now >= deadline) give_up_on_readers(q.tailSeq, now);
  }
  if (wrap) memset(q.ring + w, 0, 4);
  memcpy(q.ring + start, &L, 4);
  memcpy(q.ring + start + 4, msg->data, len);
  q.ring[start + 4 + L] = (unsigned char)instance;
  if (q.tailSeq == q.writeSeq) q.tailPos = start;
  q.startOf[q.writeSeq % kStartSlots] = start;
  q.writeSeq++;
  q.writePos = start + L + 8;
  pthread_mutex_unlock(&callbacks_mut);
  pthread_cond_broadcast(&callbacks_cond);
  return 0;
}

namespace {

/* Takes reg's next notification into msg, waiting up to timeoutMs. */
int wait_on(Registry *reg, int *instance, ccom_msg_t *msg, int timeoutMs) {
  if (timeoutMs < 0) timeoutMs = 0;
  struct timespec deadline = mono_at(mono_ns() + (int64_t)timeoutMs * 1000000LL);
  pthread_mutex_lock(&callbacks_mut);
  MsgQueue &q = callbacks_msgq;
  note_wait(reg, 1);
  int rc = 0;
  for (;;) {
    resync(reg);
    if (reg->readSeq != q.writeSeq) break;
    if (pthread_cond_timedwait(&callbacks_cond, &callbacks_mut, &deadline) == ETIMEDOUT) {
      resync(reg);
      if (reg->readSeq == q.writeSeq) rc = CSAPI_ERR_TIMEOUT;
      break;
    }
  }
  if (rc == 0) {
    int32_t pos = q.startOf[reg->readSeq % kStartSlots];
    int32_t L = ring_len_at(pos);
    if (ccom_msg_memcpy(msg, q.ring + pos + 4, (uint32_t)L)) {
      msg->data[L] = '\0';
      *instance = q.ring[pos + 4 + L];
    } else {
      csLog("callback", CS_LOG_ERR, "no room for a notification of %d bytes, dropped\n", L);
      rc = CSAPI_ERR_OUT_OF_RESOURCES;
    }
    reg->readPos = pos + L + 8;
    reg->readSeq++;
  }
  note_wait(reg, -1);
  if (q.writersWaiting > 0 && reg->readSeq >= q.wakeSeq) pthread_cond_broadcast(&space_cond);
  pthread_mutex_unlock(&callbacks_mut);
  return rc;
}

}  // namespace

int callback_waitmsg(int *instance, ccom_msg_t *msg, int timeoutMs, int global) {
  if (!instance || !msg) return -1;
  Registry *reg = obtain_registry(global);
  if (!reg) return -10;
  release_registry(reg);
  return wait_on(reg, instance, msg, timeoutMs);
}

int csapi_client_process_callbacks(int timeoutMs, int global) {
  if (!any_instance_connected()) return CSAPI_ERR_NO_CONNECT;
  Registry *reg = obtain_registry(global);
  if (!reg) return -10;
  release_registry(reg);
  ccom_msg_t *buf = ccom_client_msg_alloc();
  if (!buf) return CSAPI_ERR_OUT_OF_RESOURCES;
  int dispatched = 0;
  int rc;
  /* Callbacks may process again (nested): keep the outer registry. */
  Registry *outer = t_dispatching;
  t_dispatching = reg;
  for (;;) {
    int instance = -1;
    rc = wait_on(reg, &instance, buf, timeoutMs);
    if (rc != 0) break;
    if (instance_state(instance) != CLIENT_STATE_READY || buf->len == 0) continue;
    csapi_detail::TopScan scan;
    if (!csapi_detail::scan_top(buf->data, buf->len, &scan) || !scan.method) {
      csLog("csapi_client", CS_LOG_ERR, "missing method parameter in notification msg\n");
      continue;
    }
    char name[128];
    if (scan.methodLen >= sizeof name) {
      csLog("csapi_client", CS_LOG_ERR, "unknown notification function:%.*s\n", 100, scan.method);
      continue;
    }
    memcpy(name, scan.method, scan.methodLen);
    name[scan.methodLen] = '\0';
    csMarshFunc handler = csapi_detail::lookup_marsh(name);
    if (!handler) {
      csLog("csapi_client", CS_LOG_ERR, "unknown notification function:%s\n", name);
      continue;
    }
    csCallbackEntry callbacks[CS_CALLBACK_TABLE_ENTRIES];
    if (callback_lookup_client(name, callbacks, global) != 0) continue;
    (void)handler(instance, buf, callbacks);
    dispatched++;
  }
  t_dispatching = outer;
  ccom_client_msg_free(buf);
  if (dispatched > 0) return dispatched;
  if (rc == CSAPI_ERR_TIMEOUT) return timeoutMs == 0 ? 0 : CSAPI_ERR_TIMEOUT;
  return rc;
}

int csCallbackSkipQueued(void) {
  Registry *reg = obtain_registry(0);
  if (!reg) return -1;
  release_registry(reg);
  MsgQueue &q = callbacks_msgq;
  pthread_mutex_lock(&callbacks_mut);
  if (!reg->synced) resync(reg);
  reg->readSeq = q.writeSeq;
  reg->readPos = q.writePos;
  wake_writers();
  pthread_mutex_unlock(&callbacks_mut);
  return 0;
}

int csCallbackShareThreadRegistry(void) {
  Registry *reg = obtain_registry(0);
  if (!reg) return -1;
  release_registry(reg);
  pthread_mutex_lock(&gSharedMut);
  reg->shared = true;
  gShared = reg;
  pthread_mutex_unlock(&gSharedMut);
  return 0;
}

void csCallbackUnshareThreadRegistry(void) {
  ensure_init();
  Registry *reg = static_cast<Registry *>(pthread_getspecific(gThreadRegistryKey));
  if (reg && reg->shared) unshare(reg);
}

int callback_run_shared(const char *name, void (*fn)(const csCallbackEntry *table, void *ctx), void *ctx) {
  if (!name || !fn) return -1;
  csCallbackEntry table[CS_CALLBACK_TABLE_ENTRIES];
  pthread_mutex_lock(&gSharedMut);
  const csCallbackEntry *found =
      gShared ? static_cast<const csCallbackEntry *>(HashLookup(&gShared->table, name, 0)) : nullptr;
  if (found) {
    memcpy(table, found, sizeof table);
    gSharedBusy++;
  }
  pthread_mutex_unlock(&gSharedMut);
  if (!found) return -1;
  fn(table, ctx);
  pthread_mutex_lock(&gSharedMut);
  if (--gSharedBusy == 0) pthread_cond_broadcast(&gSharedIdle);
  pthread_mutex_unlock(&gSharedMut);
  return 0;
}

int csapi_client_callback_add(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined, int global) {
  return callback_add_client(instance, name, func, userDefined, global);
}

int csapi_client_callback_delete(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined,
                                 int global) {
  return callback_delete_client(instance, name, func, userDefined, global);
}

namespace {

int leave(int rc) {
  csapi_err_set(rc);
  return rc;
}

}  // namespace

int csCallbackAdd(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined) {
  return callback_add_client(instance, name, func, userDefined, 0);
}

int csGlobalCallbackAdd(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined) {
  return callback_add_client(instance, name, func, userDefined, 1);
}

int csCallbackDelete(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined) {
  return callback_delete_client(instance, name, func, userDefined, 0);
}

int csGlobalCallbackDelete(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined) {
  return callback_delete_client(instance, name, func, userDefined, 1);
}

int csCallbackProcess(int timeoutMs) { return leave(csapi_client_process_callbacks(timeoutMs, 0)); }

int csGlobalCallbackProcess(int timeoutMs) { return leave(csapi_client_process_callbacks(timeoutMs, 1)); }

int csCallbackProcessPerInstance(int instance, int timeoutMs) {
  if (instance < 0 || instance >= CSAPI_SRVR_MAX || instance_state(instance) != CLIENT_STATE_READY)
    return leave(CSAPI_ERR_NO_CONNECT);
  return leave(csapi_client_process_callbacks(timeoutMs, 0));
}
