package quorvex.kyrconnectservice.demo;

import java.time.Instant;
import java.time.ZoneOffset;
import java.time.format.DateTimeFormatter;
import java.util.List;

import quorvex.kyrconnectservice.CalendarSubSystemInterface;

/** The room's calendar: the calendaring server and today's meetings. */
public final class CalendarScene implements DemoScene {
    private static final DateTimeFormatter HM = DateTimeFormatter.ofPattern("HH:mm").withZone(ZoneOffset.UTC);

    @Override
    public void run(DemoSession demo) throws Exception {
        CalendarSubSystemInterface cal = new CalendarSubSystemInterface(demo.service());
        CalendarSubSystemInterface.Server srv = cal.getServer();
        if (srv == null) {
            throw new IllegalStateException("the codec has no calendaring server");
        }
        DemoSession.say("calendar server %s for %s, %s", srv.address, srv.userEmail,
                srv.isOnline() ? "online" : "status " + srv.status);
        long now = System.currentTimeMillis() / 1000;
        long today = now - now % 86400;
        List<CalendarSubSystemInterface.Meeting> meetings = cal.getMeetings(today, today + 86400);
        DemoSession.say("today's meetings (UTC): %d", meetings.size());
        for (CalendarSubSystemInterface.Meeting m : meetings) {
            DemoSession.say("  %s-%s  %-16s %-11s dial %s", HM.format(Instant.ofEpochSecond(m.startTime)),
                    HM.format(Instant.ofEpochSecond(m.endTime)), m.subject, m.location, m.videoAddress);
        }
        if (meetings.isEmpty()) {
            throw new IllegalStateException("no meetings listed for today");
        }
    }
}
