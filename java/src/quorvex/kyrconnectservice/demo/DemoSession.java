package quorvex.kyrconnectservice.demo;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

import quorvex.kyrconnectservice.KyrConnectService;
import quorvex.kyrconnectservice.KyrEvents;

/** What a demo scene works with: the connected service, output and the events. */
public final class DemoSession {
    /** One event as Java received it. */
    public static final class Event {
        /** The event code (KyrEvents). */
        public final int code;
        /** First value. */
        public final int value1;
        /** Second value. */
        public final int value2;
        /** The object, or null. */
        public final Object obj;

        Event(int code, int value1, int value2, Object obj) {
            this.code = code;
            this.value1 = value1;
            this.value2 = value2;
            this.obj = obj;
        }

        @Override
        public String toString() {
            return String.format("%s value1=%d value2=%d%s", KyrEvents.eventName(code), value1, value2,
                                 obj == null ? "" : " obj=" + obj);
        }
    }

    private static final long START = System.nanoTime();
    private final BlockingQueue<Event> events = new LinkedBlockingQueue<>();
    private KyrConnectService service;

    DemoSession() {
    }

    void attach(KyrConnectService svc) {
        this.service = svc;
    }

    /** The connected service. */
    public KyrConnectService service() {
        return service;
    }

    /** Prints one line, stamped with the time since the demo started. */
    public static void say(String fmt, Object... args) {
        long ms = (System.nanoTime() - START) / 1_000_000;
        System.out.printf("[%6d ms] %s%n", ms, String.format(fmt, args));
        System.out.flush();
    }

    void post(int code, int value1, int value2, Object obj) {
        events.add(new Event(code, value1, value2, obj));
    }

    /**
     * Waits up to ms for an event with the given code, printing every event
     * that arrives meanwhile. Returns it, or null when none came in time.
     */
    public Event waitFor(int code, long ms) throws InterruptedException {
        long end = System.currentTimeMillis() + ms;
        for (long left = ms; left > 0; left = end - System.currentTimeMillis()) {
            Event e = events.poll(left, TimeUnit.MILLISECONDS);
            if (e == null) {
                return null;
            }
            say("event %s", e);
            if (e.code == code) {
                return e;
            }
        }
        return null;
    }

    /** Prints and returns every event that arrives within ms. */
    public List<Event> drain(long ms) throws InterruptedException {
        List<Event> out = new ArrayList<>();
        long end = System.currentTimeMillis() + ms;
        for (long left = ms; left > 0; left = end - System.currentTimeMillis()) {
            Event e = events.poll(left, TimeUnit.MILLISECONDS);
            if (e == null) {
                break;
            }
            say("event %s", e);
            out.add(e);
        }
        return out;
    }
}
