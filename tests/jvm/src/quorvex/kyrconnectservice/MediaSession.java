package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import java.io.IOException;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.function.Consumer;

/**
 * A service connected to the codec simulator for the calendar, camera and
 * video tests, with every event recorded and an optional hook that runs
 * while an event is being delivered (when its native records are valid).
 * One session serves a whole test class: {@link #reset} puts the records a
 * test may change back as they were, drains what is still on its way and
 * clears the simulator's request log and injected errors.
 */
final class MediaSession implements KyrConnectService.EventListener, AutoCloseable {
    static final String SERIAL = "KYR-JVM-MEDIA";
    static final long WAIT = 5000;

    final SimProcess sim;
    final KyrConnectService svc;
    private final LinkedBlockingQueue<Recorder.Event> events = new LinkedBlockingQueue<>();
    volatile Consumer<Recorder.Event> during;
    private final Map<String, String> saved = new LinkedHashMap<>();

    /**
     * Connects and remembers every record of the given kinds as it is now,
     * for {@link #reset} to restore.
     */
    MediaSession(String... kinds) throws Exception {
        sim = SimProcess.start("--serial", SERIAL);
        svc = new KyrConnectService(this);
        assertEquals(0, svc.setup());
        connect();
        for (String kind : kinds) {
            for (long h : handles(kind)) {
                saved.put(kind + " " + h, sim.record(kind, h));
            }
        }
    }

    private void connect() throws Exception {
        sim.command("clear-requests");
        assertEquals(0, svc.connect(sim.address(), SERIAL, "1.0.0", "1.0.0", "99.0.0"));
        assertTrue("connected", next(KyrEvents.EVENT_CONNECT_STATE_CHANGED,
                e -> e.value1 == KyrEvents.KYR_Connect_Connected, WAIT) != null);
        // Let the post-connect fetches finish so request counts start clean.
        assertTrue(sim.awaitCount("csDirGet", 1, WAIT));
    }

    /** Before each test: connected, remembered records restored, nothing pending, empty request log. */
    void reset() throws Exception {
        during = null;
        if (svc.getConnectionState() != KyrEvents.KYR_Connect_Connected) {
            connect();
        }
        for (Map.Entry<String, String> e : saved.entrySet()) {
            String[] kh = e.getKey().split(" ");
            sim.merge(kh[0], Long.parseLong(kh[1]), e.getValue());
        }
        sim.command("clear-errors");
        flush();
        sim.command("clear-requests");
        events.clear();
    }

    @Override
    public void onEvent(int code, int value1, int value2, Object obj) {
        Recorder.Event e = new Recorder.Event(code, value1, value2);
        Consumer<Recorder.Event> hook = during;
        if (hook != null) {
            hook.accept(e);
        }
        events.add(e);
    }

    /** The next event of that code within ms (others are dropped), or null. */
    Recorder.Event next(int code, long ms) throws InterruptedException {
        return next(code, e -> true, ms);
    }

    /**
     * The next event of that code that also passes want, within ms. Tests
     * match on values where they can: a notification of an earlier test's
     * codec may still be queued in the process-wide notification ring when
     * the next test's worker starts.
     */
    Recorder.Event next(int code, java.util.function.Predicate<Recorder.Event> want, long ms)
            throws InterruptedException {
        long end = System.currentTimeMillis() + ms;
        for (long left = ms; left > 0; left = end - System.currentTimeMillis()) {
            Recorder.Event e = events.poll(left, TimeUnit.MILLISECONDS);
            if (e == null) {
                return null;
            }
            if (e.code == code && want.test(e)) {
                return e;
            }
        }
        return null;
    }

    /** The flags of the marker notification flush() pushes. */
    static final int MARKER = 0x7654;

    /**
     * Every event delivered before a marker notification pushed now (the
     * codec's notifications arrive in order), so a test can tell that
     * something posted nothing without waiting an arbitrary time.
     */
    List<Recorder.Event> flush() throws Exception {
        List<Recorder.Event> out = new ArrayList<>();
        sim.notify("csCalChangedCB", MARKER, 0);
        long end = System.currentTimeMillis() + WAIT;
        for (long left = WAIT; left > 0; left = end - System.currentTimeMillis()) {
            Recorder.Event e = events.poll(left, TimeUnit.MILLISECONDS);
            if (e == null) {
                break;
            }
            if (e.code == KyrEvents.EVENT_CAL_CHANGED && e.value2 == MARKER) {
                return out;
            }
            out.add(e);
        }
        throw new AssertionError("the marker notification never arrived; got " + out);
    }

    /** Every event delivered within ms, in order. */
    List<Recorder.Event> drain(long ms) throws InterruptedException {
        Thread.sleep(ms);
        List<Recorder.Event> out = new ArrayList<>();
        events.drainTo(out);
        return out;
    }

    /** Handles of the model's records of a kind, in creation order. */
    long[] handles(String kind) throws IOException {
        String line = sim.first("handles " + kind).replaceFirst("^handles ?", "").trim();
        if (line.isEmpty()) {
            return new long[0];
        }
        String[] parts = line.split(" +");
        long[] out = new long[parts.length];
        for (int i = 0; i < parts.length; i++) {
            out[i] = Long.parseLong(parts[i]);
        }
        return out;
    }

    /** The params of the requests of method, as JSON texts. */
    List<String> sent(String method) throws IOException {
        return sim.requests(method);
    }

    @Override
    public void close() {
        svc.release();
        sim.close();
    }
}
