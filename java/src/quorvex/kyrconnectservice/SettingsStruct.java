package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;

/**
 * One element of a key/value settings list as the library lays it out:
 * a 4-byte link (the handle of the next element, 0 at the end), a 256-byte
 * name and a 256-byte value, both NUL-terminated. Java reads it in place.
 */
public final class SettingsStruct {
    /** Offset of the link word (the next element's handle, 0 at the end). */
    public static final int NEXT_OFFSET = SettingsStructLayout.NEXT_OFFSET;
    /** Offset of the NUL-terminated key. */
    public static final int NAME_OFFSET = SettingsStructLayout.NAME_OFFSET;
    /** Offset of the NUL-terminated value. */
    public static final int VALUE_OFFSET = SettingsStructLayout.VALUE_OFFSET;
    /** Bytes of each text field, terminator included. */
    public static final int TEXT_SIZE = SettingsStructLayout.NAME_LENGTH;
    /** Bytes of one element. */
    public static final int SIZE = SettingsStructLayout.SIZE;

    private SettingsStruct() {
    }

    /**
     * A direct buffer over the native block named by handle, or null when the
     * handle names nothing or the block is smaller than capacity.
     */
    public static native ByteBuffer newDirectByteBuffer(long handle, long capacity);

    /** The element named by handle, in native byte order, or null. */
    public static ByteBuffer wrap(int handle) {
        ByteBuffer b = newDirectByteBuffer(handle, SIZE);
        return b == null ? null : b.order(ByteOrder.nativeOrder());
    }

    public static int next(ByteBuffer element) {
        return element.getInt(NEXT_OFFSET);
    }

    public static String name(ByteBuffer element) {
        return text(element, NAME_OFFSET);
    }

    public static String value(ByteBuffer element) {
        return text(element, VALUE_OFFSET);
    }

    static String text(ByteBuffer b, int offset) {
        int n = 0;
        while (n < TEXT_SIZE && b.get(offset + n) != 0) {
            n++;
        }
        byte[] bytes = new byte[n];
        for (int i = 0; i < n; i++) {
            bytes[i] = b.get(offset + i);
        }
        return new String(bytes, StandardCharsets.UTF_8);
    }
}
