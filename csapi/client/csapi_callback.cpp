/* Callback registries and the processing loop; the queue they read is the
 * ring (csapi_ring.cpp). Nothing here reaches the instance table: an
 * instance's state and connection stamp come through csapi_ring.h. */
#include "csapi/client/csapi_callback.h"

#include <pthread.h>

#include <cstdlib>
#include <cstring>

#include "csapi/client/csapi_hash.h"
#include "csapi/client/csapi_instance.h"
#include "csapi/client/csapi_ring.h"
#include "csapi/client/csapi_rpc.h"
#include "csapi/client/csapi_scan.h"
#include "ipc/libccom/ccom.h"

namespace {

using csapi_detail::RingReader;

/* ---- registries ---- */

/* A registry's place in the ring is guarded by the ring's lock; its name
 * table by its own lock (the global one) or by belonging to one thread. */
struct Registry {
  bool initialised;
  bool shared; /* other threads read it: changes take gSharedMut */
  RingReader reader;
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

/* The registry this thread is dispatching from, if any. */
thread_local Registry *t_dispatching;

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

void thread_registry_destructor(void *p) {
  Registry *reg = static_cast<Registry *>(p);
  csapi_detail::ring_forget(&reg->reader);
  if (reg->shared) unshare(reg);
  free_registry_contents(reg);
  free(reg);
}

void once_init() { pthread_key_create(&gThreadRegistryKey, thread_registry_destructor); }

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

}  // namespace

namespace csapi_detail {

void callback_thread_calling(bool calling) {
  /* The registry being dispatched, else the thread's own: a thread that
   * processes between its calls reads nothing while it waits for one. */
  Registry *reg = t_dispatching;
  if (!reg) {
    ensure_init();
    reg = static_cast<Registry *>(pthread_getspecific(gThreadRegistryKey));
  }
  if (reg) ring_set_calling(&reg->reader, calling);
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

int callback_waitmsg(int *instance, ccom_msg_t *msg, int timeoutMs, int global) {
  if (!instance || !msg) return -1;
  Registry *reg = obtain_registry(global);
  if (!reg) return -10;
  release_registry(reg);
  return csapi_detail::ring_wait(&reg->reader, instance, msg, timeoutMs, nullptr);
}

int csapi_client_process_callbacks(int timeoutMs, int global) {
  if (!csapi_detail::ring_any_connected()) return CSAPI_ERR_NO_CONNECT;
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
    uint8_t gen = 0;
    rc = csapi_detail::ring_wait(&reg->reader, &instance, buf, timeoutMs, &gen);
    if (rc != 0) break;
    if (csapi_detail::ring_instance_state(instance) != CLIENT_STATE_READY || buf->len == 0) continue;
    /* Left over from an earlier connection of the same instance. */
    if (!csapi_detail::ring_current_connection(instance, gen)) continue;
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
  csapi_detail::ring_skip_queued(&reg->reader);
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
  if (instance < 0 || instance >= CSAPI_SRVR_MAX || csapi_detail::ring_instance_state(instance) != CLIENT_STATE_READY)
    return leave(CSAPI_ERR_NO_CONNECT);
  return leave(csapi_client_process_callbacks(timeoutMs, 0));
}
