#include "service/interfaces/calendar.h"

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"
#include "service/interfaces/settings.h"


/* Java reads the record behind the link word with the layouts' offsets, so
 * every field of the layouts must sit exactly 4 bytes after the record's. */
#define KYR_CAL_CHECK_ROW(Node, Rec, n) \
  static_assert(offsetof(Node, n) == offsetof(Rec, n) + 4, #Node "." #n " must follow the record");
#define KYR_CAL_CHECK_SRVR(t, n, c, a, ...) KYR_CAL_CHECK_ROW(CalendarServerInfoStruct, CSCalSrvr, n)
#define KYR_CAL_CHECK_MEETING(t, n, c, a, ...) KYR_CAL_CHECK_ROW(CalendarMeetingInfoStruct, CSCalMeeting, n)
CS_FIELDS_CalSrvr(KYR_CAL_CHECK_SRVR)
CS_FIELDS_CalMeeting(KYR_CAL_CHECK_MEETING)
/* The calendar record is posted as it is (no link word). */
#define KYR_CAL_CHECK_CAL(t, n, c, a, ...) \
  static_assert(offsetof(CalendarStruct, n) == offsetof(CSCal, n), "CalendarStruct." #n " must match the record");
CS_FIELDS_Cal(KYR_CAL_CHECK_CAL)
static_assert(sizeof(CSCal) == sizeof(CalendarStruct), "CalendarStruct is the record");
#undef KYR_CAL_CHECK_CAL
static_assert(sizeof(CSCalSrvr) + 4 == sizeof(CalendarServerInfoStruct), "server node is link + record");
static_assert(sizeof(CSCalMeeting) + 4 == sizeof(CalendarMeetingInfoStruct), "meeting node is link + record");
#undef KYR_CAL_CHECK_ROW
#undef KYR_CAL_CHECK_SRVR
#undef KYR_CAL_CHECK_MEETING

namespace {

const char *const kTag = KYR_CAL_TAG;

const char *const kSrvrFail = "can't get CALENDAR SERVER (protocol=%d) object, err=%d (%s)\n";
const char *const kSrvrFailAll = "can't get CALENDAR server for protocol %d, err=%d (%s)\n";

/* The calendar record and the first server of the protocol. 0, or the
 * failing call's code (logged with srvr_fail for the server read). */
int fetch_server(int protocol, CSCalSrvr *srvr, const char *srvr_fail) {
  if (protocol != KYR_CAL_PROTOCOL) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "protocol=%d is invalid\n", protocol);
    return -1;
  }
  CSCal cal;
  memset(&cal, 0, sizeof cal);
  int rc = csCalGet(&cal, kyr_server_instance());
  if (rc < 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "can't get CALENDAR object, err=%d (%s)\n", rc, csErrorString());
    return rc;
  }
  memset(srvr, 0, sizeof *srvr);
  rc = csCalSrvrGet(srvr, &cal, 0, protocol);
  if (rc < 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, srvr_fail, protocol, rc, csErrorString());
    return rc;
  }
  return 0;
}

/* A one-node list holding a copy of rec (size bytes) behind the link word. */
int64_t node_of(const void *rec, size_t size) {
  int32_t h = kyr_node_copy(rec, size, kTag);
  return h > 0 ? h : 0;
}

int64_t server_node(int protocol, const char *srvr_fail) {
  CSCalSrvr srvr;
  if (fetch_server(protocol, &srvr, srvr_fail) < 0) return 0;
  return node_of(&srvr, sizeof srvr);
}

/* Appends every meeting of a chunk; false when memory ran out. */
bool append_chunk(kyr_list *out, const CSCalList &chunk, int count) {
  for (int i = 0; i < count; i++) {
    auto *node = static_cast<CalendarMeetingInfoStruct *>(kyr_list_append(out, sizeof(CalendarMeetingInfoStruct), kTag));
    if (!node) return false;
    memcpy(reinterpret_cast<char *>(node) + 4, &chunk.list[i], sizeof(CSCalMeeting));
  }
  return true;
}

}  // namespace

extern "C" int64_t kyr_cal_get_server(int protocol) { return server_node(protocol, kSrvrFail); }

extern "C" int64_t kyr_cal_get_servers(void) { return server_node(KYR_CAL_PROTOCOL, kSrvrFailAll); }

extern "C" int64_t kyr_cal_get_meeting(int protocol, const char *id) {
  CSCalSrvr srvr;
  if (fetch_server(protocol, &srvr, kSrvrFail) < 0) return 0;
  if (srvr.status != KYR_CAL_STATUS_ONLINE || !id) return 0;
  CSCalMeeting meeting;
  memset(&meeting, 0, sizeof meeting);
  int rc = csCalMeetingGet(&meeting, &srvr, 1000, id);
  if (rc < 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, kSrvrFail, protocol, rc, csErrorString());
    return 0;
  }
  return node_of(&meeting, sizeof meeting);
}

extern "C" int64_t kyr_cal_get_meetings(int protocol, int64_t start, int64_t end) {
  CSCalSrvr srvr;
  if (fetch_server(protocol, &srvr, kSrvrFail) < 0) return 0;
  if (srvr.status != KYR_CAL_STATUS_ONLINE) return 0;

  CSCalMeeting filter;
  memset(&filter, 0, sizeof filter);
  filter.srvrType = srvr.protocol;
  filter.startTime = static_cast<uint32_t>(start);
  filter.endTime = static_cast<uint32_t>(end);
  int list_handle = csCalSrvrListStart(&srvr, KYR_CAL_CHUNK, &filter, 0xFFFFFFFFu);
  if (list_handle < 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "can't get CALENDAR SERVER (protocol=%d), listHandle=%d (%s)\n", protocol,
                   list_handle, csErrorString());
    return 0;
  }

  /* One chunk is 64 whole meeting records: too big for a Java thread's stack. */
  std::unique_ptr<CSCalList> chunk(new (std::nothrow) CSCalList());
  kyr_list out = KYR_LIST_INIT;
  bool ok = chunk != nullptr;
  int empty = 0;
  while (ok) {
    memset(chunk.get(), 0, sizeof *chunk);
    int rc = csCalListGet(chunk.get(), &srvr, list_handle, 6000, KYR_CAL_CHUNK);
    if (rc == -7) break; /* end of the list */
    if (rc < 0) {
      kyr_log_printf(KYR_LOG_ERROR, kTag, "can't get CALENDAR meetings (protocol=%d) object, err=%d (%s)\n", protocol,
                     rc, csErrorString());
      break;
    }
    int count = chunk->listCount;
    if (count <= 0) {
      if (++empty >= KYR_CAL_MAX_EMPTY_CHUNKS) {
        kyr_log_printf(KYR_LOG_ERROR, kTag, "meeting list gave %d empty chunks in a row, stopped after %zu meetings\n",
                       empty, out.count);
        break;
      }
      continue;
    }
    empty = 0;
    if (count > KYR_CAL_CHUNK) count = KYR_CAL_CHUNK;
    size_t room = KYR_CAL_MAX_MEETINGS - out.count;
    bool full = static_cast<size_t>(count) >= room;
    if (full) count = static_cast<int>(room);
    ok = append_chunk(&out, *chunk, count);
    if (ok && full) {
      kyr_log_printf(KYR_LOG_ERROR, kTag, "meeting list stopped at %d meetings\n", KYR_CAL_MAX_MEETINGS);
      break;
    }
  }
  chunk.reset();
  csCalSrvrListStop(&srvr, list_handle);
  if (!ok) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "out of memory for the meeting list, %zu meetings dropped\n", out.count);
    kyr_list_discard(&out);
    return 0;
  }
  return kyr_list_take(&out);
}

extern "C" int kyr_cal_release(int64_t head) { return kyr_list_release(head, kTag); }

/* ---- notifications ---- */

namespace {

/* Posts code with a one-node copy of rec as value1 (Java owns it then;
 * kyr_post frees one nobody received), or nothing when there is no record
 * or no memory. */
void post_node(int code, const void *rec, size_t size, unsigned int flags) {
  if (!rec) return;
  int64_t h = node_of(rec, size);
  if (h <= 0) return;
  kyr_post(code, static_cast<int>(h), static_cast<int>(flags), nullptr);
}

}  // namespace

extern "C" void on_cal_changed(const CSCal *record, unsigned int flags, uintptr_t) {
  if (!record) return;
  /* The record is Java's to read only while the event is delivered. */
  int32_t h = kyr_handle_register(const_cast<CSCal *>(record), sizeof *record, KYR_HANDLE_RECORD);
  if (h < 0) return;
  kyr_post(EVENT_CAL_CHANGED, h, static_cast<int>(flags), nullptr);
  kyr_handle_release(h, KYR_HANDLE_RECORD, kTag);
}

extern "C" void on_cal_server_changed(const CSCalSrvr *record, unsigned int flags, uintptr_t) {
  if (!record) return;
  int64_t updates = GetCalendarSettingsUpdates(record, flags);
  kyr_post(EVENT_CAL_SETTINGS_CHANGED, static_cast<int32_t>(updates), 0, nullptr);
  post_node(EVENT_CAL_SERVER_CHANGED, record, sizeof *record, flags);
}

#define KYR_CAL_MEETING_CALLBACKS(X)                   \
  X(on_cal_meeting_added, EVENT_CAL_MEETING_ADDED)     \
  X(on_cal_meeting_removed, EVENT_CAL_MEETING_REMOVED) \
  X(on_cal_meeting_changed, EVENT_CAL_MEETING_CHANGED)
#define KYR_CAL_MEETING_CALLBACK(fn, code)                                        \
  extern "C" void fn(const CSCalMeeting *record, unsigned int flags, uintptr_t) { \
    post_node(code, record, sizeof(CSCalMeeting), flags);                         \
  }
KYR_CAL_MEETING_CALLBACKS(KYR_CAL_MEETING_CALLBACK)
#undef KYR_CAL_MEETING_CALLBACK

/* ---- JNI entry points of quorvex.kyrconnectservice.CalendarSubSystemInterface ---- */

#define KYR_CAL_JNI(name) Java_quorvex_kyrconnectservice_CalendarSubSystemInterface_##name

extern "C" {

KYR_API JNIEXPORT jlong JNICALL KYR_CAL_JNI(NativeGetServer)(JNIEnv *, jobject, jint protocol) {
  return kyr_handle_result(kyr_cal_get_server(protocol));
}

KYR_API JNIEXPORT jlong JNICALL KYR_CAL_JNI(NativeGetServers)(JNIEnv *, jobject) {
  return kyr_handle_result(kyr_cal_get_servers());
}

KYR_API JNIEXPORT jlong JNICALL KYR_CAL_JNI(NativeGetMeeting)(JNIEnv *env, jobject, jint protocol, jstring id) {
  JniUtf text(env, id);
  return kyr_handle_result(kyr_cal_get_meeting(protocol, text.get()));
}

KYR_API JNIEXPORT jlong JNICALL KYR_CAL_JNI(NativeGetMeetings)(JNIEnv *, jobject, jint protocol, jlong start,
                                                              jlong end) {
  return kyr_handle_result(kyr_cal_get_meetings(protocol, start, end));
}

KYR_API JNIEXPORT jlong JNICALL KYR_CAL_JNI(NativeGetCalendarSettings)(JNIEnv *, jobject) {
  return kyr_settings_result(GetCalendarSystemSettings());
}

KYR_API JNIEXPORT jint JNICALL KYR_CAL_JNI(NativeSetCalendarSettings)(JNIEnv *env, jobject, jstring key,
                                                                     jstring value) {
  JniUtf k(env, key), v(env, value);
  return SetCalendarSystemSettings(k.get(), v.get());
}

KYR_API JNIEXPORT void JNICALL KYR_CAL_JNI(NativeCalendarServerInfoRelease)(JNIEnv *, jobject, jlong head) {
  kyr_cal_release(head);
}

KYR_API JNIEXPORT void JNICALL KYR_CAL_JNI(NativeCalendarMeetingInfoRelease)(JNIEnv *, jobject, jlong head) {
  kyr_cal_release(head);
}

KYR_API JNIEXPORT void JNICALL KYR_CAL_JNI(NativeCalendarSettingsRelease)(JNIEnv *, jobject, jlong head) {
  SettingsListRelease(head);
}

}  // extern "C"
