package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;

/**
 * The description of one camera as the library lays it out (see
 * {@link KyrCameraStructLayout}). Java reads it in place and releases it with
 * {@code ContentSubSystemInterface}.
 */
public final class KyrCameraStruct {
    private KyrCameraStruct() {
    }

    /**
     * A direct buffer over the native block named by handle, or null when the
     * handle names nothing or the block is smaller than capacity.
     */
    public static native ByteBuffer newDirectByteBuffer(long handle, long capacity);

    /** The description named by handle, in native byte order, or null. */
    public static ByteBuffer wrap(long handle) {
        return StructChain.view(KyrCameraStruct::newDirectByteBuffer, handle, KyrCameraStructLayout.SIZE);
    }

    /** The camera a description holds. */
    public static ContentSubSystemInterface.Camera read(ByteBuffer c) {
        return new ContentSubSystemInterface.Camera(
                c.getInt(KyrCameraStructLayout.ID_OFFSET),
                SettingsStruct.text(c, KyrCameraStructLayout.USER_NAME_OFFSET, KyrCameraStructLayout.USER_NAME_LENGTH),
                c.get(KyrCameraStructLayout.IS_NEAR_CAMERA_OFFSET) != 0,
                c.get(KyrCameraStructLayout.SELECTED_PEOPLE_OFFSET) != 0,
                c.getInt(KyrCameraStructLayout.SELECTED_CONTENT_OFFSET) != 0,
                c.get(KyrCameraStructLayout.PORT_INDICATOR_OFFSET) & 0xFF,
                c.get(KyrCameraStructLayout.INSTANCE_OFFSET) & 0xFF,
                c.get(KyrCameraStructLayout.SOURCE_OFFSET) & 0xFF,
                c.get(KyrCameraStructLayout.ENABLED_OFFSET) != 0,
                c.getInt(KyrCameraStructLayout.CAPABILITIES_OFFSET),
                c.getInt(KyrCameraStructLayout.TRACKING_MODE_OFFSET));
    }
}
