package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_Connected;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_Disconnected;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_Failed;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_PairingRequired;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_Started;

import java.io.File;
import java.io.IOException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.Locale;
import java.util.stream.Stream;

import org.junit.After;
import org.junit.Assume;
import org.junit.Test;

/**
 * The service on a real JVM against the codec simulator over TLS 1.0: set-up,
 * connect, pairing, the codec's fingerprint and pin, loss of the codec,
 * disconnect and release, as Java sees them through postEventFromNative.
 */
public class KyrConnectServiceTest {
    static final String SERIAL = "KYR-JVM-0001";
    static final String ADMIN = "admin";
    static final String PASSWORD = "p4ss";
    static final long WAIT = 5000;

    private SimProcess sim;
    private KyrConnectService svc;
    private final Recorder rec = new Recorder();

    @After
    public void tearDown() throws Exception {
        if (svc != null) {
            svc.setPinnedFingerprint(null);
            svc.release();
        }
        if (sim != null) {
            sim.close();
        }
    }

    private void startSim(boolean pairing) throws IOException {
        sim = pairing
                ? SimProcess.start("--serial", SERIAL, "--pairing-required", "--admin-user", ADMIN,
                                   "--admin-pwd", PASSWORD)
                : SimProcess.start("--serial", SERIAL);
    }

    private void setUpService() throws InterruptedException {
        svc = new KyrConnectService(rec);
        assertEquals(0, svc.setup());
        assertEquals(Integer.valueOf(KYR_Connect_Started), rec.nextState(WAIT));
        assertTrue("cookie handle in 1..0x7FFFFFFF", svc.nativeCookie() > 0);
    }

    private int connect() {
        return svc.connect(sim.address(), SERIAL, "1.0.0", "1.0.0", "99.0.0");
    }

    private void connectPaired() throws Exception {
        startSim(false);
        setUpService();
        assertEquals(0, connect());
        assertEquals(Integer.valueOf(KYR_Connect_Connected), rec.nextState(WAIT));
    }

    @Test
    public void startedThenConnectedForAPairedCodec() throws Exception {
        connectPaired();
        assertEquals(KYR_Connect_Connected, svc.getConnectionState());
        assertEquals("1.0.0", svc.getMinDavixVersion());
        // The post-connect thread fetches the three records once.
        assertTrue(sim.awaitCount("csCommGet", 1, WAIT));
        assertTrue(sim.awaitCount("csAudioGet", 1, WAIT));
        assertTrue(sim.awaitCount("csDirGet", 1, WAIT));
        assertEquals(1, sim.count("csAuth"));
        assertEquals(0, sim.count("csPair"));
    }

    @Test
    public void serverTextThatIsNotUtf8ReachesJavaSafely() throws Exception {
        // A stray byte, a two-byte letter, and a character beyond U+FFFF.
        sim = SimProcess.start("--serial", SERIAL, "--min-client-ver", "\\xff1.0\\xc3\\xa9-\\xf0\\x9f\\x98\\x80\\xc3");
        setUpService();
        assertEquals(0, connect());
        assertEquals("?1.0\u00e9-\ud83d\ude00?", svc.getMinDavixVersion());
    }

    @Test
    public void pairingRequiredThenPairConnects() throws Exception {
        startSim(true);
        setUpService();
        assertEquals(-23, connect());
        assertEquals(Integer.valueOf(KYR_Connect_PairingRequired), rec.nextState(WAIT));
        assertEquals(KYR_Connect_PairingRequired, svc.getConnectionState());
        assertEquals(0, svc.pair(ADMIN, PASSWORD));
        assertEquals(Integer.valueOf(KYR_Connect_Connected), rec.nextState(WAIT));
        assertEquals(1, sim.count("csPair"));
        assertEquals("the pairing reused the connection", 1, sim.count("csVersion"));
    }

    @Test
    public void pairWithoutPasswordIsBadParameterAndLeavesThePairingOpen() throws Exception {
        startSim(true);
        setUpService();
        assertEquals(-23, connect());
        assertEquals(Integer.valueOf(KYR_Connect_PairingRequired), rec.nextState(WAIT));
        assertEquals(-10, svc.pair(ADMIN, null));
        assertEquals("no name: nothing is done", 0, svc.pair(null, null));
        assertEquals(0, sim.count("csPair"));
        assertTrue("a wrong password is refused", svc.pair(ADMIN, "wrong") < 0);
        assertEquals(KYR_Connect_PairingRequired, svc.getConnectionState());
        assertEquals(0, svc.pair(ADMIN, PASSWORD));
        assertEquals(Integer.valueOf(KYR_Connect_Connected), rec.nextState(WAIT));
    }

    @Test
    public void losingTheCodecPostsFailedWithoutReconnecting() throws Exception {
        connectPaired();
        long t0 = System.currentTimeMillis();
        assertEquals(List.of("closed 1"), sim.command("close"));
        assertEquals(Integer.valueOf(KYR_Connect_Failed), rec.nextState(WAIT));
        long took = System.currentTimeMillis() - t0;
        assertTrue("Failed after " + took + " ms", took < 3500);
        List<Recorder.Event> later = rec.drain(2500);
        assertTrue("no further events: " + later, later.isEmpty());
        assertEquals(0, sim.connections());
        assertEquals("no reconnection", 1, sim.count("csVersion"));
        assertEquals(KYR_Connect_Failed, svc.getConnectionState());
    }

    @Test
    public void connectingWhileConnectedDropsTheConnectionAndTheWorkerReportsIt() throws Exception {
        connectPaired();
        assertEquals(0, connect());
        assertEquals(Integer.valueOf(KYR_Connect_Failed), rec.nextState(WAIT));
        assertEquals("no new connection was made", 1, sim.count("csVersion"));
        // From Failed a new connect goes through.
        assertEquals(0, connect());
        assertEquals(Integer.valueOf(KYR_Connect_Connected), rec.nextState(WAIT));
        assertEquals(2, sim.count("csVersion"));
    }

    @Test
    public void settingTheSameStateAgainPostsNothing() throws Exception {
        connectPaired();
        assertEquals(0, svc.disconnect());
        assertEquals(Integer.valueOf(KYR_Connect_Disconnected), rec.nextState(WAIT));
        assertEquals(0, svc.disconnect());
        List<Recorder.Event> later = rec.drain(1500);
        assertTrue("second disconnect posted " + later, later.isEmpty());
        assertEquals(KYR_Connect_Disconnected, svc.getConnectionState());
    }

    @Test
    public void connectBeforeSetupIsNotInitialized() throws Exception {
        svc = new KyrConnectService(rec);
        assertEquals(-15, svc.connect("127.0.0.2:1", SERIAL, "1", "1", "9"));
        assertEquals(-15, svc.pair(ADMIN, PASSWORD));
        assertEquals(-15, svc.sendSystemInfo("1", "2", 0, "en"));
        assertEquals(0, svc.disconnect());
        assertTrue(rec.drain(200).isEmpty());
    }

    @Test
    public void secondSetupStartsNoSecondDispatchThread() throws Exception {
        setUpService();
        assertEquals(1, threadsNamed("kyr-dispatch"));
        assertEquals(0, svc.setup());
        // The first set-up's worker ends (Disconnected), the second starts.
        assertEquals(Integer.valueOf(KYR_Connect_Disconnected), rec.nextState(WAIT));
        assertEquals(Integer.valueOf(KYR_Connect_Started), rec.nextState(WAIT));
        assertEquals(1, threadsNamed("kyr-dispatch"));
        // The first worker has been asked to end and is on its way out.
        long end = System.currentTimeMillis() + WAIT;
        while (threadsNamed("kyr-worker") > 1 && System.currentTimeMillis() < end) {
            Thread.sleep(20);
        }
        assertEquals(1, threadsNamed("kyr-worker"));
    }

    @Test
    public void hardwareVersionIsUnknownWithoutABoardFile() throws Exception {
        Assume.assumeFalse(new File("/data/boardrev.txt").exists());
        connectPaired();
        assertEquals(0, svc.sendSystemInfo("2.5.1", "Linux 6", 1, "en"));
        List<String> sent = sim.command("requests csClientSet");
        assertEquals(1, sent.size());
        String params = sent.get(0);
        assertTrue(params, params.contains("\"hardwareVersion\":\"UNKNOWN\""));
        assertTrue(params, params.contains("\"applicationVersion\":\"2.5.1\""));
        assertTrue(params, params.contains("\"addressMode\":1"));
        assertEquals(-10, svc.sendSystemInfo(null, "Linux", 0, "en"));
        assertEquals(1, sim.count("csClientSet"));
    }

    @Test
    public void afterFinalizeTheFinalStateChangeIsNotPosted() throws Exception {
        connectPaired();
        svc.NativeFinalize();
        List<Recorder.Event> later = rec.drain(2500);
        assertTrue("posted after finalize: " + later, later.isEmpty());
        assertEquals("the worker still disconnected", KYR_Connect_Disconnected, svc.getConnectionState());
        assertEquals(0, sim.connections());
        // Finalizing again, then releasing, finds nothing left to free.
        svc.NativeFinalize();
        svc.release();
        assertEquals(0, svc.nativeCookie());
        svc = null;
    }

    @Test
    public void newDirectByteBufferResolvesOnlyLiveHandles() throws Exception {
        setUpService();
        long[] bogus = {0, -1, 0x7ffffff0L, Long.MIN_VALUE, 123456789L, svc.nativeCookie()};
        for (long h : bogus) {
            assertNull("handle " + h, SettingsStruct.newDirectByteBuffer(h, 16));
        }
        assertNull(SettingsStruct.wrap(0));
    }

    @Test
    public void missingAndOverlongArgumentsAreRefused() throws Exception {
        startSim(false);
        setUpService();
        String longText = "a".repeat(256);
        assertEquals(-10, svc.connect(null, SERIAL, "1", "1", "9"));
        assertEquals(-10, svc.connect(longText, SERIAL, "1", "1", "9"));
        assertEquals(-10, svc.connect(sim.address(), longText, "1", "1", "9"));
        assertEquals("nothing was attempted", 0, sim.count("csVersion"));
        assertEquals(-10, svc.sendSystemInfo(null, null, 0, null));
        assertEquals(0, svc.pair(null, null));
        assertNull(svc.getMinDavixVersion());
        // 255 bytes still fits its buffer.
        assertTrue(svc.connect(sim.address(), "b".repeat(255), "1", "1", "9") != -10);
        assertTrue(rec.drain(100).stream().noneMatch(e -> e.code != KyrEvents.EVENT_CONNECT_STATE_CHANGED));
    }

    @Test
    public void aThrowingListenerDoesNotStopTheService() throws Exception {
        rec.throwFromListener = true;
        connectPaired();
        assertEquals(KYR_Connect_Connected, svc.getConnectionState());
        assertEquals(0, svc.disconnect());
        assertEquals(Integer.valueOf(KYR_Connect_Disconnected), rec.nextState(WAIT));
    }

    @Test
    public void everyNativeMethodSurvivesNullAndZeroArguments() throws Exception {
        svc = new KyrConnectService(rec);
        for (int round = 0; round < 2; round++) {
            for (Method m : KyrConnectService.class.getDeclaredMethods()) {
                if (!Modifier.isNative(m.getModifiers()) || m.getName().equals("NativeSetup")
                        || m.getName().equals("NativeFinalize") || m.getName().equals("NativeRelease")) {
                    continue;
                }
                Class<?>[] types = m.getParameterTypes();
                Object[] args = new Object[types.length];
                for (int i = 0; i < types.length; i++) {
                    args[i] = types[i] == int.class ? Integer.valueOf(0) : null;
                }
                m.invoke(svc, args);
            }
            if (round == 0) {
                // A null reference object is allowed: events then reach no one.
                assertEquals(0, svc.NativeSetup(null));
            }
        }
        svc.NativeFinalize();
        svc.NativeFinalize();
        svc.release();
        assertEquals(0, svc.nativeCookie());
        assertNull(SettingsStruct.newDirectByteBuffer(0, 0));
        assertNull(SettingsStruct.newDirectByteBuffer(1, -1));
    }

    @Test
    public void fingerprintAtPairingThenPinnedConnects() throws Exception {
        startSim(true);
        assertEquals(64, sim.fingerprint.length());
        setUpService();
        assertNull("not connected", svc.getServerFingerprint());
        assertEquals(-23, connect());
        assertEquals(Integer.valueOf(KYR_Connect_PairingRequired), rec.nextState(WAIT));
        String fp = svc.getServerFingerprint();
        assertEquals("the codec's key, shown while pairing", sim.fingerprint, fp);
        assertEquals(0, svc.pair(ADMIN, PASSWORD));
        assertEquals(Integer.valueOf(KYR_Connect_Connected), rec.nextState(WAIT));
        svc.disconnect();
        rec.nextState(WAIT);
        assertNull(svc.getServerFingerprint());

        // Trust on first use: the app stores fp and pins it from now on.
        assertEquals(0, svc.setPinnedFingerprint(fp.toUpperCase(Locale.ROOT)));
        assertEquals(0, connect());
        assertEquals(Integer.valueOf(KYR_Connect_Connected), rec.nextState(WAIT));
        assertEquals(fp, svc.getServerFingerprint());
        svc.disconnect();
        rec.nextState(WAIT);

        // Another key: refused before any request reaches it.
        int versions = sim.count("csVersion");
        assertEquals(0, svc.setPinnedFingerprint("0123456789abcdef".repeat(4)));
        assertEquals(KyrErrors.CSAPI_ERR_SERVER_IDENTITY, connect());
        assertEquals(Integer.valueOf(KYR_Connect_Failed), rec.nextState(WAIT));
        assertEquals(KYR_Connect_Failed, svc.getConnectionState());
        assertNull(svc.getServerFingerprint());
        assertEquals(versions, sim.count("csVersion"));
    }

    @Test
    public void onlySixtyFourHexDigitsArePinnedAndABadPinKeepsTheOldOne() throws Exception {
        startSim(true);
        setUpService();
        String other = "fedcba9876543210".repeat(4);
        assertEquals(0, svc.setPinnedFingerprint(other));
        String[] bad = {"abc", "g".repeat(64), other + "0", other.substring(1), " " + other.substring(1),
                        "\u00e9".repeat(64), other.substring(0, 63) + "\u0000"};
        for (String b : bad) {
            assertEquals(b, -10, svc.setPinnedFingerprint(b));
        }
        assertEquals("the earlier pin still holds", -32, connect());
        assertEquals(0, svc.setPinnedFingerprint(""));
        assertEquals(-23, connect());
        assertEquals(0, svc.setPinnedFingerprint(other));
        assertEquals(0, svc.setPinnedFingerprint(null));
        assertEquals(-23, connect());
    }

    @Test
    public void eventCodesMatchTheNativeTable() {
        assertEquals(0x104, KyrEvents.EVENT_CONNECT_STATE_CHANGED);
        assertEquals(0xA00, KyrEvents.EVENT_ERROR);
        assertEquals("EVENT_COMM_CALL_STATE_CHANGED", KyrEvents.eventName(769));
        assertEquals("KYR_Connect_PairingRequired", KyrEvents.stateName(3));
        assertNotNull(KyrEvents.eventName(12345));
        assertEquals(-32, KyrErrors.CSAPI_ERR_SERVER_IDENTITY);
        assertEquals(-18, KyrErrors.CSAPI_ERR_NO_CONNECT);
    }

    /** Live threads of this process with the given name (Linux). */
    static long threadsNamed(String name) throws IOException {
        try (Stream<Path> tasks = Files.list(Paths.get("/proc/self/task"))) {
            return tasks.filter(t -> {
                try {
                    return new String(Files.readAllBytes(t.resolve("comm")), StandardCharsets.UTF_8).trim()
                            .equals(name);
                } catch (IOException e) {
                    return false; // the thread ended meanwhile
                }
            }).count();
        }
    }
}
