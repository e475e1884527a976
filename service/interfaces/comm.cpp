/* Calls and conferences for Java: the work behind CommSubSystemInterface,
 * its entry points and the communication notification handlers. */
#include "service/interfaces/comm.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <new>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "service/interfaces/kyr_fetch.h"
#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"
#include "service/interfaces/settings.h"
#include "service/kyr_cache.h"

namespace {

const char *const kTag = KYR_COMM_TAG;

/* A hostile or confused codec must not make one call loop for ever: counts
 * it reports are bounded by what a list can sensibly carry. */
const unsigned int kMaxCount = 100;

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

/* ---- events ---- */

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

void post_dial_error(int rc) {
  if (rc == -8) post_from_caller(EVENT_ERROR, ERROR_REASON_DIAL_BAD_ADDRESS, -1);
  if (rc == -12) post_from_caller(EVENT_ERROR, ERROR_REASON_DIAL_OUT_OF_RESOURCES, -1);
}

void request_call_state_event() {
  struct timeval delay = {0, 1000};
  if (requestTimedCallback(callStateEvent, nullptr, &delay) != 0)
    kyr_log_printf(KYR_LOG_ERROR, kTag, "call state event could not be scheduled\n");
}

/* ---- logging ---- */

int logged(const char *op, int rc) {
  if (rc < 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "%s error (error:%d, %s)\n", op, rc, kyr_err_text(rc));
  return rc;
}

/* ---- module state updates ---- */

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

int32_t system_handle() {
  return kyr_static_handle(&s_commSystem, sizeof s_commSystem);
}

/* ---- resolving a call ---- */

int fetch_comm(CSComm *comm) {
  memset(comm, 0, sizeof *comm);
  return logged("csCommGet", csCommGet(comm, kyr_server_instance()));
}

/* The subsystem, then conference `index`; keep: also remembered as the
 * module's last conference. */
int fetch_conf(CSComm *comm, CSConf *conf, int index, bool keep) {
  int rc = fetch_comm(comm);
  if (rc < 0) return rc;
  memset(conf, 0, sizeof *conf);
  rc = logged("csConfGet", csConfGet(conf, comm, static_cast<unsigned int>(index)));
  if (rc >= 0 && keep) remember_conf(conf);
  return rc;
}

/* Subsystem, conference and the terminal with id term; term_op names the
 * terminal fetch in the log line. */
int fetch_term(int conf_index, int term, const char *term_op, bool keep, CSConf *conf, CSTerm *out) {
  CSComm comm;
  int rc = fetch_conf(&comm, conf, conf_index, keep);
  if (rc < 0) return rc;
  memset(out, 0, sizeof *out);
  return logged(term_op, csTermGetByID(out, conf, term));
}

/* Walks the pending terminals for id term (any when !exact and term is 0).
 * 1 and *out filled when found, 0 when none matched, or the failing code. */
int find_pending(const CSComm *comm, int term, bool exact, CSTerm *out) {
  unsigned int n = comm->numPendingTerms < kMaxCount ? comm->numPendingTerms : kMaxCount;
  for (unsigned int i = 0; i < n; i++) {
    memset(out, 0, sizeof *out);
    int rc = logged("csTermPendingGet", csTermPendingGet(out, comm, i));
    if (rc < 0) return rc;
    if ((!exact && term == 0) || out->id == term) return 1;
  }
  return 0;
}

void wipe(void *p, size_t n) {
  volatile unsigned char *b = static_cast<volatile unsigned char *>(p);
  while (n--) *b++ = 0;
}

/* ---- lists ---- */

bool append_call(kyr_list *list, const CSTerm *t, int index) {
  auto *node = static_cast<KyrCallStruct *>(kyr_list_append(list, sizeof(KyrCallStruct), kTag));
  if (!node) return false;
  kyr_copy_KyrCallStruct(node, t);
  node->index = index;
  return true;
}

int64_t give_up(kyr_list *list) {
  kyr_list_discard(list);
  return 0;
}

unsigned int bounded(long long count) {
  return count < 0 ? 0 : count < kMaxCount ? static_cast<unsigned int>(count) : kMaxCount;
}

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

/* ---- names ---- */

extern "C" const char *comm_call_state_name(unsigned int state) {
  return state < sizeof kCallStateNames / sizeof kCallStateNames[0] ? kCallStateNames[state] : "Unknown";
}

extern "C" const char *comm_auth_state_name(unsigned int state) {
  return state < sizeof kAuthStateNames / sizeof kAuthStateNames[0] ? kAuthStateNames[state] : "Unknown";
}

/* ---- operations ---- */

extern "C" int comm_dial(int conf, const char *address, const char *prefix, int rate) {
  if (!address) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeDial: no address, nothing dialled\n");
    return -10;
  }
  char dial[KYR_COMM_DIAL_STRING_SIZE];
  int n = snprintf(dial, sizeof dial, "%s:%s", prefix ? prefix : "", address);
  if (n < 0 || static_cast<size_t>(n) >= sizeof dial) {
    /* A cut address would ring somebody else: refuse it as a bad address. */
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeDial: dial string of %d bytes does not fit in %d, not dialled\n", n,
                   KYR_COMM_DIAL_STRING_SIZE);
    post_dial_error(-8);
    return -8;
  }
  CSComm comm;
  CSConf c;
  int rc = fetch_conf(&comm, &c, conf, true);
  if (rc < 0) return rc;
  s_CallState = KYR_CALL_DIALING;
  rc = logged("csConfTermDial", csConfTermDial(&c, static_cast<unsigned int>(rate), dial));
  if (rc < 0) {
    post_dial_error(rc);
    return rc;
  }
  request_call_state_event();
  return rc;
}

extern "C" int comm_dial_list(const void *buf, size_t len, int all) {
  if (!buf || len < sizeof(DirAddressListStruct)) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeDialList: no address list (need a direct buffer of %zu bytes)\n",
                   sizeof(DirAddressListStruct));
    return -1;
  }
  const auto *in = static_cast<const DirAddressListStruct *>(buf);
  int count = in->count;
  if (count <= 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryDialEntry no addresses to dial\n");
    return -1;
  }
  if (count > KYR_COMM_MAX_DIAL_ADDRESSES) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryDialEntry %d addresses, at most %d can be dialled\n", count,
                   KYR_COMM_MAX_DIAL_ADDRESSES);
    return -1;
  }
  CSAddressList list;
  memset(&list, 0, sizeof list);
  list.listCount = count;
  for (int i = 0; i < count; i++) {
    list.list[i].rate = in->entries[i].rate;
    kyr_copy_text(list.list[i].Address, sizeof list.list[i].Address, in->entries[i].address);
  }
  kyr_copy_text(list.siteName, sizeof list.siteName, in->siteName);
  CSComm comm;
  CSConf c;
  int rc = fetch_conf(&comm, &c, 0, false);
  if (rc < 0) return rc;
  rc = logged("csConfTermDialList", csConfTermDialList(&c, &list, static_cast<unsigned int>(all)));
  if (rc < 0) post_dial_error(rc);
  return rc;
}

extern "C" int comm_accept_call(int conf, int term) {
  CSComm comm;
  CSConf c;
  int rc = fetch_conf(&comm, &c, conf, true);
  if (rc < 0) return rc;
  if (comm.numPendingTerms == 0) return 0;
  CSTerm t;
  rc = find_pending(&comm, term, false, &t);
  if (rc <= 0) return rc;
  rc = logged("csConfTermAnswer", csConfTermAnswer(&c, &t));
  if (rc < 0) return rc;
  s_CallState = KYR_CALL_ACTIVE;
  request_call_state_event();
  return rc;
}

extern "C" int comm_hangup(int conf, int term, int cause) {
  CSComm comm;
  CSConf c;
  CSTerm t;
  int rc;
  if (conf == -1) {
    rc = fetch_comm(&comm);
    if (rc < 0) return rc;
    rc = find_pending(&comm, term, true, &t);
    if (rc <= 0) return rc;
    rc = logged("csTermHangup", csTermHangup(&t, cause));
  } else {
    rc = fetch_conf(&comm, &c, conf, true);
    if (rc < 0) return rc;
    if (term == 0) {
      rc = logged("csConfHangup", csConfHangup(&c, cause));
    } else {
      rc = 0;
      bool found = false;
      for (unsigned int i = 0; i < bounded(c.numTerms) && !found; i++) {
        memset(&t, 0, sizeof t);
        rc = logged("csTermGet", csTermGet(&t, &c, i));
        if (rc < 0) return rc;
        found = t.id == term;
      }
      if (!found) return 0;
      rc = logged("csTermHangup", csTermHangup(&t, cause));
    }
  }
  if (rc >= 0) s_CallState = KYR_CALL_ACTIVE;
  return rc;
}

extern "C" int comm_leave_conf(int conf, int cause) {
  CSComm comm;
  CSConf c;
  int rc = fetch_conf(&comm, &c, conf, false);
  if (rc < 0) return rc;
  return logged("csConfLeave", csConfLeave(&c, cause));
}

extern "C" int comm_toggle_term_mute(int conf, int term, int mute) {
  CSConf c;
  CSTerm t;
  int rc = fetch_term(conf, term, "csTermGet", false, &c, &t);
  if (rc < 0) return rc;
  t.muted = mute ? 1 : 0;
  return logged("csTermSet", csTermSet(&t, CSTERM_MUTED_FIELD));
}

extern "C" int comm_toggle_conf_mute(int conf, int mute) {
  CSComm comm;
  CSConf c;
  int rc = fetch_conf(&comm, &c, conf, false);
  if (rc < 0) return rc;
  c.confMute = mute ? 1 : 0;
  return logged("csConfSet", csConfSet(&c, CSCONF_CONF_MUTE_FIELD));
}

extern "C" int comm_send_flash(int conf, int term, int duration_ms) {
  CSConf c;
  CSTerm t;
  int rc = fetch_term(conf, term, "csTermGetByID", true, &c, &t);
  if (rc < 0) return rc;
  return logged("csTermSendFlash", csTermSendFlash(&t, static_cast<unsigned int>(duration_ms)));
}

extern "C" int comm_send_keystring(int conf, int term, const char *keys) {
  if (!keys) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeSendKeystring: no key string, nothing sent\n");
    return -10;
  }
  CSConf c;
  CSTerm t;
  int rc = fetch_term(conf, term, "csTermGetByID", true, &c, &t);
  if (rc < 0) return rc;
  return logged("csTermSendKeystring", csTermSendKeystring(&t, keys));
}

extern "C" int comm_authenticate_call(int conf, int term, const char *password) {
  if (!password) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NULL password\n");
    return -1;
  }
  CSConf c;
  CSTerm t;
  int rc = fetch_term(conf, term, "csTermGetByID", true, &c, &t);
  if (rc < 0) return rc;
  kyr_copy_text(t.password, sizeof t.password, password);
  rc = logged("csTermSet", csTermSet(&t, CSTERM_PASSWORD_FIELD));
  wipe(t.password, sizeof t.password);
  return rc;
}

/* ---- lists ---- */

namespace {

/* Records of one kind read at once: begin every read, end them all. Each
 * read's result is logged later, where the old one-by-one walk logged it. */
template <typename Rec>
struct batch {
  std::unique_ptr<Rec[]> rec;
  std::unique_ptr<int[]> rc;
  unsigned int n = 0;

  template <typename Begin>
  bool read(unsigned int count, Begin begin) {
    n = count;
    rec.reset(new (std::nothrow) Rec[count ? count : 1]());
    rc.reset(new (std::nothrow) int[count ? count : 1]());
    std::unique_ptr<cs_op_ticket[]> t(new (std::nothrow) cs_op_ticket[count ? count : 1]);
    if (!rec || !rc || !t) return false;
    for (unsigned int i = 0; i < n; i++) (void)begin(&t[i], &rec[i], i);
    for (unsigned int i = 0; i < n; i++) rc[i] = cs_op_end(&t[i]);
    return true;
  }
};

/* The conferences 0..n-1 of comm at once. */
bool read_confs(const CSComm &comm, unsigned int n, batch<CSConf> *b) {
  return b->read(n, [&comm](cs_op_ticket *t, CSConf *c, unsigned int i) { return csConfGetBegin(t, c, &comm, i); });
}

/* The conference count and the pending count at once (both need only comm). */
void read_counts(const CSComm &comm, int *confs, int *pending) {
  cs_op_ticket t[2];
  (void)csCommConfCountBegin(&t[0], &comm);
  (void)csCommPendingTermCountBegin(&t[1], &comm);
  *confs = cs_op_end(&t[0]);
  *pending = cs_op_end(&t[1]);
}

/* The first failed conference read, logged, with its code left as the last
 * error; -1 when every read succeeded. */
int first_failed_conf(const batch<CSConf> &b) {
  for (unsigned int i = 0; i < b.n; i++)
    if (logged("csConfGet", b.rc[i]) < 0) {
      csapi_err_set(b.rc[i]);
      return static_cast<int>(i);
    }
  return -1;
}

/* The subsystem, both counts and every conference, the first step of the
 * call lists; false (logged, the failing code left as the last error) when
 * one of them could not be read. */
bool read_conferences(CSComm *comm, int *pending, batch<CSConf> *cb) {
  if (fetch_comm(comm) < 0) return false;
  int confs;
  read_counts(*comm, &confs, pending);
  if (logged("csCommConfCount", confs) < 0) {
    csapi_err_set(confs);
    return false;
  }
  return read_confs(*comm, bounded(confs), cb) && first_failed_conf(*cb) < 0;
}

}  // namespace

/* Read in steps, each step's records at once: comm; both counts; every
 * conference (a check); every conference again (for the list); each
 * conference's terminals; the pending terminals. Results, logs and the last
 * error follow the old one-by-one order. */
extern "C" int64_t comm_get_current_calls(void) {
  CSComm comm;
  int pending;
  batch<CSConf> cb;
  if (!read_conferences(&comm, &pending, &cb)) return 0;
  /* Each conference is read again for its terminals, as it always was: a
   * conference that cannot be read the second time ends the list. */
  batch<CSConf> again;
  if (!read_confs(comm, cb.n, &again)) return 0;
  kyr_list list = KYR_LIST_INIT;
  for (unsigned int i = 0; i < again.n; i++) {
    if (logged("csConfGet", again.rc[i]) < 0) {
      csapi_err_set(again.rc[i]);
      return give_up(&list);
    }
    const CSConf &c = again.rec[i];
    batch<CSTerm> tb;
    if (!tb.read(bounded(c.numTerms), [&c](cs_op_ticket *t, CSTerm *term, unsigned int j) {
          return csTermGetBegin(t, term, &c, j);
        }))
      return give_up(&list);
    for (unsigned int j = 0; j < tb.n; j++) {
      if (logged("csTermGet", tb.rc[j]) < 0) continue;
      if (!append_call(&list, &tb.rec[j], static_cast<int>(i))) return give_up(&list);
    }
  }
  int last_rc = logged("csCommPendingTermCount", pending);
  batch<CSTerm> pb;
  if (!pb.read(bounded(pending), [&comm](cs_op_ticket *t, CSTerm *term, unsigned int i) {
        return csTermPendingGetBegin(t, term, &comm, i);
      }))
    return give_up(&list);
  for (unsigned int i = 0; i < pb.n; i++) {
    last_rc = pb.rc[i];
    if (logged("csTermPendingGet", pb.rc[i]) < 0) continue;
    if (!append_call(&list, &pb.rec[i], -1)) return give_up(&list);
  }
  csapi_err_set(last_rc);
  return kyr_list_take(&list);
}

extern "C" int64_t comm_get_recent_calls(void) {
  CSComm comm;
  memset(&comm, 0, sizeof comm);
  if (csCommGet(&comm, kyr_server_instance()) < 0) return 0;
  /* Its own buffer per call: two Java threads may ask at once. */
  auto *recent = static_cast<CSRecentCallList *>(calloc(1, sizeof(CSRecentCallList)));
  if (!recent) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "out of memory for the recent call list\n");
    return 0;
  }
  kyr_list list = KYR_LIST_INIT;
  if (logged("csRecentCallListGet", csRecentCallListGet(recent, &comm, 0, kMaxCount, 1, 1)) >= 0) {
    for (unsigned int i = 0; i < bounded(recent->listCount); i++) {
      if (!append_call(&list, &recent->list[i], static_cast<int>(i))) {
        kyr_list_discard(&list);
        break;
      }
    }
  }
  free(recent);
  return kyr_list_take(&list);
}

extern "C" int64_t comm_get_current_conferences(void) {
  CSComm comm;
  if (fetch_comm(&comm) < 0) return 0;
  int confs = logged("csCommConfCount", csCommConfCount(&comm));
  batch<CSConf> cb;
  if (!read_confs(comm, bounded(confs), &cb) || first_failed_conf(cb) >= 0) return 0;
  kyr_list list = KYR_LIST_INIT;
  for (unsigned int i = 0; i < cb.n; i++) {
    auto *node = static_cast<KyrConferenceStruct *>(kyr_list_append(&list, sizeof(KyrConferenceStruct), kTag));
    if (!node) return give_up(&list);
    kyr_copy_KyrConferenceStruct(node, &cb.rec[i]);
    node->index = static_cast<int32_t>(i);
  }
  return kyr_list_take(&list);
}

extern "C" int64_t comm_get_call_stats(int conf, int term) {
  CSConf c;
  CSTerm t;
  if (fetch_term(conf, term, "csTermGetByID", true, &c, &t) < 0) return 0;
  /* The slots are read together and judged in slot order: the first that
   * cannot be read ends the list, as when they were read one by one. */
  CSTermMedia media[KYR_COMM_MEDIA_SLOTS];
  memset(media, 0, sizeof media);
  cs_op_ticket tk[KYR_COMM_MEDIA_SLOTS];
  for (int i = 0; i < KYR_COMM_MEDIA_SLOTS; i++) (void)csTermMediaGetBegin(&tk[i], &media[i], &t, i);
  kyr_list list = KYR_LIST_INIT;
  for (int i = 0; i < KYR_COMM_MEDIA_SLOTS; i++) {
    int rc = logged("csTermMediaGet", cs_op_end(&tk[i]));
    if (rc < 0) {
      kyr_fetch_drop(tk, static_cast<size_t>(i) + 1, KYR_COMM_MEDIA_SLOTS, rc);
      return give_up(&list);
    }
    if (media[i].state != KYR_COMM_MEDIA_ACTIVE) continue;
    auto *node = static_cast<KyrCallMediaStruct *>(kyr_list_append(&list, sizeof(KyrCallMediaStruct), kTag));
    if (!node) {
      kyr_fetch_drop(tk, static_cast<size_t>(i) + 1, KYR_COMM_MEDIA_SLOTS, rc);
      return give_up(&list);
    }
    kyr_copy_KyrCallMediaStruct(node, &media[i]);
    node->index = i;
  }
  return kyr_list_take(&list);
}

extern "C" int comm_release_list(int64_t head) { return kyr_list_release(head, kTag); }

extern "C" int comm_get_number_current_calls(void) {
  CSComm comm;
  int pending;
  batch<CSConf> cb;
  if (!read_conferences(&comm, &pending, &cb)) return 0;
  long long total = 0;
  for (unsigned int i = 0; i < cb.n; i++) total += bounded(cb.rec[i].numTerms);
  csapi_err_set(pending);
  if (logged("csCommPendingTermCount", pending) < 0) return 0;
  return static_cast<int>(total + bounded(pending));
}

extern "C" int comm_get_number_current_conferences(void) {
  CSComm comm;
  if (fetch_comm(&comm) < 0) return 0;
  int confs = logged("csCommConfCount", csCommConfCount(&comm));
  return confs < 0 ? 0 : confs;
}

extern "C" int64_t comm_get_comm_system(void) {
  CSComm comm;
  if (fetch_comm(&comm) < 0) return 0;
  kyr_cache_comm_store(&comm);
  fill_comm_system(&comm);
  return kyr_handle_result(system_handle());
}

extern "C" int64_t comm_get_system_time(void) {
  CSSys sys;
  memset(&sys, 0, sizeof sys);
  int rc = csSysGet(&sys, kyr_server_instance());
  if (rc < 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "can't get SYS settings, err=%d (%s)", rc, csErrorString());
    return -1;
  }
  CSTime t;
  memset(&t, 0, sizeof t);
  rc = csTimeGet(&t, &sys);
  if (rc < 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "\nGetSysSystemSettings: can't get TIME settings, err=%d (%s)", rc,
                   csErrorString());
    return -1;
  }
  return static_cast<int64_t>(t.time);
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
extern "C" int32_t comm_system_handle(void) { return system_handle(); }

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

/* ---- JNI entry points ---- */

KYR_COMM_JNI(void, NativeDial)(JNIEnv *env, jobject, jint conf, jstring address, jstring prefix, jint rate) {
  JniUtf a(env, address), p(env, prefix);
  comm_dial(conf, a.get(), p.get(), rate);
}

KYR_COMM_JNI(jint, NativeDialList)(JNIEnv *env, jobject, jobject list, jint all) {
  JniDirect buf(env, list, sizeof(DirAddressListStruct));
  return comm_dial_list(buf.data(), buf.size(), all);
}

KYR_COMM_JNI(void, NativeAcceptCall)(JNIEnv *, jobject, jint conf, jint term) { comm_accept_call(conf, term); }

KYR_COMM_JNI(void, NativeHangup)(JNIEnv *, jobject, jint conf, jint term, jint cause) {
  comm_hangup(conf, term, cause);
}

KYR_COMM_JNI(jint, NativeLeaveConf)(JNIEnv *, jobject, jint conf, jint cause) { return comm_leave_conf(conf, cause); }

KYR_COMM_JNI(jint, NativeToggleTermMute)(JNIEnv *, jobject, jint conf, jint term, jboolean mute) {
  return comm_toggle_term_mute(conf, term, mute ? 1 : 0);
}

KYR_COMM_JNI(jint, NativeToggleConfMute)(JNIEnv *, jobject, jint conf, jint mute) {
  return comm_toggle_conf_mute(conf, mute);
}

KYR_COMM_JNI(void, NativeSendFlash)(JNIEnv *, jobject, jint conf, jint term, jint duration) {
  comm_send_flash(conf, term, duration);
}

KYR_COMM_JNI(void, NativeSendKeystring)(JNIEnv *env, jobject, jint conf, jint term, jstring keys) {
  JniUtf k(env, keys);
  comm_send_keystring(conf, term, k.get());
}

KYR_COMM_JNI(jint, NativeAuthenticateCall)(JNIEnv *env, jobject, jint conf, jint term, jstring password) {
  JniUtf p(env, password);
  return comm_authenticate_call(conf, term, p.get());
}

KYR_COMM_JNI(jlong, NativeGetCurrentCalls)(JNIEnv *, jobject) { return kyr_handle_result(comm_get_current_calls()); }
KYR_COMM_JNI(jlong, NativeGetRecentCalls)(JNIEnv *, jobject) { return kyr_handle_result(comm_get_recent_calls()); }
KYR_COMM_JNI(jlong, NativeGetCurrentConferences)(JNIEnv *, jobject) {
  return kyr_handle_result(comm_get_current_conferences());
}
KYR_COMM_JNI(jlong, NativeGetCallStats)(JNIEnv *, jobject, jint conf, jint term) {
  return kyr_handle_result(comm_get_call_stats(conf, term));
}
KYR_COMM_JNI(jint, NativeGetNumberCurrentCalls)(JNIEnv *, jobject) { return comm_get_number_current_calls(); }
KYR_COMM_JNI(jint, NativeGetNumberCurrentConferences)(JNIEnv *, jobject) {
  return comm_get_number_current_conferences();
}
KYR_COMM_JNI(jlong, NativeGetCommSystem)(JNIEnv *, jobject) { return kyr_handle_result(comm_get_comm_system()); }
KYR_COMM_JNI(jint, NativeGetLastCallFailCause)(JNIEnv *, jobject) { return csError(); }
KYR_COMM_JNI(jlong, NativeGetSystemTime)(JNIEnv *, jobject) { return comm_get_system_time(); }

KYR_COMM_JNI(jlong, NativeGetCommSettings)(JNIEnv *, jobject) {
  return kyr_settings_result(GetCommSystemSettings());
}

KYR_COMM_JNI(jint, NativeSetCommSettings)(JNIEnv *env, jobject, jstring key, jstring value) {
  JniUtf k(env, key), v(env, value);
  return SetCommSystemSettings(k.get(), v.get());
}

#define KYR_COMM_DEFINE_RELEASE(name) \
  KYR_COMM_JNI(void, name)(JNIEnv *, jobject, jlong head) { comm_release_list(head); }
KYR_COMM_RELEASE_LIST(KYR_COMM_DEFINE_RELEASE)
#undef KYR_COMM_DEFINE_RELEASE
