/* Helpers shared by the client core's own sources. Not exported. */
#ifndef CSAPI_INTERNAL_H
#define CSAPI_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "csapi/client/cs_dispatch.h"
#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_ring.h"
#include "csapi/client/csapi_scan.h"

namespace csapi_detail {

/* csapi_call_begin and the waiting half of csapi_call_end without reading
 * the answer: 0 with the answer text in the ticket's msg, or the failure.
 * The operation family parses the answer once, for its result and record
 * together. Neither touches the last error. */
int call_begin(unsigned int instance, ccom_msg_t *msg, int timeout, csapi_ticket_t *ticket);
int call_end_raw(csapi_ticket_t *ticket);

/* The configuration-read function csInit installed, or null. */
csConfigReadFunc installed_config_read();

}  // namespace csapi_detail

#endif
