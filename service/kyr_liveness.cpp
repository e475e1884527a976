/* KyrConnectService.NativeSetLiveness: a thin entry over the client core's
 * process-wide setting, which every connection's reader applies. */
#include "service/kyr_liveness.h"

#include "csapi/client/csapi_liveness.h"
#include "platform/kyr_log.h"

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativeSetLiveness(JNIEnv *, jobject, jint seconds) {
  const int rc = csapi_set_liveness((int)seconds);
  if (rc != 0) kyr_log_printf(KYR_LOG_ERROR, "KyrConnectLib", "NativeSetLiveness: %d is not 0..300\n", (int)seconds);
  return rc;
}
