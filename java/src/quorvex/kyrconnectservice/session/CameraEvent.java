package quorvex.kyrconnectservice.session;

/** A camera, far camera group or preset change. */
public final class CameraEvent {
    /** What changed. */
    public enum Kind {
        CHANGED, ADDED, REMOVED, FAR_GROUP_CHANGED, FAR_GROUP_ADDED, FAR_GROUP_REMOVED,
        /** A preset was stored or cleared: {@link #near}, {@link #id} is the preset's instance. */
        PRESET_CHANGED,
        /** A preset was selected: {@link #near}, {@link #id} is the preset's instance. */
        PRESET_SELECTED
    }

    public final Kind kind;
    /** The camera or far group id, or the preset instance. */
    public final int id;
    /** Change flags (0 for presets). */
    public final int flags;
    /** For presets: a near-camera preset. */
    public final boolean near;

    CameraEvent(Kind kind, int id, int flags, boolean near) {
        this.kind = kind;
        this.id = id;
        this.flags = flags;
        this.near = near;
    }

    @Override
    public String toString() {
        return "camera " + kind + " " + id + (kind.name().startsWith("PRESET") ? (near ? " near" : " far") : "");
    }
}
