/* The codec's pinned identity for native callers; the transport checks it
 * on every connect (ccom_tls.cpp). */
#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_rpc.h"
#include "ipc/libccom/ccom.h"

static_assert(CS_FINGERPRINT_SIZE == CCOM_FINGERPRINT_SIZE, "one fingerprint size");

int csSetPinnedFingerprint(const char *hex) {
  int rc = ccom_tls_set_pin(hex) == 0 ? 0 : CSAPI_ERR_BAD_PARAMETER;
  csapi_err_set(rc);
  return rc;
}

int csGetPinnedFingerprint(char *out, int size) {
  int rc = out && size > 0 ? ccom_tls_get_pin(out, (size_t)size) : -1;
  if (rc < 0) rc = CSAPI_ERR_BAD_PARAMETER;
  csapi_err_set(rc < 0 ? rc : 0);
  return rc;
}
