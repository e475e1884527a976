package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;

/** The codec's directory subsystem, read once from the native structure. */
public final class DirectorySystemStruct {
    /** Server instance. */
    public final int srvrInstance;
    /** The codec's handle. */
    public final int handle;
    /** Most directory servers the codec keeps. */
    public final int maxSrvrs;
    /** Capability bits. */
    public final int capabilities;
    /** The local availability shown to others. */
    public final int localAvailability;

    private DirectorySystemStruct(ByteBuffer b) {
        srvrInstance = b.getInt(DirectorySystemStructLayout.SRVR_INSTANCE_OFFSET);
        handle = b.getInt(DirectorySystemStructLayout.HANDLE_OFFSET);
        maxSrvrs = b.getInt(DirectorySystemStructLayout.MAX_SRVRS_OFFSET);
        capabilities = b.getInt(DirectorySystemStructLayout.CAPABILITIES_OFFSET);
        localAvailability = b.getInt(DirectorySystemStructLayout.LOCAL_AVAILABILITY_OFFSET);
    }

    /**
     * A direct buffer over the native block named by handle, or null.
     *
     * @param handle a handle the library returned or posted
     * @param capacity bytes to view
     * @return the buffer, or null
     */
    public static native ByteBuffer newDirectByteBuffer(long handle, long capacity);

    /**
     * Reads the structure named by handle (the result of
     * {@code NativeGetDirectorySystem} or the record of
     * {@code EVENT_DIR_SYSTEM_CHANGED}). The structure stays native and is
     * not released.
     *
     * @param handle the structure's handle
     * @return the subsystem, or null when the handle names nothing
     */
    public static DirectorySystemStruct read(long handle) {
        ByteBuffer b = StructChain.view(DirectorySystemStruct::newDirectByteBuffer, handle, DirectorySystemStructLayout.SIZE);
        return b == null ? null : new DirectorySystemStruct(b);
    }
}
