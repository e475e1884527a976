package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.util.List;

/**
 * One meeting node as the library lays it out (see
 * {@link CalendarMeetingInfoStructLayout}): a link word holding the next
 * node's handle (0 for the last), then the meeting record.
 */
public final class CalendarMeetingInfoStruct {
    private CalendarMeetingInfoStruct() {
    }

    /**
     * A direct buffer over the native block named by handle, or null when the
     * handle names nothing or the block is smaller than capacity.
     */
    public static native ByteBuffer newDirectByteBuffer(long handle, long capacity);

    /** The node named by handle, in native byte order, or null. */
    public static ByteBuffer wrap(long handle) {
        return StructChain.view(CalendarMeetingInfoStruct::newDirectByteBuffer, handle,
                CalendarMeetingInfoStructLayout.SIZE);
    }

    /** The handle of the node after n, 0 at the end. */
    public static int next(ByteBuffer n) {
        return n.getInt(CalendarMeetingInfoStructLayout.NEXT_OFFSET);
    }

    private static String text(ByteBuffer n, int offset, int length) {
        return SettingsStruct.text(n, offset, length);
    }

    /** The meeting a node describes (its passwords are left out). */
    public static CalendarSubSystemInterface.Meeting read(ByteBuffer n) {
        return new CalendarSubSystemInterface.Meeting(
                text(n, CalendarMeetingInfoStructLayout.ID_OFFSET, CalendarMeetingInfoStructLayout.ID_LENGTH),
                text(n, CalendarMeetingInfoStructLayout.SUBJECT_OFFSET,
                        CalendarMeetingInfoStructLayout.SUBJECT_LENGTH),
                text(n, CalendarMeetingInfoStructLayout.LOCATION_OFFSET,
                        CalendarMeetingInfoStructLayout.LOCATION_LENGTH),
                n.getInt(CalendarMeetingInfoStructLayout.START_TIME_OFFSET) & 0xFFFFFFFFL,
                n.getInt(CalendarMeetingInfoStructLayout.END_TIME_OFFSET) & 0xFFFFFFFFL,
                n.getInt(CalendarMeetingInfoStructLayout.STATUS_OFFSET),
                n.getInt(CalendarMeetingInfoStructLayout.PRIVACY_OFFSET),
                text(n, CalendarMeetingInfoStructLayout.ORGANIZER_OFFSET,
                        CalendarMeetingInfoStructLayout.ORGANIZER_LENGTH),
                text(n, CalendarMeetingInfoStructLayout.VIDEO_ADDR1_OFFSET,
                        CalendarMeetingInfoStructLayout.VIDEO_ADDR1_LENGTH),
                text(n, CalendarMeetingInfoStructLayout.AUDIO_ADDR1_OFFSET,
                        CalendarMeetingInfoStructLayout.AUDIO_ADDR1_LENGTH),
                n.getInt(CalendarMeetingInfoStructLayout.TIME_UNTIL_MEETING_OFFSET));
    }

    /** Every meeting of the list starting at head, in list order (the list stays native). */
    public static List<CalendarSubSystemInterface.Meeting> readList(long head) {
        return StructChain.read(head, CalendarMeetingInfoStructLayout.SIZE, CalendarMeetingInfoStruct::newDirectByteBuffer,
                CalendarMeetingInfoStruct::read);
    }
}
