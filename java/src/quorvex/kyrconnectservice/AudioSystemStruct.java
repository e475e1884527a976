package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;

/**
 * A snapshot of the codec's audio record as the library lays it out for
 * Java ({@link AudioSubSystemInterface#getAudioSystem()}, or the handle of
 * {@link KyrEvents#EVENT_AUDIO_SYSTEM_CHANGED}). The native structure is
 * rewritten whenever the codec reports a change, so it is copied into this
 * object at once.
 */
public final class AudioSystemStruct {
    /** The server instance of the connection. */
    public final int srvrInstance;
    /** The codec's handle of the audio subsystem. */
    public final int handle;
    /** Audio inputs the codec supports, and how many are present. */
    public final int maxIns;
    /** Audio inputs present. */
    public final int numIns;
    /** Audio outputs the codec supports. */
    public final int maxOuts;
    /** Audio outputs present. */
    public final int numOuts;
    /** Loudspeaker volume. */
    public final int volume;
    /** Non-zero while the microphones are muted. */
    public final int muted;
    /** Non-zero when calls answered automatically start muted. */
    public final int muteAutoAnswer;
    /** Live music mode. */
    public final int liveMusicMode;
    /** Quorvex microphones attached. */
    public final int quorvexMics;
    /** VCR audio always on. */
    public final int vcrAlwaysOn;
    /** Name of the incoming call tone (at most 31 bytes). */
    public final String incomingCallTone;
    /** Name of the alert tone (at most 31 bytes). */
    public final String alertTone;
    /** Audio capability bits. */
    public final int audioCaps;

    static {
        InterfaceSupport.loadLibrary();
    }

    private AudioSystemStruct(ByteBuffer b) {
        srvrInstance = b.getInt(AudioSystemStructLayout.SRVR_INSTANCE_OFFSET);
        handle = b.getInt(AudioSystemStructLayout.HANDLE_OFFSET);
        maxIns = b.getInt(AudioSystemStructLayout.MAX_INS_OFFSET);
        numIns = b.getInt(AudioSystemStructLayout.NUM_INS_OFFSET);
        maxOuts = b.getInt(AudioSystemStructLayout.MAX_OUTS_OFFSET);
        numOuts = b.getInt(AudioSystemStructLayout.NUM_OUTS_OFFSET);
        volume = b.getInt(AudioSystemStructLayout.VOLUME_OFFSET);
        muted = b.getInt(AudioSystemStructLayout.MUTED_OFFSET);
        muteAutoAnswer = b.getInt(AudioSystemStructLayout.MUTE_AUTO_ANSWER_OFFSET);
        liveMusicMode = b.getInt(AudioSystemStructLayout.LIVE_MUSIC_MODE_OFFSET);
        quorvexMics = b.getInt(AudioSystemStructLayout.QUORVEX_MICS_OFFSET);
        vcrAlwaysOn = b.getInt(AudioSystemStructLayout.VCR_ALWAYS_ON_OFFSET);
        incomingCallTone = SettingsStruct.text(b, AudioSystemStructLayout.INCOMING_CALL_TONE_OFFSET,
                                               AudioSystemStructLayout.INCOMING_CALL_TONE_LENGTH);
        alertTone = SettingsStruct.text(b, AudioSystemStructLayout.ALERT_TONE_OFFSET,
                                        AudioSystemStructLayout.ALERT_TONE_LENGTH);
        audioCaps = b.getInt(AudioSystemStructLayout.AUDIO_CAPS_OFFSET);
    }

    /**
     * A direct buffer over the native block named by handle, or null when the
     * handle names nothing or the block is smaller than capacity.
     */
    public static native ByteBuffer newDirectByteBuffer(long handle, long capacity);

    /** The native structure named by handle, in native byte order, or null. */
    public static ByteBuffer wrap(long handle) {
        ByteBuffer b = newDirectByteBuffer(handle, AudioSystemStructLayout.SIZE);
        return b == null ? null : b.order(ByteOrder.nativeOrder());
    }

    /**
     * Copies the native structure named by handle.
     *
     * @param handle as returned by the library or posted with an event
     * @return the snapshot, or null when the handle names no such structure
     */
    public static AudioSystemStruct read(long handle) {
        if (handle <= 0) {
            return null;
        }
        ByteBuffer b = wrap(handle);
        return b == null ? null : new AudioSystemStruct(b);
    }

    @Override
    public String toString() {
        return String.format("volume=%d muted=%d muteAutoAnswer=%d inputs=%d/%d outputs=%d/%d "
                             + "incomingCallTone=\"%s\" alertTone=\"%s\" audioCaps=0x%x",
                             volume, muted, muteAutoAnswer, numIns, maxIns, numOuts, maxOuts,
                             incomingCallTone, alertTone, audioCaps);
    }
}
