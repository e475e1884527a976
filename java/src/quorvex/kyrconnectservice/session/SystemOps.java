package quorvex.kyrconnectservice.session;

import java.util.Map;
import java.util.concurrent.CompletableFuture;

/** The codec's system and security settings, through a {@link KyrSession}. Every method returns at once. */
public final class SystemOps {
    private final KyrSession s;

    SystemOps(KyrSession s) {
        this.s = s;
    }

    public CompletableFuture<Map<String, String>> settings() {
        return s.call("systemSettings", n -> n.system.getSystemSettings());
    }

    /** Changes one system setting; the codec's change arrives as a {@link SettingsEvent}. */
    public CompletableFuture<Void> setSetting(String key, String value) {
        return s.code("setSystemSetting", n -> n.system.setSystemSetting(key, value));
    }

    public CompletableFuture<Map<String, String>> securitySettings() {
        return s.call("securitySettings", n -> n.security.getSecuritySettings());
    }

    public CompletableFuture<Void> setSecuritySetting(String key, String value) {
        return s.code("setSecuritySetting", n -> n.security.setSecuritySetting(key, value));
    }

    /** Wakes the codec from sleep. */
    public CompletableFuture<Void> wake() {
        return s.code("wake", n -> n.system.wake());
    }

    public CompletableFuture<Void> sleep() {
        return s.code("sleep", n -> n.system.sleep());
    }
}
