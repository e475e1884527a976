package quorvex.kyrconnectservice.session;

import java.util.concurrent.CompletableFuture;

import quorvex.kyrconnectservice.ContentSubSystemInterface.Camera;

/** The codec's cameras and presets, through a {@link KyrSession}. Every method returns at once. */
public final class CameraOps {
    private final KyrSession s;

    CameraOps(KyrSession s) {
        this.s = s;
    }

    /** How many near cameras the codec supports. */
    public CompletableFuture<Integer> nearCameraCount() {
        return s.call("nearCameraCount", n -> Results.check("nearCameraCount", n.content.nearCameraCount()));
    }

    /** Near camera number index (0 first). */
    public CompletableFuture<Camera> nearCamera(int index) {
        return s.call("nearCamera", n -> Results.orFailure(n, "nearCamera", n.content.nearCamera(index)));
    }

    /** Makes a near camera the people source. */
    public CompletableFuture<Void> selectForPeople(int cameraId) {
        return s.code("selectForPeople", n -> n.content.selectForPeople(cameraId, true));
    }

    /** Starts panning (direction as the codec's selector) the near or far camera. */
    public CompletableFuture<Void> pan(boolean near, int direction) {
        return s.code("pan", n -> n.content.pan(near, direction));
    }

    public CompletableFuture<Void> tilt(boolean near, int direction) {
        return s.code("tilt", n -> n.content.tilt(near, direction));
    }

    public CompletableFuture<Void> zoom(boolean near, int direction) {
        return s.code("zoom", n -> n.content.zoom(near, direction));
    }

    /** Stops a move. */
    public CompletableFuture<Void> stop(boolean near) {
        return s.code("stopCamera", n -> n.content.stop(near));
    }

    public CompletableFuture<Void> gotoPreset(boolean near, int instance) {
        return s.code("gotoPreset", n -> n.content.gotoPreset(near, instance));
    }

    public CompletableFuture<Void> storePreset(boolean near, int instance) {
        return s.code("storePreset", n -> n.content.storePreset(near, instance));
    }
}
