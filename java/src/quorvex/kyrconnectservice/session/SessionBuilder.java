package quorvex.kyrconnectservice.session;

import java.time.Duration;
import java.util.concurrent.Executor;

/** Describes a {@link KyrSession}; {@link #build()} makes it. Start with {@link KyrSession#builder}. */
public final class SessionBuilder {
    final String address;
    final String serialNumber;
    String clientVersion = "1.0.0";
    String minServerVersion = "1.0.0";
    String maxServerVersion = "99.0.0";
    String adminName;
    String adminPassword;
    Executor executor;
    Duration firstDelay = Duration.ofMillis(250);
    Duration maxDelay = Duration.ofSeconds(30);
    Duration liveness = Duration.ofSeconds(5);
    String pinnedFingerprint;

    SessionBuilder(String address, String serialNumber) {
        if (address == null || serialNumber == null) {
            throw new NullPointerException(address == null ? "address" : "serialNumber");
        }
        this.address = address;
        this.serialNumber = serialNumber;
    }

    /** This app's version as the codec sees it (default "1.0.0"). */
    public SessionBuilder clientVersion(String version) {
        clientVersion = version;
        return this;
    }

    /** The codec versions this app accepts (default "1.0.0" to "99.0.0"). */
    public SessionBuilder serverVersions(String min, String max) {
        minServerVersion = min;
        maxServerVersion = max;
        return this;
    }

    /** Administrator credentials, kept in memory only, used to pair and re-pair when the codec asks. */
    public SessionBuilder credentials(String name, String password) {
        adminName = name;
        adminPassword = password;
        return this;
    }

    /** Where every listener and future completion runs; default: one thread of the session. */
    public SessionBuilder callbackExecutor(Executor executor) {
        this.executor = executor;
        return this;
    }

    /** The first reconnection delay and the cap (defaults 250 ms and 30 s). */
    public SessionBuilder reconnectDelays(Duration first, Duration cap) {
        firstDelay = first;
        maxDelay = cap;
        return this;
    }

    /** How soon a silent connection counts as lost (default 5 s); {@link Duration#ZERO} turns probing off. */
    public SessionBuilder liveness(Duration liveness) {
        this.liveness = liveness;
        return this;
    }

    /**
     * Accepts only a codec whose key has this fingerprint (64 hex digits, as
     * {@link KyrSession#serverFingerprint()} gave it when the codec was first
     * paired). A codec presenting another key is refused with -32 ("Server
     * identity changed") before anything is sent, and the session stops in
     * {@link SessionState#IDLE}. Null: no pin.
     */
    public SessionBuilder pinnedFingerprint(String hex) {
        pinnedFingerprint = hex;
        return this;
    }

    public KyrSession build() {
        return new KyrSession(this);
    }
}
