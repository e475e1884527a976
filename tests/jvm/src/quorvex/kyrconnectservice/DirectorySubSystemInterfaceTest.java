package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertSame;
import static org.junit.Assert.assertTrue;

import java.nio.ByteBuffer;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

import org.junit.After;
import org.junit.AfterClass;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;

/**
 * The directory on a real JVM against the codec simulator: searches paged
 * into searchResultsCallback and completed by EVENT_DIR_SEARCH_DONE, the
 * server table, server and entry events, and dialling an entry.
 */
public class DirectorySubSystemInterfaceTest {
    static final String SERIAL = "KYR-JVM-DIR1";
    static final long WAIT = 8000;

    /** An event with its object, and the server node read while it was delivered. */
    static final class Ev {
        final int code;
        final int value1;
        final Object obj;
        final KyrDirServerStruct server;

        Ev(int code, int value1, Object obj, KyrDirServerStruct server) {
            this.code = code;
            this.value1 = value1;
            this.obj = obj;
            this.server = server;
        }

        @Override
        public String toString() {
            return KyrEvents.eventName(code) + "(" + value1 + ")";
        }
    }

    /** Records every callback with its raw arguments before handing it on. */
    static final class Recording extends DirectorySubSystemInterface {
        final List<Long> firsts = new ArrayList<>();
        final List<Long> listHandles = new ArrayList<>();
        final List<SearchParams> params = new ArrayList<>();
        final List<KyrDirEntryStruct> entries = new ArrayList<>();
        ByteBuffer firstNode;

        @Override
        protected void searchResultsCallback(long first, long listHandle, SearchParams p) {
            firsts.add(first);
            listHandles.add(listHandle);
            params.add(p);
            if (firstNode == null) {
                ByteBuffer b = KyrDirEntryStruct.newDirectByteBuffer(first, KyrDirEntryStructLayout.SIZE);
                firstNode = ByteBuffer.allocate(KyrDirEntryStructLayout.SIZE).order(java.nio.ByteOrder.nativeOrder());
                for (int i = 0; i < KyrDirEntryStructLayout.SIZE; i++) {
                    firstNode.put(i, b.get(i));
                }
            }
            entries.addAll(KyrDirEntryStruct.readList(first));
            super.searchResultsCallback(first, listHandle, p);
        }
    }

    /*
     * One set-up for the class: every test connects the same service to its own simulator, so
     * exactly one worker handles the notifications (a set-up per test would leave the earlier
     * set-ups' workers running beside the new one).
     */
    private static final LinkedBlockingQueue<Ev> events = new LinkedBlockingQueue<>();
    private static KyrConnectService svc;
    private SimProcess sim;
    private Recording dir;

    @BeforeClass
    public static void setUpService() {
        svc = new KyrConnectService((code, v1, v2, obj) -> {
            boolean server = code == KyrEvents.EVENT_DIR_SERVER_STATUS_CHANGED
                    || code == KyrEvents.EVENT_DIR_SERVER_MODIFIED || code == KyrEvents.EVENT_DIR_SERVER_DISABLED;
            events.add(new Ev(code, v1, obj, server ? KyrDirServerStruct.read(v1) : null));
            DirectorySubSystemInterface.dispatchSearchDone(code, obj);
        });
        assertEquals(0, svc.setup());
    }

    @AfterClass
    public static void releaseService() {
        svc.release();
    }

    @Before
    public void setUp() throws Exception {
        sim = SimProcess.start("--serial", SERIAL);
        assertEquals(0, svc.connect(sim.address(), SERIAL, "1.0.0", "1.0.0", "99.0.0"));
        dir = new Recording();
        // The post-connect thread fills the server table.
        long end = System.currentTimeMillis() + WAIT;
        while (dir.getServers(DirectorySubSystemInterface.PROTOCOL_ALL).size() < 4
                && System.currentTimeMillis() < end) {
            Thread.sleep(20);
        }
        assertEquals(4, dir.getServers(DirectorySubSystemInterface.PROTOCOL_ALL).size());
        events.clear();
    }

    @After
    public void tearDown() throws Exception {
        svc.disconnect();
        if (sim != null) {
            sim.close();
        }
    }

    /** The next event of one of the codes within ms; others are kept in order in skipped. */
    private Ev next(long ms, List<Ev> skipped, int... codes) throws InterruptedException {
        long end = System.currentTimeMillis() + ms;
        for (long left = ms; left > 0; left = end - System.currentTimeMillis()) {
            Ev e = events.poll(left, TimeUnit.MILLISECONDS);
            if (e == null) {
                return null;
            }
            for (int c : codes) {
                if (e.code == c) {
                    return e;
                }
            }
            if (skipped != null) {
                skipped.add(e);
            }
        }
        return null;
    }

    private static ByteBuffer anyFilter() {
        return KyrDirEntryStruct.filter(null, 0, null, null, null, null);
    }

    private long serverRecord(String id) throws Exception {
        for (String h : sim.first("handles DirSrvr").substring("handles".length()).trim().split(" ")) {
            if (sim.record("DirSrvr", Long.parseLong(h)).contains("\"id\":\"" + id + "\"")) {
                return Long.parseLong(h);
            }
        }
        return 0;
    }

    @Test
    public void twoPagesThenTheEndCallBackTwiceAndCompleteWithTheSameParams() throws Exception {
        DirectorySubSystemInterface.SearchParams p =
                new DirectorySubSystemInterface.SearchParams("ldap-1", -1, 0, 64, null);
        dir.search(p, anyFilter());
        assertEquals(2, dir.firsts.size());
        assertEquals(dir.listHandles.get(0), dir.listHandles.get(1));
        assertSame(p, dir.params.get(0));
        assertSame(p, dir.params.get(1));
        assertEquals(100, dir.entries.size());
        assertEquals("ldap-1:001", dir.entries.get(0).id);
        assertEquals("ldap-1:100", dir.entries.get(99).id);
        assertEquals(2, p.pages());
        assertEquals(100, p.entries());
        Ev done = next(WAIT, null, KyrEvents.EVENT_DIR_SEARCH_DONE);
        assertNotNull("no completion event", done);
        assertSame("the completion carries the search's own object", p, done.obj);
        assertTrue(p.isDone());
        assertEquals(1, sim.count("csDirSrvrListStop"));
        assertNull("the nodes were released by the callback",
                KyrDirEntryStruct.newDirectByteBuffer(dir.firsts.get(0), KyrDirEntryStructLayout.SIZE));
    }

    @Test
    public void twoSearchesOnTwoThreadsKeepTheirOwnPages() throws Exception {
        Recording other = new Recording();
        DirectorySubSystemInterface.SearchParams a =
                new DirectorySubSystemInterface.SearchParams("ldap-1", -1, 0, 7, null);
        DirectorySubSystemInterface.SearchParams b =
                new DirectorySubSystemInterface.SearchParams("local-1", -1, 0, 5, null);
        Thread t = new Thread(() -> other.search(b, anyFilter()), "second-search");
        t.start();
        dir.search(a, anyFilter());
        t.join(WAIT);
        assertFalse(t.isAlive());
        assertEquals(100, dir.entries.size());
        assertEquals(121, other.entries.size());
        for (KyrDirEntryStruct e : dir.entries) {
            assertTrue(e.id, e.id.startsWith("ldap-1:"));
        }
        for (KyrDirEntryStruct e : other.entries) {
            assertTrue(e.id, e.id.startsWith("local-1:"));
        }
        for (DirectorySubSystemInterface.SearchParams p : dir.params) {
            assertSame(a, p);
        }
        for (DirectorySubSystemInterface.SearchParams p : other.params) {
            assertSame(b, p);
        }
        List<Object> done = new ArrayList<>();
        for (int i = 0; i < 2; i++) {
            Ev e = next(WAIT, null, KyrEvents.EVENT_DIR_SEARCH_DONE);
            assertNotNull(e);
            done.add(e.obj);
        }
        assertTrue(done.contains(a) && done.contains(b));
    }

    @Test
    public void aSearchWithAListenerGetsThePagesAsObjects() throws Exception {
        List<String> names = new ArrayList<>();
        List<Integer> sizes = new ArrayList<>();
        DirectorySubSystemInterface.SearchParams p = dir.search("local-1",
                KyrDirEntryStruct.filter(null, 0, null, null, "Ada", null), 0, 2, (page, params) -> {
                    sizes.add(page.size());
                    for (KyrDirEntryStruct e : page) {
                        names.add(e.fullName);
                    }
                });
        assertEquals("Ada appears with each of six last names", 6, names.size());
        assertEquals(List.of(2, 2, 2), sizes);
        assertEquals("Ada Alvarez", names.get(0));
        assertNotNull(next(WAIT, null, KyrEvents.EVENT_DIR_SEARCH_DONE));
        assertTrue(p.isDone());
    }

    @Test
    public void aListenerThatThrowsEndsTheSearchWithoutCompletion() throws Exception {
        DirectorySubSystemInterface.SearchParams p = new DirectorySubSystemInterface.SearchParams("ldap-1", -1, 0,
                10, (page, params) -> {
                    throw new IllegalStateException("listener failure on purpose");
                });
        dir.search(p, anyFilter());
        assertEquals("no page after the failing one", 1, dir.firsts.size());
        assertEquals(1, sim.count("csDirListGet"));
        assertEquals(1, sim.count("csDirSrvrListStop"));
        assertNull(next(500, null, KyrEvents.EVENT_DIR_SEARCH_DONE));
        assertNull("the page was released before the listener ran",
                KyrDirEntryStruct.newDirectByteBuffer(dir.firsts.get(0), KyrDirEntryStructLayout.SIZE));
    }

    @Test
    public void anUnknownServerDoesNothing() throws Exception {
        DirectorySubSystemInterface.SearchParams p = dir.search("ldap-9", anyFilter(), 0, 64, null);
        assertTrue(dir.firsts.isEmpty());
        assertEquals(0, sim.count("csDirSrvrListStart"));
        assertNull(next(500, null, KyrEvents.EVENT_DIR_SEARCH_DONE));
        assertFalse(p.isDone());
        dir.search(new DirectorySubSystemInterface.SearchParams("ldap-1", -1, 0, 64, null), null);
        dir.search(new DirectorySubSystemInterface.SearchParams("ldap-1", -1, 0, 64, null), ByteBuffer.allocate(9000));
        dir.search(new DirectorySubSystemInterface.SearchParams("ldap-1", -1, 0, 64, null), ByteBuffer.allocateDirect(100));
        assertEquals("no filter, no search", 0, sim.count("csDirSrvrListStart"));
    }

    @Test
    public void aCodecSendingEmptyPagesForEverIsGivenUp() throws Exception {
        sim.merge("DirSrvr", serverRecord("ldap-1"), "{\"simEmptyPages\":1}");
        long t0 = System.currentTimeMillis();
        DirectorySubSystemInterface.SearchParams p = dir.search("ldap-1", anyFilter(), 0, 64, null);
        long took = System.currentTimeMillis() - t0;
        assertTrue("took " + took + " ms", took < 30000);
        assertTrue(dir.firsts.isEmpty());
        assertEquals(100, sim.count("csDirListGet"));
        assertEquals(1, sim.count("csDirSrvrListStop"));
        assertNull(next(500, null, KyrEvents.EVENT_DIR_SEARCH_DONE));
        assertFalse(p.isDone());
    }

    @Test
    public void entryEventsOnlyForAnOnlineKnownServer() throws Exception {
        // gds-1 goes to status 3 first; its settings event shows the table has it.
        long gds = serverRecord("gds-1");
        sim.merge("DirSrvr", gds, "{\"status\":3}");
        assertEquals(1, sim.notify("csDirSrvrChangedCB", 0x2, gds));
        Ev settings = next(WAIT, null, KyrEvents.EVENT_DIR_SETTINGS_CHANGED);
        assertNotNull(settings);
        dir.releaseSettings(settings.value1);
        assertEquals(3, dir.getServers(0x2).get(0).status);
        long offline = sim.merge("DirEnt", 0, "{\"id\":\"gds-1:9\"}");
        long nowhere = sim.merge("DirEnt", 0, "{\"id\":\"nowhere:1\"}");
        long online = sim.merge("DirEnt", 0, "{\"id\":\"ldap-1:777\"}");
        assertEquals(1, sim.notify("csDirEntAddedCB", 0, offline));
        assertEquals(1, sim.notify("csDirEntChangedCB", 0, nowhere));
        assertEquals(1, sim.notify("csDirEntRemovedCB", 0, online));
        Ev e = next(WAIT, null, KyrEvents.EVENT_DIR_ENTRY_ADDED, KyrEvents.EVENT_DIR_ENTRY_CHANGED,
                KyrEvents.EVENT_DIR_ENTRY_REMOVED);
        assertNotNull(e);
        assertEquals("the first entry event is the online server's", KyrEvents.EVENT_DIR_ENTRY_REMOVED, e.code);
        DirEntryChangedStruct c = dir.readEntryChanged(e.value1);
        assertEquals("ldap-1", c.serverId);
        assertEquals("ldap-1:777", c.entryId);
        assertNull("read and released", DirEntryChangedStruct.read(e.value1));
    }

    @Test
    public void comingOnlineWithNewContentsPostsStatusModifiedSettingsInOrder() throws Exception {
        long h = serverRecord("presence-1");
        sim.merge("DirSrvr", h, "{\"status\":6,\"lastModifiedTime\":1800000000}");
        assertEquals(1, sim.notify("csDirSrvrChangedCB", 0x2 | 0x20000, h));
        Ev status = next(WAIT, null, KyrEvents.EVENT_DIR_SERVER_STATUS_CHANGED);
        Ev modified = next(WAIT, null, KyrEvents.EVENT_DIR_SERVER_MODIFIED, KyrEvents.EVENT_DIR_SETTINGS_CHANGED);
        Ev settings = next(WAIT, null, KyrEvents.EVENT_DIR_SETTINGS_CHANGED, KyrEvents.EVENT_DIR_SERVER_MODIFIED);
        assertNotNull(status);
        assertNotNull(modified);
        assertEquals("the modified event follows the status event", KyrEvents.EVENT_DIR_SERVER_MODIFIED, modified.code);
        assertNotNull(settings);
        assertEquals("the settings event comes last", KyrEvents.EVENT_DIR_SETTINGS_CHANGED, settings.code);
        assertEquals("both server events carry the one node", status.value1, modified.value1);
        assertEquals("presence-1", status.server.id);
        assertEquals(6, status.server.status);
        assertEquals(1800000000, status.server.lastModifiedTime);
        dir.releaseServers(status.value1);
        dir.releaseServers(modified.value1);
        dir.releaseSettings(settings.value1);
        assertTrue("the table took the new record", dir.getServers(0x8).get(0).isOnline());
    }

    @Test
    public void maskFivelistsProtocolOneBeforeProtocolThree() {
        List<KyrDirServerStruct> s = dir.getServers(0x5);
        assertEquals(2, s.size());
        assertEquals("local-1", s.get(0).id);
        assertEquals(1, s.get(0).protocol);
        assertEquals("ldap-1", s.get(1).id);
        assertEquals(3, s.get(1).protocol);
        assertEquals(389, s.get(1).port);
        assertEquals("dc=example,dc=test", s.get(1).authBaseDN);
        assertEquals(2, dir.getNumberServers(0x5));
        assertTrue(dir.getServers(0).isEmpty());
        DirectorySystemStruct sys = dir.getDirectorySystem();
        assertNotNull(sys);
        assertEquals(8, sys.maxSrvrs);
    }

    @Test
    public void dialingAnEntryWithNoAddressesSendsNothing() throws Exception {
        assertEquals(-1, dir.NativeDirectoryDialEntry(DirAddressListStruct.build("Nobody", new int[0], new String[0])));
        assertEquals(-1, dir.NativeDirectoryDialEntry(null));
        assertEquals(-1, dir.NativeDirectoryDialEntry(ByteBuffer.allocateDirect(100)));
        assertEquals(-1, dir.NativeDirectoryDialGroup(DirAddressListArrayStruct.build(new ArrayList<>())));
        assertEquals(0, sim.count("csConfTermDialList") + sim.count("csConfTermDialListArray"));

        KyrDirEntryStruct e = dir.getEntry("local-1", "local-1:012");
        assertNotNull(e);
        assertEquals(0, dir.dialEntry(e, 0));
        assertEquals(1, sim.count("csConfTermDialList"));
        String sent = sim.requests("csConfTermDialList").get(0);
        assertTrue(sent, sent.contains("\"listCount\":3"));
        assertTrue(sent, sent.contains("sip:lars.alvarez12@example.test"));
        assertTrue(sent, sent.contains("\"siteName\":\"Lars Alvarez\""));
        assertEquals(0, dir.dialGroup(List.of(e, dir.getEntry("ldap-1", "ldap-1:004"))));
        assertFalse("only each member's first device is dialled",
                sim.requests("csConfTermDialListArray").get(0).contains("room4.ldap-1@example.test"));
        assertTrue(sim.requests("csConfTermDialListArray").get(0).contains("\"listCount\":2"));
    }

    @Test
    public void everyFieldOfAResultNodeReadsBackAtItsOffset() throws Exception {
        dir.search(new DirectorySubSystemInterface.SearchParams("local-1", -1, 0, 64, null),
                KyrDirEntryStruct.filter("local-1:012", 0, null, null, null, null));
        assertEquals(1, dir.entries.size());
        KyrDirEntryStruct e = dir.entries.get(0);
        assertEquals(0, e.srvrInstance);
        assertEquals(1, e.srvrType);
        assertEquals(0, e.entryType);
        assertEquals("local-1:012", e.id);
        assertEquals("en_US", e.locale);
        assertEquals("Lars Alvarez", e.fullName);
        assertEquals("Lars Alvarez", e.displayName);
        assertEquals("Example", e.company);
        assertEquals("1 Main St", e.companyAddress);
        assertEquals("Sales", e.department);
        assertEquals("Manager", e.title);
        assertEquals("", e.manager);
        assertEquals("", e.assistant);
        assertEquals("lars.alvarez12@example.test", e.email);
        assertEquals("+1 555 1012", e.workTel);
        assertEquals("", e.faxTel);
        assertEquals("", e.mobileTel);
        assertEquals("", e.homeTel);
        assertEquals(2, e.videoDevices.size());
        KyrDirEntryStruct.VideoDevice d = e.videoDevices.get(0);
        assertEquals("Lars Alvarez desk", d.name);
        assertEquals(1920, d.rate);
        assertEquals(List.of("sip:lars.alvarez12@example.test", "10.1.0.22", "+1 555 1012"), d.addresses);
        assertEquals(1, d.presence);
        assertEquals(0, d.presenceProt);
        assertEquals("local-1:012/desk", d.id);
        KyrDirEntryStruct.VideoDevice room = e.videoDevices.get(1);
        assertEquals(4096, room.rate);
        assertEquals(List.of("room12.local-1@example.test"), room.addresses);
        assertEquals("", e.webAddress);
        assertEquals("UTC", e.timeZone);
        assertEquals(1920, e.rate);
        assertEquals("Lars", e.firstName);
        assertEquals("Alvarez", e.lastName);
        assertEquals(1, e.presence);
        // The raw node: link 0 at the end, and the counts where the layout says.
        ByteBuffer raw = dir.firstNode;
        assertEquals(0, raw.getInt(KyrDirEntryStructLayout.NEXT_OFFSET));
        assertEquals(2, raw.getInt(KyrDirEntryStructLayout.VIDEO_DEVICE_COUNT_OFFSET));
        assertEquals(3, raw.getInt(KyrDirEntryStructLayout.VIDEO_DEVICE_OFFSET + DirVideoDeviceStructLayout.ADDR_COUNT_OFFSET));
        for (int i = KyrDirEntryStructLayout.VIDEO_DEVICE_OFFSET + 2 * DirVideoDeviceStructLayout.SIZE;
                i < KyrDirEntryStructLayout.WEB_ADDRESS_OFFSET; i++) {
            assertEquals("byte " + i + " of an unused device", 0, raw.get(i));
        }
    }
}
