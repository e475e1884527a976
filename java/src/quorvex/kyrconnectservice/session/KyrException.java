package quorvex.kyrconnectservice.session;

import quorvex.kyrconnectservice.KyrErrors;

/**
 * A failed operation: the CSAPI code (negative) and its text, worded as the
 * library's {@code csErrorString}.
 */
public class KyrException extends Exception {
    private static final long serialVersionUID = 1L;

    /** "No Connection": the session is not connected, or lost the connection during the call. */
    public static final int NO_CONNECTION = KyrErrors.CSAPI_ERR_NO_CONNECT;
    /** "Pairing required". */
    public static final int PAIRING_REQUIRED = KyrErrors.CSAPI_ERR_PAIRING_REQUIRED;

    private final int code;
    private final String operation;

    /**
     * @param operation what failed, for example "setVolume"
     * @param code the CSAPI code
     */
    public KyrException(String operation, int code) {
        super(operation + ": " + text(code) + " (" + code + ")");
        this.code = code;
        this.operation = operation;
    }

    /** @return the CSAPI code, for example -18 */
    public int code() {
        return code;
    }

    /** @return the code's text, for example "No Connection" */
    public String text() {
        return text(code);
    }

    /** @return the operation that failed */
    public String operation() {
        return operation;
    }

    /**
     * The text of a CSAPI code as the library words it.
     *
     * @param code a CSAPI code (0 or negative)
     * @return its text, "Unknown error" for a code the library does not know
     */
    public static String text(int code) {
        return ErrorTexts.of(code);
    }
}
