package quorvex.kyrconnectservice.session;

import quorvex.kyrconnectservice.CalendarSubSystemInterface.Meeting;
import quorvex.kyrconnectservice.CalendarSubSystemInterface.Server;

/** A calendar change: a meeting, the calendar server, or the calendar itself. */
public final class MeetingEvent {
    /** What changed. */
    public enum Kind {
        ADDED, REMOVED, CHANGED,
        /** The calendar server: {@link #server}. */
        SERVER_CHANGED,
        /** The calendar: {@link #maxServers}, {@link #numServers}. */
        CALENDAR_CHANGED
    }

    public final Kind kind;
    /** The meeting for ADDED, REMOVED and CHANGED (null if unreadable). */
    public final Meeting meeting;
    /** The server for SERVER_CHANGED (null if unreadable). */
    public final Server server;
    /** The change flags the codec reported. */
    public final int flags;
    public final int maxServers;
    public final int numServers;

    MeetingEvent(Kind kind, Meeting meeting, Server server, int flags, int[] calendar) {
        this.kind = kind;
        this.meeting = meeting;
        this.server = server;
        this.flags = flags;
        this.maxServers = calendar == null ? 0 : calendar[0];
        this.numServers = calendar == null ? 0 : calendar[1];
    }

    @Override
    public String toString() {
        return "meeting " + kind + (meeting != null ? " " + meeting : "") + (server != null ? " server " + server.address : "");
    }
}
