package quorvex.kyrconnectservice.session;

/** Which connection failures do not pass by retrying. */
final class Refusals {
    private Refusals() {
    }

    /**
     * True when the codec refused for good: the serial number or the
     * credentials (-11), versions that do not match (-14, -29, -30), too many
     * attempts (-31), or a request the library rejects as it is (-10).
     */
    static boolean permanent(int code) {
        switch (code) {
            case -10:
            case -11:
            case -14:
            case -29:
            case -30:
            case -31:
                return true;
            default:
                return false;
        }
    }
}
