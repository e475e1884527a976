package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;

import java.io.IOException;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import java.util.stream.IntStream;

import org.junit.After;
import org.junit.Test;

import quorvex.kyrconnectservice.session.AudioEvent;
import quorvex.kyrconnectservice.session.KyrSession;
import quorvex.kyrconnectservice.session.SessionState;
import quorvex.kyrconnectservice.session.SettingsEvent;

/**
 * The session SDK against the codec simulator: supervision through kills
 * and restarts of the codec and through a codec gone silent (the
 * simulator's blackhole: the socket stays open, nothing is read or
 * written), pairing, refusals, delivery on the app's executor, the failure
 * of calls while disconnected, and close() cutting a call that hangs.
 */
public class KyrSessionTest {
    static final String SERIAL = "KYR-SDK-0001";
    static final String ADMIN = "admin";
    static final String PASSWORD = "s3cret";

    private SimProcess sim;
    private KyrSession session;
    private final SessionProbe probe = new SessionProbe();

    @After
    public void tearDown() throws Exception {
        if (session != null) {
            session.close();
        }
        if (sim != null) {
            sim.close();
        }
        probe.close();
    }

    private SimProcess startSim(int port, boolean pairing) throws IOException {
        List<String> args = new ArrayList<>(List.of("--port", String.valueOf(port), "--serial", SERIAL));
        if (pairing) {
            args.addAll(List.of("--pairing-required", "--admin-user", ADMIN, "--admin-pwd", PASSWORD));
        }
        return SimProcess.start(args.toArray(new String[0]));
    }

    /** Kills the simulator and starts a new one (no pairings remembered) where the session expects it. */
    private void restartSim(boolean pairing) throws IOException {
        int port = sim.port;
        sim.close();
        sim = startSim(port, pairing);
    }

    /** Records every audio event the session delivers. */
    private List<AudioEvent> audioEvents() {
        List<AudioEvent> audio = new CopyOnWriteArrayList<>();
        session.addListener(AudioEvent.class, e -> {
            probe.seen();
            audio.add(e);
        });
        return audio;
    }

    /** Waits (bounded) for a volume event among those recorded; its value. */
    private static int awaitVolume(List<AudioEvent> audio) throws InterruptedException {
        long end = System.currentTimeMillis() + SessionProbe.WAIT;
        while (audio.stream().noneMatch(e -> e.kind == AudioEvent.Kind.VOLUME) && System.currentTimeMillis() < end) {
            Thread.sleep(20);
        }
        return audio.stream().filter(e -> e.kind == AudioEvent.Kind.VOLUME).findFirst()
                .orElseThrow(() -> new AssertionError("no volume event: " + audio)).value;
    }

    @Test
    public void killAndRestartReconnectsAndRePairsWithCredentialsAndReadsTheStateAgain() throws Exception {
        sim = startSim(0, true);
        session = probe.watch(probe.builder(sim, SERIAL).credentials(ADMIN, PASSWORD).build());
        List<AudioEvent> audio = audioEvents();
        session.start();
        probe.await(SessionState.CONNECTED);
        assertEquals(1, sim.count("csPair"));

        sim.close();
        SessionProbe.Change lost = probe.await(SessionState.RECONNECTING);
        assertEquals(-18, lost.code);
        // While the codec is away every call fails at once with -18.
        long t0 = System.nanoTime();
        assertEquals(-18, SessionProbe.failure(session.audio().volume()));
        assertEquals(-18, SessionProbe.failure(session.comm().dial("10.0.0.9", "h323", 1024)));
        assertTrue("failed at once", System.nanoTime() - t0 < 1_000_000_000L);

        audio.clear();
        sim = startSim(sim.port, true);
        probe.await(SessionState.CONNECTED);
        assertEquals("the new codec asked for pairing and got it", 1, sim.count("csPair"));
        // The audio state is delivered again as ordinary events.
        awaitVolume(audio);
        assertTrue(sim.count("csCommGet") >= 1);

        // Operations work again and complete on the executor (the codec answers late, so the
        // continuation is attached before the future completes).
        String[] thread = new String[1];
        sim.command("delay 200");
        SessionProbe.value(session.audio().setVolume(33).thenRun(() -> thread[0] = Thread.currentThread().getName()));
        sim.command("delay 0");
        assertEquals(Integer.valueOf(33), SessionProbe.value(session.audio().volume()));
        assertTrue(thread[0], thread[0].startsWith(probe.threadPrefix));
        probe.assertListenersOnExecutor();
    }

    @Test
    public void withoutCredentialsTheSessionWaitsForPairAgainAfterARestart() throws Exception {
        sim = startSim(0, true);
        session = probe.watch(probe.builder(sim, SERIAL).build());
        session.start();
        assertEquals(-23, probe.await(SessionState.PAIRING_REQUIRED).code);
        assertEquals(-18, SessionProbe.failure(session.audio().volume()));
        assertEquals(-11, SessionProbe.failure(session.pair(ADMIN, "wrong")));
        assertEquals(SessionState.PAIRING_REQUIRED, session.state());
        SessionProbe.value(session.pair(ADMIN, PASSWORD));
        probe.await(SessionState.CONNECTED);

        restartSim(true);
        probe.await(SessionState.RECONNECTING);
        assertEquals(-23, probe.await(SessionState.PAIRING_REQUIRED).code);
        assertEquals("nothing paired by itself", 0, sim.count("csPair"));
        SessionProbe.value(session.pair(ADMIN, PASSWORD));
        probe.await(SessionState.CONNECTED);
        probe.assertListenersOnExecutor();
    }

    @Test
    public void wrongCredentialsOrSerialStopTheRetries() throws Exception {
        sim = startSim(0, true);
        session = probe.watch(probe.builder(sim, SERIAL).credentials(ADMIN, "wrong").build());
        session.start();
        assertEquals(-11, probe.await(SessionState.PAIRING_REQUIRED).code);
        List<SessionProbe.Change> later = probe.drain(1500);
        assertTrue("no further attempts: " + later, later.isEmpty());
        assertEquals(1, sim.count("csPair"));
        assertEquals(1, sim.count("csVersion"));
        session.close();
        assertEquals(SessionState.CLOSED, probe.await(SessionState.CLOSED).state);
        assertEquals("pair() after close()", -18, SessionProbe.failure(session.pair(ADMIN, PASSWORD)));

        session = probe.watch(probe.builder(sim, "KYR-SDK-WRONG").build());
        session.start();
        assertEquals(-11, probe.await(SessionState.IDLE).code);
        assertTrue("no further attempts", probe.drain(1500).isEmpty());
        assertEquals(2, sim.count("csAuth"));
    }

    @Test
    public void aBurstArrivesOnceInOrderAndAThrowingListenerDoesNotStopTheOthers() throws Exception {
        sim = startSim(0, false);
        session = probe.watch(probe.builder(sim, SERIAL).build());
        List<Integer> volumes = Collections.synchronizedList(new ArrayList<>());
        session.addListener(AudioEvent.class, e -> {
            throw new IllegalStateException("listener failure on purpose");
        });
        session.addListener(AudioEvent.class, e -> {
            probe.seen();
            if (e.kind == AudioEvent.Kind.VOLUME && e.value >= 1000) {
                volumes.add(e.value);
            }
        });
        session.start();
        probe.await(SessionState.CONNECTED);
        String record = sim.record("Audio", 0);
        String handle = record.replaceAll(".*\"handle\":(\\d+).*", "$1");
        int n = 300;
        String burst = IntStream.range(0, n).mapToObj(i -> "{\"jsonrpc\":\"2.0\",\"method\":\"csAudioChangedCB\","
                + "\"params\":{\"pAudio\":{\"handle\":" + handle + ",\"volume\":" + (1000 + i) + "},\"flags\":16}}")
                .collect(Collectors.joining());
        sim.command("push " + burst);
        List<Integer> expected = IntStream.range(0, n).mapToObj(i -> 1000 + i).collect(Collectors.toList());
        long end = System.currentTimeMillis() + SessionProbe.WAIT;
        while (volumes.size() < n && System.currentTimeMillis() < end) {
            Thread.sleep(20);
        }
        Thread.sleep(200); // nothing more may come
        assertEquals(expected, new ArrayList<>(volumes));

        // No listener runs once close() returned; the last state heard is CLOSED.
        session.close();
        int heard = volumes.size();
        List<SessionProbe.Change> tail = probe.drain(300);
        assertEquals(SessionState.CLOSED, tail.get(tail.size() - 1).state);
        sim.command("push " + burst);
        Thread.sleep(300);
        assertEquals(heard, volumes.size());
        probe.assertListenersOnExecutor();
    }

    @Test
    public void callsInFlightFailWithNoConnectionWhenTheCodecGoesAway() throws Exception {
        sim = startSim(0, false);
        session = probe.watch(probe.builder(sim, SERIAL).build());
        session.start();
        probe.await(SessionState.CONNECTED);
        sim.command("delay 3000");
        CompletableFuture<Integer> slow = session.audio().volume();
        CompletableFuture<Void> queued = session.audio().setVolume(20);
        Thread.sleep(300); // the first is with the codec, the second waits behind it
        long t0 = System.nanoTime();
        sim.command("close");
        assertEquals(-18, SessionProbe.failure(slow));
        assertEquals(-18, SessionProbe.failure(queued));
        long ms = (System.nanoTime() - t0) / 1_000_000;
        assertTrue("failed " + ms + " ms after the loss", ms < 2900);
        sim.command("delay 0");
        probe.await(SessionState.CONNECTED);
        SessionProbe.value(session.audio().setVolume(21));
    }

    /** networkAvailable() and the session is connected well before any delay or time-out would pass. */
    private void connectsSoonAfterNetworkAvailable() throws Exception {
        long t0 = System.nanoTime();
        session.networkAvailable();
        probe.await(SessionState.CONNECTED);
        long ms = (System.nanoTime() - t0) / 1_000_000;
        assertTrue("connected " + ms + " ms after networkAvailable()", ms < 5000);
    }

    @Test
    public void networkAvailableRetriesAtOnceInsteadOfWaitingOutTheDelay() throws Exception {
        sim = startSim(0, false);
        session = probe.watch(probe.builder(sim, SERIAL)
                .reconnectDelays(java.time.Duration.ofSeconds(20), java.time.Duration.ofSeconds(30)).build());
        session.start();
        probe.await(SessionState.CONNECTED);
        int port = sim.port;
        sim.close();
        probe.await(SessionState.RECONNECTING);
        Thread.sleep(300); // the first retry went at once and failed; the next waits up to 20 s
        sim = startSim(port, false);
        connectsSoonAfterNetworkAvailable();
    }

    @Test
    public void networkAvailableCutsAnAttemptHangingOnASilentLink() throws Exception {
        sim = startSim(0, false);
        session = probe.watch(probe.builder(sim, SERIAL).build());
        session.start();
        probe.await(SessionState.CONNECTED);
        assertEquals(List.of("blackhole: next connection"), sim.command("next blackhole"));
        sim.command("close");
        probe.await(SessionState.RECONNECTING);
        // The first retry goes at once and hangs in the handshake with the silent connection.
        long end = System.currentTimeMillis() + SessionProbe.WAIT;
        while (sim.connections() == 0 && System.currentTimeMillis() < end) {
            Thread.sleep(20);
        }
        Thread.sleep(300);
        assertEquals("the attempt hangs", SessionState.RECONNECTING, session.state());
        connectsSoonAfterNetworkAvailable();
        SessionProbe.value(session.audio().volume());
    }

    @Test
    public void aPinnedFingerprintAdmitsTheCodecWithThatKeyAndStopsAtAnother() throws Exception {
        sim = startSim(0, false);
        session = probe.watch(probe.builder(sim, SERIAL).build());
        session.start();
        probe.await(SessionState.CONNECTED);
        String fingerprint = session.serverFingerprint();
        assertTrue(String.valueOf(fingerprint), fingerprint != null && fingerprint.matches("[0-9a-f]{64}"));
        session.close();
        int versions = sim.count("csVersion");

        String other = (fingerprint.charAt(0) == '0' ? "1" : "0") + fingerprint.substring(1);
        session = probe.watch(probe.builder(sim, SERIAL).pinnedFingerprint(other).build());
        session.start();
        assertEquals(-32, probe.await(SessionState.IDLE).code);
        assertTrue("no retries", probe.drain(1000).isEmpty());
        assertEquals("nothing was sent to the other key", versions, sim.count("csVersion"));
        session.close();

        session = probe.watch(probe.builder(sim, SERIAL).pinnedFingerprint(fingerprint.toUpperCase()).build());
        session.start();
        probe.await(SessionState.CONNECTED);
    }

    @Test
    public void aSettingChangedThroughTheSessionComesBackAsATypedSettingsEvent() throws Exception {
        sim = startSim(0, false);
        session = probe.watch(probe.builder(sim, SERIAL).build());
        LinkedBlockingQueue<SettingsEvent> changes = new LinkedBlockingQueue<>();
        session.addListener(SettingsEvent.class, e -> {
            probe.seen();
            changes.add(e);
        });
        session.start();
        probe.await(SessionState.CONNECTED);
        String key = "allow_video_on_web";
        String flipped = "1".equals(SessionProbe.value(session.system().securitySettings()).get(key)) ? "0" : "1";
        SessionProbe.value(session.system().setSecuritySetting(key, flipped));
        SettingsEvent e = changes.poll(SessionProbe.WAIT, TimeUnit.MILLISECONDS);
        assertEquals(SettingsEvent.Area.SECURITY, e == null ? null : e.area);
        assertEquals(Map.of(key, flipped), e.values);
        assertEquals(flipped, SessionProbe.value(session.system().securitySettings()).get(key));
        SessionProbe.value(session.system().sleep());
        SessionProbe.value(session.system().wake());
        probe.assertListenersOnExecutor();
    }

    private static List<String> sessionThreads() {
        return Thread.getAllStackTraces().keySet().stream().map(Thread::getName)
                .filter(n -> n.startsWith("kyr-session-")).collect(Collectors.toList());
    }

    @Test
    public void aSilentCodecIsFoundOutAndTheSessionComesBackWhenItSpeaksAgain() throws Exception {
        sim = startSim(0, false);
        session = probe.watch(probe.builder(sim, SERIAL).liveness(Duration.ofSeconds(1)).build());
        List<AudioEvent> audio = audioEvents();
        session.start();
        probe.await(SessionState.CONNECTED);
        SessionProbe.value(session.audio().setVolume(27));

        assertEquals(List.of("blackhole: 1 connection(s)"), sim.command("blackhole"));
        CompletableFuture<Integer> inFlight = session.audio().volume();
        assertEquals(-18, probe.await(SessionState.RECONNECTING).code);
        assertEquals(-18, SessionProbe.failure(inFlight));
        assertEquals(-18, SessionProbe.failure(session.audio().volume()));
        // Every new connection is swallowed as well: the session keeps trying and stays away.
        List<SessionProbe.Change> meanwhile = probe.drain(1500);
        assertTrue("nothing connected while silent: " + meanwhile,
                   meanwhile.stream().noneMatch(c -> c.state != SessionState.RECONNECTING));
        assertEquals(SessionState.RECONNECTING, session.state());

        audio.clear();
        sim.command("clear");
        probe.await(SessionState.CONNECTED);
        // What the app shows is read again and delivered as ordinary events.
        assertEquals(27, awaitVolume(audio));
        assertEquals(Integer.valueOf(27), SessionProbe.value(session.audio().volume()));
        probe.assertListenersOnExecutor();
    }

    @Test
    public void closeCutsACallHangingOnASilentCodecAndLeavesNothingBehind() throws Exception {
        sim = startSim(0, false);
        // No liveness probe: only close() can end the wait.
        session = probe.watch(probe.builder(sim, SERIAL).liveness(Duration.ZERO).build());
        session.start();
        probe.await(SessionState.CONNECTED);
        sim.command("blackhole");
        CompletableFuture<Integer> hanging = session.audio().volume();
        CompletableFuture<Void> queued = session.audio().setVolume(12);
        Thread.sleep(500);
        assertFalse("the codec is silent", hanging.isDone());

        long t0 = System.nanoTime();
        session.close();
        long ms = (System.nanoTime() - t0) / 1_000_000;
        assertTrue("close() took " + ms + " ms", ms < 4000);
        assertEquals(-18, SessionProbe.failure(hanging));
        assertEquals(-18, SessionProbe.failure(queued));
        assertEquals(SessionState.CLOSED, session.state());
        assertEquals("SDK threads after close()", List.of(), sessionThreads());
        List<SessionProbe.Change> tail = probe.drain(300);
        assertEquals(SessionState.CLOSED, tail.get(tail.size() - 1).state);
        assertTrue("nothing after CLOSED", probe.drain(500).isEmpty());

        // The native service was released: a new session sets it up again and connects.
        sim.command("clear");
        session = probe.watch(probe.builder(sim, SERIAL).build());
        session.start();
        probe.await(SessionState.CONNECTED);
        SessionProbe.value(session.audio().volume());
    }
}
