#include "platform/jni_util.h"

#include <stdint.h>

#include <pthread.h>
#include <string.h>

#include <string>

#include "platform/kyr_log.h"

namespace {

pthread_key_t g_detachKey;
pthread_once_t g_detachOnce = PTHREAD_ONCE_INIT;

/* Runs when a thread we attached ends: a thread that ends attached leaks
 * its Java thread object and, if not a daemon, keeps the JVM from exiting. */
void detach_at_exit(void *vm) {
  if (vm) static_cast<JavaVM *>(vm)->DetachCurrentThread();
}

void make_key() { pthread_key_create(&g_detachKey, detach_at_exit); }

bool cont(unsigned char c) { return (c & 0xC0) == 0x80; }

/* Length of the well-formed UTF-8 sequence at p (1..4 bytes), or 0 if it is
 * not one. Reads stop at the first byte that does not fit, so a NUL ends
 * the check before anything past it is read. */
size_t utf8_seq(const unsigned char *p) {
  unsigned char c = p[0];
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return cont(p[1]) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(p[1]) || !cont(p[2])) return 0;
    if (c == 0xE0 && p[1] < 0xA0) return 0;  /* overlong */
    if (c == 0xED && p[1] >= 0xA0) return 0; /* surrogate */
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(p[1]) || !cont(p[2]) || !cont(p[3])) return 0;
    if (c == 0xF0 && p[1] < 0x90) return 0;  /* overlong */
    if (c == 0xF4 && p[1] >= 0x90) return 0; /* above U+10FFFF */
    return 4;
  }
  return 0;
}

void put_3byte(std::string &out, unsigned v) {
  out.push_back((char)(0xE0 | (v >> 12)));
  out.push_back((char)(0x80 | ((v >> 6) & 0x3F)));
  out.push_back((char)(0x80 | (v & 0x3F)));
}

}  // namespace

extern "C" JNIEnv *jni_attach(JavaVM *vm, const char *tag, const char *who) {
  if (!vm) return nullptr;
  JNIEnv *env = nullptr;
  jint rc = vm->GetEnv(reinterpret_cast<void **>(&env), KYR_JNI_VERSION);
  if (rc == JNI_OK) return env;
  if (rc != JNI_EDETACHED) {
    kyr_log_printf(KYR_LOG_ERROR, tag, "%s: GetEnv failed %d\n", who, (int)rc);
    return nullptr;
  }
  if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void **>(&env), nullptr) != JNI_OK || !env) {
    kyr_log_printf(KYR_LOG_ERROR, tag, "%s: AttachCurrentThread failed\n", who);
    return nullptr;
  }
  pthread_once(&g_detachOnce, make_key);
  pthread_setspecific(g_detachKey, vm);
  return env;
}

extern "C" int jni_check_exception(JNIEnv *env, const char *tag, const char *what) {
  if (!env || !env->ExceptionCheck()) return 0;
  jthrowable t = env->ExceptionOccurred();
  env->ExceptionClear();
  std::string text = "(no description)";
  if (t) {
    jclass cls = env->GetObjectClass(t);
    jmethodID toString = cls ? env->GetMethodID(cls, "toString", "()Ljava/lang/String;") : nullptr;
    jstring s = toString ? static_cast<jstring>(env->CallObjectMethod(t, toString)) : nullptr;
    if (env->ExceptionCheck()) env->ExceptionClear();
    if (s) {
      const char *c = env->GetStringUTFChars(s, nullptr);
      if (c) {
        text = c;
        env->ReleaseStringUTFChars(s, c);
      }
      env->DeleteLocalRef(s);
    }
    if (cls) env->DeleteLocalRef(cls);
    env->DeleteLocalRef(t);
  }
  kyr_log_printf(KYR_LOG_ERROR, tag, "%s: Java exception: %s", what ? what : "JNI call", text.c_str());
  return 1;
}

extern "C" jclass jni_find_class_global(JNIEnv *env, const char *tag, const char *name) {
  jclass local = env->FindClass(name);
  if (!local) {
    jni_check_exception(env, tag, name);
    kyr_log_printf(KYR_LOG_ERROR, tag, "Can't find class %s", name);
    return nullptr;
  }
  jclass global = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  return global;
}

extern "C" jmethodID jni_static_method(JNIEnv *env, const char *tag, jclass cls, const char *name, const char *sig) {
  jmethodID id = cls ? env->GetStaticMethodID(cls, name, sig) : nullptr;
  if (!id) {
    jni_check_exception(env, tag, name);
    kyr_log_printf(KYR_LOG_ERROR, tag, "Can't find static method %s%s", name, sig);
  }
  return id;
}

extern "C" jmethodID jni_method(JNIEnv *env, const char *tag, jclass cls, const char *name, const char *sig) {
  jmethodID id = cls ? env->GetMethodID(cls, name, sig) : nullptr;
  if (!id) {
    jni_check_exception(env, tag, name);
    kyr_log_printf(KYR_LOG_ERROR, tag, "Can't find method %s%s", name, sig);
  }
  return id;
}

extern "C" jfieldID jni_field(JNIEnv *env, const char *tag, jclass cls, const char *name, const char *sig) {
  jfieldID id = cls ? env->GetFieldID(cls, name, sig) : nullptr;
  if (!id) {
    jni_check_exception(env, tag, name);
    kyr_log_printf(KYR_LOG_ERROR, tag, "Can't find field %s %s", name, sig);
  }
  return id;
}

extern "C" jstring jni_new_string(JNIEnv *env, const char *text) {
  if (!env || !text) return nullptr;
  std::string clean;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  while (*p) {
    size_t n = utf8_seq(p);
    if (n == 0) {
      clean.push_back('?');
      p++;
    } else if (n == 4) {
      /* Modified UTF-8 carries a supplementary character as its two
       * surrogates, each in three bytes. */
      unsigned cp = ((p[0] & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
      cp -= 0x10000;
      put_3byte(clean, 0xD800 | (cp >> 10));
      put_3byte(clean, 0xDC00 | (cp & 0x3FF));
      p += 4;
    } else {
      clean.append(reinterpret_cast<const char *>(p), n);
      p += n;
    }
  }
  jstring s = env->NewStringUTF(clean.c_str());
  if (!s) jni_check_exception(env, "KyrConnectLib", "NewStringUTF");
  return s;
}

bool jni_string_utf8(JNIEnv *env, jstring s, std::string *out) {
  out->clear();
  if (!env || !s) return false;
  jsize n = env->GetStringLength(s);
  const jchar *u = env->GetStringCritical(s, nullptr);
  if (!u) {
    jni_check_exception(env, "KyrConnectLib", "GetStringCritical");
    return false;
  }
  /* Room for the longest encoding up front: a reallocation would leave a
   * copy of the text (perhaps a password) behind in freed memory. */
  out->reserve(static_cast<size_t>(n) <= (SIZE_MAX - 1) / 3 ? static_cast<size_t>(n) * 3 + 1 : static_cast<size_t>(n));
  for (jsize i = 0; i < n; i++) {
    unsigned c = u[i];
    if (c == 0) break;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
      i++;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (c >> 6)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      put_3byte(*out, c);
    } else {
      out->push_back(static_cast<char>(0xF0 | (c >> 18)));
      out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  env->ReleaseStringCritical(s, u);
  return true;
}
