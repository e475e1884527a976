/* The security face of the library for Java's SecuritySubSystemInterface:
 * SHA-1 of a text, the security settings page and its changes, and the
 * change callbacks of the security and password records, each posting
 * EVENT_SECURITY_SETTINGS_CHANGED with its update list. No password value is
 * ever logged. */
#ifndef KYR_SECURITY_H
#define KYR_SECURITY_H

#include <jni.h>
#include <stddef.h>

#include "service/interfaces/system.h"

#define KYR_SECURITY_UPDATE_LIST(X)                                                                          \
  X(on_security_settings_changed, Sec, GetSecuritySettingsUpdates, EVENT_SECURITY_SETTINGS_CHANGED)          \
  X(on_security_pwd_changed, SecPwd, GetSecurityPwdUpdates, EVENT_SECURITY_SETTINGS_CHANGED)                 \
  X(on_security_pwd_validity_changed, SecPwdValidity, GetSecurityPwdValidityUpdates,                         \
    EVENT_SECURITY_SETTINGS_CHANGED)                                                                         \
  X(on_security_pwd_attr_changed, SecPwdAttr, GetSecurityPwdAttributesUpdates, EVENT_SECURITY_SETTINGS_CHANGED)

/* Bytes of the hashed input at most, and of the text result with its
 * terminator: "{SHA1}" and 40 lowercase hexadecimal digits. */
#define KYR_SHA1_INPUT_MAX 40
#define KYR_SHA1_TEXT_SIZE 47

KYR_EXTERN_C_BEGIN

KYR_SECURITY_UPDATE_LIST(KYR_DECLARE_UPDATE_BODY)

/* "{SHA1}" and the digest of the first KYR_SHA1_INPUT_MAX bytes of
 * (bytes, len) in lowercase hexadecimal; null bytes hash as the empty text.
 * 0, or -1 (out empty) when the crypto library cannot make a digest. */
int kyr_sha1_text(const char *bytes, size_t len, char out[KYR_SHA1_TEXT_SIZE]);

/* ---- JNI entry points of quorvex.kyrconnectservice.SecuritySubSystemInterface ---- */
#define KYR_SECURITY_JNI(ret, name) \
  KYR_API JNIEXPORT ret JNICALL Java_quorvex_kyrconnectservice_SecuritySubSystemInterface_##name
KYR_SECURITY_JNI(jstring, NativeGetSha1)(JNIEnv *env, jobject thiz, jstring text);
KYR_SECURITY_JNI(jint, NativeSetSecuritySettings)(JNIEnv *env, jobject thiz, jstring key, jstring value);
KYR_SECURITY_JNI(jlong, NativeGetSecuritySettings)(JNIEnv *env, jobject thiz);
KYR_SECURITY_JNI(void, NativeSecuritySettingsRelease)(JNIEnv *env, jobject thiz, jlong head);

KYR_EXTERN_C_END

#endif
