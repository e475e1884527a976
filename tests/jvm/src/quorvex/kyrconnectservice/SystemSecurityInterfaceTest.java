package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_SECURITY_SETTINGS_CHANGED;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_SYSTEM_SETTINGS_CHANGED;

import java.util.ArrayList;
import java.util.List;
import java.util.Map;

import org.junit.AfterClass;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;

/**
 * The system and security interfaces on a real JVM against the codec
 * simulator: SHA-1 texts, wake and sleep, and the events of the ten system
 * and security notifications.
 */
public class SystemSecurityInterfaceTest {
    private static InterfaceRig rig;

    @BeforeClass
    public static void connect() throws Exception {
        rig = InterfaceRig.connect();
    }

    @AfterClass
    public static void disconnect() {
        if (rig != null) {
            rig.close();
        }
    }

    @Before
    public void quiet() throws Exception {
        rig.sim.command("clear-errors");
        rig.drain(0);
    }

    @Test
    public void sha1OfNullEmptyAndLongTexts() {
        String empty = rig.security.sha1("");
        assertEquals("{SHA1}da39a3ee5e6b4b0d3255bfef95601890afd80709", empty);
        assertEquals(empty, rig.security.sha1(null));
        assertEquals("{SHA1}a9993e364706816aba3e25717850c26c9cd0d89d", rig.security.sha1("abc"));
        String fifty = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMN";
        assertEquals(50, fifty.length());
        assertEquals(rig.security.sha1(fifty.substring(0, 40)), rig.security.sha1(fifty));
        assertTrue(!rig.security.sha1(fifty.substring(0, 39)).equals(rig.security.sha1(fifty)));
        assertEquals(46, rig.security.sha1(fifty).length());
    }

    @Test
    public void sleepAndWakeReachTheCodec() throws Exception {
        assertEquals(0, rig.system.sleep());
        assertTrue(rig.sim.record("Sys", 0).contains("\"state\":1"));
        InterfaceRig.Event e = rig.next(EVENT_SYSTEM_SETTINGS_CHANGED);
        assertTrue("the state is not on the settings page: " + e, e.list.isEmpty());
        assertEquals(0, rig.system.wake());
        assertTrue(rig.sim.record("Sys", 0).contains("\"state\":0"));
        rig.next(EVENT_SYSTEM_SETTINGS_CHANGED);
    }

    @Test
    public void wakeReturnsTheFirstFailureAndSendsNothingAfterIt() throws Exception {
        int wakes = rig.sim.count("csSysWake");
        rig.sim.error("csSysGet", -4, 1);
        assertEquals(-4, rig.system.wake());
        assertEquals(wakes, rig.sim.count("csSysWake"));
        rig.sim.error("csSysSleep", -12, 1);
        assertEquals(-12, rig.system.sleep());
    }

    @Test
    public void everySystemAndSecurityNotificationPostsItsEvent() throws Exception {
        String[][] rows = {
            {"csHomeScreenChangedCB", "2049"}, {"csLogChangedCB", "2049"}, {"csLanChangedCB", "2049"},
            {"csTimeChangedCB", "2049"}, {"csProvisioningChangedCB", "2049"}, {"csSysChangedCB", "2049"},
            {"csSecPwdAttrChangedCB", "1793"}, {"csSecPwdChangedCB", "1793"},
            {"csSecPwdValidityChangedCB", "1793"}, {"csSecChangedCB", "1793"},
        };
        List<Integer> want = new ArrayList<>();
        for (String[] row : rows) {
            assertEquals(row[0], 1, rig.sim.notify(row[0], 0, 0));
            want.add(Integer.parseInt(row[1]));
        }
        List<Integer> got = new ArrayList<>();
        long end = System.currentTimeMillis() + InterfaceRig.WAIT;
        while (got.size() < want.size() && System.currentTimeMillis() < end) {
            for (InterfaceRig.Event e : rig.drain(50)) {
                got.add(e.code);
                assertEquals(0, e.value2);
            }
        }
        assertEquals("one event per notification, in order", want, got);
        assertEquals(EVENT_SYSTEM_SETTINGS_CHANGED, (int) want.get(0));
        assertEquals(EVENT_SECURITY_SETTINGS_CHANGED, (int) want.get(want.size() - 1));
    }

    @Test
    public void systemNameChangePostsAOneKeyList() throws Exception {
        long sys = rig.handleOf("Sys");
        String before = rig.system.getSystemSettings().get("system_name");
        rig.sim.merge("Sys", sys, "{\"systemName\":\"Board Room\"}");
        try {
            rig.sim.notify("csSysChangedCB", 0x1, 0);
            InterfaceRig.Event e = rig.next(EVENT_SYSTEM_SETTINGS_CHANGED);
            assertTrue("a list: " + e, e.value1 > 0);
            assertEquals(Map.of("system_name", "Board Room"), e.list);
            assertEquals("Board Room", rig.system.getSystemSettings().get("system_name"));
        } finally {
            rig.sim.merge("Sys", sys, "{\"systemName\":\"" + before + "\"}");
        }
    }

    @Test
    public void passwordNotificationOfAnotherTypePostsNoList() throws Exception {
        long other = rig.sim.merge("SecPwd", 0, "{\"type\":2,\"id\":\"admin\",\"valid\":2147483648}");
        rig.sim.notify("csSecPwdChangedCB", 0, other);
        InterfaceRig.Event e = rig.next(EVENT_SECURITY_SETTINGS_CHANGED);
        assertEquals(0, e.value1);
        assertTrue(e.list.isEmpty());
        // The meeting password (type 1) is reported.
        rig.sim.notify("csSecPwdChangedCB", 0, 0);
        e = rig.next(EVENT_SECURITY_SETTINGS_CHANGED);
        assertEquals(Map.of("meeting_password_present", "0"), e.list);
    }

    @Test
    public void releaseOfZeroDoesNothingAndARealReleaseOnlyOnce() throws Exception {
        long head = rig.system.NativeGetSystemSettings();
        assertTrue(head > 0);
        rig.system.NativeSystemSettingsRelease(0);
        Map<String, String> page = SettingsStruct.readList(head);
        assertEquals("the list is still there", "Room 1", page.get("system_name"));
        rig.system.NativeSystemSettingsRelease(head);
        assertTrue(SettingsStruct.readList(head).isEmpty());
        rig.system.NativeSystemSettingsRelease(head);
        rig.security.NativeSecuritySettingsRelease(0);
    }

    @Test
    public void settingsPagesListTheirKeysInOrder() throws Exception {
        List<String> keys = new ArrayList<>(rig.system.getSystemSettings().keySet());
        assertEquals(List.of("availability_menu", "system_name", "host_name", "model"), keys.subList(0, 4));
        assertEquals("inkpad_fw_ver", keys.get(keys.size() - 1));
        Map<String, String> sec = rig.security.getSecuritySettings();
        assertEquals("0", sec.get("allow_video_on_web"));
        assertEquals("1", sec.get("allow_user_settings"));
        assertEquals("4", sec.get("meeting_password_minimum_length"));
    }

    @Test
    public void securityChangeIsReportedWithItsKey() throws Exception {
        assertTrue(rig.security.setSecuritySetting("allow_video_on_web", "1") >= 0);
        try {
            InterfaceRig.Event e = rig.next(EVENT_SECURITY_SETTINGS_CHANGED);
            assertEquals(Map.of("allow_video_on_web", "1"), e.list);
            assertEquals("1", rig.security.getSecuritySettings().get("allow_video_on_web"));
        } finally {
            rig.security.setSecuritySetting("allow_video_on_web", "0");
            rig.next(EVENT_SECURITY_SETTINGS_CHANGED);
        }
    }
}
