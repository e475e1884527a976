package quorvex.kyrconnectservice.session;

/** Turns what the low-level calls give back into values or {@link KyrException}s. */
final class Results {
    private Results() {
    }

    /** rc itself, or a KyrException when it is a negative CSAPI code. */
    static int check(String operation, int rc) throws KyrException {
        if (rc < 0) {
            throw new KyrException(operation, rc);
        }
        return rc;
    }

    /** value, or a KyrException with the thread's last code when the getter gave nothing. */
    static <T> T orFailure(Natives n, String operation, T value) throws KyrException {
        if (value == null) {
            int rc = n.lastError();
            throw new KyrException(operation, rc < 0 ? rc : -4);
        }
        return value;
    }

    /** Fails with the thread's last code when the call that just ran (without a result code) failed. */
    static void checkLast(Natives n, String operation) throws KyrException {
        check(operation, n.lastError());
    }
}
