/* Directory entries for Java: one entry looked up, a search paged to Java,
 * an entry's or a group's addresses dialled, and the events for entries
 * added, removed or changed. */
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <mutex>
#include <new>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "ipc/libccom/ccom.h"
#include "ipc/libccom/ccom_internal.h"
#include "service/interfaces/directory_internal.h"
#include "service/interfaces/kyr_addr_list.h"
#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"

static_assert(sizeof(KyrDirEntryStruct) == 4 + sizeof(CSDirEnt), "an entry node is a link and the entry record");

using namespace dir_impl;

namespace {

const int kEntryTimeoutMs = 30000;
const int kPageTimeoutMs = 60000;

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

/* The dials' refusals, worded as they always were. */
const kyr_addr_texts kEntryTexts = {
    KYR_DIR_TAG,
    "DirectoryDialEntry: no address list of %zu bytes given\n",
    "DirectoryDialEntry no addresses to dial\n",
    "DirectoryDialEntry: %d addresses in one list, at most %d can be dialled\n",
    nullptr,
    nullptr,
};
const kyr_addr_texts kGroupTexts = {
    KYR_DIR_TAG,
    "DirectoryDialGroup: no address list array given\n",
    "DirectoryDialGroup no addresses to dial\n",
    "DirectoryDialGroup: %d addresses in one list, at most %d can be dialled\n",
    "DirectoryDialGroup: %d lists in one group, at most %d can be dialled\n",
    "DirectoryDialGroup: %d lists do not fit in %zu bytes\n",
};

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
  CSAddressList list;
  if (kyr_addr_list_read(&list, buf, len, kEntryTexts) != 0) return -1;
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
  std::unique_ptr<CSAddressListArray> array(new (std::nothrow) CSAddressListArray());
  if (!array) return -1;
  if (kyr_addr_group_read(array.get(), buf, len, kGroupTexts) != 0) return -1;
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
