package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertTrue;

import java.util.ArrayList;
import java.util.List;

import org.junit.AfterClass;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;

/** The video interface on a real JVM against the codec simulator. */
public class VideoSubSystemInterfaceTest {
    private static MediaSession s;
    private static VideoSubSystemInterface video;

    @BeforeClass
    public static void connect() throws Exception {
        s = new MediaSession("VideoOut", "VideoOutLayout", "VideoOutLayoutCap");
        video = new VideoSubSystemInterface(s.svc);
    }

    @AfterClass
    public static void disconnect() {
        if (s != null) {
            s.close();
        }
    }

    @Before
    public void reset() throws Exception {
        s.reset();
    }

    /** The video events posted before a marker notification pushed now. */
    private List<Recorder.Event> videoEvents() throws Exception {
        List<Recorder.Event> out = new ArrayList<>();
        for (Recorder.Event e : s.flush()) {
            if ((e.code >> 8) == 0x9) {
                out.add(e);
            }
        }
        return out;
    }

    @Test
    public void pipModesOnTheWire() throws Exception {
        assertEquals(0, video.NativeSetPipMode(-1));
        assertEquals(0, video.NativeSetPipMode(2));
        assertEquals(-1, video.NativeSetPipMode(4));
        List<String> sets = s.sent("csVideoOutLayoutSet");
        assertEquals("4 sends no layout", 2, sets.size());
        assertTrue(sets.get(0), sets.get(0).contains("\"PIPMode\":0"));
        assertTrue(sets.get(0), sets.get(0).contains("\"flags\":1"));
        assertTrue(sets.get(1), sets.get(1).contains("\"PIPMode\":1"));
        assertTrue(sets.get(1), sets.get(1).contains("\"PIPLocation\":2"));
        assertTrue(sets.get(1), sets.get(1).contains("\"flags\":3"));
        assertEquals(2, video.pipMode());
        assertEquals(15, video.pipCapabilities());
    }

    @Test
    public void dmeModeTwoIsRefusedBeforeAnyRequest() throws Exception {
        assertEquals(-1, video.NativeSetDMEMode(2));
        assertEquals(0, s.sim.count("csVideoGet"));
        assertEquals(0, video.setDmeMode(true));
        String set = s.sent("csVideoOutLayoutSet").get(0);
        assertTrue(set, set.contains("\"monitorLayout\":3"));
        assertEquals("3 reads back as off", 0, video.dmeMode());
        s.sim.merge("VideoOutLayout", s.handles("VideoOutLayout")[0], "{\"monitorLayout\":8}");
        assertEquals(1, video.dmeMode());
    }

    @Test
    public void swapTwiceRestoresThePanels() throws Exception {
        String before = s.sim.record("VideoOutLayout", 0);
        assertEquals(0, video.pipSwapMode());
        assertEquals(0, video.togglePipSwap());
        String swapped = s.sim.record("VideoOutLayout", 0);
        assertTrue(swapped, swapped.contains("\"panelMap\":[{\"source\":2,\"layout\":2},{\"source\":1,\"layout\":1}"));
        assertEquals(0, video.togglePipSwap());
        assertEquals(before, s.sim.record("VideoOutLayout", 0));
        assertEquals(0, video.toggleDmeSwap());
        assertEquals(0, video.toggleDmeSwap());
        assertEquals(before, s.sim.record("VideoOutLayout", 0));
    }

    @Test
    public void klvLayoutBounds() throws Exception {
        assertEquals(0, video.NativeGotoKLVLayout(100));
        assertEquals(-1, video.NativeGotoKLVLayout(101));
        assertEquals(1, s.sim.count("csVideoOutLayoutSet"));
        String set = s.sent("csVideoOutLayoutSet").get(0);
        assertTrue(set, set.contains("{\"source\":-100,\"layout\":100}"));
        assertEquals(0, video.nextDmeLayout());
        assertTrue(s.sent("csVideoOutLayoutSet").get(1).contains("\"monitorLayout\":-1"));
    }

    @Test
    public void layoutNotificationsOfOutputTwoPostNothingAndOfOutputOneThePipModeTwice() throws Exception {
        long[] layouts = s.handles("VideoOutLayout");
        assertEquals(2, layouts.length);
        s.flush();
        s.sim.notify("csVideoOutLayoutChangedCB", 0x13, layouts[1]);
        s.sim.notify("csVideoOutLayoutCapChangedCB", 0x1, s.handles("VideoOutLayoutCap")[1]);
        assertTrue(videoEvents().isEmpty());
        s.sim.merge("VideoOutLayout", layouts[0], "{\"PIPMode\":1,\"PIPLocation\":3}");
        s.sim.notify("csVideoOutLayoutChangedCB", 0x3, layouts[0]);
        Recorder.Event a = s.next(KyrEvents.EVENT_VIDEO_PIP_MODE_CHANGED, MediaSession.WAIT);
        Recorder.Event b = s.next(KyrEvents.EVENT_VIDEO_PIP_MODE_CHANGED, MediaSession.WAIT);
        assertNotNull(a);
        assertNotNull(b);
        assertEquals(3, a.value1);
        assertEquals(3, b.value1);
        s.sim.notify("csVideoOutLayoutChangedCB", 0x4, layouts[0]);
        assertTrue("monitorLayout alone posts nothing", videoEvents().isEmpty());
        s.sim.notify("csVideoOutLayoutChangedCB", 0x10, layouts[0]);
        List<Recorder.Event> panel = videoEvents();
        assertEquals(3, panel.size());
        assertEquals(KyrEvents.EVENT_VIDEO_PIP_SWAP_CHANGED, panel.get(0).code);
        assertEquals(KyrEvents.EVENT_VIDEO_DME_MODE_CHANGED, panel.get(1).code);
        assertEquals(KyrEvents.EVENT_VIDEO_DME_SWAP_CHANGED, panel.get(2).code);
    }

    @Test
    public void capabilityNotificationPostsTheEndpointType() throws Exception {
        long cap = s.handles("VideoOutLayoutCap")[0];
        s.sim.merge("VideoOutLayoutCap", cap,
                "{\"panelMapCap\":[{\"layoutCap\":655},{\"layoutCap\":7}],\"panelMapCapCount\":2}");
        s.sim.notify("csVideoOutLayoutCapChangedCB", 0x1, cap);
        Recorder.Event t = s.next(KyrEvents.EVENT_VIDEO_ENDPOINT_TYPE, MediaSession.WAIT);
        assertNotNull(t);
        assertEquals(3, t.value1);
        Recorder.Event c = s.next(KyrEvents.EVENT_VIDEO_PIP_LOCATION_CAP_CHANGED, MediaSession.WAIT);
        assertNotNull(c);
        assertEquals(15, c.value1);
        assertEquals(3, video.endpointType());
    }

    @Test
    public void noOutputOfDeviceTypeTwoGivesPipOff() throws Exception {
        s.sim.merge("VideoOutLayout", s.handles("VideoOutLayout")[0], "{\"PIPMode\":1,\"PIPLocation\":1}");
        assertEquals(1, video.pipMode());
        s.sim.merge("VideoOut", s.handles("VideoOut")[0], "{\"deviceType\":1}");
        assertEquals(VideoSubSystemInterface.PIP_OFF, video.pipMode());
        assertEquals(-1, video.setPipMode(1));
        assertEquals(0, s.sim.count("csVideoOutLayoutSet"));
    }

    @Test
    public void settingsAreEmpty() throws Exception {
        assertEquals(0, video.NativeGetVideoSettings());
        assertEquals(0, video.NativeSetVideoSettings("pip", "on"));
        video.NativeVideoSettingsRelease(0);
    }
}
