package quorvex.kyrconnectservice.session;

import quorvex.kyrconnectservice.AudioSystemStruct;

/** A change of the codec's audio. */
public final class AudioEvent {
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

    public final Kind kind;
    public final int value;
    /** The audio record for {@link Kind#SYSTEM}, else null. */
    public final AudioSystemStruct system;

    AudioEvent(Kind kind, int value, AudioSystemStruct system) {
        this.kind = kind;
        this.value = value;
        this.system = system;
    }

    @Override
    public String toString() {
        return kind == Kind.SYSTEM ? "audio system" + (system == null ? " (unreadable)" : " volume " + system.volume
                + (system.muted != 0 ? " muted" : "")) : "audio " + kind + " " + value;
    }
}
