package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;

/**
 * One calendar server node as the library lays it out (see
 * {@link CalendarServerInfoStructLayout}): a link word, then the server
 * record. Java reads it in place and gives the list back for release.
 */
public final class CalendarServerInfoStruct {
    private CalendarServerInfoStruct() {
    }

    /**
     * A direct buffer over the native block named by handle, or null when the
     * handle names nothing or the block is smaller than capacity.
     */
    public static native ByteBuffer newDirectByteBuffer(long handle, long capacity);

    /** The node named by handle, in native byte order, or null. */
    public static ByteBuffer wrap(long handle) {
        return StructChain.view(CalendarServerInfoStruct::newDirectByteBuffer, handle,
                CalendarServerInfoStructLayout.SIZE);
    }

    /** The server a node describes (the password is left out). */
    public static CalendarSubSystemInterface.Server read(ByteBuffer n) {
        return new CalendarSubSystemInterface.Server(
                n.getInt(CalendarServerInfoStructLayout.ENABLED_OFFSET) != 0,
                n.getInt(CalendarServerInfoStructLayout.STATUS_OFFSET),
                SettingsStruct.text(n, CalendarServerInfoStructLayout.ADDRESS_OFFSET,
                        CalendarServerInfoStructLayout.ADDRESS_LENGTH),
                n.getInt(CalendarServerInfoStructLayout.PROTOCOL_OFFSET),
                SettingsStruct.text(n, CalendarServerInfoStructLayout.USER_NAME_OFFSET,
                        CalendarServerInfoStructLayout.USER_NAME_LENGTH),
                SettingsStruct.text(n, CalendarServerInfoStructLayout.USER_DOMAIN_OFFSET,
                        CalendarServerInfoStructLayout.USER_DOMAIN_LENGTH),
                SettingsStruct.text(n, CalendarServerInfoStructLayout.USER_EMAIL_OFFSET,
                        CalendarServerInfoStructLayout.USER_EMAIL_LENGTH),
                n.getInt(CalendarServerInfoStructLayout.REMINDER_TIME_OFFSET),
                n.getInt(CalendarServerInfoStructLayout.PLAY_REMINDER_TONE_OFFSET) != 0,
                n.getInt(CalendarServerInfoStructLayout.SHOW_PRIVATE_MEETING_INFO_OFFSET) != 0);
    }
}
