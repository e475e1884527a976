/* KyrConnectService's natives for the codec's identity: the fingerprint of
 * the codec the service is connected to (shown to the user at pairing) and
 * the pin every following connect must match. The pin is process-wide and
 * needs no set-up, so an app can pass its stored pin before connecting. */
#include <jni.h>

#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_rpc.h"
#include "platform/jni_util.h"
#include "platform/kyr_log.h"
#include "service/kyr_service.h"

namespace {
const char kTag[] = "KyrConnectLib";
}  // namespace

extern "C" int kyr_server_fingerprint(char *out, int size) {
  const int instance = kyr_server_instance();
  if (instance < 0) {
    if (out && size > 0) out[0] = '\0';
    return CSAPI_ERR_NO_CONNECT;
  }
  return csGetServerFingerprint(instance, out, size);
}

extern "C" jstring Java_quorvex_kyrconnectservice_KyrConnectService_NativeGetServerFingerprint(JNIEnv *env, jobject) {
  char fp[CS_FINGERPRINT_SIZE];
  return kyr_server_fingerprint(fp, sizeof fp) == 0 ? jni_new_string(env, fp) : nullptr;
}

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativeSetPinnedFingerprint(JNIEnv *env, jobject,
                                                                                           jstring hex) {
  JniUtf pin(env, hex);
  if (hex && !pin.get()) return CSAPI_ERR_BAD_PARAMETER;
  const int rc = csSetPinnedFingerprint(pin.get());
  if (rc != 0)
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeSetPinnedFingerprint: not a fingerprint of 64 hex digits (error:%d, %s)\n",
                   rc, csErrorString());
  return rc;
}
