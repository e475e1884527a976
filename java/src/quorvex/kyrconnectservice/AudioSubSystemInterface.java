package quorvex.kyrconnectservice;

import java.util.Map;

/**
 * The codec's audio: loudspeaker volume, microphone mute, DTMF tones, the
 * audio record and the audio settings page.
 *
 * <p>Every method talks to the codec the service is connected to, on the
 * calling thread, and blocks until the codec answers. Changes the codec
 * reports arrive as events on the service's listener:
 * {@link KyrEvents#EVENT_AUDIO_VOLUME_CHANGED} and
 * {@link KyrEvents#EVENT_AUDIO_MUTE_CHANGED} (new value in value1),
 * {@link KyrEvents#EVENT_AUDIO_CAPS_CHANGED} (capability bits),
 * {@link KyrEvents#EVENT_AUDIO_SYSTEM_CHANGED} (read value1 with
 * {@link AudioSystemStruct#read}) and
 * {@link KyrEvents#EVENT_AUDIO_SETTINGS_CHANGED} (a settings list: pass value1
 * to {@link #takeSettingsUpdate}, which also releases it).
 */
public class AudioSubSystemInterface {
    static {
        InterfaceSupport.loadLibrary();
    }

    /** Creates the interface; the service must be set up and connected to use it. */
    public AudioSubSystemInterface() {
    }

    /**
     * The loudspeaker volume, read from the codec.
     *
     * @return the volume, or 0 when it cannot be read
     */
    public int getVolume() {
        return NativeGetVolume();
    }

    /**
     * Sets the loudspeaker volume; the codec confirms with
     * EVENT_AUDIO_VOLUME_CHANGED.
     *
     * @param volume the new volume
     * @return 0, or a negative CSAPI error
     */
    public int setVolume(int volume) {
        return NativeSetVolume(volume);
    }

    /**
     * Whether the microphones are muted, read from the codec.
     *
     * @return true when muted (false also when the state cannot be read)
     */
    public boolean isMuted() {
        return NativeGetMute() != 0;
    }

    /**
     * Mutes or unmutes the microphones; the codec confirms with
     * EVENT_AUDIO_MUTE_CHANGED.
     *
     * @param on true to mute
     * @return 0, or a negative CSAPI error
     */
    public int setMute(boolean on) {
        return NativeSetMute(on ? 1 : 0);
    }

    /**
     * Plays DTMF tones on the codec's audio. A null text plays nothing.
     *
     * @param digits the DTMF characters (0-9, *, #, A-D)
     * @param duration how long each tone sounds, in milliseconds
     * @param where where the tones are played (the codec's selector)
     */
    public void playDtmf(String digits, int duration, int where) {
        NativePlayDTMF(digits, duration, where);
    }

    /**
     * The audio record, fetched from the codec.
     *
     * @return a snapshot, or null when the codec cannot be read
     */
    public AudioSystemStruct getAudioSystem() {
        return AudioSystemStruct.read(NativeGetAudioSystem());
    }

    /**
     * The audio settings page: "mute_auto_answer", "number_of_mics" and a
     * version and status per microphone, in that order.
     *
     * @return the keys and values
     * @throws SettingsUnavailableException when the codec did not give the page
     */
    public Map<String, String> getAudioSettings() {
        return InterfaceSupport.takeList(NativeGetAudioSettings(), "audio", this::NativeAudioSettingsRelease);
    }

    /**
     * Changes one audio setting (for example "mute_auto_answer" to "1").
     *
     * @param key the setting's key
     * @param value its new value
     * @return 0 or more on success, a negative value on failure
     */
    public int setAudioSetting(String key, String value) {
        return NativeSetAudioSettings(key, value);
    }

    /**
     * Reads the settings list an EVENT_AUDIO_SETTINGS_CHANGED carries and
     * releases it. Call it once per event, from the listener (or later).
     *
     * @param head value1 of the event
     * @return the changed keys and their values; empty when nothing changed
     */
    public Map<String, String> takeSettingsUpdate(int head) {
        return InterfaceSupport.takeList(head, "audio update", this::NativeAudioSettingsRelease);
    }

    native int NativeGetVolume();

    native int NativeGetMute();

    native int NativeSetVolume(int volume);

    native int NativeSetMute(int onOff);

    native void NativePlayDTMF(String digits, int duration, int where);

    native long NativeGetAudioSystem();

    native long NativeGetAudioSettings();

    native int NativeSetAudioSettings(String key, String value);

    native void NativeAudioSettingsRelease(long head);
}
