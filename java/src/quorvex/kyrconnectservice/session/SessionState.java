package quorvex.kyrconnectservice.session;

/** Where a {@link KyrSession} stands with its codec. */
public enum SessionState {
    /** Not started, or stopped after the codec refused the session for good (the code says why). */
    IDLE,
    /** The first connection attempt after {@link KyrSession#start()}. */
    CONNECTING,
    /** The codec wants pairing and the session has no (working) credentials: call {@link KyrSession#pair}. */
    PAIRING_REQUIRED,
    /** Authenticated; operations go through. */
    CONNECTED,
    /** The connection was lost or an attempt failed; the session retries by itself. */
    RECONNECTING,
    /** {@link KyrSession#close()} was called; nothing happens any more. */
    CLOSED
}
