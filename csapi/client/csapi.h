/* The CSAPI client core in one include: JSON-RPC records and error codes,
 * server instances and the synchronous call, the session handshake, and
 * notification callbacks. */
#ifndef CSAPI_H
#define CSAPI_H

#include "csapi/client/cs_dispatch.h"
#include "csapi/client/csapi_callback.h"
#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_hash.h"
#include "csapi/client/csapi_rpc.h"

#endif
