package quorvex.kyrconnectservice.session;

/**
 * Receives one kind of session event ({@link CallInfo}, {@link AudioEvent},
 * ...), on the session's callback executor.
 *
 * @param <T> the event type
 */
@FunctionalInterface
public interface SessionListener<T> {
    void onEvent(T event);
}
