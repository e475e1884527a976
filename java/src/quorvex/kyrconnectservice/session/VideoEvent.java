package quorvex.kyrconnectservice.session;

/** A change of the video layout. */
public final class VideoEvent extends KindEvent<VideoEvent.Kind> {
    /** What changed; the new value is {@link #value}. */
    public enum Kind {
        ENDPOINT_TYPE, DME_MODE, DME_SWAP, PIP_MODE, PIP_SWAP, PIP_LOCATION_CAPABILITY
    }

    VideoEvent(Kind kind, int value) {
        super(kind, value);
    }

    @Override
    public String toString() {
        return describe("video");
    }
}
