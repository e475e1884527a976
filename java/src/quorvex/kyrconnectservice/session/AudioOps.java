package quorvex.kyrconnectservice.session;

import java.util.Map;
import java.util.concurrent.CompletableFuture;

import quorvex.kyrconnectservice.AudioSystemStruct;

/** The codec's audio, through a {@link KyrSession}. Every method returns at once. */
public final class AudioOps {
    private final KyrSession s;

    AudioOps(KyrSession s) {
        this.s = s;
    }

    /** The loudspeaker volume. */
    public CompletableFuture<Integer> volume() {
        return s.read("volume", n -> n.audio.getVolume());
    }

    public CompletableFuture<Void> setVolume(int volume) {
        return s.code("setVolume", n -> n.audio.setVolume(volume));
    }

    /** Whether the microphones are muted. */
    public CompletableFuture<Boolean> muted() {
        return s.read("muted", n -> n.audio.isMuted());
    }

    public CompletableFuture<Void> setMuted(boolean muted) {
        return s.code("setMuted", n -> n.audio.setMute(muted));
    }

    /** Plays DTMF tones (each durationMs long) where the codec's selector says. */
    public CompletableFuture<Void> playDtmf(String digits, int durationMs, int where) {
        return s.action("playDtmf", n -> n.audio.playDtmf(digits, durationMs, where));
    }

    /** The whole audio record. */
    public CompletableFuture<AudioSystemStruct> system() {
        return s.call("audioSystem", n -> Results.orFailure(n, "audioSystem", n.audio.getAudioSystem()));
    }

    public CompletableFuture<Map<String, String>> settings() {
        return s.call("audioSettings", n -> n.audio.getAudioSettings());
    }

    public CompletableFuture<Void> setSetting(String key, String value) {
        return s.code("setAudioSetting", n -> n.audio.setAudioSetting(key, value));
    }
}
