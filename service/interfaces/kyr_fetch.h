/* Reads that do not depend on each other's answers, issued together.
 *
 * A page or a multi-record read begins every operation of one dependency
 * step (<op>Begin, csapi/client/cs_ops.h), then ends the tickets in the
 * order it used to read them one by one and judges each result exactly as
 * before: the first failure in that order decides, logs as it did (texts
 * from the code itself, not from the thread's last error, which later ends
 * overwrite) and leaves its code as the last error. A step costs one round
 * trip to the codec however many reads it has.
 *
 * Every ticket begun must be ended, also after the reader gave up on the
 * step: kyr_fetch_drop does that. */
#ifndef KYR_FETCH_H
#define KYR_FETCH_H

#include <stddef.h>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"

/* The text of a CSAPI code, as csErrorString gives it right after the call
 * that returned it. */
inline const char *kyr_err_text(int rc) { return csapi_err_get_string(rc); }

/* Ends tickets [from, n) whose answers are not wanted any more and leaves rc
 * as the thread's last error (what the one-by-one read left when it stopped
 * at that failure). Returns rc. */
inline int kyr_fetch_drop(cs_op_ticket *t, size_t from, size_t n, int rc) {
  for (size_t i = from; i < n; i++) (void)cs_op_end(&t[i]);
  csapi_err_set(rc);
  return rc;
}

#endif
