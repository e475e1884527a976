#include "service/interfaces/security.h"

#include <stdio.h>
#include <string.h>

#include <openssl/evp.h>

#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"

KYR_SECURITY_UPDATE_LIST(KYR_DEFINE_UPDATE_CALLBACK)

extern "C" int kyr_sha1_text(const char *bytes, size_t len, char out[KYR_SHA1_TEXT_SIZE]) {
  if (!bytes) len = 0;
  if (len > KYR_SHA1_INPUT_MAX) len = KYR_SHA1_INPUT_MAX;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  static const char kEmpty[] = "";
  if (EVP_Digest(len ? bytes : kEmpty, len, digest, &n, EVP_sha1(), nullptr) != 1 || n != 20) {
    /* Only without a working crypto library; never hand out a wrong digest. */
    kyr_log_printf(KYR_LOG_ERROR, KYR_SYSTEM_TAG, "NativeGetSha1: SHA-1 unavailable\n");
    out[0] = '\0';
    return -1;
  }
  memcpy(out, "{SHA1}", 6);
  for (int i = 0; i < 20; i++) snprintf(out + 6 + 2 * i, 3, "%2.2x", digest[i]);
  out[KYR_SHA1_TEXT_SIZE - 1] = '\0';
  return 0;
}

/* ---- JNI ---- */

/* The digest covers the modified UTF-8 bytes JNI gives for the string (the
 * same as standard UTF-8 unless the text holds NUL or characters beyond
 * U+FFFF). Null only when no digest can be made. */
KYR_SECURITY_JNI(jstring, NativeGetSha1)(JNIEnv *env, jobject, jstring text) {
  const char *utf = text ? env->GetStringUTFChars(text, nullptr) : nullptr;
  if (text && !utf) return nullptr; /* OutOfMemoryError pending */
  char out[KYR_SHA1_TEXT_SIZE];
  int rc = kyr_sha1_text(utf, utf ? strlen(utf) : 0, out);
  if (utf) env->ReleaseStringUTFChars(text, utf);
  return rc == 0 ? env->NewStringUTF(out) : nullptr;
}

/* Values are never logged here: the keys include passwords. */
KYR_SECURITY_JNI(jint, NativeSetSecuritySettings)(JNIEnv *env, jobject, jstring key, jstring value) {
  JniUtf k(env, key), v(env, value);
  return SetSecuritySystemSettings(k.get(), v.get());
}

KYR_SECURITY_JNI(jlong, NativeGetSecuritySettings)(JNIEnv *, jobject) {
  return kyr_settings_result(GetSecuritySystemSettings());
}

KYR_SECURITY_JNI(void, NativeSecuritySettingsRelease)(JNIEnv *, jobject, jlong head) { SettingsListRelease(head); }
