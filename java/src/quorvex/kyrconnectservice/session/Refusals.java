package quorvex.kyrconnectservice.session;

import static quorvex.kyrconnectservice.KyrErrors.*;

/** Which connection failures do not pass by retrying. */
final class Refusals {
    private Refusals() {
    }

    /**
     * True when the codec refused for good: the serial number or the
     * credentials, versions that do not match, too many attempts, a codec
     * whose key is not the pinned one, or a request the library rejects as
     * it is.
     */
    static boolean permanent(int code) {
        switch (code) {
            case CSAPI_ERR_BAD_PARAMETER:
            case CSAPI_ERR_NOT_AUTHORIZED:
            case CSAPI_ERR_WRONG_VERSION:
            case CSAPI_ERR_WRONG_CLIENT_VERSION:
            case CSAPI_ERR_WRONG_SERVER_VERSION:
            case CSAPI_ERR_TOO_MANY_ATTEMPTS:
            case CSAPI_ERR_SERVER_IDENTITY:
                return true;
            default:
                return false;
        }
    }
}
