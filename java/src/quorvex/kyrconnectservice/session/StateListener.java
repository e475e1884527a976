package quorvex.kyrconnectservice.session;

/** Receives every change of a session's state, on the session's callback executor. */
@FunctionalInterface
public interface StateListener {
    /**
     * @param state the new state
     * @param previous the state before
     * @param code why: 0, or the CSAPI code that caused the change (for example -18 for a lost
     *             connection, -11 when the codec refused the serial number or the credentials)
     */
    void onStateChanged(SessionState state, SessionState previous, int code);
}
