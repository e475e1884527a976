package quorvex.kyrconnectservice.session;

import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.Map;

/** Settings the codec changed, as key/value pairs in the codec's order. */
public final class SettingsEvent {
    /** Which settings page changed. */
    public enum Area {
        AUDIO, COMM, DIRECTORY, CONTENT, CALENDAR, SECURITY, SYSTEM
    }

    public final Area area;
    /** The changed keys and their new values (unmodifiable). */
    public final Map<String, String> values;

    SettingsEvent(Area area, Map<String, String> values) {
        this.area = area;
        this.values = Collections.unmodifiableMap(new LinkedHashMap<>(values));
    }

    @Override
    public String toString() {
        return area + " settings " + values;
    }
}
