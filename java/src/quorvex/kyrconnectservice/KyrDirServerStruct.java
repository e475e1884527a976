package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.util.List;

/** One directory server of the codec, read once from a native node. */
public final class KyrDirServerStruct {
    /** The protocol of a local address book. */
    public static final int PROTOCOL_LOCAL = 1;
    /** The protocol of the global directory service. */
    public static final int PROTOCOL_GLOBAL = 2;
    /** The protocol of an LDAP directory. */
    public static final int PROTOCOL_LDAP = 3;
    /** The protocol of a presence server. */
    public static final int PROTOCOL_PRESENCE = 4;
    /** The status of a server that is online. */
    public static final int STATUS_ONLINE = 6;

    /** Server instance. */
    public final int srvrInstance;
    /** The codec's handle. */
    public final int handle;
    /** 1 when the server is switched on. */
    public final int enabled;
    /** Server status ({@link #STATUS_ONLINE} when online). */
    public final int status;
    /** Group name. */
    public final String groupName;
    /** Server address. */
    public final String address;
    /** Directory protocol, 1 to 4. */
    public final int protocol;
    /** 1 for a secure connection. */
    public final int ssl;
    /** Authentication method. */
    public final int authMethod;
    /** Authentication name. */
    public final String authName;
    /** Authentication password as the codec reports it. */
    public final String authPass;
    /** Authentication domain. */
    public final String authDomain;
    /** Base distinguished name for searches. */
    public final String authBaseDN;
    /** Server port. */
    public final int port;
    /** Server id: searches and look-ups name the server by it. */
    public final String id;
    /** Authentication method negotiated. */
    public final int authMethodNegotiated;
    /** Presence server status. */
    public final int presenceSrvrStatus;
    /** Presence server's negotiated authentication method. */
    public final int presenceSrvrAuthMethodNegotiated;
    /** Capability bits. */
    public final int capabilities;
    /** When the server's contents last changed. */
    public final int lastModifiedTime;

    private KyrDirServerStruct(ByteBuffer b) {
        srvrInstance = b.getInt(KyrDirServerStructLayout.SRVR_INSTANCE_OFFSET);
        handle = b.getInt(KyrDirServerStructLayout.HANDLE_OFFSET);
        enabled = b.getInt(KyrDirServerStructLayout.ENABLED_OFFSET);
        status = b.getInt(KyrDirServerStructLayout.STATUS_OFFSET);
        groupName = text(b, KyrDirServerStructLayout.GROUP_NAME_OFFSET, KyrDirServerStructLayout.GROUP_NAME_LENGTH);
        address = text(b, KyrDirServerStructLayout.ADDRESS_OFFSET, KyrDirServerStructLayout.ADDRESS_LENGTH);
        protocol = b.getInt(KyrDirServerStructLayout.PROTOCOL_OFFSET);
        ssl = b.getInt(KyrDirServerStructLayout.SSL_OFFSET);
        authMethod = b.getInt(KyrDirServerStructLayout.AUTH_METHOD_OFFSET);
        authName = text(b, KyrDirServerStructLayout.AUTH_NAME_OFFSET, KyrDirServerStructLayout.AUTH_NAME_LENGTH);
        authPass = text(b, KyrDirServerStructLayout.AUTH_PASS_OFFSET, KyrDirServerStructLayout.AUTH_PASS_LENGTH);
        authDomain = text(b, KyrDirServerStructLayout.AUTH_DOMAIN_OFFSET,
                KyrDirServerStructLayout.AUTH_DOMAIN_LENGTH);
        authBaseDN = text(b, KyrDirServerStructLayout.AUTH_BASE_DN_OFFSET,
                KyrDirServerStructLayout.AUTH_BASE_DN_LENGTH);
        port = b.getInt(KyrDirServerStructLayout.PORT_OFFSET);
        id = text(b, KyrDirServerStructLayout.ID_OFFSET, KyrDirServerStructLayout.ID_LENGTH);
        authMethodNegotiated = b.getInt(KyrDirServerStructLayout.AUTH_METHOD_NEGOTIATED_OFFSET);
        presenceSrvrStatus = b.getInt(KyrDirServerStructLayout.PRESENCE_SRVR_STATUS_OFFSET);
        presenceSrvrAuthMethodNegotiated =
                b.getInt(KyrDirServerStructLayout.PRESENCE_SRVR_AUTH_METHOD_NEGOTIATED_OFFSET);
        capabilities = b.getInt(KyrDirServerStructLayout.CAPABILITIES_OFFSET);
        lastModifiedTime = b.getInt(KyrDirServerStructLayout.LAST_MODIFIED_TIME_OFFSET);
    }

    private static String text(ByteBuffer b, int offset, int length) {
        return StructChain.text(b, offset, length);
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
     * Reads one node (for example the node of a server event); it stays
     * native until its list is released.
     *
     * @param handle the node's handle
     * @return the server, or null when the handle names nothing
     */
    public static KyrDirServerStruct read(long handle) {
        ByteBuffer b = StructChain.view(KyrDirServerStruct::newDirectByteBuffer, handle, KyrDirServerStructLayout.SIZE);
        return b == null ? null : new KyrDirServerStruct(b);
    }

    /**
     * Reads every node of a list, in list order; the list stays native.
     *
     * @param head the list's handle (0 for an empty list)
     * @return the servers
     */
    public static List<KyrDirServerStruct> readList(long head) {
        return StructChain.read(head, KyrDirServerStructLayout.SIZE, KyrDirServerStruct::newDirectByteBuffer,
                KyrDirServerStruct::new);
    }

    /** @return true when the server is switched on and online */
    public boolean isOnline() {
        return enabled == 1 && status == STATUS_ONLINE;
    }

    @Override
    public String toString() {
        return id + " (protocol " + protocol + ", " + address + (isOnline() ? ", online)" : ", status " + status + ")");
    }
}
