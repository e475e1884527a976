/* The audio face of the library for Java's AudioSubSystemInterface: volume,
 * mute, DTMF, the audio settings list, the AudioSystemStruct snapshot and the
 * events of the audio notification.
 *
 * The cached audio record (kyr_cache audio) and the Java-visible
 * AudioSystemStruct are written together under the cache's audio lock, by
 * Java threads refreshing and by the worker's notification (the post-connect
 * fetch fills the cache alone); Java reads the structure in place through
 * its buffer. Logs under "KyrConnectLib:Audio". */
#ifndef KYR_AUDIO_H
#define KYR_AUDIO_H

#include <jni.h>
#include <stdint.h>

#include "csapi/client/cs_records.h"
#include "platform/kyr_api.h"
#include "service/interfaces/iface_post.h"

#define KYR_LAYOUT_DEF "service/interfaces/layouts/AudioSystemStruct.def"
#include "service/interfaces/kyr_layout_expand.h"

#define KYR_AUDIO_TAG "KyrConnectLib:Audio"

KYR_EXTERN_C_BEGIN

/* The volume / mute state after refreshing the cached record (and the
 * structure) from the codec; 0 when the refresh fails (logged). */
int kyr_audio_get_volume(void);
int kyr_audio_get_mute(void);

/* Refreshes the cached record (a failure is logged and the cached one is
 * used), then sends the request: the CSAPI result. */
int kyr_audio_set_volume(unsigned int volume);
int kyr_audio_set_mute(unsigned int on_off);

/* Plays DTMF characters on the cached record, without refreshing it. A null
 * text sends nothing: -10, logged. Otherwise the CSAPI result (logged when
 * it fails). */
int kyr_audio_play_dtmf(const char *chars, int duration, unsigned int where);

/* Fetches the audio record, stores it in the cache and in the static
 * AudioSystemStruct: the structure's handle, or 0 when the fetch fails
 * (logged). */
int32_t kyr_audio_get_system(void);

/* The static AudioSystemStruct and its handle (for tests and events). */
const AudioSystemStruct *kyr_audio_system(void);
int32_t kyr_audio_system_handle(void);

/* The audio notification: posts, in this order, the volume event (flag
 * volume and a volume other than the cached one), the mute event (likewise),
 * the capabilities event (flag audioCaps, always), then stores the record in
 * the cache and the AudioSystemStruct, then posts the system event (the
 * structure's handle) and the settings event (the update list, whatever the
 * converter returned). A null record is ignored. */
void kyr_audio_changed(const CSAudio *record, unsigned int flags, kyr_event_fn post, void *ctx);

/* ---- JNI entry points of quorvex.kyrconnectservice.AudioSubSystemInterface ---- */
#define KYR_AUDIO_JNI(ret, name) KYR_API JNIEXPORT ret JNICALL Java_quorvex_kyrconnectservice_AudioSubSystemInterface_##name
KYR_AUDIO_JNI(jint, NativeGetVolume)(JNIEnv *env, jobject thiz);
KYR_AUDIO_JNI(jint, NativeGetMute)(JNIEnv *env, jobject thiz);
KYR_AUDIO_JNI(jint, NativeSetVolume)(JNIEnv *env, jobject thiz, jint volume);
KYR_AUDIO_JNI(jint, NativeSetMute)(JNIEnv *env, jobject thiz, jint onOff);
KYR_AUDIO_JNI(void, NativePlayDTMF)(JNIEnv *env, jobject thiz, jstring chars, jint duration, jint where);
KYR_AUDIO_JNI(jlong, NativeGetAudioSystem)(JNIEnv *env, jobject thiz);
KYR_AUDIO_JNI(jlong, NativeGetAudioSettings)(JNIEnv *env, jobject thiz);
KYR_AUDIO_JNI(jint, NativeSetAudioSettings)(JNIEnv *env, jobject thiz, jstring key, jstring value);
KYR_AUDIO_JNI(void, NativeAudioSettingsRelease)(JNIEnv *env, jobject thiz, jlong head);

KYR_EXTERN_C_END

#endif
