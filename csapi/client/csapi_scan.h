/* The protocol's text helpers and the notification handler table: used by
 * the instance table, the call path and the dispatch loop alike, and owned
 * by none of them (csapi_rpc.cpp, csapi_marsh.cpp). Not exported. */
#ifndef CSAPI_SCAN_H
#define CSAPI_SCAN_H

#include <stddef.h>
#include <stdint.h>

#include "csapi/client/cs_dispatch.h"

typedef struct cJSON cJSON;

namespace csapi_detail {

/* Prints a tree without whitespace. Whole numbers within 32 bits print as
 * plain integers; other whole numbers without a fraction ("%.0f"); fractions
 * with "%f", or "%e" below 1e-6 or above 1e9 in magnitude; NaN and infinities
 * (which JSON cannot carry) as null. Malloc'ed text, or null. */
[[nodiscard]] char *json_print(const cJSON *tree);

/* What a quick scan of a message's top level found. */
struct TopScan {
  bool hasId = false;       /* an "id" member whose value is a number */
  int64_t id = 0;           /* its integer value (truncated like cJSON's) */
  const char *method = nullptr; /* start of the "method" string value */
  size_t methodLen = 0;     /* its length in bytes (escapes left as they are) */
};

/* Scans the top-level members of the JSON object in text[0..len) without
 * building a tree: the reader thread classifies every incoming message and
 * the call path finds its request id this way. Nested values and strings are
 * skipped with their own syntax, so braces or keys inside them never count.
 * false when the text is not a well-formed object at the top level. */
[[nodiscard]] bool scan_top(const char *text, size_t len, TopScan *out);

/* The handler registered for a notification method, or null. Safe against
 * registrations running at the same time. */
[[nodiscard]] csMarshFunc lookup_marsh(const char *name);

}  // namespace csapi_detail

#endif
