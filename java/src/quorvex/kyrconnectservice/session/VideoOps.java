package quorvex.kyrconnectservice.session;

import java.util.concurrent.CompletableFuture;

/** The codec's video layout, through a {@link KyrSession}. Every method returns at once. */
public final class VideoOps {
    private final KyrSession s;

    VideoOps(KyrSession s) {
        this.s = s;
    }

    /** The PIP location (0 to 3), or -1 when PIP is off. */
    public CompletableFuture<Integer> pipMode() {
        return s.call("pipMode", n -> (int) checkMode("pipMode", n.video.pipMode()));
    }

    /** Switches PIP on at location 0 to 3, or off with -1. */
    public CompletableFuture<Void> setPipMode(int mode) {
        return s.call("setPipMode", n -> {
            checkMode("setPipMode", n.video.setPipMode(mode));
            return null;
        });
    }

    // The video interface answers -1 for "off" and codes below it for failures.
    private static long checkMode(String operation, long v) throws KyrException {
        if (v < -1) {
            throw new KyrException(operation, (int) Math.max(Integer.MIN_VALUE, v));
        }
        return v;
    }
}
