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
        String was = "1".equals(web) ? "0" : "1";
        changeSecurity(demo, security, web);
        changeSecurity(demo, security, was);

        DemoSession.say("sleep -> %d", system.sleep());
        showSystemChange(demo, system);
        DemoSession.say("wake -> %d", system.wake());
        showSystemChange(demo, system);
        DemoSession.say("sha1(\"demo\") = %s", security.sha1("demo"));
    }

    /** Shows the system change the codec reports (its state is not on the settings page). */
    private static void showSystemChange(DemoSession demo, SystemSubSystemInterface system) throws Exception {
        DemoSession.Event e = demo.waitFor(KyrEvents.EVENT_SYSTEM_SETTINGS_CHANGED, WAIT);
        if (e != null) {
            DemoSession.say("  changed system settings: %s", system.takeSettingsUpdate(e.value1));
        }
    }

    /** Changes "allow_video_on_web"; the codec reports the change unless it refused it. */
    private static void changeSecurity(DemoSession demo, SecuritySubSystemInterface security, String value)
            throws Exception {
        int rc = security.setSecuritySetting("allow_video_on_web", value);
        DemoSession.say("setSecuritySetting(allow_video_on_web, %s) -> %d", value, rc);
        if (rc < 0) {
            return;
        }
        DemoSession.Event e = demo.waitFor(KyrEvents.EVENT_SECURITY_SETTINGS_CHANGED, WAIT);
        if (e == null) {
            throw new IllegalStateException("the codec did not report the security change");
        }
        DemoSession.say("  changed security settings: %s", security.takeSettingsUpdate(e.value1));
    }

    private static void print(String title, Map<String, String> settings) {
        DemoSession.say("%s (%d):", title, settings.size());
        for (Map.Entry<String, String> e : settings.entrySet()) {
            DemoSession.say("  %s = %s", e.getKey(), e.getValue());
        }
    }
}
