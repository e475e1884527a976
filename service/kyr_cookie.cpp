/* The service's link to Java: the cookie's references, and the one path by
 * which native code posts an event to postEventFromNative. */
#include <jni.h>

#include "platform/jni_util.h"
#include "platform/kyr_log.h"
#include "service/interfaces/kyr_iface.h"
#include "service/kyr_handles.h"
#include "service/kyr_session.h"

namespace {

const char kTag[] = "KyrConnectLib";
const char kPostName[] = "postEventFromNative";

void cookie_destroy(callback_cookie *c) {
  if (c->vm) {
    JNIEnv *env = javavm_attach_thread(c->vm);
    if (env) {
      if (c->clazz) env->DeleteGlobalRef(c->clazz);
      if (c->ref) env->DeleteGlobalRef(c->ref);
    }
  }
  delete c;
}

/* Calls postEventFromNative through cookie (null: the current set-up's).
 * True when Java was called; false when the event was dropped. */
bool deliver(callback_cookie *cookie, int code, int value1, int value2, jobject obj) {
  session_record &s = kyr_session();
  JavaVM *vm;
  {
    std::lock_guard<std::mutex> g(s.mu);
    if (!s.env.cookie || !s.env.vm) {
      vm = nullptr;
    } else {
      if (!cookie) cookie = s.env.cookie;
      if (cookie->finalized) return false;
      vm = s.env.vm;
      cookie->refs++;
    }
  }
  if (!vm) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: NULL JavaVM\n", "unknown function");
    return false;
  }
  JNIEnv *env = javavm_attach_thread(vm);
  bool delivered = false;
  if (!env) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: GetEnv/AttachCurrentThread failed\n", "send_event");
  } else {
    env->CallStaticVoidMethod(cookie->clazz, cookie->post, cookie->ref, (jint)code, (jint)value1, (jint)value2, obj);
    /* A listener that threw has still been handed the event. */
    jni_check_exception(env, kTag, kPostName);
    delivered = true;
  }
  cookie_drop(cookie);
  return delivered;
}

}  // namespace

void cookie_hold(callback_cookie *c) {
  if (!c) return;
  std::lock_guard<std::mutex> g(kyr_session().mu);
  c->refs++;
}

void cookie_drop(callback_cookie *c) {
  if (!c) return;
  bool last;
  {
    std::lock_guard<std::mutex> g(kyr_session().mu);
    last = --c->refs == 0;
  }
  if (last) cookie_destroy(c);
}

void cookie_finalize(callback_cookie *c) {
  if (!c) return;
  {
    std::lock_guard<std::mutex> g(kyr_session().mu);
    if (c->finalized) return;
    c->finalized = true;
  }
  kyr_handle_forget(c);
  cookie_drop(c);
}

bool session_is_set_up(void) {
  session_record &s = kyr_session();
  std::lock_guard<std::mutex> g(s.mu);
  return s.env.cookie != nullptr;
}

extern "C" JNIEnv *javavm_attach_thread(JavaVM *vm) { return jni_attach(vm, kTag, "javavm_attach_thread"); }

extern "C" JavaVM *jnienv_to_javavm(JNIEnv *env) {
  if (!env) return nullptr;
  JavaVM *vm = nullptr;
  jint rc = env->GetJavaVM(&vm);
  if (rc != JNI_OK) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: GetJavaVM failed %d\n", "jnienv_to_javavm", (int)rc);
    return nullptr;
  }
  return vm;
}

extern "C" void send_event(callback_cookie *cookie, int code, int value1, int value2, jobject obj) {
  if (!cookie) {
    /* Logged as before when nothing is set up; silently dropped otherwise. */
    if (!session_is_set_up()) kyr_log_printf(KYR_LOG_ERROR, kTag, "%s: NULL JavaVM\n", "unknown function");
    return;
  }
  deliver(cookie, code, value1, value2, obj);
}

extern "C" int kyr_post_keep(int code, int value1, int value2, jobject obj) {
  return deliver(nullptr, code, value1, value2, obj) ? 1 : 0;
}

extern "C" int kyr_post(int code, int value1, int value2, jobject obj) {
  if (kyr_post_keep(code, value1, value2, obj)) return 1;
  if (kyr_event_payload_kind(code) == PAYLOAD_OWNED && value1 > 0) kyr_payload_free(value1);
  return 0;
}

extern "C" callback_cookie *kyr_cookie_get(void) {
  session_record &s = kyr_session();
  std::lock_guard<std::mutex> g(s.mu);
  if (!s.env.cookie) return nullptr;
  s.env.cookie->refs++;
  return s.env.cookie;
}

extern "C" void kyr_cookie_put(callback_cookie *cookie) { cookie_drop(cookie); }
