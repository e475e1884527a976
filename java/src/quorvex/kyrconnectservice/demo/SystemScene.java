package quorvex.kyrconnectservice.demo;

import java.util.Map;

import quorvex.kyrconnectservice.KyrEvents;
import quorvex.kyrconnectservice.SecuritySubSystemInterface;
import quorvex.kyrconnectservice.SystemSubSystemInterface;

/**
 * The codec's system and security pages as a remote control shows them:
 * both settings lists, one security change with the event it causes, and
 * the codec put to sleep and woken again.
 */
public final class SystemScene implements DemoScene {
    private static final long WAIT = 5000;

    @Override
    public void run(DemoSession demo) throws Exception {
        SystemSubSystemInterface system = new SystemSubSystemInterface();
        SecuritySubSystemInterface security = new SecuritySubSystemInterface();
        print("system settings", system.getSystemSettings());
        Map<String, String> sec = security.getSecuritySettings();
        print("security settings", sec);

        String web = "1".equals(sec.get("allow_video_on_web")) ? "0" : "1";
        int rc = security.setSecuritySetting("allow_video_on_web", web);
        DemoSession.say("setSecuritySetting(allow_video_on_web, %s) -> %d", web, rc);
        DemoSession.Event e;
        if (rc >= 0) {
            e = demo.waitFor(KyrEvents.EVENT_SECURITY_SETTINGS_CHANGED, WAIT);
            if (e == null) {
                throw new IllegalStateException("the codec did not report the security change");
            }
            DemoSession.say("  changed security settings: %s", security.takeSettingsUpdate(e.value1));
        }

        DemoSession.say("sleep -> %d", system.sleep());
        e = demo.waitFor(KyrEvents.EVENT_SYSTEM_SETTINGS_CHANGED, WAIT);
        if (e != null) {
            DemoSession.say("  changed system settings: %s", system.takeSettingsUpdate(e.value1));
        }
        DemoSession.say("wake -> %d", system.wake());
        e = demo.waitFor(KyrEvents.EVENT_SYSTEM_SETTINGS_CHANGED, WAIT);
        if (e != null) {
            DemoSession.say("  changed system settings: %s", system.takeSettingsUpdate(e.value1));
        }
        DemoSession.say("sha1(\"demo\") = %s", security.sha1("demo"));
    }

    private static void print(String title, Map<String, String> settings) {
        DemoSession.say("%s (%d):", title, settings.size());
        for (Map.Entry<String, String> e : settings.entrySet()) {
            DemoSession.say("  %s = %s", e.getKey(), e.getValue());
        }
    }
}
