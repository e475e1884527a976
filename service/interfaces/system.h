/* The system face of the library for Java's SystemSubSystemInterface: wake
 * and sleep, the system settings page, and the change callbacks of the
 * system, LAN, time, provisioning, log and home-screen records, each posting
 * EVENT_SYSTEM_SETTINGS_CHANGED with its update list. Logs under
 * "KyrConnectLib:System" (the security interface shares the tag). */
#ifndef KYR_SYSTEM_H
#define KYR_SYSTEM_H

#include <jni.h>

#include "csapi/client/cs_records.h"
#include "platform/kyr_api.h"
#include "service/interfaces/iface_post.h"

#define KYR_SYSTEM_TAG "KyrConnectLib:System"

/* X(callback, record kind, update converter, event): one row per change
 * callback that turns a record into an update list event. */
#define KYR_SYSTEM_UPDATE_LIST(X)                                                                    \
  X(on_home_screen_changed, HomeScreen, GetHomeScreenSettingsUpdates, EVENT_SYSTEM_SETTINGS_CHANGED) \
  X(on_log_settings_changed, Log, GetLogSettingsUpdates, EVENT_SYSTEM_SETTINGS_CHANGED)              \
  X(on_lan_settings_changed, Lan, GetLanSettingsUpdates, EVENT_SYSTEM_SETTINGS_CHANGED)              \
  X(on_time_settings_changed, Time, GetTimeSettingsUpdates, EVENT_SYSTEM_SETTINGS_CHANGED)           \
  X(on_provisioning_settings_changed, Provisioning, GetProvisioningSettingsUpdates,                  \
    EVENT_SYSTEM_SETTINGS_CHANGED)                                                                   \
  X(on_sys_settings_changed, Sys, GetSysSettingsUpdates, EVENT_SYSTEM_SETTINGS_CHANGED)

/* The body of each such callback, testable without Java: kyr_<callback>
 * posts the converter's result (list, 0 or failure value) through post. A
 * null record posts nothing (logged). */
#define KYR_DECLARE_UPDATE_BODY(fn, Kind, conv, code) \
  void kyr_##fn(const CS##Kind *record, unsigned int flags, kyr_event_fn post, void *ctx);

/* Defines the body and the callback of one row (in the file that owns the
 * row). */
#define KYR_DEFINE_UPDATE_CALLBACK(fn, Kind, conv, code)                                               \
  extern "C" void kyr_##fn(const CS##Kind *record, unsigned int flags, kyr_event_fn post, void *ctx) { \
    if (!record) {                                                                                     \
      kyr_log_printf(KYR_LOG_ERROR, KYR_SYSTEM_TAG, "%s: no record, nothing posted\n", #fn);          \
      return;                                                                                          \
    }                                                                                                  \
    kyr_post_settings_list(post, ctx, code, conv(record, flags));                                      \
  }                                                                                                    \
  extern "C" void fn(const CS##Kind *record, unsigned int flags, uintptr_t userDefined) {            \
    kyr_##fn(record, flags, kyr_post_to_java, reinterpret_cast<void *>(userDefined));                 \
  }

KYR_EXTERN_C_BEGIN

KYR_SYSTEM_UPDATE_LIST(KYR_DECLARE_UPDATE_BODY)

/* Fetches the system record and wakes the codec / puts it to sleep: 0, or
 * the CSAPI code of the first step that failed (logged). */
int kyr_system_wake(void);
int kyr_system_sleep(void);

/* ---- JNI entry points of quorvex.kyrconnectservice.SystemSubSystemInterface ---- */
#define KYR_SYSTEM_JNI(ret, name) \
  KYR_API JNIEXPORT ret JNICALL Java_quorvex_kyrconnectservice_SystemSubSystemInterface_##name
KYR_SYSTEM_JNI(jint, NativeWake)(JNIEnv *env, jobject thiz);
KYR_SYSTEM_JNI(jint, NativeSetSleep)(JNIEnv *env, jobject thiz);
KYR_SYSTEM_JNI(jint, NativeSetSystemSettings)(JNIEnv *env, jobject thiz, jstring key, jstring value);
KYR_SYSTEM_JNI(jlong, NativeGetSystemSettings)(JNIEnv *env, jobject thiz);
KYR_SYSTEM_JNI(void, NativeSystemSettingsRelease)(JNIEnv *env, jobject thiz, jlong head);

KYR_EXTERN_C_END

#endif
