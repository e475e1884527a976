/* Calls and conferences for Java (CommSubSystemInterface).
 *
 * Every entry point is a thin JNI wrapper around one of the comm_* functions
 * below, which do the work against the service's connection on the calling
 * thread and can be called without a JVM. Each fetches into its own records;
 * the module's shared state (last conference, last terminal, call state, the
 * Java-visible snapshots) is updated afterwards under one lock per kind.
 *
 * Handlers (worker thread): on_term_changed, on_conf_changed,
 * on_comm_changed, the seven network-interface handlers and
 * on_recent_call_list_archived (declared in kyr_handlers.h). The delayed
 * call-state event runs on the dispatch thread.
 *
 * Every log line goes to "KyrConnectLib:Comm". */
#ifndef KYR_COMM_H
#define KYR_COMM_H

#include <jni.h>
#include <stddef.h>
#include <stdint.h>

#include "csapi/client/cs_records.h"
#include "platform/kyr_api.h"
#include "service/kyr_service.h"

#define KYR_LAYOUT_DEF "service/interfaces/layouts/KyrCallStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/KyrCallMediaStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/KyrConferenceStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/CommSystemStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/DirAddressEntryStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/DirAddressListStruct.def"
#include "service/interfaces/kyr_layout_expand.h"

#define KYR_COMM_TAG "KyrConnectLib:Comm"

/* Size of the dial string buffer ("prefix:address" and its terminator). */
#define KYR_COMM_DIAL_STRING_SIZE 128
/* Addresses one dial list may carry. */
#define KYR_COMM_MAX_DIAL_ADDRESSES 10
/* Media streams asked for per call. */
#define KYR_COMM_MEDIA_SLOTS 8
/* A media stream in this state carries statistics. */
#define KYR_COMM_MEDIA_ACTIVE 2

/* Call states (KyrCallStruct.state, value1 of the call-state event). */
#define KYR_CALL_STATE_LIST(X) \
  X(KYR_CALL_ACTIVE, 0, "Active")             \
  X(KYR_CALL_HOLDING, 1, "Holding")           \
  X(KYR_CALL_DIALING, 2, "Dialing")           \
  X(KYR_CALL_ALERTING, 3, "Alerting")         \
  X(KYR_CALL_INCOMING, 4, "Incoming")         \
  X(KYR_CALL_WAITING, 5, "Waiting")           \
  X(KYR_CALL_TRANSFERRING, 6, "Transferring") \
  X(KYR_CALL_DISCONNECTED, 7, "Disconnected")

#define KYR_CALL_STATE_ENUM(name, value, text) name = value,
enum kyr_call_state { KYR_CALL_STATE_LIST(KYR_CALL_STATE_ENUM) };
#undef KYR_CALL_STATE_ENUM

KYR_EXTERN_C_BEGIN

/* Names of call and authentication states; "Unknown" out of range. */
const char *comm_call_state_name(unsigned int state);
const char *comm_auth_state_name(unsigned int state);

/* ---- the work behind each entry point (results as the entry points give
 * them: 0 or a CSAPI code, list handles or 0) ---- */

/* Dials prefix:address (null prefix: empty) in conference conf. 0 when the
 * codec took the dial; -10 for a null address, -8 for a dial string that
 * does not fit (both logged, nothing sent); otherwise the failing code. */
int comm_dial(int conf, const char *address, const char *prefix, int rate);
/* Dials the addresses of a DirAddressListStruct of len bytes (null or short:
 * -1; a count outside 1..10: -1; nothing is sent then). */
int comm_dial_list(const void *list, size_t len, int all);
/* Answers the pending call with id term (0: the first one). 0 when one was
 * answered or none matched, else the failing code. */
int comm_accept_call(int conf, int term);
/* Hangs up: conf -1 searches the pending calls for id term; term 0 ends the
 * whole conference; else the conference's call with id term. */
int comm_hangup(int conf, int term, int cause);
int comm_leave_conf(int conf, int cause);
int comm_toggle_term_mute(int conf, int term, int mute);
int comm_toggle_conf_mute(int conf, int mute);
int comm_send_flash(int conf, int term, int duration_ms);
/* A null key string sends nothing (-10). */
int comm_send_keystring(int conf, int term, const char *keys);
/* A null password logs and gives -1. The password never reaches a log. */
int comm_authenticate_call(int conf, int term, const char *password);

/* Lists (handles of KyrCallStruct / KyrConferenceStruct /
 * KyrCallMediaStruct chains, 0 for none), released with comm_release_list. */
int64_t comm_get_current_calls(void);
int64_t comm_get_recent_calls(void);
int64_t comm_get_current_conferences(void);
int64_t comm_get_call_stats(int conf, int term);
int comm_release_list(int64_t head);

int comm_get_number_current_calls(void);
int comm_get_number_current_conferences(void);
/* The handle of the CommSystemStruct refreshed from the codec, 0 on failure. */
int64_t comm_get_comm_system(void);
/* The codec's time value, -1 on failure. */
int64_t comm_get_system_time(void);

/* ---- module state, for tests ---- */

/* The call state the delayed call-state event reports. */
int comm_call_state(void);
int comm_call_auth_state(void);
int comm_archive_time(void);
/* Copies of the last conference and terminal the module saw; 0 when none. */
int comm_last_conf(CSConf *out);
int comm_last_term(CSTerm *out);
/* Handles of the Java-visible snapshots posted with the call-list,
 * conference and system events. */
int32_t comm_call_entry_handle(void);
int32_t comm_conference_entry_handle(void);
int32_t comm_system_handle(void);
/* Resets the module state (call state back to Dialing, snapshots zeroed). */
void comm_debug_reset(void);
/* Every event the module posts goes through sink (null: kyr_post). */
typedef void (*comm_event_sink)(callback_cookie *cookie, int code, int value1, int value2, jobject obj);
void comm_debug_set_event_sink(comm_event_sink sink);
/* The function the module hands to requestTimedCallback. */
void callStateEvent(void *argument);

/* ---- JNI entry points of quorvex.kyrconnectservice.CommSubSystemInterface ---- */
#define KYR_COMM_JNI(ret, name) KYR_API JNIEXPORT ret JNICALL Java_quorvex_kyrconnectservice_CommSubSystemInterface_##name

KYR_COMM_JNI(void, NativeDial)(JNIEnv *env, jobject thiz, jint conf, jstring address, jstring prefix, jint rate);
KYR_COMM_JNI(jint, NativeDialList)(JNIEnv *env, jobject thiz, jobject list, jint all);
KYR_COMM_JNI(void, NativeAcceptCall)(JNIEnv *env, jobject thiz, jint conf, jint term);
KYR_COMM_JNI(void, NativeHangup)(JNIEnv *env, jobject thiz, jint conf, jint term, jint cause);
KYR_COMM_JNI(jint, NativeLeaveConf)(JNIEnv *env, jobject thiz, jint conf, jint cause);
KYR_COMM_JNI(jint, NativeToggleTermMute)(JNIEnv *env, jobject thiz, jint conf, jint term, jboolean mute);
KYR_COMM_JNI(jint, NativeToggleConfMute)(JNIEnv *env, jobject thiz, jint conf, jint mute);
KYR_COMM_JNI(void, NativeSendFlash)(JNIEnv *env, jobject thiz, jint conf, jint term, jint duration);
KYR_COMM_JNI(void, NativeSendKeystring)(JNIEnv *env, jobject thiz, jint conf, jint term, jstring keys);
KYR_COMM_JNI(jint, NativeAuthenticateCall)(JNIEnv *env, jobject thiz, jint conf, jint term, jstring password);
KYR_COMM_JNI(jlong, NativeGetCurrentCalls)(JNIEnv *env, jobject thiz);
KYR_COMM_JNI(jlong, NativeGetRecentCalls)(JNIEnv *env, jobject thiz);
KYR_COMM_JNI(jlong, NativeGetCurrentConferences)(JNIEnv *env, jobject thiz);
KYR_COMM_JNI(jlong, NativeGetCallStats)(JNIEnv *env, jobject thiz, jint conf, jint term);
KYR_COMM_JNI(jint, NativeGetNumberCurrentCalls)(JNIEnv *env, jobject thiz);
KYR_COMM_JNI(jint, NativeGetNumberCurrentConferences)(JNIEnv *env, jobject thiz);
KYR_COMM_JNI(jlong, NativeGetCommSystem)(JNIEnv *env, jobject thiz);
KYR_COMM_JNI(jint, NativeGetLastCallFailCause)(JNIEnv *env, jobject thiz);
KYR_COMM_JNI(jlong, NativeGetSystemTime)(JNIEnv *env, jobject thiz);
KYR_COMM_JNI(jlong, NativeGetCommSettings)(JNIEnv *env, jobject thiz);
KYR_COMM_JNI(jint, NativeSetCommSettings)(JNIEnv *env, jobject thiz, jstring key, jstring value);

/* The five releases: each frees every node of the chain it is given. */
#define KYR_COMM_RELEASE_LIST(X)        \
  X(NativeReleaseCurrentCallsList)      \
  X(NativeReleaseRecentCallList)        \
  X(NativeReleaseCurrentConferencesList) \
  X(NativeReleaseCallStatsList)         \
  X(NativeCommSettingsRelease)
#define KYR_COMM_DECLARE_RELEASE(name) KYR_COMM_JNI(void, name)(JNIEnv * env, jobject thiz, jlong head);
KYR_COMM_RELEASE_LIST(KYR_COMM_DECLARE_RELEASE)
#undef KYR_COMM_DECLARE_RELEASE

KYR_EXTERN_C_END

#endif
