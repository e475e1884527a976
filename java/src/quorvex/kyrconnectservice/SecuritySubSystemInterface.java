package quorvex.kyrconnectservice;

import java.util.Map;

/**
 * The codec's security settings: web video and user-settings access, the
 * meeting password and its rules, and SHA-1 hashing of texts.
 *
 * <p>Changes arrive as {@link KyrEvents#EVENT_SECURITY_SETTINGS_CHANGED}
 * whose value1 is a settings list of the changed keys (0 when none): pass it
 * to {@link #takeSettingsUpdate}, which also releases it.
 */
public class SecuritySubSystemInterface {
    static {
        InterfaceSupport.loadLibrary();
    }

    /** Bit mask the codec answers when a new password meets every rule. */
    public static final int PASSWORD_RULES_MET = 0xFFF;

    /** Creates the interface; the service must be set up and connected to use it. */
    public SecuritySubSystemInterface() {
    }

    /**
     * "{SHA1}" followed by the SHA-1 digest, in lowercase hexadecimal, of at
     * most the first 40 bytes of the text in the modified UTF-8 form JNI uses
     * (plain UTF-8 for text without NUL or characters beyond U+FFFF). Needs
     * no connection.
     *
     * @param text the text; null hashes like the empty text
     * @return the 46-character result
     */
    public String sha1(String text) {
        return NativeGetSha1(text);
    }

    /**
     * The security settings page ("allow_video_on_web",
     * "allow_user_settings", "meeting_password_present" and the meeting
     * password rules).
     *
     * @return the keys and values
     * @throws SettingsUnavailableException when the codec did not give the page
     */
    public Map<String, String> getSecuritySettings() {
        return InterfaceSupport.takeList(NativeGetSecuritySettings(), "security", this::NativeSecuritySettingsRelease);
    }

    /**
     * Changes one security setting (for example "allow_video_on_web" to "1").
     *
     * @param key the setting's key
     * @param value its new value
     * @return 0 or more on success, a negative value on failure
     */
    public int setSecuritySetting(String key, String value) {
        return NativeSetSecuritySettings(key, value);
    }

    /**
     * Changes the meeting password.
     *
     * @param oldPassword the current password
     * @param newPassword the new one
     * @return {@link #PASSWORD_RULES_MET} when the codec took it; otherwise
     *     the bit mask of the rules it met, or a negative value
     */
    public int changeMeetingPassword(String oldPassword, String newPassword) {
        int rc = NativeSetSecuritySettings("old_meeting_password", oldPassword);
        return rc < 0 ? rc : NativeSetSecuritySettings("meeting_password", newPassword);
    }

    /**
     * Reads the settings list an EVENT_SECURITY_SETTINGS_CHANGED carries and
     * releases it. Call it once per event.
     *
     * @param head value1 of the event
     * @return the changed keys and their values; empty when nothing changed
     */
    public Map<String, String> takeSettingsUpdate(int head) {
        return InterfaceSupport.takeList(head, "security update", this::NativeSecuritySettingsRelease);
    }

    native String NativeGetSha1(String text);

    native int NativeSetSecuritySettings(String key, String value);

    native long NativeGetSecuritySettings();

    native void NativeSecuritySettingsRelease(long head);
}
