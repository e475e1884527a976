package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.util.List;
import java.util.Map;

/**
 * The codec's calendar: its calendaring server and the meetings it knows.
 *
 * <p>Only calendar protocol 1 ({@link #PROTOCOL}) is served. Meetings can be
 * read while the server's status is {@link #STATUS_ONLINE}. Every method
 * talks to the codec on the calling thread; call them off the UI thread.
 *
 * <p>Calendar changes arrive as events: {@code EVENT_CAL_MEETING_ADDED},
 * {@code _REMOVED} and {@code _CHANGED} carry a meeting node in value1 (read
 * it with {@link #takeEventMeeting}), {@code EVENT_CAL_SERVER_CHANGED} a
 * server node ({@link #takeEventServer}), and {@code EVENT_CAL_SETTINGS_CHANGED}
 * a settings list ({@link #takeEventSettings}).
 */
public class CalendarSubSystemInterface {
    /** The calendar protocol the library serves. */
    public static final int PROTOCOL = 1;
    /** The server status in which meetings can be read. */
    public static final int STATUS_ONLINE = 6;

    /** A calendaring server as the codec describes it. */
    public static final class Server {
        public final boolean enabled;
        public final int status;
        public final String address;
        public final int protocol;
        public final String userName;
        public final String userDomain;
        public final String userEmail;
        public final int reminderTime;
        public final boolean playReminderTone;
        public final boolean showPrivateMeetingInfo;

        Server(boolean enabled, int status, String address, int protocol, String userName, String userDomain,
               String userEmail, int reminderTime, boolean playReminderTone, boolean showPrivateMeetingInfo) {
            this.enabled = enabled;
            this.status = status;
            this.address = address;
            this.protocol = protocol;
            this.userName = userName;
            this.userDomain = userDomain;
            this.userEmail = userEmail;
            this.reminderTime = reminderTime;
            this.playReminderTone = playReminderTone;
            this.showPrivateMeetingInfo = showPrivateMeetingInfo;
        }

        /** Whether meetings can be read now. */
        public boolean isOnline() {
            return status == STATUS_ONLINE;
        }
    }

    /** One meeting; times are the codec's seconds since 1970 (UTC). */
    public static final class Meeting {
        public final String id;
        public final String subject;
        public final String location;
        public final long startTime;
        public final long endTime;
        public final int status;
        public final int privacy;
        public final String organizer;
        public final String videoAddress;
        public final String audioAddress;
        public final int timeUntilMeeting;

        Meeting(String id, String subject, String location, long startTime, long endTime, int status, int privacy,
                String organizer, String videoAddress, String audioAddress, int timeUntilMeeting) {
            this.id = id;
            this.subject = subject;
            this.location = location;
            this.startTime = startTime;
            this.endTime = endTime;
            this.status = status;
            this.privacy = privacy;
            this.organizer = organizer;
            this.videoAddress = videoAddress;
            this.audioAddress = audioAddress;
            this.timeUntilMeeting = timeUntilMeeting;
        }

        @Override
        public String toString() {
            return subject + " [" + id + "] " + startTime + ".." + endTime + " in " + location;
        }
    }

    /**
     * The calendar of a service that was set up (its library is loaded).
     *
     * @param service the service whose connection is used
     */
    public CalendarSubSystemInterface(KyrConnectService service) {
        if (service == null) {
            throw new NullPointerException("service");
        }
    }

    /** The calendaring server, or null when the codec cannot say. */
    public Server getServer() {
        return takeServer(NativeGetServer(PROTOCOL));
    }

    /**
     * The meetings that overlap the window from start to end (the codec's
     * seconds since 1970), in the codec's order; empty when the server is
     * not online or the codec cannot list them.
     */
    public List<Meeting> getMeetings(long start, long end) {
        long head = NativeGetMeetings(PROTOCOL, start, end);
        try {
            return CalendarMeetingInfoStruct.readList(head);
        } finally {
            NativeCalendarMeetingInfoRelease(head);
        }
    }

    /** The meeting with that id, or null. */
    public Meeting getMeeting(String id) {
        return takeEventMeeting(NativeGetMeeting(PROTOCOL, id));
    }

    /** The calendar settings as key/value pairs, in list order ({@link SettingsUnavailableException} if unreadable). */
    public Map<String, String> getSettings() {
        long head = NativeGetCalendarSettings();
        return InterfaceSupport.takeList(head, "calendar", this::NativeCalendarSettingsRelease);
    }

    /** Changes one calendar setting: the codec's result (0 or more), or a negative code. */
    public int setSetting(String key, String value) {
        return NativeSetCalendarSettings(key, value);
    }

    /**
     * Reads and releases the meeting node an event carried (or a getter
     * returned); null for 0 or a handle that names nothing. Call it once per
     * event, from the listener.
     */
    public Meeting takeEventMeeting(long handle) {
        try {
            ByteBuffer n = CalendarMeetingInfoStruct.wrap(handle);
            return n == null ? null : CalendarMeetingInfoStruct.read(n);
        } finally {
            NativeCalendarMeetingInfoRelease(handle);
        }
    }

    /** Reads and releases the server node of {@code EVENT_CAL_SERVER_CHANGED}; null if none. */
    public Server takeEventServer(long handle) {
        return takeServer(handle);
    }

    /** Reads and releases the settings list of {@code EVENT_CAL_SETTINGS_CHANGED}. */
    public Map<String, String> takeEventSettings(long handle) {
        return InterfaceSupport.takeList(handle, "calendar update", this::NativeCalendarSettingsRelease);
    }

    /**
     * How many calendar servers the codec supports and has, {maxSrvrs,
     * numSrvrs}, from the record of {@code EVENT_CAL_CHANGED}; call it from
     * the listener while the event is delivered (null afterwards, or for a
     * handle that names nothing). Nothing needs releasing.
     */
    public static int[] readEventCalendar(int handle) {
        // Every struct class's buffer native serves any block the library handed out.
        ByteBuffer b = handle <= 0 ? null : CalendarServerInfoStruct.newDirectByteBuffer(handle, CalendarStructLayout.SIZE);
        if (b == null) {
            return null;
        }
        b.order(java.nio.ByteOrder.nativeOrder());
        return new int[] {b.getInt(CalendarStructLayout.MAX_SRVRS_OFFSET), b.getInt(CalendarStructLayout.NUM_SRVRS_OFFSET)};
    }

    private Server takeServer(long handle) {
        try {
            ByteBuffer n = CalendarServerInfoStruct.wrap(handle);
            return n == null ? null : CalendarServerInfoStruct.read(n);
        } finally {
            NativeCalendarServerInfoRelease(handle);
        }
    }

    // The library's entry points; handles are positive, 0 means none.
    native long NativeGetServer(int protocol);
    native long NativeGetServers();
    native long NativeGetMeeting(int protocol, String id);
    native long NativeGetMeetings(int protocol, long start, long end);
    native long NativeGetCalendarSettings();
    native int NativeSetCalendarSettings(String key, String value);
    native void NativeCalendarServerInfoRelease(long handle);
    native void NativeCalendarMeetingInfoRelease(long handle);
    native void NativeCalendarSettingsRelease(long handle);
}
