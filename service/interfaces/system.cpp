#include "service/interfaces/system.h"

#include <string.h>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"

namespace {

const char *const kTag = KYR_SYSTEM_TAG;

/* The actions name the codec by the system record's instance and handle,
 * so the record is fetched first. */
int system_action(int (*action)(const CSSys *), const char *name) {
  CSSys sys;
  memset(&sys, 0, sizeof sys);
  int rc = csSysGet(&sys, kyr_server_instance());
  if (rc < 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "csSysGet error (error:%d, %s)\n", rc, csErrorString());
    return rc;
  }
  rc = action(&sys);
  if (rc < 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "%s error (error:%d, %s)\n", name, rc, csErrorString());
  return rc;
}

}  // namespace

KYR_SYSTEM_UPDATE_LIST(KYR_DEFINE_UPDATE_CALLBACK)

extern "C" int kyr_system_wake(void) { return system_action(csSysWake, "csSysWake"); }

extern "C" int kyr_system_sleep(void) { return system_action(csSysSleep, "csSysSleep"); }

/* ---- JNI ---- */

KYR_SYSTEM_JNI(jint, NativeWake)(JNIEnv *, jobject) { return kyr_system_wake(); }

KYR_SYSTEM_JNI(jint, NativeSetSleep)(JNIEnv *, jobject) { return kyr_system_sleep(); }

KYR_SYSTEM_JNI(jint, NativeSetSystemSettings)(JNIEnv *env, jobject, jstring key, jstring value) {
  JniUtf k(env, key), v(env, value);
  return SetSysSystemSettings(k.get(), v.get());
}

KYR_SYSTEM_JNI(jlong, NativeGetSystemSettings)(JNIEnv *, jobject) { return kyr_settings_result(GetSysSystemSettings()); }

KYR_SYSTEM_JNI(void, NativeSystemSettingsRelease)(JNIEnv *, jobject, jlong head) { SettingsListRelease(head); }
