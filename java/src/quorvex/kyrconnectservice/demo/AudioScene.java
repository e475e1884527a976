package quorvex.kyrconnectservice.demo;

import java.util.Map;

import quorvex.kyrconnectservice.AudioSubSystemInterface;
import quorvex.kyrconnectservice.AudioSystemStruct;
import quorvex.kyrconnectservice.KyrEvents;

/**
 * The codec's audio as a remote control shows it: the volume is raised,
 * the microphones muted and unmuted, a setting changed and the audio
 * settings page printed, each with the events the codec answers with.
 */
public final class AudioScene implements DemoScene {
    private static final long WAIT = 5000;

    @Override
    public void run(DemoSession demo) throws Exception {
        AudioSubSystemInterface audio = new AudioSubSystemInterface();
        DemoSession.say("audio: %s", audio.getAudioSystem());
        int volume = audio.getVolume();
        int louder = volume >= 90 ? volume - 10 : volume + 10;
        DemoSession.say("volume is %d; setVolume(%d) -> %d", volume, louder, audio.setVolume(louder));
        showChange(demo, audio);

        DemoSession.say("setMute(true) -> %d", audio.setMute(true));
        showChange(demo, audio);
        DemoSession.say("muted: %b", audio.isMuted());
        DemoSession.say("setMute(false) -> %d", audio.setMute(false));
        showChange(demo, audio);
        DemoSession.say("muted: %b", audio.isMuted());

        DemoSession.say("DTMF \"123#\"");
        audio.playDtmf("123#", 100, 0);

        changeSetting(demo, audio, "1");
        DemoSession.say("audio settings:");
        for (Map.Entry<String, String> e : audio.getAudioSettings().entrySet()) {
            DemoSession.say("  %s = %s", e.getKey(), e.getValue());
        }
        changeSetting(demo, audio, "0");
        DemoSession.say("setVolume(%d) -> %d", volume, audio.setVolume(volume));
        showChange(demo, audio);
    }

    /** Changes "mute_auto_answer"; the codec reports the change unless it refused it. */
    private static void changeSetting(DemoSession demo, AudioSubSystemInterface audio, String value)
            throws Exception {
        int rc = audio.setAudioSetting("mute_auto_answer", value);
        DemoSession.say("setAudioSetting(mute_auto_answer, %s) -> %d", value, rc);
        if (rc >= 0) {
            showChange(demo, audio);
        }
    }

    /**
     * Waits for the audio notification's last two events, printing those
     * before them (volume, mute), and shows the structure and the changed
     * settings they carry.
     */
    private static void showChange(DemoSession demo, AudioSubSystemInterface audio) throws Exception {
        DemoSession.Event sys = demo.waitFor(KyrEvents.EVENT_AUDIO_SYSTEM_CHANGED, WAIT);
        if (sys == null) {
            throw new IllegalStateException("the codec did not report the audio change");
        }
        DemoSession.say("  audio now: %s", AudioSystemStruct.read(sys.value1));
        DemoSession.Event settings = demo.waitFor(KyrEvents.EVENT_AUDIO_SETTINGS_CHANGED, WAIT);
        if (settings != null) {
            DemoSession.say("  changed settings: %s", audio.takeSettingsUpdate(settings.value1));
        }
    }
}
