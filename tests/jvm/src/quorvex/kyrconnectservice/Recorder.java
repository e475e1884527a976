package quorvex.kyrconnectservice;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

/** Collects the events a service posts, for the tests to wait on. */
final class Recorder implements KyrConnectService.EventListener {
    static final class Event {
        final int code;
        final int value1;
        final int value2;
        final String thread;

        Event(int code, int value1, int value2) {
            this.code = code;
            this.value1 = value1;
            this.value2 = value2;
            this.thread = Thread.currentThread().getName();
        }

        @Override
        public String toString() {
            return KyrEvents.eventName(code) + "(" + (code == KyrEvents.EVENT_CONNECT_STATE_CHANGED
                    ? KyrEvents.stateName(value1) : String.valueOf(value1)) + ", " + value2 + ")";
        }
    }

    private final LinkedBlockingQueue<Event> events = new LinkedBlockingQueue<>();
    volatile boolean throwFromListener;

    @Override
    public void onEvent(int code, int value1, int value2, Object obj) {
        events.add(new Event(code, value1, value2));
        if (throwFromListener) {
            throw new IllegalStateException("listener failure on purpose");
        }
    }

    /** The next connection state posted within ms, or null. Other events are skipped. */
    Integer nextState(long ms) throws InterruptedException {
        long end = System.currentTimeMillis() + ms;
        for (long left = ms; left > 0; left = end - System.currentTimeMillis()) {
            Event e = events.poll(left, TimeUnit.MILLISECONDS);
            if (e == null) {
                return null;
            }
            if (e.code == KyrEvents.EVENT_CONNECT_STATE_CHANGED) {
                return e.value1;
            }
        }
        return null;
    }

    /** Every event posted within ms. */
    List<Event> drain(long ms) throws InterruptedException {
        Thread.sleep(ms);
        List<Event> out = new ArrayList<>();
        events.drainTo(out);
        return out;
    }
}
