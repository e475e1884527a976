/* The notification handler table: method name -> decoder (cs_notify.cpp),
 * filled by the modules' init functions and read by the dispatch loop. It
 * belongs to neither the instance table nor the registries, so the two
 * reach it without reaching each other. */
#include <pthread.h>

#include "csapi/client/cs_dispatch.h"
#include "csapi/client/csapi_hash.h"
#include "csapi/client/csapi_internal.h"
#include "csapi/client/csapi_rpc.h"
#include "ipc/libccom/ccom.h"

namespace {

constexpr int kMarshSlots = 256;

csHashTable marshFuncHashTable;
csHashSlot marshFuncHashEntries[kMarshSlots];
pthread_rwlock_t marshLock = PTHREAD_RWLOCK_INITIALIZER;

}  // namespace

namespace csapi_detail {

csMarshFunc lookup_marsh(const char *name) {
  pthread_rwlock_rdlock(&marshLock);
  csMarshFunc f = nullptr;
  if (marshFuncHashTable.size > 0) {
    void *v = HashLookup(&marshFuncHashTable, name, 0);
    f = reinterpret_cast<csMarshFunc>(v);
  }
  pthread_rwlock_unlock(&marshLock);
  return f;
}

}  // namespace csapi_detail

int csapi_client_add_marsh_table(const csMarshEntry *table) {
  if (!table) return -1;
  pthread_rwlock_wrlock(&marshLock);
  if (marshFuncHashTable.size == 0) (void)HashInit(&marshFuncHashTable, marshFuncHashEntries, kMarshSlots);
  int rc = 0;
  for (const csMarshEntry *e = table; e->name; e++) {
    if (!e->func) {
      (void)HashDelete(&marshFuncHashTable, e->name);
      continue;
    }
    if (HashAdd(&marshFuncHashTable, e->name, reinterpret_cast<void *>(e->func)) != 0) {
      csLog("csapi_client", CS_LOG_ERR, "hash table add error\n");
      rc = -1;
      break;
    }
  }
  pthread_rwlock_unlock(&marshLock);
  return rc;
}

int csapiClientInitAll(void) {
  int rc = 0;
#define CS_INIT_MODULE(m) \
  if (m##ClientInit() != 0 && rc == 0) rc = -1;
  CS_MODULE_LIST(CS_INIT_MODULE)
#undef CS_INIT_MODULE
  return rc;
}
