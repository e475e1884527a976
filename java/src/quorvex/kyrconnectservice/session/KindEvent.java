package quorvex.kyrconnectservice.session;

/**
 * The shape the audio, communication and video events share: what changed
 * ({@link #kind}) and the number the codec reported with it ({@link #value});
 * a subclass adds the records its kinds carry.
 *
 * @param <K> the subclass's kinds
 */
public abstract class KindEvent<K extends Enum<K>> {
    /** What changed. */
    public final K kind;
    /** The new value, or the change flags, as each kind says. */
    public final int value;

    KindEvent(K kind, int value) {
        this.kind = kind;
        this.value = value;
    }

    /** "audio VOLUME 40": the subclass's word, the kind and the value. */
    String describe(String what) {
        return what + " " + kind + " " + value;
    }
}
