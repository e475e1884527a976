package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_COMM_CALL_LIST_CHANGED;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_COMM_CALL_MUTE_CHANGED;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_COMM_CALL_STATE_CHANGED;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_COMM_CONFERENCE_CHANGED;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_COMM_PENDING_CALLS_CHANGED;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_COMM_SETTINGS_CHANGED;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_COMM_SYSTEM_CHANGED;
import static quorvex.kyrconnectservice.KyrEvents.EVENT_ERROR;
import static quorvex.kyrconnectservice.KyrEvents.KYR_Connect_Connected;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.function.Predicate;

import org.junit.After;
import org.junit.AfterClass;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;

/**
 * Calls and conferences on a real JVM against the codec simulator: the Java
 * API, the natives behind it and the events the codec's notifications turn
 * into.
 */
public class CommSubSystemInterfaceTest {
    static final String SERIAL = "KYR-JVM-COMM";
    static final long WAIT = 5000;

    /** An event with whatever had to be read while it was delivered. */
    static final class Seen {
        final int code;
        final int value1;
        final int value2;
        final Thread threadObject;
        final KyrCallStruct call;
        final KyrConferenceStruct conference;

        Seen(int code, int value1, int value2, KyrCallStruct call, KyrConferenceStruct conference) {
            this.code = code;
            this.value1 = value1;
            this.value2 = value2;
            this.threadObject = Thread.currentThread();
            this.call = call;
            this.conference = conference;
        }

        @Override
        public String toString() {
            return KyrEvents.eventName(code) + "(" + value1 + ", " + value2 + ")@" + threadObject.getId();
        }
    }

    // One service for the whole class, connected to a fresh simulator per
    // test: a new service's worker would first replay notifications an
    // earlier connection left in the library's queue.
    private static KyrConnectService svc;
    private static final CommSubSystemInterface comm = new CommSubSystemInterface();
    private static final LinkedBlockingQueue<Seen> events = new LinkedBlockingQueue<>();
    private SimProcess sim;

    private static void onEvent(int code, int value1, int value2, Object obj) {
        KyrCallStruct call = null;
        KyrConferenceStruct conference = null;
        if (code == EVENT_COMM_CALL_LIST_CHANGED) {
            call = CommSubSystemInterface.readCallEvent(value1);
        } else if (code == EVENT_COMM_CONFERENCE_CHANGED) {
            conference = CommSubSystemInterface.readConferenceEvent(value1);
        } else if (code == EVENT_COMM_SETTINGS_CHANGED) {
            comm.takeSettingsEvent(value1);
        }
        events.add(new Seen(code, value1, value2, call, conference));
    }

    @BeforeClass
    public static void setUpService() {
        svc = new KyrConnectService(CommSubSystemInterfaceTest::onEvent);
        assertEquals(0, svc.setup());
    }

    @AfterClass
    public static void releaseService() {
        if (svc != null) {
            svc.release();
        }
    }

    @Before
    public void setUp() throws Exception {
        sim = SimProcess.start("--serial", SERIAL);
        assertEquals(0, svc.connect(sim.address(), SERIAL, "1.0.0", "1.0.0", "99.0.0"));
        assertNotNull(next(e -> e.code == KyrEvents.EVENT_CONNECT_STATE_CHANGED && e.value1 == KYR_Connect_Connected));
        // The post-connect fetch has cached the subsystem.
        assertTrue(sim.awaitCount("csCommGet", 1, WAIT));
        Thread.sleep(50);
        events.clear();
    }

    @After
    public void tearDown() throws InterruptedException {
        // Let the worker deliver what this test's codec sent (it takes a
        // batch about once a second) before the next test listens.
        long end = System.currentTimeMillis() + 6000;
        while (System.currentTimeMillis() < end && events.poll(1300, TimeUnit.MILLISECONDS) != null) {
            events.clear();
        }
        svc.disconnect();
        if (sim != null) {
            sim.close();
        }
        events.clear();
    }

    /** The next event that matches within WAIT, skipping others; null if none came. */
    private Seen next(Predicate<Seen> p) throws InterruptedException {
        long end = System.currentTimeMillis() + WAIT;
        for (long left = WAIT; left > 0; left = end - System.currentTimeMillis()) {
            Seen e = events.poll(left, TimeUnit.MILLISECONDS);
            if (e == null) {
                return null;
            }
            if (p.test(e)) {
                return e;
            }
        }
        return null;
    }

    /** Every event that arrives within ms. */
    private List<Seen> drain(long ms) throws InterruptedException {
        Thread.sleep(ms);
        List<Seen> out = new ArrayList<>();
        events.drainTo(out);
        return out;
    }

    private static boolean isState(Seen e, int state) {
        return e.code == EVENT_COMM_CALL_STATE_CHANGED && e.value1 == state;
    }

    /** Dials and waits until the call is Active; its id. */
    private int dialActive(String address) throws Exception {
        int before = sim.count("csConfTermDial");
        comm.dial(0, address, "h323", 1024);
        assertEquals(before + 1, sim.count("csConfTermDial"));
        assertNotNull("the call became Active", next(e -> isState(e, KyrCallStruct.STATE_ACTIVE)));
        for (KyrCallStruct c : comm.getCurrentCalls()) {
            if (c.addr.equals("h323:" + address)) {
                return c.id;
            }
        }
        throw new AssertionError("dialled call not listed");
    }

    /** A call comes in from address; its id. */
    private int incoming(String address) throws Exception {
        assertEquals("incoming 1", sim.first("incoming " + address));
        assertNotNull(next(e -> e.code == EVENT_COMM_PENDING_CALLS_CHANGED));
        for (KyrCallStruct c : comm.getCurrentCalls()) {
            if (c.isPending() && c.addr.equals(address)) {
                return c.id;
            }
        }
        throw new AssertionError("incoming call not listed");
    }

    /** The call-state events of the next ms, by the Java thread that delivered them. */
    private java.util.Map<Thread, List<Seen>> stateEventsByThread(List<Seen> seen) {
        java.util.Map<Thread, List<Seen>> out = new java.util.HashMap<>();
        for (Seen e : seen) {
            if (e.code == EVENT_COMM_CALL_STATE_CHANGED) {
                out.computeIfAbsent(e.threadObject, t -> new ArrayList<>()).add(e);
            }
        }
        return out;
    }

    /** The one call-state event not delivered on the thread that delivered the others. */
    private Seen delayedStateEvent(List<Seen> seen) {
        java.util.Map<Thread, List<Seen>> byThread = stateEventsByThread(seen);
        assertEquals("worker and dispatch thread: " + seen, 2, byThread.size());
        for (List<Seen> l : byThread.values()) {
            if (l.size() == 1) {
                return l.get(0);
            }
        }
        throw new AssertionError("no single delayed state event: " + seen);
    }

    @Test
    public void dialWalksTheCallToActiveAndTheDelayedStateEventComesFromTheDispatchThread() throws Exception {
        comm.dial(0, "10.0.0.9", "h323", 768);
        List<String> sent = sim.requests("csConfTermDial");
        assertEquals(1, sent.size());
        assertTrue(sent.get(0), sent.get(0).contains("\"address\":\"h323:10.0.0.9\""));
        assertTrue(sent.get(0), sent.get(0).contains("\"rate\":768"));
        List<Seen> seen = new ArrayList<>();
        assertNotNull(next(e -> seen.add(e) && isState(e, KyrCallStruct.STATE_ACTIVE)));
        seen.addAll(drain(300));
        Seen delayed = delayedStateEvent(seen);
        assertEquals("Dialing, or the state the codec's notifications reported first", 0, delayed.value2);
        assertEquals("Dialing, Alerting, Active from the codec " + seen, 3,
                     seen.stream().filter(e -> e.code == EVENT_COMM_CALL_STATE_CHANGED && e != delayed).count());
        assertEquals(1, comm.getNumberOfCurrentCalls());
    }

    @Test
    public void acceptWithTermZeroAnswersTheFirstPendingCallAndAnUnknownIdAnswersNone() throws Exception {
        int first = incoming("10.1.1.1");
        incoming("10.1.1.2");
        comm.answer(0, 987654);
        assertEquals("no pending call has that id", 0, sim.count("csConfTermAnswer"));
        comm.answer(0, CommSubSystemInterface.WHOLE_CONFERENCE);
        assertEquals(1, sim.count("csConfTermAnswer"));
        List<Seen> seen = new ArrayList<>();
        assertNotNull(next(e -> seen.add(e) && isState(e, KyrCallStruct.STATE_ACTIVE)));
        seen.addAll(drain(300));
        assertEquals(0, delayedStateEvent(seen).value2);
        List<KyrCallStruct> calls = comm.getCurrentCalls();
        assertEquals(2, calls.size());
        assertEquals("the first caller is now in conference 0", first, calls.get(0).id);
        assertEquals(0, calls.get(0).index);
        assertEquals(-1, calls.get(1).index);
    }

    @Test
    public void hangUpWithTermZeroEndsTheConferenceAndConfMinusOneSearchesOnlyPendingCalls() throws Exception {
        int active = dialActive("10.0.0.21");
        int pending = incoming("10.1.1.9");
        comm.hangUp(CommSubSystemInterface.PENDING_CALLS, active, 16);
        assertEquals("a conference call is not pending", 0, sim.count("csTermHangup"));
        comm.hangUp(CommSubSystemInterface.PENDING_CALLS, pending, 21);
        assertEquals(1, sim.count("csTermHangup"));
        assertEquals(0, sim.count("csConfHangup"));
        comm.hangUp(0, CommSubSystemInterface.WHOLE_CONFERENCE, 16);
        assertEquals(1, sim.count("csConfHangup"));
        assertNotNull(next(e -> isState(e, KyrCallStruct.STATE_DISCONNECTED)));
    }

    @Test
    public void aCallThatEndsPostsItsStateThenTheCallListEventCarryingThatCall() throws Exception {
        int id = dialActive("10.0.0.31");
        comm.hangUp(0, id, 16);
        Seen state = next(e -> isState(e, KyrCallStruct.STATE_DISCONNECTED));
        assertNotNull(state);
        assertEquals("the cause code", 16, state.value2);
        Seen list = events.poll(WAIT, TimeUnit.MILLISECONDS);
        assertNotNull(list);
        assertEquals("the call-list event follows at once", EVENT_COMM_CALL_LIST_CHANGED, list.code);
        assertTrue("a handle, never an address", list.value1 > 0);
        assertNotNull(list.call);
        assertEquals(id, list.call.id);
        assertEquals(0, list.call.index);
        assertEquals(KyrCallStruct.STATE_DISCONNECTED, list.call.state);
        assertEquals("h323:10.0.0.31", list.call.addr);
        List<KyrCallStruct> recent = comm.getRecentCalls();
        assertEquals("the ended call leads the recent calls", id, recent.get(0).id);
        for (int i = 0; i < recent.size(); i++) {
            assertEquals(i, recent.get(i).index);
        }
    }

    @Test
    public void anUnchangedPendingCountPostsNoPendingEventButTheSystemAndSettingsEvents() throws Exception {
        assertEquals(1, sim.notify("csCommChangedCB", 0x4, 0));
        Seen system = next(e -> e.code == EVENT_COMM_SYSTEM_CHANGED);
        assertNotNull(system);
        assertEquals(0x4, system.value2);
        CommSystemStruct s = CommSystemStruct.read(system.value1);
        assertNotNull(s);
        assertEquals(2, s.maxConfs);
        assertNotNull(next(e -> e.code == EVENT_COMM_SETTINGS_CHANGED));
        for (Seen e : drain(300)) {
            assertTrue("no pending event: " + e, e.code != EVENT_COMM_PENDING_CALLS_CHANGED);
        }
        assertEquals("incoming 1", sim.first("incoming 10.1.1.3"));
        assertNotNull(next(e -> e.code == EVENT_COMM_PENDING_CALLS_CHANGED));
        Seen after = next(e -> e.code == EVENT_COMM_SYSTEM_CHANGED);
        assertNotNull(after);
        assertEquals(1, CommSystemStruct.read(after.value1).numPendingTerms);
    }

    @Test
    public void statisticsCoverOnlyStreamingMediaAndNothingWhenAFetchFails() throws Exception {
        int id = dialActive("10.0.0.41");
        List<KyrCallMediaStruct> media = comm.getCallStatistics(0, id);
        assertEquals(2, media.size());
        assertEquals(0, media.get(0).index);
        assertEquals(1, media.get(1).index);
        for (KyrCallMediaStruct m : media) {
            assertEquals(2, m.state);
        }
        assertEquals("H.264", media.get(1).alg);
        assertEquals(29.97, media.get(1).actualFrameRate, 1e-5);
        assertEquals(0.01, media.get(1).percentPacketLoss, 1e-6);
        assertEquals(8, sim.count("csTermMediaGet"));
        sim.error("csTermMediaGet", -4, 1);
        assertEquals(0L, comm.NativeGetCallStats(0, id));
        assertTrue(comm.getCallStatistics(0, 424242).isEmpty());
    }

    @Test
    public void dialListRefusesCountsOutsideOneToTenAndBadBuffersWithoutContactingTheCodec() throws Exception {
        int commGets = sim.count("csCommGet");
        ByteBuffer none = DirAddressListStruct.build("Site", new int[0], new String[0]);
        assertEquals(-1, comm.NativeDialList(none, 1));
        int[] rates = new int[11];
        String[] addrs = new String[11];
        for (int i = 0; i < 11; i++) {
            rates[i] = 384;
            addrs[i] = "10.0.2." + i;
        }
        assertEquals(-1, comm.dialList("Site", rates, addrs, true));
        assertEquals(-1, comm.NativeDialList(null, 1));
        assertEquals("a heap buffer is not direct", -1,
                     comm.NativeDialList(ByteBuffer.allocate(DirAddressListStructLayout.SIZE), 1));
        ByteBuffer shortOne = ByteBuffer.allocateDirect(DirAddressListStructLayout.SIZE - 1)
                .order(ByteOrder.nativeOrder());
        shortOne.putInt(0, 1);
        assertEquals(-1, comm.NativeDialList(shortOne, 1));
        assertEquals(0, sim.count("csConfTermDialList"));
        assertEquals(commGets, sim.count("csCommGet"));

        assertEquals(0, comm.dialList("Oslo", new int[] {512, 128}, new String[] {"h323:10.0.3.1", "sip:oslo"}, false));
        List<String> sent = sim.requests("csConfTermDialList");
        assertEquals(1, sent.size());
        assertTrue(sent.get(0), sent.get(0).contains("\"listCount\":2"));
        assertTrue(sent.get(0), sent.get(0).contains("sip:oslo"));
        assertTrue(sent.get(0), sent.get(0).contains("\"siteName\":\"Oslo\""));
        assertTrue(sent.get(0), sent.get(0).contains("\"bAll\":0"));
    }

    @Test
    public void currentCallsListConferenceCallsThenPendingOnesAtIndexMinusOne() throws Exception {
        int a = dialActive("10.0.0.51");
        int b = dialActive("10.0.0.52");
        int p = incoming("10.1.1.50");
        List<KyrCallStruct> calls = comm.getCurrentCalls();
        assertEquals(3, calls.size());
        assertEquals(a, calls.get(0).id);
        assertEquals(b, calls.get(1).id);
        assertEquals(p, calls.get(2).id);
        assertEquals(0, calls.get(0).index);
        assertEquals(0, calls.get(1).index);
        assertEquals(-1, calls.get(2).index);
        assertEquals(KyrCallStruct.STATE_INCOMING, calls.get(2).state);
        assertEquals(3, comm.getNumberOfCurrentCalls());
        assertEquals(1, comm.getNumberOfCurrentConferences());
        List<KyrConferenceStruct> confs = comm.getCurrentConferences();
        assertEquals(1, confs.size());
        assertEquals(2, confs.get(0).numTerms);
        assertEquals("Conference 1", confs.get(0).name);
    }

    @Test
    public void everyFieldOfACallReadsBackAtItsOffset() throws Exception {
        // The offsets Java reads are the call layout's, byte for byte.
        int[][] offsets = {
            {KyrCallStructLayout.NEXT_OFFSET, 0}, {KyrCallStructLayout.INDEX_OFFSET, 4},
            {KyrCallStructLayout.SRVR_INSTANCE_OFFSET, 8}, {KyrCallStructLayout.HANDLE_OFFSET, 12},
            {KyrCallStructLayout.NAME_OFFSET, 16}, {KyrCallStructLayout.CALLER_ID_OFFSET, 144},
            {KyrCallStructLayout.ADDR_OFFSET, 272}, {KyrCallStructLayout.RATE_OFFSET, 532},
            {KyrCallStructLayout.DIRECTION_OFFSET, 536}, {KyrCallStructLayout.NUM_CALLS_OFFSET, 540},
            {KyrCallStructLayout.REMOTE_SYS_ID_OFFSET, 544}, {KyrCallStructLayout.CONF_INDEX_OFFSET, 672},
            {KyrCallStructLayout.CAUSE_CODE_OFFSET, 676}, {KyrCallStructLayout.STATE_OFFSET, 680},
            {KyrCallStructLayout.MUTED_OFFSET, 684}, {KyrCallStructLayout.CONNECT_TIME_OFFSET, 688},
            {KyrCallStructLayout.DISCONNECT_TIME_OFFSET, 692}, {KyrCallStructLayout.DEVICE_NAME_OFFSET, 696},
            {KyrCallStructLayout.NUM_MEDIA_OFFSET, 728}, {KyrCallStructLayout.ID_OFFSET, 732},
            {KyrCallStructLayout.CALL_TYPE_OFFSET, 736}, {KyrCallStructLayout.DIRID_OFFSET, 740},
            {KyrCallStructLayout.PASSWORD_OFFSET, 804}, {KyrCallStructLayout.CONTENT_STATE_OFFSET, 932},
            {KyrCallStructLayout.AUTH_STATE_OFFSET, 936}, {KyrCallStructLayout.DIALED_ADDR_OFFSET, 940},
            {KyrCallStructLayout.ENCRYPTED_OFFSET, 1200}, {KyrCallStructLayout.TYPE_OFFSET, 1204},
            {KyrCallStructLayout.SIZE, 1208},
        };
        for (int[] o : offsets) {
            assertEquals(o[1], o[0]);
        }
        String comm0 = sim.first("handles Comm").substring("handles ".length()).trim().split(" ")[0];
        long h = sim.merge("Term", 0, "{\"parentHandle\":" + comm0 + ",\"name\":\"Ann Example\",\"callerID\":\"+4712\","
                + "\"addr\":\"sip:ann@example.org\",\"rate\":1111,\"direction\":1,\"numCalls\":3,"
                + "\"remoteSysID\":\"RSID-9\",\"confIndex\":4,\"causeCode\":5,\"state\":4,\"muted\":1,"
                + "\"connectTime\":1234,\"disconnectTime\":5678,\"deviceName\":\"dev0\",\"numMedia\":7,"
                + "\"id\":4242,\"callType\":8,\"dirid\":\"dir-9\",\"password\":\"\",\"contentState\":10,"
                + "\"authState\":2,\"dialedAddr\":\"ann\",\"encrypted\":1,\"type\":11}");
        List<KyrCallStruct> calls = comm.getCurrentCalls();
        assertEquals(1, calls.size());
        KyrCallStruct c = calls.get(0);
        Object[][] fields = {
            {"index", -1, c.index},
            {"srvrInstance", 0, c.srvrInstance},
            {"handle", (int) h, c.handle},
            {"name", "Ann Example", c.name},
            {"callerID", "+4712", c.callerID},
            {"addr", "sip:ann@example.org", c.addr},
            {"rate", 1111, c.rate},
            {"direction", 1, c.direction},
            {"numCalls", 3, c.numCalls},
            {"remoteSysID", "RSID-9", c.remoteSysID},
            {"confIndex", 4, c.confIndex},
            {"causeCode", 5, c.causeCode},
            {"state", 4, c.state},
            {"muted", 1, c.muted},
            {"connectTime", 1234, c.connectTime},
            {"disconnectTime", 5678, c.disconnectTime},
            {"deviceName", "dev0", c.deviceName},
            {"numMedia", 7, c.numMedia},
            {"id", 4242, c.id},
            {"callType", 8, c.callType},
            {"dirid", "dir-9", c.dirid},
            {"contentState", 10, c.contentState},
            {"authState", 2, c.authState},
            {"dialedAddr", "ann", c.dialedAddr},
            {"encrypted", 1, c.encrypted},
            {"type", 11, c.type},
        };
        for (Object[] f : fields) {
            assertEquals((String) f[0], f[1], f[2]);
        }
    }

    @Test
    public void muteAndUnmuteACallAndTheWholeConference() throws Exception {
        int id = dialActive("10.0.0.61");
        assertEquals(0, comm.setCallMuted(0, id, true));
        Seen muted = next(e -> e.code == EVENT_COMM_CALL_MUTE_CHANGED);
        assertNotNull(muted);
        assertEquals(id, muted.value1);
        assertEquals(1, muted.value2);
        assertEquals(1, comm.getCurrentCalls().get(0).muted);
        assertEquals(0, comm.setCallMuted(0, id, false));
        muted = next(e -> e.code == EVENT_COMM_CALL_MUTE_CHANGED);
        assertNotNull(muted);
        assertEquals(0, muted.value2);
        assertEquals(0, comm.setConferenceMuted(0, true));
        Seen conf = next(e -> e.code == EVENT_COMM_CONFERENCE_CHANGED && (e.value2 & 0x1000) != 0);
        assertNotNull(conf);
        assertNotNull(conf.conference);
        assertEquals(1, conf.conference.confMute);
        assertTrue("a handle", conf.value1 > 0);
        assertTrue(comm.setCallMuted(0, 424242, true) < 0);
        assertTrue(comm.getLastCallFailCause() < 0);
    }

    @Test
    public void refusedInputNeverReachesTheCodec() throws Exception {
        StringBuilder longAddress = new StringBuilder();
        while (longAddress.length() < 123) {
            longAddress.append('9');
        }
        comm.dial(0, longAddress.toString(), "h323", 384);
        Seen err = next(e -> e.code == EVENT_ERROR);
        assertNotNull("a dial string that does not fit is a bad address", err);
        assertEquals(0x304, err.value1);
        assertEquals(-1, err.value2);
        assertEquals("a cut address is never dialled", 0, sim.count("csConfTermDial"));
        comm.dial(0, null, "h323", 384);
        assertEquals(0, sim.count("csConfTermDial"));
        comm.dial(0, "10.0.0.71", null, 384);
        assertTrue(sim.requests("csConfTermDial").get(0).contains("\"address\":\":10.0.0.71\""));
        comm.dial(0, "invalid", "sip", 384);
        err = next(e -> e.code == EVENT_ERROR);
        assertNotNull("the codec's Bad address", err);
        assertEquals(0x304, err.value1);

        int id = dialActive("10.0.0.72");
        comm.sendKeys(0, id, null);
        assertEquals(0, sim.count("csTermSendKeystring"));
        comm.sendKeys(0, id, "123#");
        assertEquals(1, sim.count("csTermSendKeystring"));
        comm.sendFlash(0, id, 300);
        assertTrue(sim.requests("csTermSendFlash").get(0).contains("\"durationMs\":300"));
        int sets = sim.count("csTermSet");
        assertEquals(-1, comm.authenticateCall(0, id, null));
        assertEquals(sets, sim.count("csTermSet"));
        assertEquals(0, comm.authenticateCall(0, id, "pin-1234"));
        assertTrue(sim.requests("csTermSet").get(sets).contains("\"password\":\"pin-1234\""));
    }

    @Test
    public void theSubsystemAndTheCodecClockAreReadThroughHandles() throws Exception {
        long h = comm.NativeGetCommSystem();
        assertTrue(h > 0 && h <= 0x7FFFFFFFL);
        assertEquals("one static structure", h, comm.NativeGetCommSystem());
        CommSystemStruct s = comm.getCommSystem();
        assertEquals(8, s.maxTermsPerConf);
        assertEquals(2, s.dialOrder.length);
        assertEquals(3, s.dialOrder[1][0]);
        assertEquals(4, s.dialOrder[1][1]);
        assertTrue(comm.getSystemTime() > 0);
        sim.error("csTimeGet", -4, 1);
        assertEquals(-1, comm.getSystemTime());
        assertNull(CommSystemStruct.read(0));
        assertEquals(0, comm.leaveConference(0, 16));
        assertEquals(1, sim.count("csConfLeave"));
    }
}
