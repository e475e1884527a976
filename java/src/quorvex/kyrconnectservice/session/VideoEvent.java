package quorvex.kyrconnectservice.session;

/** A change of the video layout. */
public final class VideoEvent {
    /** What changed; the new value is {@link #value}. */
    public enum Kind {
        ENDPOINT_TYPE, DME_MODE, DME_SWAP, PIP_MODE, PIP_SWAP, PIP_LOCATION_CAPABILITY
    }

    public final Kind kind;
    public final int value;

    VideoEvent(Kind kind, int value) {
        this.kind = kind;
        this.value = value;
    }

    @Override
    public String toString() {
        return "video " + kind + " " + value;
    }
}
