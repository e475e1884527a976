/* JNI entry points of TestSubSystemInterface. Each converts its arguments,
 * calls one plain function and returns its result. */
#include "service/interfaces/test_interface.h"

#include "csapi/client/csapi_client.h"
#include "csapi/client/test/csapi_test.h"
#include "ipc/libccom/ccom.h"
#include "platform/jni_util.h"
#include "service/kyr_handles.h"

int kyr_test_emulate_disable(int only_connect, int settle_ms) {
  int rc = csapi_client_test_disable_emulation(only_connect);
  if (rc != 0) return rc;
  (void)csDisconnect(0);
  (void)doNanosleep(settle_ms);
  return 0;
}

int kyr_test_take_deliveries(int *out, int max) {
  csapi_test_delivery d[64];
  int n = csapi_client_test_take_deliveries(d, max < 64 ? max : 64);
  for (int i = 0; i < n; i++) {
    out[4 * i] = d[i].type;
    out[4 * i + 1] = (int)d[i].flags;
    out[4 * i + 2] = d[i].callbacks;
    out[4 * i + 3] = (int)(d[i].deliveredMs - d[i].queuedMs);
  }
  return n;
}

namespace {

int metrics_report(JNIEnv *env, jstring path, int scope) {
  JniUtf p(env, path);
  return csapi_client_test_metrics_report(p.get(), scope);
}

int enable(JNIEnv *env, jstring name) {
  JniUtf n(env, name);
  return csapi_client_test_enable_emulation(n.get());
}

int inject_timeout(int ms) {
  injectServerResponseTimeout = ms;
  return 0;
}

/* Dropping a pairing is the codec's business; these hooks only answer. */
int nothing(void) { return 0; }

}  // namespace

#define KYR_TEST_JNI(name) Java_quorvex_kyrconnectservice_TestSubSystemInterface_##name

/* No arguments: X(entry point, call). */
#define KYR_TEST_ENTRIES_VOID(X)                                                      \
  X(NativeBlockKeepAliveTest, nothing())                                             \
  X(NativeRepair, nothing())                                                         \
  X(NativeUnpair, nothing())                                                         \
  X(NativeEmulateDisable, kyr_test_emulate_disable(0, KYR_TEST_DISABLE_SETTLE_MS))   \
  X(NativeEmulateDisableConnect, kyr_test_emulate_disable(1, KYR_TEST_DISABLE_SETTLE_MS)) \
  X(NativeMetricsEnable, csapi_client_test_metrics_enable())                         \
  X(NativeMetricsDisable, csapi_client_test_metrics_disable())                       \
  X(NativeMetricsTestSuiteReset, csapi_client_test_metrics_reset(CSAPI_TEST_SCOPE_SUITE)) \
  X(NativeMetricsTestCaseReset, csapi_client_test_metrics_reset(CSAPI_TEST_SCOPE_CASE)) \
  X(NativeLiveHandles, static_cast<jint>(kyr_handle_count()))

/* One int a: X(entry point, call). */
#define KYR_TEST_ENTRIES_INT(X)                                                                       \
  X(NativeEmulateCommDisableTriggerEvent, csapi_client_test_set_setting("COMM", CSAPI_TEST_TRIGGER_ENABLE, !a)) \
  X(NativeEmulateAudioDisableTriggerEvent, csapi_client_test_set_setting("AUDIO", CSAPI_TEST_TRIGGER_ENABLE, !a)) \
  X(NativeEmulateCommDelayTriggeredEvent, csapi_client_test_set_setting("COMM", CSAPI_TEST_TRIGGER_DELAY, a)) \
  X(NativeEmulateAudioDelayTriggeredEvent, csapi_client_test_set_setting("AUDIO", CSAPI_TEST_TRIGGER_DELAY, a)) \
  X(NativeEmulateCommRspTimeout, csapi_client_test_set_setting("COMM", CSAPI_TEST_RSP_TIMEOUT, a))   \
  X(NativeEmulateAudioRspTimeout, csapi_client_test_set_setting("AUDIO", CSAPI_TEST_RSP_TIMEOUT, a)) \
  X(NativeEmulateCommRspDelay, csapi_client_test_set_setting("COMM", CSAPI_TEST_RSP_DELAY, a))       \
  X(NativeEmulateAudioRspDelay, csapi_client_test_set_setting("AUDIO", CSAPI_TEST_RSP_DELAY, a))     \
  X(NativeEmulateCommIncomingH323CallEvents, csapi_client_test_emulate_incoming_call(a))             \
  X(NativeInjectClientCallTimeout, inject_timeout(a))

/* Value a and delay b: X(entry point, call). */
#define KYR_TEST_ENTRIES_INT2(X)                                                                      \
  X(NativeEmulateAudioVolumeChangedEvent, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIO_VOLUME, a, b)) \
  X(NativeEmulateAudioMuteChangedEvent, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIO_MUTE, a, b))     \
  X(NativeEmulateAudioNumInsChangedEvent, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIO_NUM_INS, a, b)) \
  X(NativeEmulateAudioNumOutsChangedEvent, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIO_NUM_OUTS, a, b)) \
  X(NativeEmulateAudioMuteAutoAnswerChangedEvent,                                                     \
    csapi_client_test_emulate_audio(CSAPI_TEST_AUDIO_MUTE_AUTO_ANSWER, a, b))                         \
  X(NativeEmulateAudioInVolumeChangedEvent, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIOIN_VOLUME, a, b)) \
  X(NativeEmulateAudioInMuteChangedEvent, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIOIN_MUTE, a, b)) \
  X(NativeEmulateAudioOutVolumeChangedEvent, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIOOUT_VOLUME, a, b)) \
  X(NativeEmulateAudioOutMuteChangedEvent, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIOOUT_MUTE, a, b))

/* One String s: X(entry point, call). */
#define KYR_TEST_ENTRIES_STR(X)                                       \
  X(NativeEmulateEnable, enable(env, s))                             \
  X(NativeMetricsAll, metrics_report(env, s, CSAPI_TEST_SCOPE_ALL))   \
  X(NativeMetricsTestSuite, metrics_report(env, s, CSAPI_TEST_SCOPE_SUITE)) \
  X(NativeMetricsTestCase, metrics_report(env, s, CSAPI_TEST_SCOPE_CASE))

#define KYR_TEST_DEFINE_VOID(name, call) \
  extern "C" KYR_API JNIEXPORT jint JNICALL KYR_TEST_JNI(name)(JNIEnv *, jobject) { return call; }
#define KYR_TEST_DEFINE_INT(name, call) \
  extern "C" KYR_API JNIEXPORT jint JNICALL KYR_TEST_JNI(name)(JNIEnv *, jobject, jint a) { return call; }
#define KYR_TEST_DEFINE_INT2(name, call) \
  extern "C" KYR_API JNIEXPORT jint JNICALL KYR_TEST_JNI(name)(JNIEnv *, jobject, jint a, jint b) { return call; }
#define KYR_TEST_DEFINE_STR(name, call) \
  extern "C" KYR_API JNIEXPORT jint JNICALL KYR_TEST_JNI(name)(JNIEnv *env, jobject, jstring s) { return call; }
KYR_TEST_ENTRIES_VOID(KYR_TEST_DEFINE_VOID)
KYR_TEST_ENTRIES_INT(KYR_TEST_DEFINE_INT)
KYR_TEST_ENTRIES_INT2(KYR_TEST_DEFINE_INT2)
KYR_TEST_ENTRIES_STR(KYR_TEST_DEFINE_STR)

/* Diagnostics for the Java tests: the deliveries since the last call, as
 * quadruples (see kyr_test_take_deliveries). */
extern "C" KYR_API JNIEXPORT jintArray JNICALL KYR_TEST_JNI(NativeTakeDeliveries)(JNIEnv *env, jobject) {
  int buf[64 * 4];
  int n = kyr_test_take_deliveries(buf, 64);
  jintArray out = env->NewIntArray(n * 4);
  if (!out) {
    jni_check_exception(env, "KyrConnectLib:Test", "NewIntArray");
    return nullptr;
  }
  env->SetIntArrayRegion(out, 0, n * 4, buf);
  return out;
}

/* Diagnostics for the Java tests: {result, response delay, response
 * time-out, trigger delay, trigger enable} of a subsystem, as
 * csapi_client_test_get_settings gives them. */
extern "C" KYR_API JNIEXPORT jintArray JNICALL KYR_TEST_JNI(NativeEmulateSettings)(JNIEnv *env, jobject, jstring name) {
  jint v[5] = {0, 0, 0, 0, 0};
  {
    JniUtf n(env, name);
    v[0] = csapi_client_test_get_settings(n.get(), &v[1], &v[2], &v[3], &v[4]);
  }
  jintArray out = env->NewIntArray(5);
  if (!out) {
    jni_check_exception(env, "KyrConnectLib:Test", "NewIntArray");
    return nullptr;
  }
  env->SetIntArrayRegion(out, 0, 5, v);
  return out;
}
