/* Comm's module state (last conference and terminal, call states, the
 * Java-visible snapshots) and the communication notification handlers. */
#include <string.h>

#include <atomic>
#include <mutex>

#include "service/interfaces/comm_internal.h"
#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"
#include "service/kyr_cache.h"

using namespace comm_impl;

namespace {

/* ---- module state ---- */

std::mutex s_confMu;
CSConf s_conf;
bool s_confSet = false;

std::mutex s_termMu;
CSTerm s_term;
bool s_termSet = false;

/* The Java-visible snapshots, one lock per kind. Java reads them while the
 * event naming them is posted, so only the worker rewrites the event
 * entries; the system structure is also refreshed by NativeGetCommSystem. */
std::mutex s_callEntryMu;
KyrCallStruct s_callEntry;
std::mutex s_conferenceEntryMu;
KyrConferenceStruct s_conferenceEntry;
std::mutex s_commSystemMu;
CommSystemStruct s_commSystem;

std::atomic<int> s_CallState{KYR_CALL_DIALING};
std::atomic<int> s_CallAuthenticationState{0};
std::atomic<int> s_archiveTime{0};
std::atomic<comm_event_sink> s_sink{nullptr};

#define KYR_CALL_STATE_TEXT(name, value, text) text,
const char *const kCallStateNames[] = {KYR_CALL_STATE_LIST(KYR_CALL_STATE_TEXT)};
#undef KYR_CALL_STATE_TEXT
const char *const kAuthStateNames[] = {"None", "NeedsAuthenticating", "Authenticating", "Authenticated"};

template <typename T>
void post_settings(callback_cookie *cookie, int64_t (*convert)(const T *, unsigned int), const char *name,
                   const T *record, unsigned int flags) {
  int64_t list = 0;
  if (convert)
    list = convert(record, flags);
  else
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s is not linked in; settings event without a list\n", name);
  post(cookie, EVENT_COMM_SETTINGS_CHANGED, list > 0 ? static_cast<int>(list) : 0, 0);
}

}  // namespace

namespace comm_impl {

/* Every event goes to Java through kyr_post, or to a test's sink. */
void post(callback_cookie *cookie, int code, int value1, int value2) {
  comm_event_sink sink = s_sink.load();
  if (sink)
    sink(cookie, code, value1, value2, nullptr);
  else
    kyr_post(code, value1, value2, nullptr);
}

/* From a Java thread or the dispatch thread, which hold no cookie. */
void post_from_caller(int code, int value1, int value2) { post(nullptr, code, value1, value2); }

void set_call_state(int state) { s_CallState = state; }

void remember_conf(const CSConf *conf) {
  std::lock_guard<std::mutex> g(s_confMu);
  s_conf = *conf;
  s_confSet = true;
}

void fill_comm_system(const CSComm *comm) {
  std::lock_guard<std::mutex> g(s_commSystemMu);
  memset(&s_commSystem, 0, sizeof s_commSystem);
  kyr_copy_CommSystemStruct(&s_commSystem, comm);
  int n = comm->dialOrderCount;
  if (n < 0) n = 0;
  if (n > KYR_COMM_MAX_DIAL_ADDRESSES) n = KYR_COMM_MAX_DIAL_ADDRESSES;
  s_commSystem.dialOrderCount = n;
  for (int i = 0; i < n; i++) {
    s_commSystem.dialOrder[2 * i] = static_cast<int32_t>(comm->dialOrder[i].videoOrder);
    s_commSystem.dialOrder[2 * i + 1] = static_cast<int32_t>(comm->dialOrder[i].voiceOrder);
  }
}

}  // namespace comm_impl

/* ---- names ---- */

extern "C" const char *comm_call_state_name(unsigned int state) {
  return state < sizeof kCallStateNames / sizeof kCallStateNames[0] ? kCallStateNames[state] : "Unknown";
}

extern "C" const char *comm_auth_state_name(unsigned int state) {
  return state < sizeof kAuthStateNames / sizeof kAuthStateNames[0] ? kAuthStateNames[state] : "Unknown";
}

/* ---- module state ---- */

extern "C" int comm_call_state(void) { return s_CallState.load(); }
extern "C" int comm_call_auth_state(void) { return s_CallAuthenticationState.load(); }
extern "C" int comm_archive_time(void) { return s_archiveTime.load(); }

extern "C" int comm_last_conf(CSConf *out) {
  std::lock_guard<std::mutex> g(s_confMu);
  if (s_confSet && out) *out = s_conf;
  return s_confSet ? 1 : 0;
}

extern "C" int comm_last_term(CSTerm *out) {
  std::lock_guard<std::mutex> g(s_termMu);
  if (s_termSet && out) *out = s_term;
  return s_termSet ? 1 : 0;
}

extern "C" int32_t comm_call_entry_handle(void) { return kyr_static_handle(&s_callEntry, sizeof s_callEntry); }
extern "C" int32_t comm_conference_entry_handle(void) {
  return kyr_static_handle(&s_conferenceEntry, sizeof s_conferenceEntry);
}
extern "C" int32_t comm_system_handle(void) { return kyr_static_handle(&s_commSystem, sizeof s_commSystem); }

extern "C" void comm_debug_reset(void) {
  {
    std::lock_guard<std::mutex> g(s_confMu);
    memset(&s_conf, 0, sizeof s_conf);
    s_confSet = false;
  }
  {
    std::lock_guard<std::mutex> g(s_termMu);
    memset(&s_term, 0, sizeof s_term);
    s_termSet = false;
  }
  {
    std::lock_guard<std::mutex> g(s_callEntryMu);
    memset(&s_callEntry, 0, sizeof s_callEntry);
  }
  {
    std::lock_guard<std::mutex> g(s_conferenceEntryMu);
    memset(&s_conferenceEntry, 0, sizeof s_conferenceEntry);
  }
  {
    std::lock_guard<std::mutex> g(s_commSystemMu);
    memset(&s_commSystem, 0, sizeof s_commSystem);
  }
  s_CallState = KYR_CALL_DIALING;
  s_CallAuthenticationState = 0;
  s_archiveTime = 0;
}

extern "C" void comm_debug_set_event_sink(comm_event_sink sink) { s_sink = sink; }

/* ---- handlers ---- */

extern "C" void callStateEvent(void *) { post_from_caller(EVENT_COMM_CALL_STATE_CHANGED, s_CallState.load(), 0); }

extern "C" void on_term_changed(const CSTerm *record, unsigned int flags, uintptr_t userDefined) {
  if (!record) return;
  auto *cookie = reinterpret_cast<callback_cookie *>(userDefined);
  {
    std::lock_guard<std::mutex> g(s_termMu);
    s_term = *record;
    s_termSet = true;
  }
  if (flags & CSTERM_MUTED_FIELD) {
    kyr_log_printf(KYR_LOG_INFO, kTag, "term:%s mute changed mute: %d \n", record->name, (int)record->muted);
    post(cookie, EVENT_COMM_CALL_MUTE_CHANGED, record->id, static_cast<int>(record->muted));
  }
  if (flags & CSTERM_STATE_FIELD) {
    kyr_log_printf(KYR_LOG_INFO, kTag, "term:%s changed state:%s\n", record->name, comm_call_state_name(record->state));
    s_CallState = static_cast<int>(record->state);
    post(cookie, EVENT_COMM_CALL_STATE_CHANGED, static_cast<int>(record->state), static_cast<int>(record->causeCode));
    if (record->state == KYR_CALL_DISCONNECTED) {
      kyr_log_printf(KYR_LOG_INFO, kTag, "term:%s changed state:%s (update call log)\n", record->name,
                     comm_call_state_name(KYR_CALL_DISCONNECTED));
      {
        std::lock_guard<std::mutex> g(s_callEntryMu);
        memset(&s_callEntry, 0, sizeof s_callEntry);
        kyr_copy_KyrCallStruct(&s_callEntry, record);
      }
      kyr_log_printf(KYR_LOG_INFO, kTag, "term:%s changed state:%s (sending EVENT_COMM_CALL_LIST_CHANGED event)\n",
                     record->name, comm_call_state_name(KYR_CALL_DISCONNECTED));
      post(cookie, EVENT_COMM_CALL_LIST_CHANGED, static_cast<int>(kyr_handle_result(comm_call_entry_handle())), 0);
    }
  }
  if (flags & CSTERM_AUTH_STATE_FIELD) {
    kyr_log_printf(KYR_LOG_INFO, kTag, "term:%s authentication state:%s\n", record->name,
                   comm_auth_state_name(record->authState));
    s_CallAuthenticationState = static_cast<int>(record->authState);
    post(cookie, EVENT_COMM_CALL_AUTH_STATE_CHANGED, static_cast<int>(record->authState), record->id);
  }
}

extern "C" void on_conf_changed(const CSConf *record, unsigned int flags, uintptr_t userDefined) {
  if (!record) return;
  remember_conf(record);
  {
    std::lock_guard<std::mutex> g(s_conferenceEntryMu);
    memset(&s_conferenceEntry, 0, sizeof s_conferenceEntry);
    kyr_copy_KyrConferenceStruct(&s_conferenceEntry, record);
  }
  post(reinterpret_cast<callback_cookie *>(userDefined), EVENT_COMM_CONFERENCE_CHANGED,
       static_cast<int>(kyr_handle_result(comm_conference_entry_handle())), static_cast<int>(flags));
}

extern "C" void on_comm_changed(const CSComm *record, unsigned int flags, uintptr_t userDefined) {
  if (!record) return;
  auto *cookie = reinterpret_cast<callback_cookie *>(userDefined);
  if (flags & CSCOMM_NUM_PENDING_TERMS_FIELD) {
    kyr_log_printf(KYR_LOG_INFO, kTag, "comm: %d pending terminals\n", (int)record->numPendingTerms);
    CSComm *cached = kyr_cache_comm_lock();
    bool changed = cached->numPendingTerms != record->numPendingTerms;
    kyr_cache_comm_unlock();
    if (changed) {
      post(cookie, EVENT_COMM_PENDING_CALLS_CHANGED, 0, 0);
      s_CallState = KYR_CALL_INCOMING;
    }
  }
  kyr_cache_comm_store(record);
  fill_comm_system(record);
  post(cookie, EVENT_COMM_SYSTEM_CHANGED, static_cast<int>(kyr_handle_result(comm_system_handle())),
       static_cast<int>(flags));
  post_settings(cookie, GetCommSettingsUpdates, "GetCommSettingsUpdates", record, flags);
}

#define KYR_COMM_NIC_HANDLER_LIST(X)                                    \
  X(on_isdn_nic_changed, IsdnNic, GetIsdnNicSettingsUpdates)            \
  X(on_line_changed, IsdnLine, GetLineSettingsUpdates)                  \
  X(on_h323_nic_changed, H323Nic, GetH323NicSettingsUpdates)            \
  X(on_sip_nic_changed, SipNic, GetSipNicSettingsUpdates)               \
  X(on_speakerphone_nic_changed, SpeakerPhoneNic, GetSpeakerphoneNicSettingsUpdates) \
  X(on_v35_nic_changed, V35Nic, GetV35NicSettingsUpdates)               \
  X(on_pots_nic_changed, PotsNic, GetPotsNicSettingsUpdates)

#define KYR_COMM_DEFINE_NIC_HANDLER(fn, Kind, convert)                                          \
  extern "C" void fn(const CS##Kind *record, unsigned int flags, uintptr_t userDefined) {      \
    if (!record) return;                                                                        \
    post_settings(reinterpret_cast<callback_cookie *>(userDefined), convert, #convert, record, flags); \
  }
KYR_COMM_NIC_HANDLER_LIST(KYR_COMM_DEFINE_NIC_HANDLER)
#undef KYR_COMM_DEFINE_NIC_HANDLER

extern "C" void on_recent_call_list_archived(const CSRecentCallArchive *record, unsigned int flags,
                                             uintptr_t userDefined) {
  if (!record || !(flags & CSRECENT_CALL_ARCHIVE_ARCHIVE_TIME_FIELD)) return;
  s_archiveTime = record->archiveTime;
  post(reinterpret_cast<callback_cookie *>(userDefined), EVENT_COMM_RECENT_CALLS_ARCHIVED, record->archiveTime, 0);
}
