package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;

import java.util.List;

import org.junit.After;
import org.junit.Before;
import org.junit.Test;

/**
 * Java strings leave the library as standard UTF-8, not as the JVM's
 * modified UTF-8: a character beyond U+FFFF is one four-byte sequence (not
 * two encoded surrogates), an unpaired surrogate becomes U+FFFD, and an
 * embedded NUL ends the text (instead of going out as the bytes C0 80).
 *
 * The simulator's output is decoded as UTF-8 with replacement, so any
 * malformed byte shows up as extra U+FFFD characters and breaks the exact
 * comparisons below.
 */
public class JavaTextOnTheWireTest {
    static final String SERIAL = "KYR-JVM-0003";

    private SimProcess sim;
    private KyrConnectService svc;
    private final Recorder rec = new Recorder();

    @Before
    public void connect() throws Exception {
        sim = SimProcess.start("--serial", SERIAL);
        svc = new KyrConnectService(rec);
        assertEquals(0, svc.setup());
        assertEquals(0, svc.connect(sim.address(), SERIAL, "1.0.0", "1.0.0", "99.0.0"));
    }

    @After
    public void tearDown() {
        if (svc != null) {
            svc.release();
        }
        if (sim != null) {
            sim.close();
        }
    }

    private String sentSystemInfo(String app, String platform, String language) throws Exception {
        sim.command("clear-requests");
        assertEquals(0, svc.sendSystemInfo(app, platform, 1, language));
        List<String> sent = sim.requests("csClientSet");
        assertEquals(1, sent.size());
        return sent.get(0);
    }

    private static String member(String json, String name) {
        String key = "\"" + name + "\":\"";
        int at = json.indexOf(key);
        assertTrue(name + " in " + json, at >= 0);
        int end = json.indexOf('"', at + key.length());
        return json.substring(at + key.length(), end);
    }

    @Test
    public void leadingNulCutsTheTextAndAnEmojiIsOneFourByteSequence() throws Exception {
        String params = sentSystemInfo("\u0000\u00ff\ud83d\ude00", "\u00ff\ud83d\ude00", "en");
        assertEquals("", member(params, "applicationVersion"));
        assertEquals("\u00ff\ud83d\ude00", member(params, "platformVersion"));
        assertFalse(params, params.contains("\ufffd"));
    }

    @Test
    public void unpairedSurrogatesBecomeReplacementCharacters() throws Exception {
        // A high surrogate followed by a letter, a lone low surrogate at the
        // end, and a pair split across the NUL that cuts the text.
        String params = sentSystemInfo("a\ud83dz\ude00", "x\u0000y", "de\ud83d\u0000\ude00");
        assertEquals("a\ufffdz\ufffd", member(params, "applicationVersion"));
        assertEquals("x", member(params, "platformVersion"));
        assertEquals("de\ufffd", member(params, "language"));
    }

    @Test
    public void everyPlaneRoundTripsThroughTheCodecText() throws Exception {
        // Two, three and four byte sequences side by side, the highest code
        // point, and the characters just below and above the surrogate range.
        String text = "\u00e9\u20ac\ud800\udc00\udbff\udfff\ud7ff\ue000";
        String params = sentSystemInfo(text, "p", "l");
        assertEquals(text, member(params, "applicationVersion"));
    }
}
