package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_AUDIO_CAPS_CHANGED;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_AUDIO_MUTE_CHANGED;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_AUDIO_SETTINGS_CHANGED;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_AUDIO_SYSTEM_CHANGED;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_AUDIO_VOLUME_CHANGED;

import java.nio.ByteBuffer;
import java.util.List;
import java.util.Map;

import org.junit.AfterClass;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;

/**
 * The audio interface on a real JVM against the codec simulator: volume,
 * mute, DTMF, the audio structure, and the events of the audio notification
 * as the listener receives them.
 */
public class AudioSubSystemInterfaceTest {
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
    public void notificationWithTheCachedVolumePostsSystemAndSettingsButNoVolume() throws Exception {
        int volume = rig.audio.getVolume();
        rig.sim.notify("csAudioChangedCB", 0x10, 0);
        List<InterfaceRig.Event> seen = rig.until(EVENT_AUDIO_SETTINGS_CHANGED);
        assertFalse("no volume event: " + seen, InterfaceRig.hasCode(seen, EVENT_AUDIO_VOLUME_CHANGED));
        assertTrue(seen.toString(), InterfaceRig.hasCode(seen, EVENT_AUDIO_SYSTEM_CHANGED));
        InterfaceRig.Event sys = seen.get(seen.size() - 2);
        assertEquals(EVENT_AUDIO_SYSTEM_CHANGED, sys.code);
        assertNotNull("the structure's handle can be read", sys.audio);
        assertEquals(volume, sys.audio.volume);
        InterfaceRig.Event settings = seen.get(seen.size() - 1);
        assertEquals("nothing of the settings page changed: " + settings, 0, settings.value1);
    }

    @Test
    public void setVolumeIsConfirmedByTheVolumeEventAndTheStructure() throws Exception {
        int target = rig.audio.getVolume() == 35 ? 36 : 35;
        assertEquals(0, rig.audio.setVolume(target));
        List<InterfaceRig.Event> seen = rig.until(EVENT_AUDIO_SETTINGS_CHANGED);
        assertEquals(seen.toString(), 3, seen.size());
        assertEquals(EVENT_AUDIO_VOLUME_CHANGED, seen.get(0).code);
        assertEquals(target, seen.get(0).value1);
        assertEquals(0, seen.get(0).value2);
        assertEquals(target, seen.get(1).audio.volume);
        assertEquals(target, rig.audio.getVolume());
        assertEquals(target, rig.audio.getAudioSystem().volume);
    }

    @Test
    public void capabilitiesFlagAlwaysPostsItsEvent() throws Exception {
        for (int i = 0; i < 2; i++) {
            rig.sim.notify("csAudioChangedCB", 0x1000, 0);
            List<InterfaceRig.Event> seen = rig.until(EVENT_AUDIO_SETTINGS_CHANGED);
            assertEquals(seen.toString(), EVENT_AUDIO_CAPS_CHANGED, seen.get(0).code);
            assertEquals("the model's capabilities", 1, seen.get(0).value1);
        }
    }

    @Test
    public void setMuteStillSendsWhenTheRefreshFails() throws Exception {
        assertFalse(rig.audio.isMuted());
        int before = rig.sim.count("csAudioMute");
        rig.sim.error("csAudioGet", -4, 1);
        assertEquals(0, rig.audio.setMute(true));
        List<String> sent = rig.sim.requests("csAudioMute");
        assertEquals(before + 1, sent.size());
        String params = sent.get(sent.size() - 1);
        assertTrue(params, params.contains("\"onOff\":1"));
        assertTrue(params, params.contains("\"pAudioHandle\":" + rig.handleOf("Audio")));
        InterfaceRig.Event muted = rig.next(EVENT_AUDIO_MUTE_CHANGED);
        assertEquals(1, muted.value1);
        assertTrue(rig.audio.isMuted());

        assertEquals(0, rig.audio.setMute(false));
        assertEquals(0, rig.next(EVENT_AUDIO_MUTE_CHANGED).value1);
        assertFalse(rig.audio.isMuted());
    }

    @Test
    public void fortyCharacterToneIsCutTo31() throws Exception {
        String forty = "0123456789012345678901234567890123456789";
        String before = rig.audio.getAudioSystem().incomingCallTone;
        rig.sim.merge("Audio", rig.handleOf("Audio"), "{\"incomingCallTone\":\"" + forty + "\"}");
        try {
            long handle = rig.audio.NativeGetAudioSystem();
            assertTrue(handle > 0);
            AudioSystemStruct s = AudioSystemStruct.read(handle);
            assertEquals(forty.substring(0, 31), s.incomingCallTone);
            ByteBuffer b = AudioSystemStruct.wrap(handle);
            assertEquals(AudioSystemStructLayout.SIZE, b.capacity());
            assertEquals(0, b.get(AudioSystemStructLayout.INCOMING_CALL_TONE_OFFSET + 31));
            assertEquals('0', b.get(AudioSystemStructLayout.INCOMING_CALL_TONE_OFFSET));
            assertNull("the structure is no larger than its layout",
                       AudioSystemStruct.newDirectByteBuffer(handle, AudioSystemStructLayout.SIZE + 1));
        } finally {
            rig.sim.merge("Audio", rig.handleOf("Audio"), "{\"incomingCallTone\":\"" + before + "\"}");
        }
    }

    @Test
    public void audioSystemIsNullWhenTheCodecCannotBeRead() throws Exception {
        rig.sim.error("csAudioGet", -4, 2);
        assertNull(rig.audio.getAudioSystem());
        assertEquals(0, rig.audio.NativeGetAudioSystem());
        assertNull(AudioSystemStruct.read(0));
        assertNull(AudioSystemStruct.read(0x7FFFFFF0L));
    }

    @Test
    public void dtmfIsSentAndANullTextSendsNothing() throws Exception {
        int before = rig.sim.count("csAudioPlayDTMF");
        rig.audio.playDtmf(null, 100, 1);
        assertEquals(before, rig.sim.count("csAudioPlayDTMF"));
        rig.audio.playDtmf("159#", 120, 1);
        List<String> sent = rig.sim.requests("csAudioPlayDTMF");
        assertEquals(before + 1, sent.size());
        String params = sent.get(sent.size() - 1);
        assertTrue(params, params.contains("\"dtmfChars\":\"159#\""));
        assertTrue(params, params.contains("\"duration\":120"));
    }

    @Test
    public void audioSettingsPageListsEveryMicrophone() throws Exception {
        Map<String, String> page = rig.audio.getAudioSettings();
        assertEquals("keys in order, with each microphone's version and state",
                     List.of(Map.entry("mute_auto_answer", "0"), Map.entry("number_of_mics", "2"),
                             Map.entry("microphone_version_0", "2.1"), Map.entry("microphone_status_0", "1"),
                             Map.entry("microphone_version_1", "1.4"), Map.entry("microphone_status_1", "0")),
                     List.copyOf(page.entrySet()));
    }

    @Test
    public void settingChangeIsReportedWithItsKeyAndInTheStructure() throws Exception {
        assertTrue(rig.audio.setAudioSetting("mute_auto_answer", "1") >= 0);
        try {
            List<InterfaceRig.Event> seen = rig.until(EVENT_AUDIO_SETTINGS_CHANGED);
            assertEquals(Map.of("mute_auto_answer", "1"), seen.get(seen.size() - 1).list);
            assertEquals(1, seen.get(seen.size() - 2).audio.muteAutoAnswer);
        } finally {
            rig.audio.setAudioSetting("mute_auto_answer", "0");
            rig.until(EVENT_AUDIO_SETTINGS_CHANGED);
        }
    }
}
