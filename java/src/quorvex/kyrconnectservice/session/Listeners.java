package quorvex.kyrconnectservice.session;

import java.util.concurrent.CopyOnWriteArrayList;
import java.util.logging.Level;
import java.util.logging.Logger;

/** A session's listeners by event type; each call is guarded so one that throws does not stop the others. */
final class Listeners {
    private static final Logger LOG = Logger.getLogger("quorvex.kyrconnectservice.session");

    private static final class Registration {
        final Class<?> type;
        final SessionListener<Object> listener;
        final Object key;

        @SuppressWarnings("unchecked")
        <T> Registration(Class<T> type, SessionListener<? super T> listener) {
            this.type = type;
            this.listener = (SessionListener<Object>) listener;
            this.key = listener;
        }
    }

    private final CopyOnWriteArrayList<StateListener> states = new CopyOnWriteArrayList<>();
    private final CopyOnWriteArrayList<Registration> events = new CopyOnWriteArrayList<>();

    void addState(StateListener l) {
        states.add(l);
    }

    <T> void add(Class<T> type, SessionListener<? super T> l) {
        events.add(new Registration(type, l));
    }

    void remove(Object l) {
        states.remove(l);
        events.removeIf(r -> r.key == l);
    }

    void stateChanged(SessionState state, SessionState previous, int code) {
        for (StateListener l : states) {
            try {
                l.onStateChanged(state, previous, code);
            } catch (RuntimeException e) {
                LOG.log(Level.WARNING, "a state listener threw", e);
            }
        }
    }

    void deliver(Object event) {
        for (Registration r : events) {
            if (r.type.isInstance(event)) {
                try {
                    r.listener.onEvent(event);
                } catch (RuntimeException e) {
                    LOG.log(Level.WARNING, "a listener threw on " + event, e);
                }
            }
        }
    }
}
