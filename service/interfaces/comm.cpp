/* Calls and conferences for Java: the entry points of
 * CommSubSystemInterface. The work behind them lives in comm_calls.cpp
 * (operations on calls), comm_lists.cpp (lists and counts) and
 * comm_events.cpp (module state and notification handlers). */
#include "service/interfaces/comm.h"

#include "csapi/client/csapi_rpc.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"

KYR_COMM_JNI(void, NativeDial)(JNIEnv *env, jobject, jint conf, jstring address, jstring prefix, jint rate) {
  JniUtf a(env, address), p(env, prefix);
  comm_dial(conf, a.get(), p.get(), rate);
}

KYR_COMM_JNI(jint, NativeDialList)(JNIEnv *env, jobject, jobject list, jint all) {
  JniDirect buf(env, list, sizeof(DirAddressListStruct));
  return comm_dial_list(buf.data(), buf.size(), all);
}

KYR_COMM_JNI(void, NativeAcceptCall)(JNIEnv *, jobject, jint conf, jint term) { comm_accept_call(conf, term); }

KYR_COMM_JNI(void, NativeHangup)(JNIEnv *, jobject, jint conf, jint term, jint cause) {
  comm_hangup(conf, term, cause);
}

KYR_COMM_JNI(jint, NativeLeaveConf)(JNIEnv *, jobject, jint conf, jint cause) { return comm_leave_conf(conf, cause); }

KYR_COMM_JNI(jint, NativeToggleTermMute)(JNIEnv *, jobject, jint conf, jint term, jboolean mute) {
  return comm_toggle_term_mute(conf, term, mute ? 1 : 0);
}

KYR_COMM_JNI(jint, NativeToggleConfMute)(JNIEnv *, jobject, jint conf, jint mute) {
  return comm_toggle_conf_mute(conf, mute);
}

KYR_COMM_JNI(void, NativeSendFlash)(JNIEnv *, jobject, jint conf, jint term, jint duration) {
  comm_send_flash(conf, term, duration);
}

KYR_COMM_JNI(void, NativeSendKeystring)(JNIEnv *env, jobject, jint conf, jint term, jstring keys) {
  JniUtf k(env, keys);
  comm_send_keystring(conf, term, k.get());
}

KYR_COMM_JNI(jint, NativeAuthenticateCall)(JNIEnv *env, jobject, jint conf, jint term, jstring password) {
  JniUtf p(env, password);
  return comm_authenticate_call(conf, term, p.get());
}

KYR_COMM_JNI(jlong, NativeGetCurrentCalls)(JNIEnv *, jobject) { return kyr_handle_result(comm_get_current_calls()); }
KYR_COMM_JNI(jlong, NativeGetRecentCalls)(JNIEnv *, jobject) { return kyr_handle_result(comm_get_recent_calls()); }
KYR_COMM_JNI(jlong, NativeGetCurrentConferences)(JNIEnv *, jobject) {
  return kyr_handle_result(comm_get_current_conferences());
}
KYR_COMM_JNI(jlong, NativeGetCallStats)(JNIEnv *, jobject, jint conf, jint term) {
  return kyr_handle_result(comm_get_call_stats(conf, term));
}
KYR_COMM_JNI(jint, NativeGetNumberCurrentCalls)(JNIEnv *, jobject) { return comm_get_number_current_calls(); }
KYR_COMM_JNI(jint, NativeGetNumberCurrentConferences)(JNIEnv *, jobject) {
  return comm_get_number_current_conferences();
}
KYR_COMM_JNI(jlong, NativeGetCommSystem)(JNIEnv *, jobject) { return kyr_handle_result(comm_get_comm_system()); }
KYR_COMM_JNI(jint, NativeGetLastCallFailCause)(JNIEnv *, jobject) { return csError(); }
KYR_COMM_JNI(jlong, NativeGetSystemTime)(JNIEnv *, jobject) { return comm_get_system_time(); }

KYR_COMM_JNI(jlong, NativeGetCommSettings)(JNIEnv *, jobject) {
  return kyr_settings_result(GetCommSystemSettings());
}

KYR_COMM_JNI(jint, NativeSetCommSettings)(JNIEnv *env, jobject, jstring key, jstring value) {
  JniUtf k(env, key), v(env, value);
  return SetCommSystemSettings(k.get(), v.get());
}

#define KYR_COMM_DEFINE_RELEASE(name) \
  KYR_COMM_JNI(void, name)(JNIEnv *, jobject, jlong head) { comm_release_list(head); }
KYR_COMM_RELEASE_LIST(KYR_COMM_DEFINE_RELEASE)
#undef KYR_COMM_DEFINE_RELEASE
