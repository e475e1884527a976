package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_Connected;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_Failed;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_Started;

import java.util.List;

import org.junit.After;
import org.junit.Test;

/**
 * The liveness watch seen from Java: a codec that vanishes without a word
 * (the simulator's blackhole) is reported lost exactly once.
 */
public class LivenessTest {
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
        assertTrue("the probe was sent", Integer.parseInt(sim.first("count csSysGet").split(" ")[1]) >= 1);
    }
}
