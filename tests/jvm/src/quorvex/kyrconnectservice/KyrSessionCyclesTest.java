package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import java.util.Set;
import java.util.TreeSet;

import org.junit.After;
import org.junit.Test;

import quorvex.kyrconnectservice.session.KyrSession;
import quorvex.kyrconnectservice.session.SessionState;

/**
 * Fifty losses of the codec in a row: the session comes back each time and
 * leaves no thread, descriptor or native handle behind, during its life or
 * after close().
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
    public void fiftyLossesInARowLeaveNothingBehind() throws Exception {
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
        for (int i = 0; i < CYCLES; i++) {
            sim.command("close");
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
}
