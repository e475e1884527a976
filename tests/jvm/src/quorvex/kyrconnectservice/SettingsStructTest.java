package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Map;

import org.junit.AfterClass;
import org.junit.BeforeClass;
import org.junit.Test;

/**
 * A real settings list read in place from Java: the element layout through
 * SettingsStruct.newDirectByteBuffer, the whole list through readList, and
 * handles that name nothing (never issued, or already released).
 */
public class SettingsStructTest {
    private static InterfaceRig rig;

    @BeforeClass
    public static void connect() throws Exception {
        rig = InterfaceRig.connect();
        long audio = rig.handleOf("Audio");
        rig.sim.merge("Audio", audio, "{\"numIns\":2,\"muteAutoAnswer\":0}");
        String[] ins = rig.sim.first("handles AudioIn").split(" ");
        rig.sim.merge("AudioIn", Long.parseLong(ins[1]), "{\"deviceVersion\":\"7.1\",\"enabled\":1}");
        rig.sim.merge("AudioIn", Long.parseLong(ins[2]), "{\"deviceVersion\":\"7.2\",\"enabled\":0}");
    }

    @AfterClass
    public static void disconnect() {
        if (rig != null) {
            rig.close();
        }
    }

    @Test
    public void elementsAreReadInPlaceThroughTheirHandles() {
        long head = rig.audio.NativeGetAudioSettings();
        assertTrue("a list handle, got " + head, head > 0);
        try {
            ByteBuffer first = SettingsStruct.newDirectByteBuffer(head, SettingsStruct.SIZE);
            assertNotNull(first);
            assertEquals(516, SettingsStruct.SIZE);
            assertEquals(516, first.capacity());
            first.order(ByteOrder.nativeOrder());
            assertEquals("mute_auto_answer", SettingsStruct.name(first));
            assertEquals("0", SettingsStruct.value(first));
            assertEquals('0', (char) first.get(260));
            assertEquals(0, first.get(261));
            int second = SettingsStruct.next(first);
            assertNotEquals(0, second);
            ByteBuffer b2 = SettingsStruct.wrap(second);
            assertNotNull(b2);
            assertEquals("number_of_mics", SettingsStruct.name(b2));
            assertEquals("2", SettingsStruct.value(b2));
            assertNull("a view never reaches past the element",
                    SettingsStruct.newDirectByteBuffer(head, SettingsStruct.SIZE + 1));
            for (long alias : new long[] {head + (1L << 32), head - (1L << 32), head | Long.MIN_VALUE}) {
                assertNull("a value outside the 32-bit handle range names no block, not handle " + head,
                        SettingsStruct.newDirectByteBuffer(alias, SettingsStruct.SIZE));
            }

            Map<String, String> all = SettingsStruct.readList(head);
            assertEquals(Arrays.asList("mute_auto_answer", "number_of_mics", "microphone_version_0",
                    "microphone_status_0", "microphone_version_1", "microphone_status_1"),
                    new ArrayList<>(all.keySet()));
            assertEquals("7.1", all.get("microphone_version_0"));
            assertEquals("1", all.get("microphone_status_0"));
            assertEquals("7.2", all.get("microphone_version_1"));
            assertEquals("0", all.get("microphone_status_1"));
        } finally {
            rig.audio.NativeAudioSettingsRelease(head);
        }
        assertNull("a released element is gone", SettingsStruct.newDirectByteBuffer(head, SettingsStruct.SIZE));
        assertTrue(SettingsStruct.readList(head).isEmpty());
        rig.audio.NativeAudioSettingsRelease(head); // a second release does nothing
    }

    @Test
    public void handlesThatNameNothingGiveNull() {
        assertNull(SettingsStruct.newDirectByteBuffer(0, SettingsStruct.SIZE));
        assertNull(SettingsStruct.newDirectByteBuffer(-1, SettingsStruct.SIZE));
        assertNull(SettingsStruct.newDirectByteBuffer(0x7FFFFF00L, SettingsStruct.SIZE));
        assertNull(SettingsStruct.newDirectByteBuffer(0x100000001L, SettingsStruct.SIZE));
        assertNull(SettingsStruct.wrap(123456789));
        assertTrue(SettingsStruct.readList(0x7FFFFF00L).isEmpty());
        rig.audio.NativeAudioSettingsRelease(0x7FFFFF00L); // logged, ignored
    }

    /** What the codec did not give is a failure naming the page, not an empty map. */
    @Test
    public void aPageTheCodecDidNotGiveThrows() throws Exception {
        rig.sim.error("csAudioGet", -4, 2);
        assertEquals(-1, rig.audio.NativeGetAudioSettings());
        try {
            rig.audio.getAudioSettings();
            fail("an unreadable audio page gave a map");
        } catch (SettingsUnavailableException e) {
            assertEquals("audio", e.page());
            assertTrue(e.getMessage(), e.getMessage().contains("audio settings"));
        }
        rig.sim.error("csLanGet", -4, 1);
        try {
            rig.system.getSystemSettings();
            fail("an unreadable system page gave a map");
        } catch (SettingsUnavailableException e) {
            assertEquals("system", e.page());
        }
        try {
            SettingsStruct.readList(-1);
            fail("readList(-1) gave a map");
        } catch (SettingsUnavailableException e) {
            assertEquals("settings", e.page());
        }
        rig.audio.NativeAudioSettingsRelease(-1); // nothing to release
        assertTrue("an empty update list is no failure", rig.audio.takeSettingsUpdate(0).isEmpty());
        assertEquals("the page again once the codec answers", "mute_auto_answer",
                rig.audio.getAudioSettings().keySet().iterator().next());
    }

    @Test
    public void aSetShowsInTheNextListAndABadValueChangesNothing() throws Exception {
        assertEquals(0, rig.audio.setAudioSetting("mute_auto_answer", "10"));
        assertEquals("1", rig.audio.getAudioSettings().get("mute_auto_answer"));
        assertEquals(-10, rig.audio.setAudioSetting("mute_auto_answer", "x"));
        assertEquals(-10, rig.audio.setAudioSetting("mute_auto_answer", ""));
        assertEquals("1", rig.audio.getAudioSettings().get("mute_auto_answer"));
        assertTrue(rig.sim.first("record Audio").contains("\"muteAutoAnswer\":1"));
        assertEquals(0, rig.audio.setAudioSetting("mute_auto_answer", "0"));
    }
}
