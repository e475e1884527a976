/* The directory's known-server table and subsystem snapshot: filled from
 * the codec after a connect and on its notifications, read by server lists,
 * searches and look-ups, forgotten with the connection. */
#include <string.h>

#include <memory>
#include <mutex>
#include <new>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "service/interfaces/directory_internal.h"
#include "service/interfaces/kyr_fetch.h"
#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"
#include "service/kyr_cache.h"

static_assert(sizeof(KyrDirServerStruct) == 4 + sizeof(CSDirSrvr), "a server node is a link and the server record");

using namespace dir_impl;

namespace {

const int kProtocols = 4;
const int kIdCompare = 63; /* servers are matched on the first 63 characters of their id */

/* The known-server table, the snapshot Java reads and its handle's block.
 * One lock for all of them; never held across a codec request or a post. */
struct DirState {
  std::mutex mu;
  CSDirSrvr servers[KYR_DIR_MAX_SERVERS];
  int count = 0;
  DirectorySystemStruct system;
};

DirState &state() {
  static DirState *s = new DirState(); /* never destroyed: the worker may run at exit */
  return *s;
}

bool same_id(const char *a, const char *b) { return strncmp(a, b, kIdCompare) == 0; }

/* Caller holds mu. */
int find_locked(DirState &s, const char *id) {
  for (int i = 0; i < s.count; i++)
    if (same_id(s.servers[i].id, id)) return i;
  return -1;
}

void fill_system(DirState &s, const CSDir &dir) { kyr_copy_DirectorySystemStruct(&s.system, &dir); }

/* The system snapshot after a fresh csDirGet, under the one lock. */
int32_t publish_system(const CSDir &dir) {
  DirState &s = state();
  std::lock_guard<std::mutex> g(s.mu);
  fill_system(s, dir);
  return kyr_static_handle(&s.system, sizeof s.system);
}

}  // namespace

/* ---- known servers ---- */

/* The servers of every protocol under dir, published as the known servers.
 * Read in two steps, every count at once and then every server at once,
 * and judged in the order they used to be read one by one (protocol, then
 * index): the first server that cannot be read ends the table there. */
extern "C" int DirectoryKnownServersOf(const CSDir *dir) {
  std::unique_ptr<CSDirSrvr[]> table(new (std::nothrow) CSDirSrvr[KYR_DIR_MAX_SERVERS]);
  if (!table) return -1;
  cs_op_ticket ct[kProtocols];
  int count[kProtocols];
  for (int p = 0; p < kProtocols; p++) (void)csDirSrvrCountBegin(&ct[p], dir, p + 1);
  for (int p = 0; p < kProtocols; p++) count[p] = cs_op_end(&ct[p]);

  std::unique_ptr<cs_op_ticket[]> st(new (std::nothrow) cs_op_ticket[KYR_DIR_MAX_SERVERS]);
  if (!st) return -1;
  int index[KYR_DIR_MAX_SERVERS];
  int planned = 0, ignored = 0;
  /* What the one-by-one read left as the last error: the last protocol's
   * count, or its last server when it has any. */
  int last_rc = count[kProtocols - 1];
  for (int p = 0; p < kProtocols; p++) {
    int n = count[p];
    if (n < 0) continue; /* a protocol the codec does not count has no servers */
    for (int i = 0; i < n; i++) {
      if (planned == KYR_DIR_MAX_SERVERS) {
        ignored += n - i;
        break;
      }
      memset(&table[planned], 0, sizeof table[planned]);
      (void)csDirSrvrGetBegin(&st[planned], &table[planned], dir, i, p + 1);
      index[planned++] = i;
      if (p == kProtocols - 1) last_rc = 0;
    }
  }
  int filled = 0, result = 0;
  for (; filled < planned; filled++) {
    int rc = cs_op_end(&st[filled]);
    if (rc != 0) {
      kyr_log_printf(KYR_LOG_ERROR, kTag, "getKnownDirectoryServers: csDirSrvrGet error (server:%d, error:%d, %s)\n",
                     index[filled], rc, kyr_err_text(rc));
      result = rc;
      /* Reading stopped here, before any server could be left over. */
      ignored = 0;
      last_rc = kyr_fetch_drop(st.get(), static_cast<size_t>(filled) + 1, static_cast<size_t>(planned), rc);
      break;
    }
  }
  csapi_err_set(last_rc);
  if (ignored > 0)
    kyr_log_printf(KYR_LOG_ERROR, kTag, "getKnownDirectoryServers: %d servers beyond the first %d ignored\n", ignored,
                   KYR_DIR_MAX_SERVERS);
  DirState &s = state();
  {
    std::lock_guard<std::mutex> g(s.mu);
    memcpy(s.servers, table.get(), sizeof(CSDirSrvr) * static_cast<size_t>(filled));
    /* No stale server from an earlier fetch stays behind the new ones. */
    memset(s.servers + filled, 0, sizeof(CSDirSrvr) * static_cast<size_t>(KYR_DIR_MAX_SERVERS - filled));
    s.count = filled;
    fill_system(s, *dir);
  }
  return result != 0 ? result : filled;
}

extern "C" int getKnownDirectoryServers(void) {
  CSDir dir;
  memset(&dir, 0, sizeof dir);
  int rc = csDirGet(&dir, instance());
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "getKnownDirectoryServers: csDirGet error (error:%d, %s)\n", rc,
                   csErrorString());
    return rc;
  }
  kyr_cache_dir_store(&dir);
  return DirectoryKnownServersOf(&dir);
}

extern "C" int DirectoryFindServer(const char *id, CSDirSrvr *out) {
  if (!id || !out) return 0;
  DirState &s = state();
  std::lock_guard<std::mutex> g(s.mu);
  int i = find_locked(s, id);
  if (i < 0) return 0;
  *out = s.servers[i];
  return 1;
}

extern "C" int DirectoryKnownServers(CSDirSrvr *out, int cap) {
  DirState &s = state();
  std::lock_guard<std::mutex> g(s.mu);
  int n = s.count < cap ? s.count : cap;
  if (out && n > 0) memcpy(out, s.servers, sizeof(CSDirSrvr) * static_cast<size_t>(n));
  return n < 0 ? 0 : n;
}

extern "C" void DirectoryForgetServers(void) {
  DirState &s = state();
  std::lock_guard<std::mutex> g(s.mu);
  memset(s.servers, 0, sizeof s.servers);
  s.count = 0;
}

/* ---- entry points' work ---- */

extern "C" int64_t DirectoryGetServers(unsigned int mask) {
  kyr_list list = KYR_LIST_INIT;
  DirState &s = state();
  std::lock_guard<std::mutex> g(s.mu);
  for (int prot = 1; prot <= kProtocols; prot++) {
    if (!(mask & KYR_DIR_PROTOCOL_BIT(prot))) continue;
    for (int i = 0; i < s.count; i++) {
      if (s.servers[i].protocol != prot) continue;
      auto *node = static_cast<KyrDirServerStruct *>(kyr_list_append(&list, sizeof(KyrDirServerStruct), kTag));
      if (!node) {
        kyr_list_discard(&list);
        return 0;
      }
      kyr_copy_KyrDirServerStruct(node, &s.servers[i]);
    }
  }
  return kyr_list_take(&list);
}

extern "C" int DirectoryGetNumberServers(unsigned int mask) {
  CSDir dir;
  memset(&dir, 0, sizeof dir);
  int rc = csDirGet(&dir, instance());
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryGetNumberServers: csDirGet error (error:%d, %s)\n", rc,
                   csErrorString());
    return 0;
  }
  kyr_cache_dir_store(&dir);
  /* Every wanted protocol's count at once. */
  cs_op_ticket t[kProtocols];
  bool asked[kProtocols] = {};
  for (int prot = 1; prot <= kProtocols; prot++)
    if ((asked[prot - 1] = (mask & KYR_DIR_PROTOCOL_BIT(prot)) != 0)) (void)csDirSrvrCountBegin(&t[prot - 1], &dir, prot);
  int total = 0;
  for (int p = 0; p < kProtocols; p++) {
    if (!asked[p]) continue;
    int n = cs_op_end(&t[p]);
    if (n > 0) total += n;
  }
  return total;
}

extern "C" int64_t DirectoryGetSystem(void) {
  CSDir dir;
  memset(&dir, 0, sizeof dir);
  int rc = csDirGet(&dir, instance());
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "GetDirectorySystem: csDirGet error (error:%d, %s)\n", rc, csErrorString());
    return 0;
  }
  kyr_cache_dir_store(&dir);
  int32_t h = publish_system(dir);
  return h > 0 ? h : 0;
}

/* ---- notification callbacks (worker thread) ---- */

extern "C" void on_dir_changed(const CSDir *record, unsigned int flags, uintptr_t) {
  if (!record) return;
  CSDir dir;
  kyr_cache_dir_load(&dir);
  dir.maxSrvrs = record->maxSrvrs;
  dir.capabilities = record->capabilities;
  dir.localAvailability = record->localAvailability;
  dir.srvrInstance = record->srvrInstance;
  dir.handle = record->handle;
  kyr_cache_dir_store(&dir);
  getKnownDirectoryServers(); /* on success the cache holds the codec's fresh record */
  kyr_cache_dir_load(&dir);
  int32_t system = publish_system(dir);
  post(EVENT_DIR_SYSTEM_CHANGED, system > 0 ? system : 0, 0, nullptr);
  int64_t settings = GetDirectorySettingsUpdates(record, flags);
  post(EVENT_DIR_SETTINGS_CHANGED, settings > 0 ? static_cast<int>(settings) : 0, 0, nullptr);
}

extern "C" void on_dir_server_changed(const CSDirSrvr *record, unsigned int flags, uintptr_t) {
  if (!record) return;
  /* 1: the cached slot takes the new record; the old one is kept for the
   * comparisons. */
  CSDirSrvr old;
  bool cached = false;
  {
    DirState &s = state();
    std::lock_guard<std::mutex> g(s.mu);
    int i = find_locked(s, record->id);
    if (i >= 0) {
      old = s.servers[i];
      s.servers[i] = *record;
      cached = true;
    }
  }
  /* 2: the node the server events carry. */
  int32_t node = kyr_node_copy(record, sizeof *record, kTag);
  bool carried = false;
  auto post_node = [&](int code) {
    if (node <= 0) return;
    if (post_keep(code, node)) carried = true;
  };
  /* 3: switched off; came online, or went from online to nothing. */
  if ((flags & (CSDIR_SRVR_ENABLED_FIELD | CSDIR_SRVR_STATUS_FIELD)) && cached) {
    if (old.enabled != 0 && record->enabled == 0) post_node(EVENT_DIR_SERVER_DISABLED);
    if (old.status != record->status && record->enabled == 1 &&
        (record->status == KYR_DIR_SERVER_ONLINE || (old.status == KYR_DIR_SERVER_ONLINE && record->status == 0)))
      post_node(EVENT_DIR_SERVER_STATUS_CHANGED);
  }
  /* 4: its contents changed. */
  if (flags & CSDIR_SRVR_LAST_MODIFIED_TIME_FIELD) post_node(EVENT_DIR_SERVER_MODIFIED);
  /* A node no event carried has no owner on the Java side. */
  if (!carried && node > 0) kyr_list_release(node, kTag);
  /* 5: the settings that changed. */
  int64_t settings =
      GetDirectoryServerSettingsUpdates(record, cached ? &old : nullptr, flags);
  post(EVENT_DIR_SETTINGS_CHANGED, settings > 0 ? static_cast<int>(settings) : 0, 0, nullptr);
}
