package quorvex.kyrconnectservice.session;

import java.util.function.LongUnaryOperator;

/**
 * Reconnection delays: the first retry at once, then exponential delays from
 * the first delay up to the cap with full jitter (a uniform draw between 0
 * and the exponential value). The sequence starts over only after a
 * connection stayed up for {@link #STABLE_MS}, so a codec that accepts and
 * drops at once is not hammered.
 */
final class Backoff {
    static final long STABLE_MS = 10_000;

    private final long firstMs;
    private final long capMs;
    private final LongUnaryOperator draw; // uniform in [0, bound]
    private int failures;

    Backoff(long firstMs, long capMs, LongUnaryOperator draw) {
        this.firstMs = Math.max(1, firstMs);
        this.capMs = Math.max(this.firstMs, capMs);
        this.draw = draw;
    }

    /** The delay before the next attempt, in ms. */
    synchronized long next() {
        int n = failures++;
        if (n == 0) {
            return 0;
        }
        long bound = firstMs;
        for (int i = 1; i < n && bound < capMs; i++) {
            bound *= 2;
        }
        return draw.applyAsLong(Math.min(bound, capMs));
    }

    /** A connection that was up for upMs ended; a stable one starts the sequence over. */
    synchronized void connectionEnded(long upMs) {
        if (upMs >= STABLE_MS) {
            failures = 0;
        }
    }

    /** Starts over (the app says the network is back). */
    synchronized void reset() {
        failures = 0;
    }
}
