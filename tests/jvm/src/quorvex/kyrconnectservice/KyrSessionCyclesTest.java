package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import java.util.Arrays;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.atomic.AtomicInteger;

import org.junit.After;
import org.junit.Test;

import quorvex.kyrconnectservice.session.KyrSession;
import quorvex.kyrconnectservice.session.SessionState;

/**
 * What a session leaves behind: fifty losses of the codec in a row, through
 * each fault of the simulator that ends a connection, a restart of the codec
 * among them (it comes back each time; no thread, descriptor or native
 * handle stays, during its life or after close()), and every notification of the codec delivered
 * twice (every list and node the library handed over was released).
 */
public class KyrSessionCyclesTest {
    static final String SERIAL = "KYR-SDK-0050";
    static final int CYCLES = 50;

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

    /**
     * Names of the live threads, less the library's dispatch thread (it lives
     * as long as the process) and the app's own executor.
     */
    private Set<String> threads() {
        Set<String> names = new TreeSet<>();
        for (Thread t : Thread.getAllStackTraces().keySet()) {
            if (!t.getName().equals("kyr-dispatch") && !t.getName().startsWith(probe.threadPrefix)) {
                names.add(t.getName());
            }
        }
        return names;
    }

    @Test
    public void fiftyLossesInARowThroughEveryFaultLeaveNothingBehind() throws Exception {
        sim = SimProcess.start("--serial", SERIAL);
        TestSubSystemInterface hooks = new TestSubSystemInterface();
        Set<String> before = threads();
        int fdBefore = SessionProbe.descriptors();
        java.util.List<String> fdsBefore = SessionProbe.descriptorTargets();

        session = probe.watch(probe.builder(sim, SERIAL).build());
        session.start();
        probe.await(SessionState.CONNECTED);
        SessionProbe.value(session.audio().volume());
        int fdFirst = SessionProbe.descriptors();
        int handlesFirst = hooks.liveHandles();
        // A cut mid-frame falls on the answer to the call below; a restart reopens after 100 ms.
        String[] faults = {"close", "rst", "cut-mid-frame", "restart 100"};
        for (int i = 0; i < CYCLES; i++) {
            sim.command(faults[i % faults.length]);
            // The session learns of the loss from the library or from a call that finds it gone.
            session.audio().volume();
            probe.await(SessionState.RECONNECTING);
            probe.await(SessionState.CONNECTED);
        }
        SessionProbe.value(session.audio().volume());
        assertTrue("connections made: " + sim.count("csAuth"), sim.count("csAuth") >= CYCLES + 1);
        int fdLast = SessionProbe.descriptors();
        int handlesLast = hooks.liveHandles();
        assertTrue("descriptors " + fdFirst + " -> " + fdLast, fdLast <= fdFirst + 2);
        assertTrue("handles " + handlesFirst + " -> " + handlesLast, handlesLast <= handlesFirst + 2);

        session.close();
        session = null;
        // The library's own threads end within about two seconds of the release.
        long end = System.currentTimeMillis() + 5000;
        while (!threads().equals(before) && System.currentTimeMillis() < end) {
            Thread.sleep(50);
        }
        assertEquals(before, threads());
        // Allowed: the dispatch thread's wake-up pipe (made by the first set-up, kept for the
        // process's life) and a class file the JVM may open meanwhile.
        assertTrue("descriptors " + fdsBefore + " -> " + SessionProbe.descriptorTargets(),
                   SessionProbe.descriptors() <= fdBefore + 3);
        probe.assertListenersOnExecutor();
    }

    /** Pushes every notification with every field flagged, then waits until deliveries stop. */
    private void everyNotification(List<String> methods, AtomicInteger delivered) throws Exception {
        int before = delivered.get();
        for (String m : methods) {
            assertEquals(m, 1, sim.notify(m, 0xFFFFFFFFL, 0));
        }
        long end = System.currentTimeMillis() + SessionProbe.WAIT;
        while (delivered.get() == before && System.currentTimeMillis() < end) {
            Thread.sleep(50);
        }
        // The library's worker may pause up to a second between its waits.
        for (int last = -1; delivered.get() != last && System.currentTimeMillis() < end; ) {
            last = delivered.get();
            Thread.sleep(1200);
        }
    }

    @Test
    public void everyNotificationIsDeliveredTypedAndWhatItHandedOverIsReleased() throws Exception {
        sim = SimProcess.start("--serial", SERIAL);
        TestSubSystemInterface hooks = new TestSubSystemInterface();
        session = probe.watch(probe.builder(sim, SERIAL).build());
        AtomicInteger delivered = new AtomicInteger();
        Set<String> kinds = ConcurrentHashMap.newKeySet();
        session.addListener(Object.class, e -> {
            probe.seen();
            delivered.incrementAndGet();
            kinds.add(e.getClass().getSimpleName());
        });
        session.start();
        probe.await(SessionState.CONNECTED);
        List<String> methods = Arrays.asList(sim.first("notifications").substring("methods ".length()).split(" "));
        assertEquals(55, methods.size());

        everyNotification(methods, delivered);
        int firstRound = delivered.get();
        int handles = hooks.liveHandles();
        everyNotification(methods, delivered);
        assertTrue("second round delivered " + (delivered.get() - firstRound),
                   delivered.get() - firstRound > methods.size() / 2);
        assertEquals("live handles after a second round", handles, hooks.liveHandles());
        assertEquals(new TreeSet<>(List.of("AudioEvent", "CallInfo", "CameraEvent", "CommEvent", "DirectoryEvent",
                "MeetingEvent", "SettingsEvent", "VideoEvent")), new TreeSet<>(kinds));
        probe.assertListenersOnExecutor();
    }
}
