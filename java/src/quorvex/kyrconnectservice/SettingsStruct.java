package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.util.LinkedHashMap;
import java.util.Map;

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
        return StructChain.view(SettingsStruct::newDirectByteBuffer, handle, SIZE);
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

    /**
     * Reads a whole settings list, in list order, into a map of key to value.
     * The list stays native: release it afterwards with the release method
     * of the interface it came from (whatever happens, in a finally block).
     * A head of 0 (an empty list) or a handle that names nothing gives an
     * empty map; a negative head is the library's failure value (the codec
     * did not give the page) and throws. Reading stops after {@code limit}
     * elements, so a damaged chain cannot loop for ever.
     *
     * @param head the list's handle as the library returned or posted it
     * @return the keys and values, in list order
     * @throws SettingsUnavailableException when head is a failure value
     */
    public static Map<String, String> readList(long head) {
        return readList(head, "settings");
    }

    /**
     * {@link #readList(long)} for a named page ("audio", "system", ...), which
     * the exception names when the page could not be read.
     */
    public static Map<String, String> readList(long head, String page) {
        if (head < 0) {
            throw new SettingsUnavailableException(page);
        }
        Map<String, String> out = new LinkedHashMap<>();
        for (Map.Entry<String, String> e : StructChain.read(head, SIZE, SettingsStruct::newDirectByteBuffer,
                b -> Map.entry(name(b), value(b)))) {
            out.put(e.getKey(), e.getValue());
        }
        return out;
    }

    /**
     * Reads a NUL-terminated UTF-8 text of at most {@code max} bytes at
     * {@code offset}; shared by the struct classes.
     */
    public static String text(ByteBuffer b, int offset, int max) {
        int n = 0;
        while (n < max && offset + n < b.capacity() && b.get(offset + n) != 0) {
            n++;
        }
        byte[] bytes = new byte[n];
        for (int i = 0; i < n; i++) {
            bytes[i] = b.get(offset + i);
        }
        return new String(bytes, StandardCharsets.UTF_8);
    }

    static String text(ByteBuffer b, int offset) {
        return text(b, offset, TEXT_SIZE);
    }
}
