package quorvex.kyrconnectservice;

import java.io.File;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * Test hooks of the native library, for the service's own tests: switches
 * that mark test subsystems as emulated, synthetic change notifications and
 * counters of exercised client functions.
 *
 * <p>A synthetic notification is queued with a delay and delivered about
 * 100 ms after it is due, on the library's test thread, to the callbacks the
 * service registered, exactly as if the codec had sent it; the events it
 * causes reach {@link KyrConnectService.EventListener} like any other. The
 * service must be set up (its worker registers the callbacks); a codec
 * connection is not needed. A notification nobody registered for is dropped
 * (and logged).
 *
 * <pre>
 *   TestSubSystemInterface test = new TestSubSystemInterface();
 *   test.enableMetrics();
 *   test.emulateAudioVolume(35, 0);       // an audio change in ~100 ms
 *   test.emulateIncomingCall(500);        // a scripted call in ~600 ms
 *   ...
 *   test.writeMetrics(Scope.ALL_TESTS, new File("/sdcard/metrics.csv"));
 * </pre>
 */
public class TestSubSystemInterface {

    static {
        try {
            // The service class loads the library.
            Class.forName("quorvex.kyrconnectservice.KyrConnectService");
        } catch (ClassNotFoundException e) {
            throw new ExceptionInInitializerError(e);
        }
    }

    /** Scopes of the call metrics. */
    public enum Scope {
        /** Everything since metrics were enabled. */
        ALL_TESTS,
        /** Since the last suite reset. */
        TEST_SUITE,
        /** Since the last case (or suite) reset. */
        TEST_CASE
    }

    /** The notification types, in the library's numbering. */
    public static final int TYPE_AUDIO = 0;
    /** An audio input changed. */
    public static final int TYPE_AUDIO_IN = 1;
    /** An audio output changed. */
    public static final int TYPE_AUDIO_OUT = 2;
    /** The communication record changed. */
    public static final int TYPE_COMM = 3;
    /** A conference changed. */
    public static final int TYPE_CONF = 4;
    /** A terminal (call) changed. */
    public static final int TYPE_TERM = 5;
    /** A video output layout changed. */
    public static final int TYPE_VIDEO_LAYOUT = 6;
    /** The layout capabilities changed. */
    public static final int TYPE_VIDEO_LAYOUT_CAP = 7;
    /** A far camera group was added. */
    public static final int TYPE_CAMERA_FAR_GROUP_ADDED = 8;
    /** A camera was added. */
    public static final int TYPE_CAMERA_ADDED = 9;

    /** What happened to one synthetic notification. */
    public static final class Delivery {
        /** Its type ({@code TYPE_...}). */
        public final int type;
        /** The field flags it carried. */
        public final int flags;
        /** The callbacks it reached; -1 when none was registered (dropped). */
        public final int callbacks;
        /** Milliseconds from queueing to delivery. */
        public final int latencyMs;

        Delivery(int type, int flags, int callbacks, int latencyMs) {
            this.type = type;
            this.flags = flags;
            this.callbacks = callbacks;
            this.latencyMs = latencyMs;
        }

        /** True when no callback was registered for it. */
        public boolean dropped() {
            return callbacks < 0;
        }

        @Override
        public String toString() {
            return String.format("type %d flags 0x%x %s after %d ms", type, flags,
                    dropped() ? "dropped" : "to " + callbacks + " callback(s)", latencyMs);
        }
    }

    /**
     * Switches a test subsystem on ("AUDIO", "COMM", "DIRECTORY", "CALENDAR",
     * "VIDEO", "CONTENT", "SECURITY", "HOME", "CAMERA", "SYSTEM", "CONNECT");
     * "COMM" also switches on "VIDEO" and "CAMERA".
     *
     * @return 0, or 2 for an unknown name
     */
    public int enableEmulation(String subsystem) {
        return NativeEmulateEnable(subsystem);
    }

    /**
     * Switches every subsystem off. When any was on, the connection of server
     * instance 0 is dropped and the call returns after 5 seconds.
     *
     * @return 0, or 1 when none was on
     */
    public int disableEmulation() {
        return NativeEmulateDisable();
    }

    /**
     * Queues an audio volume change to {@code volume}.
     *
     * @param delayMs delay before it is due (negative counts as 0)
     * @return 0, or a negative code when it cannot be queued
     */
    public int emulateAudioVolume(int volume, int delayMs) {
        return NativeEmulateAudioVolumeChangedEvent(volume, delayMs);
    }

    /**
     * Queues an audio mute change.
     *
     * @return 0, or a negative code when it cannot be queued
     */
    public int emulateAudioMute(boolean muted, int delayMs) {
        return NativeEmulateAudioMuteChangedEvent(muted ? 1 : 0, delayMs);
    }

    /**
     * Queues a level change of the audio output.
     *
     * @return 0, or a negative code when it cannot be queued
     */
    public int emulateAudioOutVolume(int level, int delayMs) {
        return NativeEmulateAudioOutVolumeChangedEvent(level, delayMs);
    }

    /**
     * Queues the scripted incoming call: the terminal rings, the video layout
     * and conference follow, the call becomes active and three far cameras
     * are added (16 notifications, all due after {@code delayMs}).
     *
     * @return 0, or the first failing queueing result
     */
    public int emulateIncomingCall(int delayMs) {
        return NativeEmulateCommIncomingH323CallEvents(delayMs);
    }

    /**
     * How many handles the library has given out and not had back: lists,
     * nodes and records Java has not released yet, plus the library's own
     * static structures. Leak checks compare it before and after.
     *
     * @return the number of live handles
     */
    public int liveHandles() {
        return NativeLiveHandles();
    }

    /**
     * Switches the call metrics on with every counter at 0.
     *
     * @return 0, or 2 when memory runs out (metrics stay off)
     */
    public int enableMetrics() {
        return NativeMetricsEnable();
    }

    /**
     * Switches the call metrics off.
     *
     * @return 0 when they were on, else 1
     */
    public int disableMetrics() {
        return NativeMetricsDisable();
    }

    /**
     * Writes the metrics report of a scope as comma-separated lines.
     *
     * @return 0; 1 when metrics are off, 2 when the file cannot be written
     */
    public int writeMetrics(Scope scope, File file) {
        String path = file.getPath();
        switch (scope) {
            case TEST_SUITE:
                return NativeMetricsTestSuite(path);
            case TEST_CASE:
                return NativeMetricsTestCase(path);
            default:
                return NativeMetricsAll(path);
        }
    }

    /**
     * Starts a new test suite (its counters and the case counters at 0).
     *
     * @return 0, or 1 when metrics are off
     */
    public int startTestSuite() {
        return NativeMetricsTestSuiteReset();
    }

    /**
     * Starts a new test case (its counters at 0).
     *
     * @return 0, or 1 when metrics are off
     */
    public int startTestCase() {
        return NativeMetricsTestCaseReset();
    }

    /**
     * The synthetic notifications processed since the last call, oldest
     * first (the library keeps the last 64).
     */
    public List<Delivery> takeDeliveries() {
        int[] q = NativeTakeDeliveries();
        if (q == null) {
            return Collections.emptyList();
        }
        List<Delivery> out = new ArrayList<>(q.length / 4);
        for (int i = 0; i + 3 < q.length; i += 4) {
            out.add(new Delivery(q[i], q[i + 1], q[i + 2], q[i + 3]));
        }
        return out;
    }

    /**
     * The emulation settings of a subsystem: {result, response delay, response
     * time-out, trigger delay, trigger enable}; result 0 when it is emulated,
     * 1 when not (the rest then 0), 2 for an unknown name.
     */
    public int[] emulationSettings(String subsystem) {
        return NativeEmulateSettings(subsystem);
    }

    // ---- the native entry points (results as in the methods above) ----

    /** Does nothing; 0. */
    native int NativeBlockKeepAliveTest();
    /** Does nothing; 0. */
    native int NativeRepair();
    /** Does nothing; 0. */
    native int NativeUnpair();
    /** Switches a subsystem on; 0, or 2 for an unknown name. */
    native int NativeEmulateEnable(String subsystem);
    /** Switches all off; 1 when none was on, else drops instance 0, waits 5 s and gives 0. */
    native int NativeEmulateDisable();
    /** The same for "CONNECT" only. */
    native int NativeEmulateDisableConnect();
    /** Triggered COMM events off (flag != 0) or on; 0. */
    native int NativeEmulateCommDisableTriggerEvent(int flag);
    /** Triggered AUDIO events off (flag != 0) or on; 0. */
    native int NativeEmulateAudioDisableTriggerEvent(int flag);
    /** Delay of triggered COMM events; 0. */
    native int NativeEmulateCommDelayTriggeredEvent(int ms);
    /** Delay of triggered AUDIO events; 0. */
    native int NativeEmulateAudioDelayTriggeredEvent(int ms);
    /** COMM response time-out; 0. */
    native int NativeEmulateCommRspTimeout(int ms);
    /** AUDIO response time-out; 0. */
    native int NativeEmulateAudioRspTimeout(int ms);
    /** COMM response delay; 0. */
    native int NativeEmulateCommRspDelay(int ms);
    /** AUDIO response delay; 0. */
    native int NativeEmulateAudioRspDelay(int ms);
    /** Queues an audio volume change. */
    native int NativeEmulateAudioVolumeChangedEvent(int value, int delayMs);
    /** Queues an audio mute change. */
    native int NativeEmulateAudioMuteChangedEvent(int value, int delayMs);
    /** Queues a change of the number of audio inputs. */
    native int NativeEmulateAudioNumInsChangedEvent(int value, int delayMs);
    /** Queues a change of the number of audio outputs. */
    native int NativeEmulateAudioNumOutsChangedEvent(int value, int delayMs);
    /** Queues a change of mute on auto-answer. */
    native int NativeEmulateAudioMuteAutoAnswerChangedEvent(int value, int delayMs);
    /** Queues an audio input level change. */
    native int NativeEmulateAudioInVolumeChangedEvent(int value, int delayMs);
    /** Queues an audio input mute change. */
    native int NativeEmulateAudioInMuteChangedEvent(int value, int delayMs);
    /** Queues an audio output level change. */
    native int NativeEmulateAudioOutVolumeChangedEvent(int value, int delayMs);
    /** Queues an audio output mute change. */
    native int NativeEmulateAudioOutMuteChangedEvent(int value, int delayMs);
    /** Queues the scripted incoming call. */
    native int NativeEmulateCommIncomingH323CallEvents(int delayMs);
    /** Stores the injected client call time-out; 0. */
    native int NativeInjectClientCallTimeout(int ms);
    /** Metrics on, counters zeroed; 0. */
    native int NativeMetricsEnable();
    /** Metrics off; 0 when they were on, else 1. */
    native int NativeMetricsDisable();
    /** Report of all tests to path. */
    native int NativeMetricsAll(String path);
    /** Report of the test suite to path. */
    native int NativeMetricsTestSuite(String path);
    /** Report of the test case to path. */
    native int NativeMetricsTestCase(String path);
    /** Zeroes suite and case counters; 0, or 1 when metrics are off. */
    native int NativeMetricsTestSuiteReset();
    /** Zeroes case counters; 0, or 1 when metrics are off. */
    native int NativeMetricsTestCaseReset();
    /** Deliveries since the last call as (type, flags, callbacks, latency) quadruples. */
    native int[] NativeTakeDeliveries();
    /** The library's live handle count. */
    native int NativeLiveHandles();
    /** Settings of a subsystem as {result, rspDelay, rspTimeout, triggerDelay, triggerEnable}. */
    native int[] NativeEmulateSettings(String subsystem);
}
