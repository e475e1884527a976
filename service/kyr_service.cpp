/* KyrConnectService's lifecycle natives: set-up and release of the JNI
 * bridge, connect, pair and disconnect. The session record they drive is in
 * kyr_session.h, the threads in kyr_threads.cpp, posting in kyr_cookie.cpp. */
#include "service/kyr_service.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <new>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_rpc.h"
#include "platform/jni_util.h"
#include "platform/kyr_log.h"
#include "service/kyr_handles.h"
#include "service/kyr_modules.h"
#include "service/kyr_session.h"

namespace {

const char kTag[] = "KyrConnectLib";
const char kBoardRevPath[] = "//data//boardrev.txt";
const char kPostName[] = "postEventFromNative";
const char kPostSig[] = "(Ljava/lang/Object;IIILjava/lang/Object;)V";
const char kCookieField[] = "mNativeCallbackCookie";
const char kDeviceType[] = "davix";
/* Bound on waiting for an earlier set-up's threads to end; its worker
 * normally ends within a second of being asked. */
const int kIdleWaitMs = 5000;
/* Longest address NativeConnect takes. */
const size_t kAddressMax = 256;

void copy_cut(char *dst, size_t size, const char *src) {
  if (!src) src = "";
  size_t n = strlen(src);
  if (n >= size) n = size - 1;
  memcpy(dst, src, n);
  dst[n] = '\0';
}

jfieldID cookie_field(JNIEnv *env, jobject thiz) {
  if (!thiz) return nullptr;
  jclass cls = env->GetObjectClass(thiz);
  if (!cls) return nullptr;
  jfieldID f = env->GetFieldID(cls, kCookieField, "I");
  if (!f) {
    jni_check_exception(env, kTag, kCookieField);
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Can't find KyrConnectService.%s", kCookieField);
  }
  env->DeleteLocalRef(cls);
  return f;
}

/* Finalizes the cookie Java holds by handle in its field, if any. */
void finalize_cookie_of(JNIEnv *env, jobject thiz, jfieldID field) {
  if (!field) return;
  const jint h = env->GetIntField(thiz, field);
  if (h == 0) return;
  auto *c = static_cast<callback_cookie *>(kyr_handle_release(h, KYR_HANDLE_COOKIE, kTag));
  cookie_finalize(c);
}

/* The set-up Java posts through; {nullptr, nullptr} when none. */
void set_env(callback_cookie *cookie, JavaVM *vm) {
  session_record &s = kyr_session();
  std::lock_guard<std::mutex> g(s.mu);
  s.env = svc_context{cookie, vm};
}

/* Gives up the connection a connect opened, unless a disconnect took it. */
void drop_if_ours(int handle) {
  int expect = handle;
  if (kyr_session().instance.compare_exchange_strong(expect, -1)) {
    csDisconnect(handle);
    kyr_modules_run(KYR_MODULE_LOSS, handle);
  }
}

}  // namespace

extern "C" void kyr_read_board_revision(const char *path, char *out) {
  FILE *f = path ? fopen(path, "r") : nullptr;
  if (!f) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeSendSystemInfoToKyr: can't open file %s, error %d", path ? path : "",
                   errno);
    strcpy(out, "UNKNOWN");
    return;
  }
  if (!fgets(out, 65, f)) out[0] = '\0';
  fclose(f);
  out[strcspn(out, "\n")] = '\0';
  out[strcspn(out, "\r")] = '\0';
}

/* ======================================================================== */
/* JNI entry points                                                         */

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativeSetup(JNIEnv *env, jobject thiz, jobject ref) {
  /* An earlier set-up's worker that ends after this one started would mark
   * the new service closed; ask it to end and wait until it has. */
  if (kyr_service_wait_idle(0) != 0) {
    native_close();
    if (kyr_service_wait_idle(kIdleWaitMs) != 0) {
      kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeSetup: the previous service did not end\n");
      jfieldID f = cookie_field(env, thiz);
      if (f) env->SetIntField(thiz, f, 0);
      return -1;
    }
  }
  set_env(nullptr, nullptr);

  jfieldID field = nullptr;
  jclass clazz = thiz ? env->GetObjectClass(thiz) : nullptr;
  if (!clazz) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Can't find KyrConnectService class when setting up callback.");
    return -1;
  }
  JavaVM *vm = jnienv_to_javavm(env);
  if (!vm) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Could not get handle to the VM\n");
    env->DeleteLocalRef(clazz);
    return -1;
  }

  auto *cookie = new (std::nothrow) callback_cookie();
  if (!cookie) {
    env->DeleteLocalRef(clazz);
    return -1;
  }
  cookie->clazz = static_cast<jclass>(env->NewGlobalRef(clazz));
  cookie->ref = ref ? env->NewGlobalRef(ref) : nullptr;
  cookie->vm = vm;
  cookie->refs = 1; /* the set-up's own */
  int32_t handle = -1;

  cookie->post = env->GetStaticMethodID(clazz, kPostName, kPostSig);
  if (!cookie->post) {
    jni_check_exception(env, kTag, kPostName);
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Can't find KyrConnectService.%s", kPostName);
    goto fail;
  }
  field = env->GetFieldID(clazz, kCookieField, "I");
  if (!field) {
    jni_check_exception(env, kTag, kCookieField);
    kyr_log_printf(KYR_LOG_ERROR, kTag, "Can't find KyrConnectService.%s", kCookieField);
    goto fail;
  }
  /* Setting up the same object again lets go of its earlier cookie. */
  finalize_cookie_of(env, thiz, field);

  handle = kyr_handle_register(cookie, sizeof *cookie, KYR_HANDLE_COOKIE);
  if (handle < 0) goto fail;
  set_env(cookie, vm);
  if (native_init(cookie) == 0) {
    env->SetIntField(thiz, field, handle);
    env->DeleteLocalRef(clazz);
    return 0;
  }
  set_env(nullptr, nullptr);

fail:
  if (handle > 0) kyr_handle_release(handle, KYR_HANDLE_COOKIE, kTag);
  cookie_finalize(cookie);
  if (field) env->SetIntField(thiz, field, 0);
  env->DeleteLocalRef(clazz);
  return -1;
}

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativeConnect(JNIEnv *env, jobject,
                                                                               jstring address, jstring serial,
                                                                               jstring clientVersion,
                                                                               jstring minServerVersion,
                                                                               jstring maxServerVersion) {
  JniUtf addr(env, address), sn(env, serial), cv(env, clientVersion), minv(env, minServerVersion),
      maxv(env, maxServerVersion);
  session_record &s = kyr_session();

  /* Read before the drop: the worker now learns of it at once and may
   * already have reported it when the state is looked at below. */
  const bool was_connected = s.state.load() == SESSION_CONNECTED;
  session_drop_connection();
  if (!session_is_set_up()) return CSAPI_ERR_NOT_INITIALIZED;
  if (!addr.get()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeConnect: no server address\n");
    return CSAPI_ERR_BAD_PARAMETER;
  }
  if (strlen(addr.get()) >= kAddressMax || (sn.get() && strlen(sn.get()) >= sizeof s.serial)) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeConnect: address or serial number too long\n");
    return CSAPI_ERR_BAD_PARAMETER;
  }

  char serial_copy[sizeof s.serial];
  copy_cut(serial_copy, sizeof serial_copy, sn.get());
  {
    std::lock_guard<std::mutex> g(s.mu);
    memcpy(s.serial, serial_copy, sizeof s.serial);
  }
  /* The connection closed above is reported lost by the worker. */
  if (was_connected) return 0;

  const unsigned gen = s.connect_gen.load();
  const int handle = csConnect(addr.get(), kDeviceType, cv.get(), minv.get(), maxv.get());
  if (gen != s.connect_gen.load()) {
    /* Disconnected meanwhile: that wins. */
    if (handle >= 0) csDisconnect(handle);
    return CSAPI_ERR_NO_CONNECT;
  }
  if (handle < 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "csConnect error (error:%d, %s)\n", handle, csErrorString());
    session_transition(SESSION_FAILED, "connect", gen);
    return handle;
  }
  s.instance = handle;
  kyr_modules_run(KYR_MODULE_CONNECT, handle);

  const int rc = csAuth(handle, serial_copy);
  if (rc != 0 && rc != CSAPI_ERR_PAIRING_REQUIRED && gen == s.connect_gen.load()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "csAuth error (error:%d, %s)\n", rc, csErrorString());
    session_drop_connection();
    return rc;
  }
  /* A disconnect since the connect began wins, also one that comes while
   * the state is being set: the move checks the generation under the lock. */
  const session_state to = rc == 0 ? SESSION_CONNECTED : SESSION_PAIRING;
  if (gen != s.connect_gen.load() || !session_transition(to, "connect", gen)) {
    drop_if_ours(handle);
    return CSAPI_ERR_NO_CONNECT;
  }
  /* A pairing connection stays open for NativePair. */
  if (rc == 0) kyr_start_post_connect();
  return rc;
}

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativePair(JNIEnv *env, jobject, jstring name,
                                                                            jstring password) {
  JniUtf n(env, name), p(env, password);
  session_record &s = kyr_session();
  if (!session_is_set_up()) return CSAPI_ERR_NOT_INITIALIZED;
  if (!n.get()) return 0;
  if (!p.get()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativePair: no password\n");
    return CSAPI_ERR_BAD_PARAMETER;
  }
  char serial_copy[sizeof s.serial];
  {
    std::lock_guard<std::mutex> g(s.mu);
    memcpy(serial_copy, s.serial, sizeof serial_copy);
  }
  const unsigned gen = s.connect_gen.load();
  const int rc = csPair(s.instance.load(), serial_copy, n.get(), p.get());
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "csPair error (error:%d, %s)\n", rc, csErrorString());
    return rc;
  }
  /* A disconnect during the pairing wins. */
  if (!session_transition(SESSION_CONNECTED, "pair", gen)) return CSAPI_ERR_NO_CONNECT;
  kyr_start_post_connect();
  return 0;
}

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativeDisconnect(JNIEnv *, jobject) {
  session_cancel_connects();
  session_transition(SESSION_DISCONNECTED, "disconnect");
  session_drop_connection();
  return 0;
}

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativeGetConnectionState(JNIEnv *, jobject) {
  return kyr_connect_state();
}

extern "C" jstring Java_quorvex_kyrconnectservice_KyrConnectService_NativeGetMinDavixVersion(JNIEnv *env, jobject) {
  const int instance = kyr_server_instance();
  CSSrvrInfo info;
  memset(&info, 0, sizeof info);
  if (csSrvrGet(&info, instance >= 0 ? (unsigned)instance : 0u) != 0) return nullptr;
  return jni_new_string(env, info.minClientSWVer);
}

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativeSendSystemInfoToKyr(
    JNIEnv *env, jobject, jstring appVersion, jstring platformVersion, jint addressMode, jstring language) {
  JniUtf app(env, appVersion), plat(env, platformVersion), lang(env, language);
  if (!session_is_set_up()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativeSendSystemInfoToKyr: g_service_env not initialized!");
    return CSAPI_ERR_NOT_INITIALIZED;
  }
  char hardware[65];
  kyr_read_board_revision(kBoardRevPath, hardware);
  if (!app.get() || !plat.get() || !lang.get()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag,
                   "NativeSendSystemInfoToKyr: appPackageVersionStr && platformVersionStr && systemLanguageStr == NULL");
    return CSAPI_ERR_BAD_PARAMETER;
  }
  CSClientInfo info;
  memset(&info, 0, sizeof info);
  copy_cut(info.applicationVersion, sizeof info.applicationVersion, app.get());
  copy_cut(info.platformVersion, sizeof info.platformVersion, plat.get());
  copy_cut(info.hardwareVersion, sizeof info.hardwareVersion, hardware);
  info.addressMode = (uint32_t)addressMode;
  copy_cut(info.language, sizeof info.language, lang.get());
  const int rc = csClientSet(&info, kyr_server_instance());
  if (rc != 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "csClientSet error (error:%d, %s)\n", rc, csErrorString());
  return rc;
}

extern "C" void Java_quorvex_kyrconnectservice_KyrConnectService_NativeFinalize(JNIEnv *env, jobject thiz) {
  session_cancel_connects();
  /* Let go of Java first: the worker reacts to the close request at once,
   * and its last state change must find the service already gone. */
  finalize_cookie_of(env, thiz, cookie_field(env, thiz));
  set_env(nullptr, nullptr);
  native_close();
  kyr_modules_run(KYR_MODULE_RELEASE, -1);
}

extern "C" void Java_quorvex_kyrconnectservice_KyrConnectService_NativeRelease(JNIEnv *env, jobject thiz) {
  Java_quorvex_kyrconnectservice_KyrConnectService_NativeFinalize(env, thiz);
  jfieldID f = cookie_field(env, thiz);
  if (f) env->SetIntField(thiz, f, 0);
}
