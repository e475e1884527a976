package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_SECURITY_SETTINGS_CHANGED;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_SYSTEM_SETTINGS_CHANGED;

import java.util.ArrayList;
import java.util.List;

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
}
