package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.util.List;

/**
 * A call as the library reports it: one terminal of a conference, a pending
 * (incoming) call, or an entry of the recent-call list. Read once from the
 * native structure; the Java object stays valid after the structure is
 * released.
 */
public final class KyrCallStruct {
    /** Conference index, -1 for a pending call, position in the recent-call list, 0 in events. */
    public final int index;
    /** Server instance the call lives on. */
    public final int srvrInstance;
    /** The codec's handle of the terminal. */
    public final int handle;
    /** Display name of the far end. */
    public final String name;
    /** Caller id of the far end. */
    public final String callerID;
    /** Address of the far end. */
    public final String addr;
    /** Call rate in kbit/s. */
    public final int rate;
    /** 0 outgoing, 1 incoming. */
    public final int direction;
    /** Number of calls of the terminal. */
    public final int numCalls;
    /** Remote system id. */
    public final String remoteSysID;
    /** Conference index the codec reports for the terminal. */
    public final int confIndex;
    /** Cause code of the last state change. */
    public final int causeCode;
    /** Call state, see {@link #stateName(int)}. */
    public final int state;
    /** Non-zero while the call is muted. */
    public final int muted;
    /** Connect time (codec clock). */
    public final int connectTime;
    /** Disconnect time (codec clock). */
    public final int disconnectTime;
    /** Device the call runs on. */
    public final String deviceName;
    /** Number of media streams. */
    public final int numMedia;
    /** The terminal id every per-call operation takes. */
    public final int id;
    /** Call type. */
    public final int callType;
    /** Directory id of the far end. */
    public final String dirid;
    /** Authentication state, see {@link #authStateName(int)}. */
    public final int authState;
    /** Content state. */
    public final int contentState;
    /** The address as dialled. */
    public final String dialedAddr;
    /** Non-zero when the call is encrypted. */
    public final int encrypted;
    /** Terminal type. */
    public final int type;

    private static final String[] STATES = {
        "Active", "Holding", "Dialing", "Alerting", "Incoming", "Waiting", "Transferring", "Disconnected",
    };
    private static final String[] AUTH_STATES = {
        "None", "NeedsAuthenticating", "Authenticating", "Authenticated",
    };

    /** Call state "Active". */
    public static final int STATE_ACTIVE = 0;
    /** Call state "Dialing". */
    public static final int STATE_DIALING = 2;
    /** Call state "Incoming". */
    public static final int STATE_INCOMING = 4;
    /** Call state "Disconnected". */
    public static final int STATE_DISCONNECTED = 7;

    private KyrCallStruct(ByteBuffer b) {
        index = b.getInt(KyrCallStructLayout.INDEX_OFFSET);
        srvrInstance = b.getInt(KyrCallStructLayout.SRVR_INSTANCE_OFFSET);
        handle = b.getInt(KyrCallStructLayout.HANDLE_OFFSET);
        name = StructChain.text(b, KyrCallStructLayout.NAME_OFFSET, KyrCallStructLayout.NAME_LENGTH);
        callerID = StructChain.text(b, KyrCallStructLayout.CALLER_ID_OFFSET, KyrCallStructLayout.CALLER_ID_LENGTH);
        addr = StructChain.text(b, KyrCallStructLayout.ADDR_OFFSET, KyrCallStructLayout.ADDR_LENGTH);
        rate = b.getInt(KyrCallStructLayout.RATE_OFFSET);
        direction = b.getInt(KyrCallStructLayout.DIRECTION_OFFSET);
        numCalls = b.getInt(KyrCallStructLayout.NUM_CALLS_OFFSET);
        remoteSysID = StructChain.text(b, KyrCallStructLayout.REMOTE_SYS_ID_OFFSET,
                                       KyrCallStructLayout.REMOTE_SYS_ID_LENGTH);
        confIndex = b.getInt(KyrCallStructLayout.CONF_INDEX_OFFSET);
        causeCode = b.getInt(KyrCallStructLayout.CAUSE_CODE_OFFSET);
        state = b.getInt(KyrCallStructLayout.STATE_OFFSET);
        muted = b.getInt(KyrCallStructLayout.MUTED_OFFSET);
        connectTime = b.getInt(KyrCallStructLayout.CONNECT_TIME_OFFSET);
        disconnectTime = b.getInt(KyrCallStructLayout.DISCONNECT_TIME_OFFSET);
        deviceName = StructChain.text(b, KyrCallStructLayout.DEVICE_NAME_OFFSET, KyrCallStructLayout.DEVICE_NAME_LENGTH);
        numMedia = b.getInt(KyrCallStructLayout.NUM_MEDIA_OFFSET);
        id = b.getInt(KyrCallStructLayout.ID_OFFSET);
        callType = b.getInt(KyrCallStructLayout.CALL_TYPE_OFFSET);
        dirid = StructChain.text(b, KyrCallStructLayout.DIRID_OFFSET, KyrCallStructLayout.DIRID_LENGTH);
        contentState = b.getInt(KyrCallStructLayout.CONTENT_STATE_OFFSET);
        authState = b.getInt(KyrCallStructLayout.AUTH_STATE_OFFSET);
        dialedAddr = StructChain.text(b, KyrCallStructLayout.DIALED_ADDR_OFFSET, KyrCallStructLayout.DIALED_ADDR_LENGTH);
        encrypted = b.getInt(KyrCallStructLayout.ENCRYPTED_OFFSET);
        type = b.getInt(KyrCallStructLayout.TYPE_OFFSET);
    }

    /**
     * A direct buffer over the native block named by handle, or null when the
     * handle names nothing or the block is smaller than capacity.
     *
     * @param handle a handle the library returned or posted
     * @param capacity bytes to view
     * @return the buffer, or null
     */
    public static native ByteBuffer newDirectByteBuffer(long handle, long capacity);

    /**
     * Reads the call named by handle (for example the record of
     * {@code EVENT_COMM_CALL_LIST_CHANGED}, read while the event is delivered).
     *
     * @param handle the record's handle
     * @return the call, or null when the handle names nothing
     */
    public static KyrCallStruct read(long handle) {
        ByteBuffer b = StructChain.view(KyrCallStruct::newDirectByteBuffer, handle, KyrCallStructLayout.SIZE);
        return b == null ? null : new KyrCallStruct(b);
    }

    /**
     * Reads every call of a native list, in list order; the list stays
     * native and must still be released.
     *
     * @param head the list's handle (0: empty)
     * @return the calls
     */
    public static List<KyrCallStruct> readList(long head) {
        return StructChain.read(head, KyrCallStructLayout.SIZE, KyrCallStruct::newDirectByteBuffer, KyrCallStruct::new);
    }

    /**
     * The name of a call state.
     *
     * @param state a call state
     * @return "Active", "Dialing", ... or "Unknown"
     */
    public static String stateName(int state) {
        return state >= 0 && state < STATES.length ? STATES[state] : "Unknown";
    }

    /**
     * The name of an authentication state.
     *
     * @param state an authentication state
     * @return "None", "NeedsAuthenticating", "Authenticating", "Authenticated" or "Unknown"
     */
    public static String authStateName(int state) {
        return state >= 0 && state < AUTH_STATES.length ? AUTH_STATES[state] : "Unknown";
    }

    /** @return true for a pending (incoming, not yet answered) call */
    public boolean isPending() {
        return index == -1;
    }

    @Override
    public String toString() {
        return "call " + id + " '" + name + "' " + addr + " " + stateName(state) + (muted != 0 ? " muted" : "")
                + " (conf " + index + ", " + rate + " kbit/s)";
    }
}
