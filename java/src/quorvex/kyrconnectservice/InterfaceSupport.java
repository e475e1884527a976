package quorvex.kyrconnectservice;

import java.util.Map;
import java.util.function.LongConsumer;

/** What the subsystem interface classes share: the native library and settings lists. */
final class InterfaceSupport {
    private InterfaceSupport() {
    }

    /** Makes sure the native library is loaded (KyrConnectService loads it). */
    static void loadLibrary() {
        try {
            Class.forName(KyrConnectService.class.getName());
        } catch (ClassNotFoundException e) {
            throw new ExceptionInInitializerError(e);
        }
    }

    /**
     * Reads a native settings list of the named page into a map and then
     * gives it back with release, whatever happens while reading. A head of 0
     * gives an empty map; a negative head (the page could not be read) throws
     * {@link SettingsUnavailableException} and is not released.
     */
    static Map<String, String> takeList(long head, String page, LongConsumer release) {
        try {
            return SettingsStruct.readList(head, page);
        } finally {
            if (head > 0) {
                release.accept(head);
            }
        }
    }
}
