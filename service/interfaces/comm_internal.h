/* What the files of the Comm module share: comm.cpp (the entry points),
 * comm_calls.cpp (operations on calls), comm_lists.cpp (lists and counts
 * for Java) and comm_events.cpp (module state and notification handlers).
 * Internal to the module. */
#ifndef KYR_COMM_INTERNAL_H
#define KYR_COMM_INTERNAL_H

#include "service/interfaces/comm.h"

namespace comm_impl {

constexpr const char *kTag = KYR_COMM_TAG;

/* A hostile or confused codec must not make one call loop for ever: counts
 * it reports are bounded by what a list can sensibly carry. */
constexpr unsigned int kMaxCount = 100;

inline unsigned int bounded(long long count) {
  return count < 0 ? 0 : count < kMaxCount ? static_cast<unsigned int>(count) : kMaxCount;
}

/* ---- events and module state (comm_events.cpp) ---- */

/* Every event goes to Java through kyr_post, or to a test's sink. */
void post(callback_cookie *cookie, int code, int value1, int value2);
/* From a Java thread or the dispatch thread, which hold no cookie. */
void post_from_caller(int code, int value1, int value2);
/* The call state the next delayed call-state event reports. */
void set_call_state(int state);
/* Remembered as the module's last conference. */
void remember_conf(const CSConf *conf);
/* Refreshes the Java-visible system structure. */
void fill_comm_system(const CSComm *comm);

/* ---- resolving a call (comm_calls.cpp) ---- */

/* rc, logged under op when it is a failure. */
int logged(const char *op, int rc);
/* The subsystem of the current connection. */
int fetch_comm(CSComm *comm);
/* The subsystem, then conference `index`; keep: also remembered as the
 * module's last conference. */
int fetch_conf(CSComm *comm, CSConf *conf, int index, bool keep);
/* Subsystem, conference and the terminal with id term; term_op names the
 * terminal fetch in the log line. */
int fetch_term(int conf_index, int term, const char *term_op, bool keep, CSConf *conf, CSTerm *out);

}  // namespace comm_impl

#endif
