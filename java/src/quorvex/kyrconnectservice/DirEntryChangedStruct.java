package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;

/**
 * Which entry of which directory server was added, removed or changed (the
 * record of {@code EVENT_DIR_ENTRY_ADDED}, {@code _REMOVED} and
 * {@code _CHANGED}).
 */
public final class DirEntryChangedStruct {
    /** The server's id. */
    public final String serverId;
    /** The entry's id (it starts with the server's id and a colon). */
    public final String entryId;

    private DirEntryChangedStruct(ByteBuffer b) {
        serverId = StructChain.text(b, DirEntryChangedStructLayout.SERVER_ID_OFFSET,
                DirEntryChangedStructLayout.SERVER_ID_LENGTH);
        entryId = StructChain.text(b, DirEntryChangedStructLayout.ENTRY_ID_OFFSET,
                DirEntryChangedStructLayout.ENTRY_ID_LENGTH);
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
     * Reads the record named by handle; it stays native until released with
     * {@link DirectorySubSystemInterface#releaseEntryChanged(long)}.
     *
     * @param handle the record's handle (an event's value1)
     * @return the record, or null when the handle names nothing
     */
    public static DirEntryChangedStruct read(long handle) {
        ByteBuffer b = StructChain.view(DirEntryChangedStruct::newDirectByteBuffer, handle, DirEntryChangedStructLayout.SIZE);
        return b == null ? null : new DirEntryChangedStruct(b);
    }

    @Override
    public String toString() {
        return entryId + " on " + serverId;
    }
}
