package quorvex.kyrconnectservice;

import java.util.Map;

/**
 * The codec as a system: wake and sleep, and the system settings page
 * (names, versions, network addresses and states, time, provisioning, log
 * and home-screen settings).
 *
 * <p>Every method talks to the codec on the calling thread. Changes arrive as
 * {@link KyrEvents#EVENT_SYSTEM_SETTINGS_CHANGED} whose value1 is a settings
 * list of the changed keys (0 when none): pass it to
 * {@link #takeSettingsUpdate}, which also releases it.
 */
public class SystemSubSystemInterface {
    static {
        InterfaceSupport.loadLibrary();
    }

    /** Creates the interface; the service must be set up and connected to use it. */
    public SystemSubSystemInterface() {
    }

    /**
     * Wakes the codec from sleep.
     *
     * @return 0, or a negative CSAPI error
     */
    public int wake() {
        return NativeWake();
    }

    /**
     * Puts the codec to sleep.
     *
     * @return 0, or a negative CSAPI error
     */
    public int sleep() {
        return NativeSetSleep();
    }

    /**
     * The whole system settings page, in the codec's order ("system_name",
     * "host_name", "model", ..., "inkpad_fw_ver").
     *
     * @return the keys and values
     * @throws SettingsUnavailableException when the codec did not give the page
     */
    public Map<String, String> getSystemSettings() {
        return InterfaceSupport.takeList(NativeGetSystemSettings(), "system", this::NativeSystemSettingsRelease);
    }

    /**
     * Hands one system setting to the codec. The system page is read-only on
     * the codec's side: this only checks that the codec answers.
     *
     * @param key the setting's key
     * @param value its value
     * @return 0 or more on success, a negative value on failure
     */
    public int setSystemSetting(String key, String value) {
        return NativeSetSystemSettings(key, value);
    }

    /**
     * Reads the settings list an EVENT_SYSTEM_SETTINGS_CHANGED carries and
     * releases it. Call it once per event.
     *
     * @param head value1 of the event
     * @return the changed keys and their values; empty when nothing changed
     */
    public Map<String, String> takeSettingsUpdate(int head) {
        return InterfaceSupport.takeList(head, "system update", this::NativeSystemSettingsRelease);
    }

    native int NativeWake();

    native int NativeSetSleep();

    native int NativeSetSystemSettings(String key, String value);

    native long NativeGetSystemSettings();

    native void NativeSystemSettingsRelease(long head);
}
