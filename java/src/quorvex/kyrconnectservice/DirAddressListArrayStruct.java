package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.List;

/**
 * The addresses of a whole group to dial at once: one
 * {@link DirAddressListStruct} per member (at most thirty), written by Java
 * into a direct buffer the library reads.
 */
public final class DirAddressListArrayStruct {
    /** Most lists (group members) one dial carries. */
    public static final int MAX_LISTS = DirAddressListArrayStructLayout.LISTS_LENGTH;

    private DirAddressListArrayStruct() {
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
     * Builds the structure from address lists made with
     * {@link DirAddressListStruct#build}. The count written is their number
     * even when it is outside 1..30, so the library can refuse it; lists
     * beyond the thirtieth are left out.
     *
     * @param lists one address list per member
     * @return a direct buffer in native byte order
     */
    public static ByteBuffer build(List<ByteBuffer> lists) {
        ByteBuffer b = ByteBuffer.allocateDirect(DirAddressListArrayStructLayout.SIZE).order(ByteOrder.nativeOrder());
        b.putInt(DirAddressListArrayStructLayout.COUNT_OFFSET, lists.size());
        for (int i = 0; i < lists.size() && i < MAX_LISTS; i++) {
            ByteBuffer one = lists.get(i);
            int at = DirAddressListArrayStructLayout.LISTS_OFFSET + i * DirAddressListStructLayout.SIZE;
            for (int k = 0; k < DirAddressListStructLayout.SIZE && k < one.capacity(); k++) {
                b.put(at + k, one.get(k));
            }
        }
        return b;
    }
}
