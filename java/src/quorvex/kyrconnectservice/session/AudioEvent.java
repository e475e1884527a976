package quorvex.kyrconnectservice.session;

import quorvex.kyrconnectservice.AudioSystemStruct;

/** A change of the codec's audio. */
public final class AudioEvent extends KindEvent<AudioEvent.Kind> {
    /** What changed. */
    public enum Kind {
        /** The loudspeaker volume: {@link #value}. */
        VOLUME,
        /** The microphone mute: {@link #value} 1 muted, 0 not. */
        MUTE,
        /** The audio capability bits: {@link #value}. */
        CAPABILITIES,
        /** The whole audio record: {@link #system}. */
        SYSTEM
    }

    /** The audio record for {@link Kind#SYSTEM}, else null. */
    public final AudioSystemStruct system;

    AudioEvent(Kind kind, int value, AudioSystemStruct system) {
        super(kind, value);
        this.system = system;
    }

    @Override
    public String toString() {
        return kind == Kind.SYSTEM ? "audio system" + (system == null ? " (unreadable)" : " volume " + system.volume
                + (system.muted != 0 ? " muted" : "")) : describe("audio");
    }
}
