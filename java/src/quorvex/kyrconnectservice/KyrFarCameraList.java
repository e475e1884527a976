package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;

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
        return StructChain.view(KyrCameraStruct::newDirectByteBuffer, handle, KyrFarCameraListLayout.SIZE);
    }

    /** The far camera ids of the list starting at head, in list order (the list stays native). */
    public static int[] readIds(long head) {
        return StructChain.read(head, KyrFarCameraListLayout.SIZE, KyrCameraStruct::newDirectByteBuffer,
                node -> node.getInt(KyrFarCameraListLayout.ID_OFFSET)).stream().mapToInt(Integer::intValue).toArray();
    }
}
