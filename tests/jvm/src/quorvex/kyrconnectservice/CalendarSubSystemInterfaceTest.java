package quorvex.kyrconnectservice;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;

import java.nio.ByteBuffer;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicInteger;

import org.junit.AfterClass;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;

/** The calendar interface on a real JVM against the codec simulator. */
public class CalendarSubSystemInterfaceTest {
    private static MediaSession s;
    private static CalendarSubSystemInterface cal;

    @BeforeClass
    public static void connect() throws Exception {
        s = new MediaSession("CalSrvr");
        cal = new CalendarSubSystemInterface(s.svc);
    }

    @AfterClass
    public static void disconnect() {
        if (s != null) {
            s.close();
        }
    }

    @Before
    public void reset() throws Exception {
        s.reset();
    }

    @Test
    public void anotherProtocolGivesNothingWithoutARequest() throws Exception {
        assertEquals(0, cal.NativeGetServer(2));
        assertEquals(0, cal.NativeGetMeetings(2, 0, Integer.MAX_VALUE));
        assertEquals(0, s.sim.count("csCalGet"));
        assertEquals(0, s.sim.count("csCalSrvrGet"));
    }

    @Test
    public void serverIsReadAsAnObject() throws Exception {
        CalendarSubSystemInterface.Server srv = cal.getServer();
        assertNotNull(srv);
        assertTrue(srv.isOnline());
        assertEquals("mail.example.test", srv.address);
        assertEquals(1, srv.protocol);
        assertEquals("room1@example.test", srv.userEmail);
        long h = cal.NativeGetServers();
        assertTrue(h > 0);
        ByteBuffer n = CalendarServerInfoStruct.wrap(h);
        assertEquals(0, n.getInt(CalendarServerInfoStructLayout.NEXT_OFFSET));
        cal.NativeCalendarServerInfoRelease(h);
        assertNull("released", CalendarServerInfoStruct.wrap(h));
    }

    @Test
    public void serverNotOnlineListsNothingAndOpensNoList() throws Exception {
        s.sim.merge("CalSrvr", s.handles("CalSrvr")[0], "{\"status\":3}");
        assertTrue(cal.getMeetings(0, 0xFFFFFFFFL).isEmpty());
        assertNull(cal.getMeeting("mtg-1"));
        assertEquals(0, s.sim.count("csCalSrvrListStart"));
        assertEquals(0, s.sim.count("csCalMeetingGet"));
    }

    @Test
    public void chunksOf64And64And10GiveAllMeetingsInOrderAndTheListIsClosed() throws Exception {
        long srv = s.handles("CalSrvr")[0];
        long base = 1_900_000_000L;
        for (int i = 0; i < 138; i++) {
            s.sim.merge("CalMeeting", 0, String.format(
                    "{\"parentHandle\":%d,\"srvrType\":1,\"id\":\"bulk-%03d\",\"subject\":\"Bulk %d\","
                    + "\"startTime\":%d,\"endTime\":%d}", srv, i, i, base + i * 60, base + i * 60 + 30));
        }
        List<CalendarSubSystemInterface.Meeting> got = cal.getMeetings(base, base + 138 * 60);
        assertEquals(138, got.size());
        for (int i = 0; i < 138; i++) {
            assertEquals(String.format("bulk-%03d", i), got.get(i).id);
            assertEquals(base + i * 60, got.get(i).startTime);
        }
        assertEquals("three chunks and the end", 4, s.sim.count("csCalListGet"));
        assertEquals(1, s.sim.count("csCalSrvrListStart"));
        assertEquals(1, s.sim.count("csCalSrvrListStop"));
        String start = s.sent("csCalSrvrListStart").get(0);
        assertTrue(start, start.contains("\"totalMeetings\":64"));
        assertTrue(start, start.contains("\"startTime\":" + base));
    }

    @Test
    public void todaysMeetingsOfTheWeek() throws Exception {
        long now = System.currentTimeMillis() / 1000;
        long today = now - now % 86400;
        List<CalendarSubSystemInterface.Meeting> got = cal.getMeetings(today, today + 86400);
        List<String> subjects = new ArrayList<>();
        for (CalendarSubSystemInterface.Meeting m : got) {
            subjects.add(m.subject);
        }
        assertEquals(List.of("Stand-up", "Design review", "Customer call", "Weekly planning"), subjects);
        assertEquals(28, cal.getMeetings(today, today + 7 * 86400).size());
        CalendarSubSystemInterface.Meeting one = cal.getMeeting(got.get(1).id);
        assertNotNull(one);
        assertEquals("Design review", one.subject);
    }

    @Test
    public void meetingAddedPostsAnOwnedNodeOfTheRecord() throws Exception {
        long[] meetings = s.handles("CalMeeting");
        long h = meetings[1];
        assertEquals(1, s.sim.notify("csCalMeetingAddedCB", 5, h));
        Recorder.Event e = s.next(KyrEvents.EVENT_CAL_MEETING_ADDED, MediaSession.WAIT);
        assertNotNull(e);
        assertEquals(5, e.value2);
        ByteBuffer n = CalendarMeetingInfoStruct.wrap(e.value1);
        assertNotNull("the node outlives the event", n);
        assertEquals(1880, CalendarMeetingInfoStructLayout.SIZE);
        assertNull("exactly 1880 bytes", CalendarMeetingInfoStruct.newDirectByteBuffer(e.value1, 1881));
        byte[] link = new byte[4];
        n.get(0, link);
        assertArrayEquals(new byte[4], link);
        assertEquals("mtg-2", SettingsStruct.text(n, CalendarMeetingInfoStructLayout.ID_OFFSET, 257));
        assertEquals("Meeting 2", SettingsStruct.text(n, CalendarMeetingInfoStructLayout.SUBJECT_OFFSET, 129));
        assertEquals(1700000000 + 2 * 3600, n.getInt(CalendarMeetingInfoStructLayout.START_TIME_OFFSET));
        assertEquals("organizer@example.test",
                SettingsStruct.text(n, CalendarMeetingInfoStructLayout.ORGANIZER_OFFSET, 129));
        CalendarSubSystemInterface.Meeting m = cal.takeEventMeeting(e.value1);
        assertEquals("mtg-2", m.id);
        assertNull("released by take", CalendarMeetingInfoStruct.wrap(e.value1));

        assertEquals(1, s.sim.notify("csCalMeetingRemovedCB", 0, h));
        assertNotNull(s.next(KyrEvents.EVENT_CAL_MEETING_REMOVED, MediaSession.WAIT));
        assertEquals(1, s.sim.notify("csCalMeetingChangedCB", 0, h));
        Recorder.Event c = s.next(KyrEvents.EVENT_CAL_MEETING_CHANGED, MediaSession.WAIT);
        assertNotNull(c);
        cal.NativeCalendarMeetingInfoRelease(c.value1);
    }

    @Test
    public void serverNotificationPostsTheSettingsListFirst() throws Exception {
        assertEquals(1, s.sim.notify("csCalSrvrChangedCB", 0x2, 0));
        List<Recorder.Event> got = new ArrayList<>();
        long end = System.currentTimeMillis() + MediaSession.WAIT;
        while (got.size() < 2 && System.currentTimeMillis() < end) {
            for (Recorder.Event e : s.drain(50)) {
                if (e.code == KyrEvents.EVENT_CAL_SETTINGS_CHANGED || e.code == KyrEvents.EVENT_CAL_SERVER_CHANGED) {
                    got.add(e);
                }
            }
        }
        assertEquals(2, got.size());
        assertEquals(KyrEvents.EVENT_CAL_SETTINGS_CHANGED, got.get(0).code);
        assertEquals(0, got.get(0).value2);
        cal.takeEventSettings(got.get(0).value1);
        assertEquals(KyrEvents.EVENT_CAL_SERVER_CHANGED, got.get(1).code);
        assertEquals(0x2, got.get(1).value2);
        CalendarSubSystemInterface.Server srv = cal.takeEventServer(got.get(1).value1);
        assertNotNull(srv);
        assertEquals("mail.example.test", srv.address);
    }

    @Test
    public void calendarRecordIsReadableOnlyWhileItsEventIsDelivered() throws Exception {
        AtomicInteger during = new AtomicInteger(-1);
        s.during = e -> {
            if (e.code == KyrEvents.EVENT_CAL_CHANGED && e.value2 == 0x11) {
                int[] c = CalendarSubSystemInterface.readEventCalendar(e.value1);
                during.set(c == null ? -2 : c[0] * 10 + c[1]);
            }
        };
        assertEquals(1, s.sim.notify("csCalChangedCB", 0x11, 0));
        Recorder.Event e = s.next(KyrEvents.EVENT_CAL_CHANGED, x -> x.value2 == 0x11, MediaSession.WAIT);
        assertNotNull(e);
        assertEquals("maxSrvrs and numSrvrs of the calendar record", 11, during.get());
        // The listener returned a moment before the library lets go of the record.
        long end = System.currentTimeMillis() + MediaSession.WAIT;
        while (CalendarSubSystemInterface.readEventCalendar(e.value1) != null && System.currentTimeMillis() < end) {
            Thread.sleep(5);
        }
        assertNull("gone after the event", CalendarSubSystemInterface.readEventCalendar(e.value1));
        assertFalse(e.value1 == 0);
    }
}
