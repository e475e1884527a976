package quorvex.kyrconnectservice.demo;

import quorvex.kyrconnectservice.KyrEvents;
import quorvex.kyrconnectservice.VideoSubSystemInterface;

/** The main monitor's layout: picture-in-picture switched on and off again. */
public final class VideoScene implements DemoScene {
    @Override
    public void run(DemoSession demo) throws Exception {
        VideoSubSystemInterface video = new VideoSubSystemInterface(demo.service());
        DemoSession.say("PIP now %s, locations supported 0x%x, endpoint type %d", describe(video.pipMode()),
                video.pipCapabilities(), video.endpointType());
        DemoSession.say("PIP on in the top right (2): %d", video.setPipMode(2));
        DemoSession.Event on = waitForPip(demo, 2);
        DemoSession.say("PIP now %s", describe(video.pipMode()));
        DemoSession.say("PIP off: %d", video.setPipMode(VideoSubSystemInterface.PIP_OFF));
        DemoSession.Event off = waitForPip(demo, VideoSubSystemInterface.PIP_OFF);
        DemoSession.say("PIP now %s", describe(video.pipMode()));
        if (on == null || off == null || video.pipMode() != VideoSubSystemInterface.PIP_OFF) {
            throw new IllegalStateException("PIP did not switch on and off");
        }
    }

    /** The codec reports a mode change (and a location change) as one event each. */
    private static DemoSession.Event waitForPip(DemoSession demo, int mode) throws InterruptedException {
        long end = System.currentTimeMillis() + 4000;
        while (System.currentTimeMillis() < end) {
            DemoSession.Event e = demo.waitFor(KyrEvents.EVENT_VIDEO_PIP_MODE_CHANGED, end - System.currentTimeMillis());
            if (e == null || e.value1 == mode) {
                return e;
            }
        }
        return null;
    }

    private static String describe(long mode) {
        return mode == VideoSubSystemInterface.PIP_OFF ? "off" : mode < 0 ? "unknown (" + mode + ")" : "on at " + mode;
    }
}
