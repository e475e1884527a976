package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;

/**
 * The addresses of one far site to dial together (at most ten), written by
 * Java into a direct buffer the library reads.
 */
public final class DirAddressListStruct {
    /** Most addresses one list carries. */
    public static final int MAX_ADDRESSES = DirAddressListStructLayout.ENTRIES_LENGTH;

    private DirAddressListStruct() {
    }

    /**
     * A direct buffer over a native block, or null (the generic accessor of
     * every struct class).
     *
     * @param handle a handle the library returned
     * @param capacity bytes to view
     * @return the buffer, or null
     */
    public static native ByteBuffer newDirectByteBuffer(long handle, long capacity);

    /**
     * Builds the structure. Texts are cut to their fields (at a character
     * boundary) and terminated.
     *
     * @param siteName the far site's name
     * @param rates the rate of each address
     * @param addresses the addresses, as many as rates; the count written is
     *     their number even when it is outside 1..10, so the library can refuse it
     * @return a direct buffer in native byte order
     */
    public static ByteBuffer build(String siteName, int[] rates, String[] addresses) {
        if (rates.length != addresses.length) {
            throw new IllegalArgumentException("one rate per address");
        }
        ByteBuffer b = ByteBuffer.allocateDirect(DirAddressListStructLayout.SIZE).order(ByteOrder.nativeOrder());
        b.putInt(DirAddressListStructLayout.COUNT_OFFSET, addresses.length);
        for (int i = 0; i < addresses.length && i < MAX_ADDRESSES; i++) {
            int at = DirAddressListStructLayout.ENTRIES_OFFSET + i * DirAddressEntryStructLayout.SIZE;
            b.putInt(at + DirAddressEntryStructLayout.RATE_OFFSET, rates[i]);
            putText(b, at + DirAddressEntryStructLayout.ADDRESS_OFFSET, DirAddressEntryStructLayout.ADDRESS_LENGTH,
                    addresses[i]);
        }
        putText(b, DirAddressListStructLayout.SITE_NAME_OFFSET, DirAddressListStructLayout.SITE_NAME_LENGTH,
                siteName);
        return b;
    }

    /** Writes text cut at a character boundary to fit its field with the terminator; shared by the struct classes. */
    static void putText(ByteBuffer b, int offset, int length, String text) {
        byte[] bytes = (text == null ? "" : text).getBytes(StandardCharsets.UTF_8);
        int n = Math.min(bytes.length, length - 1);
        while (n > 0 && n < bytes.length && (bytes[n] & 0xC0) == 0x80) {
            n--;
        }
        for (int i = 0; i < n; i++) {
            b.put(offset + i, bytes[i]);
        }
        b.put(offset + n, (byte) 0);
    }
}
