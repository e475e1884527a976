package quorvex.kyrconnectservice.demo;

import quorvex.kyrconnectservice.ContentSubSystemInterface;
import quorvex.kyrconnectservice.KyrEvents;

/** The room's cameras: which one is live, a pan and its stop, a preset recalled. */
public final class CameraScene implements DemoScene {
    @Override
    public void run(DemoSession demo) throws Exception {
        ContentSubSystemInterface cams = new ContentSubSystemInterface(demo.service());
        DemoSession.say("near cameras supported: %d, far cameras: %d, presets: %d",
                cams.nearCameraCount(), cams.farCameraCount(), cams.presetCount(true));
        for (int i = 0; ; i++) {
            ContentSubSystemInterface.Camera c = cams.nearCamera(i);
            if (c == null) {
                break;
            }
            DemoSession.say("  near camera %d: %s", i, c);
        }
        for (int id : cams.farCameraIds()) {
            DemoSession.say("  far camera: %s", cams.camera(id));
        }
        DemoSession.say("pan the selected near camera right: %d", cams.pan(true, 1));
        DemoSession.Event moved = demo.waitFor(KyrEvents.EVENT_CAMERA_CHANGED, 4000);
        DemoSession.say("stop it: %d", cams.stop(true));
        if (moved == null) {
            throw new IllegalStateException("the camera never reported its move");
        }
        DemoSession.say("recall near preset 0 (stored: %s): %d", cams.presetIsSet(true, 0), cams.gotoPreset(true, 0));
        DemoSession.Event sel = demo.waitFor(KyrEvents.EVENT_CAMERA_PRESET_SELECTED, 4000);
        DemoSession.say("preset 0 is %s", cams.presetSelected(true, 0) == 1 ? "the one in use" : "not in use");
        if (sel == null) {
            throw new IllegalStateException("no preset selected event");
        }
    }
}
