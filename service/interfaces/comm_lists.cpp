/* Lists and counts for Java: current and recent calls, conferences, call
 * statistics, the subsystem structure and the codec's time. */
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "service/interfaces/comm_internal.h"
#include "service/interfaces/kyr_fetch.h"
#include "service/interfaces/kyr_iface.h"
#include "service/kyr_cache.h"

using namespace comm_impl;

namespace {

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
  return kyr_handle_result(comm_system_handle());
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
