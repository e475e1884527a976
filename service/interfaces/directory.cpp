#include "service/interfaces/directory.h"

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <mutex>
#include <new>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "ipc/libccom/ccom.h"
#include "ipc/libccom/ccom_internal.h"
#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_fetch.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"
#include "service/kyr_cache.h"
#include "service/kyr_modules.h"

/* The settings converters come from the settings lists; until they are
 * linked in, the settings events carry no list. */

static_assert(sizeof(KyrDirServerStruct) == 4 + sizeof(CSDirSrvr), "a server node is a link and the server record");
static_assert(sizeof(KyrDirEntryStruct) == 4 + sizeof(CSDirEnt), "an entry node is a link and the entry record");
static_assert(KYR_DIR_MAX_GROUP_LISTS == sizeof(((DirAddressListArrayStruct *)0)->lists) / sizeof(DirAddressListStruct),
              "a group holds as many lists as Java can pass");

namespace {

const char kTag[] = KYR_DIR_TAG;
const int kProtocols = 4;
const int kIdCompare = 63; /* servers are matched on the first 63 characters of their id */
const int kEntryTimeoutMs = 30000;
const int kPageTimeoutMs = 60000;

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

std::mutex s_sinkMu;
DirectoryEventSink s_sink = nullptr;

DirectoryEventSink current_sink() {
  std::lock_guard<std::mutex> g(s_sinkMu);
  return s_sink;
}

/* Every event goes to Java through kyr_post, or to a test's sink (which
 * then owns what it was handed). 1 when received. */
int post(int code, int value1, int value2, jobject obj) {
  if (DirectoryEventSink sink = current_sink()) {
    sink(code, value1, value2, obj);
    return 1;
  }
  return kyr_post(code, value1, value2, obj);
}

/* For the node several server events share: the caller frees it when none
 * was received. */
int post_keep(int code, int value1) {
  if (DirectoryEventSink sink = current_sink()) {
    sink(code, value1, 0, nullptr);
    return 1;
  }
  return kyr_post_keep(code, value1, 0, nullptr);
}

void post_error(int reason) { post(EVENT_ERROR, reason, -1, nullptr); }


int instance() { return kyr_server_instance(); }

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

/* A Java-visible entry node (or record) from the codec's entry: every
 * field, but only the devices and addresses the counts make valid. */
void fill_entry(KyrDirEntryStruct *dst, const CSDirEnt &src) {
  kyr_copy_KyrDirEntryStruct(dst, &src);
  const int maxDevices = static_cast<int>(sizeof dst->videoDevice / sizeof dst->videoDevice[0]);
  int devices = src.videoDeviceCount < 0 ? 0 : src.videoDeviceCount;
  if (devices > maxDevices) devices = maxDevices;
  dst->videoDeviceCount = devices;
  for (int d = 0; d < devices; d++) {
    const CSVideoDevice &sd = src.videoDevice[d];
    DirVideoDeviceStruct &dd = dst->videoDevice[d];
    kyr_copy_DirVideoDeviceStruct(&dd, &sd);
    const int maxAddrs = static_cast<int>(sizeof dd.addr / sizeof dd.addr[0]);
    int addrs = sd.addrCount < 0 ? 0 : sd.addrCount;
    if (addrs > maxAddrs) addrs = maxAddrs;
    dd.addrCount = addrs;
    for (int a = 0; a < addrs; a++) kyr_copy_text(dd.addr[a].text, sizeof dd.addr[a].text, sd.addr[a]);
  }
}

/* Local (DEBUG) logging is switched off while any search pages through a
 * list, and put back as the first of them found it when the last ends. */
std::mutex s_logMu;
int s_quietSearches = 0;
int s_logWasOn = 0;

struct QuietLogging {
  QuietLogging() {
    std::lock_guard<std::mutex> g(s_logMu);
    if (s_quietSearches++ == 0) {
      s_logWasOn = ccom_debug_on() ? 1 : 0;
      csLogLocalEnable(0);
    }
  }
  ~QuietLogging() {
    std::lock_guard<std::mutex> g(s_logMu);
    if (--s_quietSearches == 0) csLogLocalEnable(s_logWasOn);
  }
  QuietLogging(const QuietLogging &) = delete;
  QuietLogging &operator=(const QuietLogging &) = delete;
};

/* The comm subsystem and conference 0 a dial goes to; 0 or the code. */
int resolve_conference(CSConf *conf, const char *who) {
  CSComm comm;
  memset(&comm, 0, sizeof comm);
  int rc = csCommGet(&comm, instance());
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: csCommGet error (error:%d, %s)\n", who, rc, csErrorString());
    return rc;
  }
  rc = csConfGet(conf, &comm, 0);
  if (rc != 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: csConfGet error (error:%d, %s)\n", who, rc, csErrorString());
  return rc;
}

/* One entry's address list from Java into dst: the count must be 1..10;
 * every text is cut to its field and terminated. false (logged) when the
 * count is out of range. */
bool take_address_list(CSAddressList *dst, const DirAddressListStruct &src, const char *who) {
  if (src.count <= 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s no addresses to dial\n", who);
    return false;
  }
  if (src.count > KYR_DIR_MAX_ADDRESSES) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: %d addresses in one list, at most %d can be dialled\n", who, src.count,
                   KYR_DIR_MAX_ADDRESSES);
    return false;
  }
  memset(dst, 0, sizeof *dst);
  dst->listCount = src.count;
  for (int i = 0; i < src.count; i++) {
    dst->list[i].rate = src.entries[i].rate;
    kyr_copy_text(dst->list[i].Address, sizeof dst->list[i].Address, src.entries[i].address);
  }
  kyr_copy_text(dst->siteName, sizeof dst->siteName, src.siteName);
  return true;
}

bool release_record(int64_t handle, size_t size) {
  if (handle < KYR_HANDLE_MIN || handle > KYR_HANDLE_MAX) {
    if (handle != 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "release of an unknown record %lld ignored\n", (long long)handle);
    return false;
  }
  const int32_t h = static_cast<int32_t>(handle);
  if (kyr_handle_capacity(h) != size || !kyr_handle_resolve(h, size, KYR_HANDLE_RECORD)) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "release of record %d ignored: not a record of %zu bytes\n", (int)h, size);
    return false;
  }
  free(kyr_handle_release(h, KYR_HANDLE_RECORD, kTag));
  return true;
}

/* A heap record Java owns until it releases it; its handle or -1. */
template <typename T>
int32_t new_record(T **out) {
  T *rec = static_cast<T *>(calloc(1, sizeof(T)));
  if (!rec) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "out of memory for a record of %zu bytes\n", sizeof(T));
    return -1;
  }
  int32_t h = kyr_handle_register(rec, sizeof(T), KYR_HANDLE_RECORD);
  if (h < 0) {
    free(rec);
    return -1;
  }
  *out = rec;
  return h;
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

extern "C" int64_t DirectoryGetEntry(const char *serverId, const char *entryId) {
  CSDirSrvr server;
  if (!serverId || !entryId || !DirectoryFindServer(serverId, &server)) return 0;
  std::unique_ptr<CSDirEnt> ent(new (std::nothrow) CSDirEnt());
  if (!ent) return 0;
  int rc = csDirEntGet(ent.get(), &server, kEntryTimeoutMs, entryId);
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryGetEntry: csDirEntGet error (error:%d, %s)\n", rc, csErrorString());
    return 0;
  }
  KyrDirEntryStruct *rec = nullptr;
  int32_t h = new_record(&rec);
  if (h < 0) return 0;
  fill_entry(rec, *ent);
  return h;
}

extern "C" int DirectoryDialEntry(const void *buf, size_t len) {
  static const char kWho[] = "DirectoryDialEntry";
  if (!buf || len < sizeof(DirAddressListStruct)) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: no address list of %zu bytes given\n", kWho, sizeof(DirAddressListStruct));
    return -1;
  }
  DirAddressListStruct in;
  memcpy(&in, buf, sizeof in); /* Java's buffer need not be aligned */
  CSAddressList list;
  if (!take_address_list(&list, in, kWho)) return -1;
  CSConf conf;
  memset(&conf, 0, sizeof conf);
  int rc = resolve_conference(&conf, kWho);
  if (rc != 0) return rc;
  rc = csConfTermDialList(&conf, &list, 0);
  if (rc < 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryDialEntry: csConfTermDialList error (error:%d, %s)\n", rc,
                   csErrorString());
    if (rc == CSAPI_ERR_BAD_ADDRESS) post_error(ERROR_REASON_DIAL_BAD_ADDRESS);
  }
  return rc;
}

extern "C" int DirectoryDialGroup(const void *buf, size_t len) {
  static const char kWho[] = "DirectoryDialGroup";
  const size_t head = offsetof(DirAddressListArrayStruct, lists);
  int32_t count = 0;
  if (buf && len >= head) memcpy(&count, buf, sizeof count);
  if (!buf || len < head) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: no address list array given\n", kWho);
    return -1;
  }
  if (count <= 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryDialGroup no addresses to dial\n");
    return -1;
  }
  if (count > KYR_DIR_MAX_GROUP_LISTS) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: %d lists in one group, at most %d can be dialled\n", kWho, count,
                   KYR_DIR_MAX_GROUP_LISTS);
    return -1;
  }
  if (len < head + sizeof(DirAddressListStruct) * static_cast<size_t>(count)) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: %d lists do not fit in %zu bytes\n", kWho, count, len);
    return -1;
  }
  std::unique_ptr<CSAddressListArray> array(new (std::nothrow) CSAddressListArray());
  if (!array) return -1;
  const char *lists = static_cast<const char *>(buf) + head;
  for (int i = 0; i < count; i++) {
    DirAddressListStruct in;
    memcpy(&in, lists + sizeof in * static_cast<size_t>(i), sizeof in); /* Java's buffer need not be aligned */
    if (!take_address_list(&array->list[i], in, kWho)) return -1;
  }
  array->listCount = count;
  CSConf conf;
  memset(&conf, 0, sizeof conf);
  int rc = resolve_conference(&conf, kWho);
  if (rc != 0) return rc;
  rc = csConfTermDialListArray(&conf, array.get(), 0);
  if (rc < 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryDialGroup: csConfTermDialList error (error:%d, %s)\n", rc,
                   csErrorString());
    if (rc == CSAPI_ERR_FULL || rc == CSAPI_ERR_OUT_OF_RANGE) post_error(ERROR_REASON_GROUP_DIAL_FAILED);
  }
  return rc;
}

extern "C" DirectorySearchResult DirectorySearch(const char *serverId, const KyrDirEntryStruct *filterIn,
                                                 unsigned int attrs, int totalNames, int namesPerPage,
                                                 DirectoryPageFn page, void *ctx) {
  CSDirSrvr server;
  if (!serverId || !DirectoryFindServer(serverId, &server)) {
    kyr_log_printf(KYR_LOG_WARN, kTag, "DirectoryAsyncSearch: no known directory server \"%s\"\n",
                   serverId ? serverId : "(null)");
    return KYR_DIR_SEARCH_NOTHING;
  }
  if (!filterIn || !page) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryAsyncSearch: no filter given\n");
    return KYR_DIR_SEARCH_NOTHING;
  }
  std::unique_ptr<CSDirEnt> filter(new (std::nothrow) CSDirEnt());
  std::unique_ptr<CSDirList> list(new (std::nothrow) CSDirList());
  if (!filter || !list) return KYR_DIR_SEARCH_FAILED;
  filter->entryType = filterIn->entryType;
  KYR_COPY_ARRAY_CHAR(filter->id, filterIn->id);
  KYR_COPY_ARRAY_CHAR(filter->displayName, filterIn->displayName);
  KYR_COPY_ARRAY_CHAR(filter->fullName, filterIn->fullName);
  KYR_COPY_ARRAY_CHAR(filter->firstName, filterIn->firstName);
  KYR_COPY_ARRAY_CHAR(filter->lastName, filterIn->lastName);

  const int handle = csDirSrvrListStart(&server, totalNames, filter.get(), attrs);
  if (handle < 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "csDirSrvrListStart error %s)\n", csErrorString());
    return KYR_DIR_SEARCH_FAILED;
  }
  QuietLogging quiet;
  int emptyPages = 0;
  long delivered = 0;
  for (;;) {
    memset(list.get(), 0, sizeof *list);
    int rc = csDirListGet(list.get(), &server, handle, kPageTimeoutMs, namesPerPage);
    if (rc == CSAPI_ERR_EOF) {
      csDirSrvrListStop(&server, handle);
      return KYR_DIR_SEARCH_COMPLETE;
    }
    if (rc < 0) {
      kyr_log_printf(KYR_LOG_ERROR, kTag, "csDirListGet error (%d) %s\n", rc, csErrorString());
      csDirSrvrListStop(&server, handle);
      if (rc == CSAPI_ERR_BAD_PARAMETER) post_error(ERROR_REASON_DIR_SEARCH_BAD_PARAMETER);
      return KYR_DIR_SEARCH_FAILED;
    }
    const int capacity = static_cast<int>(sizeof list->list / sizeof list->list[0]);
    int n = list->listCount < 0 ? 0 : list->listCount;
    if (n > capacity) n = capacity;
    if (n == 0) {
      if (++emptyPages >= KYR_DIR_SEARCH_MAX_EMPTY_PAGES) {
        kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryAsyncSearch: %d empty pages in a row, search given up\n",
                       emptyPages);
        csDirSrvrListStop(&server, handle);
        return KYR_DIR_SEARCH_FAILED;
      }
      continue;
    }
    emptyPages = 0;
    if (delivered + n > KYR_DIR_SEARCH_MAX_ENTRIES) n = static_cast<int>(KYR_DIR_SEARCH_MAX_ENTRIES - delivered);
    kyr_list nodes = KYR_LIST_INIT;
    for (int i = 0; i < n; i++) {
      auto *node = static_cast<KyrDirEntryStruct *>(kyr_list_append(&nodes, sizeof(KyrDirEntryStruct), kTag));
      if (!node) {
        kyr_list_discard(&nodes);
        csDirSrvrListStop(&server, handle);
        return KYR_DIR_SEARCH_FAILED;
      }
      fill_entry(node, list->list[i]);
    }
    int64_t first = kyr_list_take(&nodes);
    delivered += n;
    if (page(ctx, first, handle) != 0) {
      csDirSrvrListStop(&server, handle);
      return KYR_DIR_SEARCH_FAILED;
    }
    if (delivered >= KYR_DIR_SEARCH_MAX_ENTRIES) {
      kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryAsyncSearch: %ld entries delivered, search ended\n", delivered);
      csDirSrvrListStop(&server, handle);
      return KYR_DIR_SEARCH_FAILED;
    }
  }
}

extern "C" void DirectoryReleaseList(int64_t head) { kyr_list_release(head, kTag); }
extern "C" void DirectoryReleaseEntry(int64_t handle) { release_record(handle, sizeof(KyrDirEntryStruct)); }
extern "C" void DirectoryReleaseEntryChanged(int64_t handle) { release_record(handle, sizeof(DirEntryChangedStruct)); }

extern "C" void DirectoryDebugSetEventSink(DirectoryEventSink sink) {
  std::lock_guard<std::mutex> g(s_sinkMu);
  s_sink = sink;
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

namespace {

/* An entry event for a known, enabled, online server: the server named by
 * the entry id's part before the first colon. */
void entry_event(const CSDirEnt *record, int code) {
  if (!record) return;
  char serverId[sizeof record->id];
  kyr_copy_text(serverId, sizeof serverId, record->id);
  char *colon = strchr(serverId, ':');
  if (colon) *colon = '\0';
  CSDirSrvr server;
  if (!DirectoryFindServer(serverId, &server) || server.enabled != 1 || server.status != KYR_DIR_SERVER_ONLINE)
    return;
  DirEntryChangedStruct *rec = nullptr;
  int32_t h = new_record(&rec);
  if (h < 0) return;
  KYR_COPY_ARRAY_CHAR(rec->serverId, server.id);
  KYR_COPY_ARRAY_CHAR(rec->entryId, record->id);
  post(code, h, 0, nullptr);
}

}  // namespace

extern "C" void on_dir_entry_added(const CSDirEnt *record, unsigned int, uintptr_t) {
  entry_event(record, EVENT_DIR_ENTRY_ADDED);
}
extern "C" void on_dir_entry_removed(const CSDirEnt *record, unsigned int, uintptr_t) {
  entry_event(record, EVENT_DIR_ENTRY_REMOVED);
}
extern "C" void on_dir_entry_changed(const CSDirEnt *record, unsigned int, uintptr_t) {
  entry_event(record, EVENT_DIR_ENTRY_CHANGED);
}

/* ---- JNI entry points ---- */

namespace {

const char kSearchCallback[] = "searchResultsCallback";
const char kSearchCallbackSig[] = "(JJLquorvex/kyrconnectservice/DirectorySubSystemInterface$SearchParams;)V";

/* What one search hands to Java: its own class and method ID, so two
 * searches on two threads never use each other's. */
struct JavaPages {
  JNIEnv *env;
  jobject target;
  jmethodID mid;
  jobject params;
};

int deliver_page(void *ctx, int64_t first, int listHandle) {
  auto *p = static_cast<JavaPages *>(ctx);
  p->env->CallVoidMethod(p->target, p->mid, static_cast<jlong>(first), static_cast<jlong>(listHandle), p->params);
  /* A throwing callback ends the search; the nodes it was given stay Java's. */
  return jni_check_exception(p->env, kTag, kSearchCallback) ? -1 : 0;
}

}  // namespace

KYR_DIR_JNI(jint, NativeDirectoryDialEntry)(JNIEnv *env, jobject, jobject buf) {
  JniDirect view(env, buf, sizeof(DirAddressListStruct));
  if (!view.ok()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryDialEntry: no direct buffer of %zu bytes given\n",
                   sizeof(DirAddressListStruct));
    return -1;
  }
  return DirectoryDialEntry(view.data(), view.size());
}

KYR_DIR_JNI(jint, NativeDirectoryDialGroup)(JNIEnv *env, jobject, jobject buf) {
  JniDirect view(env, buf, offsetof(DirAddressListArrayStruct, lists));
  if (!view.ok()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryDialGroup: no direct buffer given\n");
    return -1;
  }
  return DirectoryDialGroup(view.data(), view.size());
}

KYR_DIR_JNI(void, NativeDirectoryAsyncSearch)(JNIEnv *env, jobject thiz, jstring serverId, jobject filter, jint attrs,
                                              jint totalNames, jint namesPerPage, jobject params) {
  JniUtf id(env, serverId);
  JniDirect view(env, filter, sizeof(KyrDirEntryStruct));
  if (!view.ok()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryAsyncSearch: no filter of %zu bytes given\n",
                   sizeof(KyrDirEntryStruct));
    return;
  }
  jclass cls = env->GetObjectClass(thiz);
  if (!cls) {
    jni_check_exception(env, kTag, "GetObjectClass");
    return;
  }
  jmethodID mid = jni_method(env, kTag, cls, kSearchCallback, kSearchCallbackSig);
  env->DeleteLocalRef(cls);
  if (!mid) return;
  /* Java may change the filter buffer while the search runs: work on a copy. */
  std::unique_ptr<KyrDirEntryStruct> copy(new (std::nothrow) KyrDirEntryStruct());
  if (!copy) return;
  memcpy(copy.get(), view.data(), sizeof *copy);
  JavaPages pages{env, thiz, mid, params};
  DirectorySearchResult r = DirectorySearch(id.get(), copy.get(), static_cast<unsigned int>(attrs), totalNames,
                                            namesPerPage, deliver_page, &pages);
  if (r == KYR_DIR_SEARCH_COMPLETE) post(EVENT_DIR_SEARCH_DONE, 0, 0, params);
}

KYR_DIR_JNI(jlong, NativeDirectoryGetEntry)(JNIEnv *env, jobject, jstring serverId, jstring entryId) {
  JniUtf server(env, serverId);
  JniUtf entry(env, entryId);
  return kyr_handle_result(DirectoryGetEntry(server.get(), entry.get()));
}

KYR_DIR_JNI(jlong, NativeDirectoryGetServers)(JNIEnv *, jobject, jint mask) {
  return kyr_handle_result(DirectoryGetServers(static_cast<unsigned int>(mask)));
}

KYR_DIR_JNI(jint, NativeDirectoryGetNumberServers)(JNIEnv *, jobject, jint mask) {
  return DirectoryGetNumberServers(static_cast<unsigned int>(mask));
}

KYR_DIR_JNI(jlong, NativeGetDirectorySystem)(JNIEnv *, jobject) { return kyr_handle_result(DirectoryGetSystem()); }

KYR_DIR_JNI(jlong, NativeGetDirectorySettings)(JNIEnv *, jobject) {
  return kyr_settings_result(GetDirectorySystemSettings());
}

KYR_DIR_JNI(jint, NativeSetDirectorySettings)(JNIEnv *env, jobject, jstring key, jstring value) {
  JniUtf k(env, key);
  JniUtf v(env, value);
  return SetDirectorySystemSettings(k.get(), v.get());
}

/* Editing the directory from the phone is not offered: accepted, nothing done. */
#define KYR_DIR_NOT_OFFERED(name) \
  KYR_DIR_JNI(jint, name)(JNIEnv *, jobject) { return 0; }
KYR_DIR_NOT_OFFERED(NativeDirectoryAddEntry)
KYR_DIR_NOT_OFFERED(NativeDirectoryDeleteEntry)
KYR_DIR_NOT_OFFERED(NativeDirectoryModifyEntry)
KYR_DIR_NOT_OFFERED(NativeDirectoryAddEntryToGroup)
KYR_DIR_NOT_OFFERED(NativeDirectoryDeleteEntryFromGroup)
#undef KYR_DIR_NOT_OFFERED

KYR_DIR_JNI(void, NativeDirectorySettingsRelease)(JNIEnv *, jobject, jlong head) { SettingsListRelease(head); }
KYR_DIR_JNI(void, NativeDirectoryReleaseSearchResults)(JNIEnv *, jobject, jlong head) { DirectoryReleaseList(head); }
KYR_DIR_JNI(void, NativeDirectoryReleaseServerList)(JNIEnv *, jobject, jlong head) { DirectoryReleaseList(head); }
KYR_DIR_JNI(void, NativeDirectoryReleaseEntry)(JNIEnv *, jobject, jlong handle) { DirectoryReleaseEntry(handle); }
KYR_DIR_JNI(void, NativeDirectoryReleaseDirEntryChanged)(JNIEnv *, jobject, jlong handle) {
  DirectoryReleaseEntryChanged(handle);
}

/* ---- the module's part in the connection's life (service/kyr_modules.h) ---- */

/* The servers belong to the connection that reported them. */
extern "C" void kyr_directory_on_connect(int) { DirectoryForgetServers(); }
extern "C" void kyr_directory_on_loss(int) { DirectoryForgetServers(); }
