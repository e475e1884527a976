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
 * callers that share a record between threads lock it themselves. */
#ifndef CS_OPS_H
#define CS_OPS_H

#include "csapi/client/cs_records.h"
#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

#define CS_OP(name, sig, args, target, timeout, result, params) KYR_API int name sig;
#include "csapi/client/cs_ops.def"
#undef CS_OP

KYR_EXTERN_C_END

#endif
