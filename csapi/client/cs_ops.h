/* The CSAPI operation family: every get, set, count, action, list and search
 * operation of the codec, each a C function named as its JSON-RPC method.
 *
 * The functions are declared from the operation table in cs_ops.def, which
 * gives each one's C parameters in full; read it as this header's prototype
 * list. In short:
 *   getters       (out record, parent record, index or key...) -> 0 or error;
 *                 the top-level ones take (out record, server instance)
 *   setters       (record, flags) -> the codec's result
 *   counts        (parent record[, prot]) -> the count or an error
 *   actions       (target record, values...) -> the codec's result
 *   list start    -> a list handle; list get fills a list record; list stop
 *   search gets   (out record, server record, timeoutMS, key text)
 *
 * Every operation is sent to the server instance of the record it is given
 * (for getters, the parent record; for top-level getters, the instance
 * argument), blocks its calling thread for one call, and leaves its result as
 * the thread's last error (csError). A getter that fails leaves the output
 * record untouched, except that a codec's error answer still stamps its
 * srvrInstance. Records are owned by the caller; no reference is kept.
 * Null record or text arguments give -10 and send nothing.
 *
 * Any thread may call any operation, several at once, also on one instance;
 * callers that share a record between threads lock it themselves.
 *
 * Pipelined form: every operation also has <name>Begin(ticket, the same
 * arguments), which sends the request and returns at once, and
 * cs_op_end(ticket) waits for the answer, decodes a getter's record into the
 * output record given at the begin and returns exactly what <name> would
 * have returned (left as the thread's last error). Operations that do not
 * depend on each other's answers are begun together and ended together, so
 * they cost one round trip between them. The rules of csapi_call_begin hold:
 * the ticket and every record passed to the begin stay alive and untouched
 * until cs_op_end; every ticket begun is ended once, on the thread that
 * began it, also when the begin failed. The begin returns 0 once sent or
 * the failure (which cs_op_end then returns). */
#ifndef CS_OPS_H
#define CS_OPS_H

#include "csapi/client/cs_records.h"
#include "csapi/client/csapi_client.h"
#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

#define CS_OP(name, sig, args, target, timeout, result, params) KYR_API int name sig;
#include "csapi/client/cs_ops.def"
#undef CS_OP

/* An operation in flight. Private to the operation family. */
typedef struct cs_op_ticket {
  csapi_ticket_t call;
  ccom_msg_t *msg; /* request, then answer; null once the begin failed */
  void *out;       /* a getter's output record */
  int32_t op;      /* row of the operation table */
  int32_t instance;
  int32_t rc; /* the result known at the begin: a failure, or a test hook's call */
  int32_t hooked;
} cs_op_ticket;

#define CS_OP_BEGIN_SIG(...) (cs_op_ticket * ticket, __VA_ARGS__)
#define CS_OP(name, sig, args, target, timeout, result, params) int name##Begin CS_OP_BEGIN_SIG sig;
#include "csapi/client/cs_ops.def"
#undef CS_OP

int cs_op_end(cs_op_ticket *ticket);

KYR_EXTERN_C_END

#endif
