/* Operations on calls for Java: dial, answer, hang up, mute, tones and
 * call authentication, each one synchronous call on its caller's thread. */
#include <stdio.h>
#include <string.h>
#include <sys/time.h>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "service/interfaces/comm_internal.h"
#include "service/interfaces/kyr_addr_list.h"
#include "service/interfaces/kyr_fetch.h"
#include "service/interfaces/kyr_iface.h"

using namespace comm_impl;

namespace comm_impl {

int logged(const char *op, int rc) {
  if (rc < 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "%s error (error:%d, %s)\n", op, rc, kyr_err_text(rc));
  return rc;
}

int fetch_comm(CSComm *comm) {
  memset(comm, 0, sizeof *comm);
  return logged("csCommGet", csCommGet(comm, kyr_server_instance()));
}

int fetch_conf(CSComm *comm, CSConf *conf, int index, bool keep) {
  int rc = fetch_comm(comm);
  if (rc < 0) return rc;
  memset(conf, 0, sizeof *conf);
  rc = logged("csConfGet", csConfGet(conf, comm, static_cast<unsigned int>(index)));
  if (rc >= 0 && keep) remember_conf(conf);
  return rc;
}

int fetch_term(int conf_index, int term, const char *term_op, bool keep, CSConf *conf, CSTerm *out) {
  CSComm comm;
  int rc = fetch_conf(&comm, conf, conf_index, keep);
  if (rc < 0) return rc;
  memset(out, 0, sizeof *out);
  return logged(term_op, csTermGetByID(out, conf, term));
}

}  // namespace comm_impl

namespace {

void post_dial_error(int rc) {
  if (rc == -8) post_from_caller(EVENT_ERROR, ERROR_REASON_DIAL_BAD_ADDRESS, -1);
  if (rc == -12) post_from_caller(EVENT_ERROR, ERROR_REASON_DIAL_OUT_OF_RESOURCES, -1);
}

void request_call_state_event() {
  struct timeval delay = {0, 1000};
  if (requestTimedCallback(callStateEvent, nullptr, &delay) != 0)
    kyr_log_printf(KYR_LOG_ERROR, kTag, "call state event could not be scheduled\n");
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

/* A dial list's refusals, worded as they always were (the entry and the
 * directory's dial share the wording). */
const kyr_addr_texts kDialListTexts = {
    KYR_COMM_TAG,
    "NativeDialList: no address list (need a direct buffer of %zu bytes)\n",
    "DirectoryDialEntry no addresses to dial\n",
    "DirectoryDialEntry %d addresses, at most %d can be dialled\n",
    nullptr,
    nullptr,
};

void wipe(void *p, size_t n) {
  volatile unsigned char *b = static_cast<volatile unsigned char *>(p);
  while (n--) *b++ = 0;
}

}  // namespace

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
  set_call_state(KYR_CALL_DIALING);
  rc = logged("csConfTermDial", csConfTermDial(&c, static_cast<unsigned int>(rate), dial));
  if (rc < 0) {
    post_dial_error(rc);
    return rc;
  }
  request_call_state_event();
  return rc;
}

extern "C" int comm_dial_list(const void *buf, size_t len, int all) {
  CSAddressList list;
  if (kyr_addr_list_read(&list, buf, len, kDialListTexts) != 0) return -1;
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
  set_call_state(KYR_CALL_ACTIVE);
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
  if (rc >= 0) set_call_state(KYR_CALL_ACTIVE);
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
