package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_Connected;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_Disconnected;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_Failed;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_Started;

import java.util.List;

import org.junit.After;
import org.junit.Test;

/**
 * Losing the codec, seen from Java: with the liveness watch on, a codec that
 * vanishes without a word (the simulator's blackhole) is reported lost
 * exactly once; a disconnect while a connect hangs ends both at once.
 */
public class ConnectionLossTest {
    static final String SERIAL = "KYR-JVM-0002";

    private SimProcess sim;
    private KyrConnectService svc;
    private final Recorder rec = new Recorder();

    @After
    public void tearDown() throws Exception {
        if (svc != null) {
            svc.setLiveness(0);
            svc.release();
        }
        if (sim != null) {
            sim.close();
        }
    }

    @Test
    public void blackholedCodecIsReportedFailedExactlyOnce() throws Exception {
        sim = SimProcess.start("--serial", SERIAL);
        svc = new KyrConnectService(rec);
        for (int bad : new int[] {-1, 301, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
            assertEquals("setLiveness(" + bad + ")", -10, svc.setLiveness(bad));
        }
        assertEquals(0, svc.setLiveness(2));  // before set-up, kept from here on
        assertEquals(0, svc.setup());
        assertEquals(Integer.valueOf(KYR_Connect_Started), rec.nextState(5000));
        assertEquals(0, svc.connect(sim.address(), SERIAL, "1.0.0", "1.0.0", "99.0.0"));
        assertEquals(Integer.valueOf(KYR_Connect_Connected), rec.nextState(5000));

        long t0 = System.currentTimeMillis();
        assertEquals(List.of("blackhole: 1 connection(s)"), sim.command("blackhole"));
        assertEquals(Integer.valueOf(KYR_Connect_Failed), rec.nextState(15000));
        long took = System.currentTimeMillis() - t0;
        assertTrue("Failed after " + took + " ms", took >= 2000 && took < 10000);
        List<Recorder.Event> later = rec.drain(3000);
        assertTrue("nothing after the one Failed: " + later, later.isEmpty());
        assertEquals(KYR_Connect_Failed, svc.getConnectionState());
    }

    @Test
    public void disconnectDuringAHangingConnectReturnsAtOnce() throws Exception {
        sim = SimProcess.start("--serial", SERIAL);
        svc = new KyrConnectService(rec);
        assertEquals(0, svc.setup());
        assertEquals(Integer.valueOf(KYR_Connect_Started), rec.nextState(5000));
        // The next connection is accepted and never answered.
        assertEquals(List.of("blackhole: next connection"), sim.command("next blackhole"));
        final int[] rc = {1};
        Thread connecting = new Thread(() -> rc[0] = svc.connect(sim.address(), SERIAL, "1.0.0", "1.0.0", "99.0.0"));
        connecting.start();
        Thread.sleep(500);
        long t0 = System.currentTimeMillis();
        assertEquals(0, svc.disconnect());
        connecting.join(5000);
        long took = System.currentTimeMillis() - t0;
        assertTrue("connect still running", !connecting.isAlive());
        assertTrue("connect returned " + took + " ms after the disconnect", took < 1000);
        assertEquals(-18, rc[0]);
        assertEquals(KYR_Connect_Disconnected, svc.getConnectionState());
        List<Recorder.Event> later = rec.drain(1500);
        for (Recorder.Event e : later) {
            assertTrue("no Connected or Failed after the disconnect: " + later,
                    e.code != KyrEvents.EVENT_CONNECT_STATE_CHANGED || e.value1 == KYR_Connect_Disconnected);
        }
    }
}
