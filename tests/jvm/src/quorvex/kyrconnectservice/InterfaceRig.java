package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

/**
 * A service connected to the codec simulator, with the audio, system and
 * security interfaces, for the interface tests. The listener does what an
 * application does with the events that carry native data: it reads the
 * settings list (and releases it) or copies the audio structure while the
 * event is being delivered.
 */
final class InterfaceRig implements AutoCloseable, KyrConnectService.EventListener {
    static final String SERIAL = "KYR-JVM-0002";
    static final long WAIT = 6000;

    /** One event with what the listener read from it. */
    static final class Event {
        final int code;
        final int value1;
        final int value2;
        /** The settings list of a settings event (null for other events). */
        final Map<String, String> list;
        /** The audio structure of EVENT_AUDIO_SYSTEM_CHANGED (null otherwise). */
        final AudioSystemStruct audio;

        Event(int code, int value1, int value2, Map<String, String> list, AudioSystemStruct audio) {
            this.code = code;
            this.value1 = value1;
            this.value2 = value2;
            this.list = list;
            this.audio = audio;
        }

        @Override
        public String toString() {
            return KyrEvents.eventName(code) + "(" + value1 + ", " + value2 + ")"
                    + (list == null ? "" : " " + list) + (audio == null ? "" : " " + audio);
        }
    }

    final SimProcess sim;
    final KyrConnectService svc;
    final AudioSubSystemInterface audio = new AudioSubSystemInterface();
    final SystemSubSystemInterface system = new SystemSubSystemInterface();
    final SecuritySubSystemInterface security = new SecuritySubSystemInterface();
    private final LinkedBlockingQueue<Event> events = new LinkedBlockingQueue<>();

    private InterfaceRig() throws Exception {
        sim = SimProcess.start("--serial", SERIAL);
        svc = new KyrConnectService(this);
        assertEquals(0, svc.setup());
        until(KyrEvents.EVENT_CONNECT_STATE_CHANGED);
        assertEquals(0, svc.connect(sim.address(), SERIAL, "1.0.0", "1.0.0", "99.0.0"));
        assertTrue(sim.awaitCount("csAudioGet", 1, WAIT));
        drain(0);
    }

    static InterfaceRig connect() throws Exception {
        return new InterfaceRig();
    }

    @Override
    public void onEvent(int code, int value1, int value2, Object obj) {
        Map<String, String> list = null;
        AudioSystemStruct snapshot = null;
        switch (code) {
            case KyrEvents.EVENT_AUDIO_SETTINGS_CHANGED:
                list = audio.takeSettingsUpdate(value1);
                break;
            case KyrEvents.EVENT_SYSTEM_SETTINGS_CHANGED:
                list = system.takeSettingsUpdate(value1);
                break;
            case KyrEvents.EVENT_SECURITY_SETTINGS_CHANGED:
                list = security.takeSettingsUpdate(value1);
                break;
            case KyrEvents.EVENT_AUDIO_SYSTEM_CHANGED:
                snapshot = AudioSystemStruct.read(value1);
                break;
            default:
                break;
        }
        events.add(new Event(code, value1, value2, list, snapshot));
    }

    /**
     * Every event up to and including the first with the given code; fails
     * the test when none comes within WAIT.
     */
    List<Event> until(int code) throws InterruptedException {
        List<Event> seen = new ArrayList<>();
        long end = System.currentTimeMillis() + WAIT;
        for (long left = WAIT; left > 0; left = end - System.currentTimeMillis()) {
            Event e = events.poll(left, TimeUnit.MILLISECONDS);
            if (e == null) {
                break;
            }
            seen.add(e);
            if (e.code == code) {
                return seen;
            }
        }
        throw new AssertionError("no " + KyrEvents.eventName(code) + " within " + WAIT + " ms; saw " + seen);
    }

    /** The last event of until(code): the one with that code. */
    Event next(int code) throws InterruptedException {
        List<Event> seen = until(code);
        return seen.get(seen.size() - 1);
    }

    /** Every event that arrives within ms (0: those already queued). */
    List<Event> drain(long ms) throws InterruptedException {
        if (ms > 0) {
            Thread.sleep(ms);
        }
        List<Event> out = new ArrayList<>();
        events.drainTo(out);
        return out;
    }

    /** The simulator's handle of the first record of a kind. */
    long handleOf(String kind) throws Exception {
        String[] words = sim.first("handles " + kind).split(" ");
        return words.length > 1 ? Long.parseLong(words[1]) : 0;
    }

    static boolean hasCode(List<Event> seen, int code) {
        for (Event e : seen) {
            if (e.code == code) {
                return true;
            }
        }
        return false;
    }

    @Override
    public void close() {
        svc.release();
        sim.close();
    }
}
