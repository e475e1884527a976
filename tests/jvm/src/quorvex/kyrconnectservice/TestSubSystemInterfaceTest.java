package quorvex.kyrconnectservice;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_Started;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import org.junit.After;
import org.junit.Before;
import org.junit.Test;

/**
 * The test interface on a real JVM with the service set up (no codec is
 * needed): synthetic notifications reach the worker's callbacks (or are
 * dropped when none is registered) with their delays and order, the
 * emulation switches, and the metrics reports as files.
 */
public class TestSubSystemInterfaceTest {
    static final long WAIT = 5000;
    static final String[] SUBSYSTEMS = {"AUDIO", "COMM", "DIRECTORY", "CALENDAR", "VIDEO", "CONTENT",
                                        "SECURITY", "HOME", "CAMERA", "SYSTEM", "CONNECT"};

    private KyrConnectService svc;
    private final Recorder rec = new Recorder();
    private final TestSubSystemInterface test = new TestSubSystemInterface();

    @Before
    public void setUp() throws Exception {
        svc = new KyrConnectService(rec);
        assertEquals(0, svc.setup());
        assertEquals(Integer.valueOf(KYR_Connect_Started), rec.nextState(WAIT));
        test.takeDeliveries(); // forget earlier tests' entries
    }

    @After
    public void tearDown() {
        test.disableMetrics();
        if (svc != null) {
            svc.release();
        }
    }

    /** The next n processed entries, waiting at most ms. */
    private List<TestSubSystemInterface.Delivery> deliveries(int n, long ms) throws InterruptedException {
        List<TestSubSystemInterface.Delivery> out = new ArrayList<>();
        long end = System.currentTimeMillis() + ms;
        while (out.size() < n && System.currentTimeMillis() < end) {
            out.addAll(test.takeDeliveries());
            if (out.size() < n) {
                Thread.sleep(10);
            }
        }
        return out;
    }

    /** Events with one of the codes, collected until n arrived or ms passed. */
    private List<Recorder.Event> events(int n, long ms, int... codes) throws InterruptedException {
        List<Recorder.Event> out = new ArrayList<>();
        long end = System.currentTimeMillis() + ms;
        while (out.size() < n && System.currentTimeMillis() < end) {
            for (Recorder.Event e : rec.drain(20)) {
                for (int c : codes) {
                    if (e.code == c) {
                        out.add(e);
                    }
                }
            }
        }
        return out;
    }

    private static String codes(List<Recorder.Event> events) {
        StringBuilder b = new StringBuilder();
        for (Recorder.Event e : events) {
            b.append(KyrEvents.eventName(e.code)).append('(').append(e.value1).append(") ");
        }
        return b.toString().trim();
    }

    @Test
    public void delaysAreKeptAndLaterEntriesDoNotHoldUpEarlierOnes() throws Exception {
        long t0 = System.nanoTime();
        assertEquals(0, test.emulateAudioVolume(40, 1500));
        assertEquals(0, test.emulateAudioVolume(41, 0));
        List<TestSubSystemInterface.Delivery> d = deliveries(2, 8000);
        long total = (System.nanoTime() - t0) / 1_000_000;
        assertEquals(d.toString(), 2, d.size());
        // The undelayed one first, after the settling pause of about 100 ms.
        assertTrue(d.get(0).toString(), d.get(0).latencyMs >= 90 && d.get(0).latencyMs < 3000);
        assertTrue(d.get(1).toString(), d.get(1).latencyMs >= 1400 && d.get(1).latencyMs < 6000);
        assertTrue(total >= 1400);
        for (TestSubSystemInterface.Delivery x : d) {
            assertEquals(TestSubSystemInterface.TYPE_AUDIO, x.type);
            assertEquals(0x10, x.flags);
            assertEquals("the worker's audio callback is reached", 1, x.callbacks);
        }
        // Java hears of both, in delivery order.
        List<Recorder.Event> ev = events(2, WAIT, KyrEvents.EVENT_AUDIO_VOLUME_CHANGED);
        assertEquals(codes(ev), "EVENT_AUDIO_VOLUME_CHANGED(41) EVENT_AUDIO_VOLUME_CHANGED(40)", codes(ev));
    }

    @Test
    public void equalDeadlinesKeepQueueOrder() throws Exception {
        assertEquals(0, test.NativeEmulateAudioVolumeChangedEvent(10, 300));
        assertEquals(0, test.NativeEmulateAudioMuteChangedEvent(1, 300));
        assertEquals(0, test.NativeEmulateAudioNumInsChangedEvent(2, 300));
        assertEquals(0, test.NativeEmulateAudioNumOutsChangedEvent(1, 300));
        assertEquals(0, test.NativeEmulateAudioMuteAutoAnswerChangedEvent(1, 300));
        assertEquals(0, test.NativeEmulateAudioInVolumeChangedEvent(3, 300));
        assertEquals(0, test.NativeEmulateAudioInMuteChangedEvent(1, 300));
        List<TestSubSystemInterface.Delivery> d = deliveries(7, WAIT);
        assertEquals(d.toString(), 7, d.size());
        int[] flags = new int[7];
        int[] types = new int[7];
        for (int i = 0; i < 7; i++) {
            flags[i] = d.get(i).flags;
            types[i] = d.get(i).type;
        }
        assertArrayEquals(new int[] {0x10, 0x20, 0x2, 0x8, 0x40, 0x2, 0x4}, flags);
        assertArrayEquals(new int[] {0, 0, 0, 0, 0, 1, 1}, types);
    }

    @Test
    public void audioOutputChangeWithoutCallbackIsDropped() throws Exception {
        assertEquals(0, test.emulateAudioOutVolume(7, 0));
        assertEquals(0, test.NativeEmulateAudioOutMuteChangedEvent(1, 0));
        List<TestSubSystemInterface.Delivery> d = deliveries(2, WAIT);
        assertEquals(2, d.size());
        for (TestSubSystemInterface.Delivery x : d) {
            assertEquals(TestSubSystemInterface.TYPE_AUDIO_OUT, x.type);
            assertTrue(x.toString(), x.dropped());
        }
        assertArrayEquals(new int[] {0x2, 0x4}, new int[] {d.get(0).flags, d.get(1).flags});
    }

    @Test
    public void scriptedIncomingCallArrivesInOrder() throws Exception {
        assertEquals(0, test.emulateIncomingCall(0));
        List<TestSubSystemInterface.Delivery> d = deliveries(16, WAIT);
        assertEquals(d.toString(), 16, d.size());
        int[][] want = {{5, 0x2}, {5, 0xA00}, {6, 0x16}, {7, 0x16}, {6, 0x16}, {7, 0x12}, {4, 0x80}, {6, 0x16},
                        {7, 0x12}, {5, 0x200}, {8, 0x100}, {5, 0x4}, {5, 0x200}, {9, 0x100000}, {9, 0x100000},
                        {9, 0x100000}};
        for (int i = 0; i < want.length; i++) {
            assertEquals("entry " + i, want[i][0], d.get(i).type);
            assertEquals("entry " + i, want[i][1], d.get(i).flags);
        }
        // Java sees the call ring, the video follow, the conference, the
        // call become active and the far cameras arrive, on one thread.
        List<Recorder.Event> ev = events(11, WAIT, KyrEvents.EVENT_COMM_CALL_STATE_CHANGED,
                KyrEvents.EVENT_VIDEO_ENDPOINT_TYPE, KyrEvents.EVENT_COMM_CONFERENCE_CHANGED,
                KyrEvents.EVENT_CAMERA_FAR_GROUP_ADDED, KyrEvents.EVENT_CAMERA_ADDED);
        assertEquals(codes(ev), 11, ev.size());
        assertEquals("EVENT_COMM_CALL_STATE_CHANGED(4) EVENT_VIDEO_ENDPOINT_TYPE(" + ev.get(1).value1 + ") "
                + "EVENT_VIDEO_ENDPOINT_TYPE(" + ev.get(1).value1 + ") EVENT_COMM_CONFERENCE_CHANGED("
                + ev.get(3).value1 + ") EVENT_VIDEO_ENDPOINT_TYPE(" + ev.get(1).value1 + ") "
                + "EVENT_COMM_CALL_STATE_CHANGED(5) EVENT_CAMERA_FAR_GROUP_ADDED(1) "
                + "EVENT_COMM_CALL_STATE_CHANGED(0) EVENT_CAMERA_ADDED(1) EVENT_CAMERA_ADDED(1) "
                + "EVENT_CAMERA_ADDED(1)", codes(ev));
        for (Recorder.Event e : ev) {
            assertEquals(ev.get(0).thread, e.thread);
        }
    }

    @Test
    public void commSwitchesOnVideoAndCameraAndUnknownNamesGiveTwo() throws Exception {
        assertEquals(1, test.disableEmulation());
        assertEquals(2, test.enableEmulation("TELEPORT"));
        assertEquals(0, test.enableEmulation("COMM"));
        for (String s : SUBSYSTEMS) {
            int[] v = test.emulationSettings(s);
            boolean on = s.equals("COMM") || s.equals("VIDEO") || s.equals("CAMERA");
            assertEquals(s, on ? 0 : 1, v[0]);
            if (on) {
                assertArrayEquals(s, new int[] {0, 0, 0, 100, 1}, v);
            }
        }
        assertEquals(0, test.NativeEmulateCommRspDelay(250));
        assertEquals(0, test.NativeEmulateCommDisableTriggerEvent(1));
        assertEquals(0, test.NativeEmulateCommDelayTriggeredEvent(40));
        assertEquals(0, test.NativeEmulateCommRspTimeout(900));
        assertArrayEquals(new int[] {0, 250, 900, 40, 0}, test.emulationSettings("COMM"));
        assertEquals(2, test.emulationSettings("TELEPORT")[0]);
        assertEquals(0, test.NativeBlockKeepAliveTest());
        assertEquals(0, test.NativeRepair());
        assertEquals(0, test.NativeUnpair());
        assertEquals(0, test.NativeInjectClientCallTimeout(1234));
        assertEquals(1, test.NativeEmulateDisableConnect());
        long t0 = System.currentTimeMillis();
        assertEquals(0, test.disableEmulation());
        assertTrue("the service is given time to notice", System.currentTimeMillis() - t0 >= 4900);
        assertEquals(1, test.disableEmulation());
        assertEquals(1, test.emulationSettings("VIDEO")[0]);
    }

    private List<String> report(int which, File f) throws Exception {
        int rc;
        switch (which) {
            case 0:
                rc = test.NativeMetricsAll(f.getPath());
                break;
            case 1:
                rc = test.NativeMetricsTestSuite(f.getPath());
                break;
            default:
                rc = test.NativeMetricsTestCase(f.getPath());
                break;
        }
        assertEquals(0, rc);
        return Files.readAllLines(f.toPath(), StandardCharsets.UTF_8);
    }

    @Test
    public void everyScopeListsEverySubsystemInTableOrder() throws Exception {
        File f = File.createTempFile("kyr_metrics", ".csv");
        try {
            assertEquals(1, test.NativeMetricsAll(f.getPath()));
            assertEquals(1, test.NativeMetricsTestCaseReset());
            assertEquals(0, test.enableMetrics());
            svc.getMinDavixVersion(); // csSrvrGet, one codec-served call
            assertEquals(0, test.startTestSuite());
            svc.getMinDavixVersion();
            assertEquals(0, test.startTestCase());
            String[] scopes = {"Scope=All Tests", "Scope=Test Suite", "Scope=Test Case"};
            int[] expectSrvrGet = {2, 1, 0};
            for (int s = 0; s < 3; s++) {
                List<String> lines = report(s, f);
                assertEquals(1 + 1 + 11 + 223, lines.size());
                assertEquals("CSAPI Client Functions (" + scopes[s] + "), KYR Counters, KYR Percent, "
                        + "Emulated KYR Counters, Emulated KYR Percent", lines.get(0));
                assertTrue(lines.get(1), lines.get(1).startsWith("ALL TESTS, "));
                for (int i = 0; i < SUBSYSTEMS.length; i++) {
                    assertTrue(lines.get(2 + i), lines.get(2 + i).startsWith("SUBSYSTEM:" + SUBSYSTEMS[i] + ", "));
                }
                assertEquals("SUBSYSTEM:HOME, 0, 0, 0, 0", lines.get(2 + 7));
                // Function blocks follow in table order, each with its own functions.
                int block = 0;
                for (String l : lines.subList(13, lines.size())) {
                    String sub = l.substring(1, l.indexOf(']'));
                    int idx = Arrays.asList(SUBSYSTEMS).indexOf(sub);
                    assertTrue(l, idx >= block);
                    block = idx;
                    assertFalse(l, sub.equals("HOME"));
                }
                String srvrGet = lines.stream().filter(l -> l.startsWith("[CONNECT] csSrvrGet,")).findFirst().get();
                int count = Integer.parseInt(srvrGet.split(", ")[1].trim());
                assertTrue(srvrGet, count >= expectSrvrGet[s]);
                if (s == 2) {
                    assertEquals("[CONNECT] csSrvrGet, 0, 0, 0, 0", srvrGet);
                }
            }
            assertEquals(2, test.NativeMetricsAll(new File(f.getParentFile(), "no/such/dir/m.csv").getPath()));
            assertEquals(0, test.disableMetrics());
            assertEquals(1, test.disableMetrics());
            assertEquals(1, test.writeMetrics(TestSubSystemInterface.Scope.ALL_TESTS, f));
        } finally {
            f.delete();
        }
    }
}
