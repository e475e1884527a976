/* Helpers shared by the client core's own sources. Not exported. */
#ifndef CSAPI_INTERNAL_H
#define CSAPI_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "csapi/client/cs_dispatch.h"
#include "csapi/client/csapi_client.h"

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

/* csapi_call_begin and the waiting half of csapi_call_end without reading
 * the answer: 0 with the answer text in the ticket's msg, or the failure.
 * The operation family parses the answer once, for its result and record
 * together. Neither touches the last error. */
int call_begin(unsigned int instance, ccom_msg_t *msg, int timeout, csapi_ticket_t *ticket);
int call_end_raw(csapi_ticket_t *ticket);

/* The configuration-read function csInit installed, or null. */
csConfigReadFunc installed_config_read();

/* A snapshot of the notification ring's positions (for tests). */
struct RingView {
  int32_t writePos;  /* where the next record goes */
  int32_t tailPos;   /* oldest record still intact */
  uint64_t writeSeq; /* records written so far */
  uint64_t tailSeq;  /* sequence number of the oldest intact record */
  uint64_t lost;     /* records readers lost to overruns so far, all readers */
};
RingView ring_view();

/* How long a reader counts as processing after its last wait on the queue,
 * and how long the writer waits for such a reader per message (tests
 * shorten them; 0 restores 1000 and 100 ms). */
void ring_set_patience(int activeWindowMs, int waitBoundMs);

/* Told by the call path around a synchronous call: while a thread waits for
 * an answer, the writer must not wait for the registry it processes (the
 * one it dispatches from inside a callback, else its own), since the answer
 * may be behind the notification being written. */
void callback_thread_calling(bool calling);

/* How dispatch learns an instance's state (csapi_client_get_state), given
 * by the client core when it starts: the callback module calls nothing of
 * the core, and the core reaches it only through callback_postmsg (the
 * reader's hand-off) and the calls above. Until set, no instance is
 * connected. */
void callback_set_state_reader(int (*state)(int instance));

}  // namespace csapi_detail

#endif
