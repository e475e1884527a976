package quorvex.kyrconnectservice.session;

import java.util.List;
import java.util.concurrent.CompletableFuture;

import quorvex.kyrconnectservice.CalendarSubSystemInterface.Meeting;
import quorvex.kyrconnectservice.CalendarSubSystemInterface.Server;

/** The codec's calendar, through a {@link KyrSession}. Every method returns at once. */
public final class CalendarOps {
    private final KyrSession s;

    CalendarOps(KyrSession s) {
        this.s = s;
    }

    /** The calendaring server. */
    public CompletableFuture<Server> server() {
        return s.call("calendarServer", n -> Results.orFailure(n, "calendarServer", n.calendar.getServer()));
    }

    /** The meetings overlapping start..end (the codec's seconds since 1970). */
    public CompletableFuture<List<Meeting>> meetings(long start, long end) {
        return s.call("meetings", n -> List.copyOf(n.calendar.getMeetings(start, end)));
    }
}
