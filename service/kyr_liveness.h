/* The service's liveness setting (KyrConnectService.NativeSetLiveness). */
#ifndef KYR_LIVENESS_H
#define KYR_LIVENESS_H

#include <jni.h>

#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN
/* 0..300 seconds (0: off), kept across disconnects, connects and set-ups;
 * 0, or -10 for anything else. Callable before set-up. */
KYR_API JNIEXPORT jint JNICALL Java_quorvex_kyrconnectservice_KyrConnectService_NativeSetLiveness(JNIEnv *env,
                                                                                                   jobject thiz,
                                                                                                   jint seconds);
KYR_EXTERN_C_END

#endif
