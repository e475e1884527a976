package quorvex.kyrconnectservice;

/**
 * A settings page the library could not read from the codec (the codec did
 * not answer one of the page's requests). Unlike an empty page, nothing can be
 * shown for it; asking again later may succeed.
 */
public class SettingsUnavailableException extends IllegalStateException {
    private static final long serialVersionUID = 1L;

    private final String page;

    public SettingsUnavailableException(String page) {
        super("the " + page + " settings page could not be read from the codec");
        this.page = page;
    }

    /** The page's name ("audio", "system", ...). */
    public String page() {
        return page;
    }
}
