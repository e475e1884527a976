/* The service core: set-up and tear-down of the JNI bridge, the internal
 * threads, the connection state machine and the one path by which native
 * code posts events to Java.
 *
 * Threads (see also the README):
 *   Java callers   every JNI entry point; each CSAPI call runs on its caller.
 *   dispatch       started by the first set-up, lives as long as the process;
 *                  runs the kvel loop and every requestTimedCallback function.
 *   main loop      one per set-up; starts the worker, then waits for it to end.
 *   worker         one per set-up; runs every notification handler (through
 *                  csCallbackProcess) and notices a lost connection.
 *   post-connect   one per successful csAuth/csPair; fetches the comm, audio
 *                  and directory records into the cache.
 * send_event may be called from any of them; it posts synchronously on the
 * calling thread, attaching it to the JVM (as a daemon) on first use. */
#ifndef KYR_SERVICE_H
#define KYR_SERVICE_H

#include <jni.h>
#include <sys/time.h>

#include "platform/kyr_api.h"
#include "service/events.h"

KYR_EXTERN_C_BEGIN

/* The service's link to Java: the service class and the reference object
 * given to NativeSetup (both global references). Java holds it only by its
 * 32-bit handle in mNativeCallbackCookie. Notification handlers receive it
 * as their userDefined value and pass it to send_event. */
typedef struct callback_cookie callback_cookie;

/* The set-up service: its cookie and the process's VM. */
typedef struct svc_context {
  callback_cookie *cookie;
  JavaVM *vm;
} svc_context;

/* Posts one event to Java (KyrConnectService.postEventFromNative) on the
 * calling thread. Dropped, with a log line, when the service is not set up;
 * a null cookie is dropped silently. A Java exception is logged and cleared.
 * Any record whose handle is posted must stay valid until this returns. */
KYR_API void send_event(callback_cookie *cookie, int code, int value1, int value2, jobject obj);

/* Posts one event to Java through the current set-up, on the calling thread
 * (any thread). value1 is read by the event's payload kind (events.h). 1
 * when Java's postEventFromNative was called with it; 0 when the event was
 * dropped (nothing set up, the set-up being released, no JNIEnv), in which
 * case an owned payload (PAYLOAD_OWNED, value1 > 0) has been freed, since
 * nobody else can. The one way every interface posts. */
int kyr_post(int code, int value1, int value2, jobject obj);
/* The same, but an owned payload nobody received stays the caller's: for one
 * node carried by several events, freed only when none was received. */
int kyr_post_keep(int code, int value1, int value2, jobject obj);

/* Runs function(argument) once on the dispatch thread after at least
 * `relative` (null: now). 0, or -1 when the dispatch thread is not running
 * or memory is short (the function is then never called). Any thread. */
KYR_API int requestTimedCallback(void (*function)(void *), void *argument, const struct timeval *relative);

/* A JNIEnv for the calling thread, attaching it if needed (see jni_attach). */
KYR_API JNIEnv *javavm_attach_thread(JavaVM *vm);
/* The VM of env, or null (logged). */
KYR_API JavaVM *jnienv_to_javavm(JNIEnv *env);

/* The function the worker calls when it ends (on the worker thread). */
KYR_API void set_on_worker_closed(void (*function)(void));

/* Moves the connection state and posts EVENT_CONNECT_STATE_CHANGED when it
 * changed. While the service is closed every state becomes Disconnected and
 * drops the connection. Any thread; never call it holding a lock Java could
 * need, since the event is posted synchronously. */
KYR_API void setConnectState(KYR_Connect_State state);

/* Set-up steps behind NativeSetup, callable without Java (the cookie may be
 * null: events are then not posted). native_init starts the dispatch thread
 * (once per process) and a main-loop thread, and returns 0 when the worker
 * runs, -1 when it could not be started. native_close asks the worker to end;
 * it does not wait. */
KYR_API int native_init(callback_cookie *cookie);
KYR_API void native_close(void);

/* ---- for the Java-facing interfaces ---- */

/* The server instance of the service's connection, -1 when none. */
int kyr_server_instance(void);
/* The current KYR_Connect_State. */
int kyr_connect_state(void);
/* The cookie of the current set-up, held for the caller (null when not set
 * up); give it back with kyr_cookie_put. For events posted from threads
 * that were not handed the cookie, such as timed callbacks. */
callback_cookie *kyr_cookie_get(void);
void kyr_cookie_put(callback_cookie *cookie);

/* The post-connect fetch on the calling thread: the communication, audio
 * and directory records into their caches, then the known directory
 * servers. 0 when every read succeeded, else the first failing code. */
int kyr_post_connect_fetch(int instance);

/* ---- for tests ---- */

/* The board revision sent as hardware version: the first line of path (at
 * most 64 characters, cut at CR or LF), or "UNKNOWN" when it cannot be read.
 * out must hold 65 bytes. */
void kyr_read_board_revision(const char *path, char *out);
/* Points the interfaces at a connection a test made itself with csConnect
 * (no service set-up needed); -1 forgets it without closing it. */
void kyr_service_debug_set_server_instance(int instance);
/* Makes the next main-loop thread fail to start its worker. */
void kyr_service_debug_fail_worker_start(int fail);
/* Waits (bounded) until no main loop of an earlier set-up runs; 0 when none
 * runs, -1 when one still runs after timeout_ms. */
int kyr_service_wait_idle(int timeout_ms);
/* Number of event dispatch threads ever started in this process. */
int kyr_service_dispatch_threads_started(void);

/* ---- JNI entry points of quorvex.kyrconnectservice.KyrConnectService ---- */

KYR_API JNIEXPORT jint JNICALL Java_quorvex_kyrconnectservice_KyrConnectService_NativeSetup(JNIEnv *env, jobject thiz,
                                                                                           jobject ref);
KYR_API JNIEXPORT jint JNICALL Java_quorvex_kyrconnectservice_KyrConnectService_NativeConnect(
    JNIEnv *env, jobject thiz, jstring address, jstring serial, jstring clientVersion, jstring minServerVersion,
    jstring maxServerVersion);
KYR_API JNIEXPORT jint JNICALL Java_quorvex_kyrconnectservice_KyrConnectService_NativePair(JNIEnv *env, jobject thiz,
                                                                                          jstring name,
                                                                                          jstring password);
KYR_API JNIEXPORT jint JNICALL Java_quorvex_kyrconnectservice_KyrConnectService_NativeDisconnect(JNIEnv *env,
                                                                                                jobject thiz);
KYR_API JNIEXPORT jint JNICALL Java_quorvex_kyrconnectservice_KyrConnectService_NativeGetConnectionState(JNIEnv *env,
                                                                                                        jobject thiz);
KYR_API JNIEXPORT jstring JNICALL Java_quorvex_kyrconnectservice_KyrConnectService_NativeGetMinDavixVersion(
    JNIEnv *env, jobject thiz);
KYR_API JNIEXPORT jint JNICALL Java_quorvex_kyrconnectservice_KyrConnectService_NativeSendSystemInfoToKyr(
    JNIEnv *env, jobject thiz, jstring appVersion, jstring platformVersion, jint addressMode, jstring language);
/* The fingerprint of the codec the service's connection goes to, as 64
 * lowercase hex digits into out (CS_FINGERPRINT_SIZE bytes): 0, -18 without
 * a connection, -4 for a plain TCP one, -10 for bad arguments. */
int kyr_server_fingerprint(char *out, int size);
/* Null without a TLS connection (kyr_identity.cpp). */
KYR_API JNIEXPORT jstring JNICALL Java_quorvex_kyrconnectservice_KyrConnectService_NativeGetServerFingerprint(
    JNIEnv *env, jobject thiz);
/* 0; -10 for text other than 64 hex digits (the pin stays). Null or ""
 * clears the pin. */
KYR_API JNIEXPORT jint JNICALL Java_quorvex_kyrconnectservice_KyrConnectService_NativeSetPinnedFingerprint(
    JNIEnv *env, jobject thiz, jstring hex);
KYR_API JNIEXPORT void JNICALL Java_quorvex_kyrconnectservice_KyrConnectService_NativeFinalize(JNIEnv *env,
                                                                                              jobject thiz);
KYR_API JNIEXPORT void JNICALL Java_quorvex_kyrconnectservice_KyrConnectService_NativeRelease(JNIEnv *env,
                                                                                             jobject thiz);

KYR_EXTERN_C_END

#endif
