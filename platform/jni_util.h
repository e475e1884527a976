/* Small JNI helpers shared by every JNI-facing file of the library.
 *
 * Lookups fail loudly: a missing class, method or field is logged with its
 * name and signature and its pending exception cleared, and the caller gets
 * null. Every call into Java is followed by jni_check_exception, which logs
 * the throwable's text and clears it, so a Java fault never unwinds into
 * native code that cannot handle it. */
#ifndef KYR_JNI_UTIL_H
#define KYR_JNI_UTIL_H

#include <jni.h>

#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

/* The JNI version every GetEnv asks for. */
#define KYR_JNI_VERSION JNI_VERSION_1_4

/* A JNIEnv for the calling thread, attaching it to vm when it is not yet
 * attached. Threads attached here are attached as daemons (so they never keep
 * the JVM from exiting) and are detached automatically when they end.
 * Null on failure, logged under tag with `who` as the function name. */
JNIEnv *jni_attach(JavaVM *vm, const char *tag, const char *who);

/* Logs and clears a pending exception; 1 if there was one, else 0. */
int jni_check_exception(JNIEnv *env, const char *tag, const char *what);

/* Cached-lookup helpers; null (logged, exception cleared) when missing. */
jclass jni_find_class_global(JNIEnv *env, const char *tag, const char *name);
jmethodID jni_static_method(JNIEnv *env, const char *tag, jclass cls, const char *name, const char *sig);
jmethodID jni_method(JNIEnv *env, const char *tag, jclass cls, const char *name, const char *sig);
jfieldID jni_field(JNIEnv *env, const char *tag, jclass cls, const char *name, const char *sig);

/* A Java string from native UTF-8 text that may come from the network:
 * bytes that are not well-formed UTF-8 become '?', and characters beyond
 * U+FFFF are passed as the surrogate pairs JNI's modified UTF-8 expects, so
 * NewStringUTF never sees bad input. Null for null text or when the string
 * cannot be made. */
jstring jni_new_string(JNIEnv *env, const char *text);

KYR_EXTERN_C_END

#ifdef __cplusplus
#include <string>

/* Standard UTF-8 of a Java string, for JSON text that strict peers parse:
 * surrogate pairs are combined into one 4-byte character, an unpaired
 * surrogate becomes U+FFFD, and the text ends at the first NUL character
 * (GetStringUTFChars would give modified UTF-8: C0 80 for NUL and two 3-byte
 * halves for a supplementary character, neither of which is valid JSON text).
 * Returns false (out cleared) when the string cannot be read. */
bool jni_string_utf8(JNIEnv *env, jstring s, std::string *out);

/* A Java string as standard UTF-8 text for the life of the object (see
 * jni_string_utf8); get() is null for a null string or one that cannot be
 * read. Every entry point takes its string arguments through this. The text
 * is wiped when the object goes, since some of it is a password. */
struct JniUtf {
  JniUtf(JNIEnv *e, jstring s) : ok(s && e && jni_string_utf8(e, s, &text)) {}
  ~JniUtf() {
    volatile char *p = &text[0];
    for (size_t i = 0; i < text.size(); i++) p[i] = 0;
  }
  JniUtf(const JniUtf &) = delete;
  JniUtf &operator=(const JniUtf &) = delete;
  const char *get() const { return ok ? text.c_str() : nullptr; }
  size_t size() const { return ok ? text.size() : 0; }

 private:
  std::string text;
  bool ok;
};
#endif

#endif
