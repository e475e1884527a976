#include "service/interfaces/audio.h"

#include <string.h>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"
#include "service/kyr_cache.h"

namespace {

const char *const kTag = KYR_AUDIO_TAG;

/* Java reads this in place; written only with the cache's audio lock held,
 * together with the cached record, so the two never disagree. */
AudioSystemStruct s_audioSystem;

/* Stores rec as the cached audio record and as the Java-visible structure,
 * under the one lock: a reader holding the lock never sees the two from
 * different writers. */
void publish(const CSAudio *rec) {
  CSAudio *cached = kyr_cache_audio_lock();
  memcpy(cached, rec, sizeof *cached);
  kyr_copy_AudioSystemStruct(&s_audioSystem, rec);
  kyr_cache_audio_unlock();
}

/* The cached record refreshed from the codec (the fetch sends the cached
 * record's handle). On failure *rec holds the cached record, so the caller
 * can go on with it, and the result is the CSAPI code. */
int refresh(CSAudio *rec) {
  kyr_cache_audio_load(rec);
  int rc = csAudioGet(rec, kyr_server_instance());
  if (rc == 0) {
    publish(rec);
    return 0;
  }
  kyr_cache_audio_load(rec);
  return rc < 0 ? rc : -1;
}

/* The refresh of the volume and mute calls, which log without the code. */
int refresh_logged(CSAudio *rec) {
  int rc = refresh(rec);
  if (rc != 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "connected: csAudioGet (error:NULL, %s)\n", csErrorString());
  return rc;
}

}  // namespace

extern "C" int kyr_audio_get_volume(void) {
  CSAudio rec;
  return refresh_logged(&rec) == 0 ? static_cast<int>(rec.volume) : 0;
}

extern "C" int kyr_audio_get_mute(void) {
  CSAudio rec;
  return refresh_logged(&rec) == 0 ? static_cast<int>(rec.muted) : 0;
}

extern "C" int kyr_audio_set_volume(unsigned int volume) {
  CSAudio rec;
  refresh_logged(&rec);
  return csAudioVolume(&rec, volume);
}

extern "C" int kyr_audio_set_mute(unsigned int on_off) {
  CSAudio rec;
  refresh_logged(&rec);
  return csAudioMute(&rec, on_off);
}

extern "C" int kyr_audio_play_dtmf(const char *chars, int duration, unsigned int where) {
  if (!chars) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "NativePlayDTMF: no DTMF characters, nothing sent\n");
    return -10;
  }
  CSAudio rec;
  kyr_cache_audio_load(&rec);
  int rc = csAudioPlayDTMF(&rec, chars, duration, where);
  if (rc < 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "csAudioPlayDTMF error (error:%d, %s)\n", rc, csErrorString());
  return rc;
}

extern "C" const AudioSystemStruct *kyr_audio_system(void) { return &s_audioSystem; }

extern "C" int32_t kyr_audio_system_handle(void) {
  int32_t h = kyr_static_handle(&s_audioSystem, sizeof s_audioSystem);
  return h > 0 ? h : 0;
}

extern "C" int32_t kyr_audio_get_system(void) {
  CSAudio rec;
  int rc = refresh(&rec);
  if (rc != 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "csAudioGet error (error:%d, %s)\n", rc, csErrorString());
    return 0;
  }
  return kyr_audio_system_handle();
}

extern "C" void kyr_audio_changed(const CSAudio *record, unsigned int flags, kyr_event_fn post, void *ctx) {
  if (!record || !post) return;
  CSAudio cached;
  kyr_cache_audio_load(&cached);
  if ((flags & CSAUDIO_VOLUME_FIELD) && record->volume != cached.volume)
    post(ctx, EVENT_AUDIO_VOLUME_CHANGED, static_cast<int>(record->volume), 0);
  if ((flags & CSAUDIO_MUTED_FIELD) && record->muted != cached.muted)
    post(ctx, EVENT_AUDIO_MUTE_CHANGED, static_cast<int>(record->muted), 0);
  /* Capabilities are announced even when unchanged: the codec sends them
   * when a device comes or goes. */
  if (flags & CSAUDIO_AUDIO_CAPS_FIELD) post(ctx, EVENT_AUDIO_CAPS_CHANGED, static_cast<int>(record->audioCaps), 0);
  publish(record);
  post(ctx, EVENT_AUDIO_SYSTEM_CHANGED, kyr_audio_system_handle(), 0);
  kyr_post_settings_list(post, ctx, EVENT_AUDIO_SETTINGS_CHANGED, GetAudioSettingsUpdates(record, flags));
}

extern "C" void on_audio_changed(const CSAudio *record, unsigned int flags, uintptr_t userDefined) {
  kyr_audio_changed(record, flags, kyr_post_to_java, reinterpret_cast<void *>(userDefined));
}

/* ---- JNI ---- */

KYR_AUDIO_JNI(jint, NativeGetVolume)(JNIEnv *, jobject) { return kyr_audio_get_volume(); }

KYR_AUDIO_JNI(jint, NativeGetMute)(JNIEnv *, jobject) { return kyr_audio_get_mute(); }

KYR_AUDIO_JNI(jint, NativeSetVolume)(JNIEnv *, jobject, jint volume) {
  return kyr_audio_set_volume(static_cast<unsigned int>(volume));
}

KYR_AUDIO_JNI(jint, NativeSetMute)(JNIEnv *, jobject, jint onOff) {
  return kyr_audio_set_mute(static_cast<unsigned int>(onOff));
}

KYR_AUDIO_JNI(void, NativePlayDTMF)(JNIEnv *env, jobject, jstring chars, jint duration, jint where) {
  JniUtf text(env, chars);
  kyr_audio_play_dtmf(text.get(), duration, static_cast<unsigned int>(where));
}

KYR_AUDIO_JNI(jlong, NativeGetAudioSystem)(JNIEnv *, jobject) { return kyr_handle_result(kyr_audio_get_system()); }

KYR_AUDIO_JNI(jlong, NativeGetAudioSettings)(JNIEnv *, jobject) {
  return kyr_settings_result(GetAudioSystemSettings());
}

KYR_AUDIO_JNI(jint, NativeSetAudioSettings)(JNIEnv *env, jobject, jstring key, jstring value) {
  JniUtf k(env, key), v(env, value);
  return SetAudioSystemSettings(k.get(), v.get());
}

KYR_AUDIO_JNI(void, NativeAudioSettingsRelease)(JNIEnv *, jobject, jlong head) { SettingsListRelease(head); }
