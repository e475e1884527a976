package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;

/**
 * The list of far cameras as the library lays it out: 8-byte nodes (see
 * {@link KyrFarCameraListLayout}), each the next node's handle (0 for the
 * last) and one far camera's id.
 */
public final class KyrFarCameraList {
    private KyrFarCameraList() {
    }

    /** One node named by handle, in native byte order, or null. */
    public static ByteBuffer wrap(long handle) {
        // Every struct class's buffer native serves any block the library handed out.
        ByteBuffer b = handle <= 0 ? null : KyrCameraStruct.newDirectByteBuffer(handle, KyrFarCameraListLayout.SIZE);
        return b == null ? null : b.order(ByteOrder.nativeOrder());
    }

    /** The far camera ids of the list starting at head, in list order (the list stays native). */
    public static int[] readIds(long head) {
        int[] ids = new int[16];
        int n = 0;
        int limit = 100_000;
        for (long h = head; h > 0 && limit-- > 0; ) {
            ByteBuffer node = wrap(h);
            if (node == null) {
                break;
            }
            if (n == ids.length) {
                ids = java.util.Arrays.copyOf(ids, n * 2);
            }
            ids[n++] = node.getInt(KyrFarCameraListLayout.ID_OFFSET);
            h = node.getInt(KyrFarCameraListLayout.NEXT_OFFSET);
        }
        return java.util.Arrays.copyOf(ids, n);
    }
}
