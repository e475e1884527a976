package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;

/** The codec's communication subsystem, read once from the native structure. */
public final class CommSystemStruct {
    /** Server instance. */
    public final int srvrInstance;
    /** The codec's handle. */
    public final int handle;
    /** Most conferences. */
    public final int maxConfs;
    /** Conferences. */
    public final int numConfs;
    /** Calls waiting to be answered. */
    public final int numPendingTerms;
    /** Auto-answer of point-to-point calls. */
    public final int autoAnswerPP;
    /** Auto-answer of multipoint calls. */
    public final int autoAnswerMP;
    /** Connect time-out (s). */
    public final int connectTimeout;
    /** Disconnect time-out (s). */
    public final int disconnectTimeout;
    /** Most terminals per conference. */
    public final int maxTermsPerConf;
    /** Length of the recent-call list. */
    public final int maxRecentCallListLen;
    /** Auto search order. */
    public final int autoSearchOrder;
    /** Dial order as (video order, voice order) pairs. */
    public final int[][] dialOrder;

    private CommSystemStruct(ByteBuffer b) {
        srvrInstance = b.getInt(CommSystemStructLayout.SRVR_INSTANCE_OFFSET);
        handle = b.getInt(CommSystemStructLayout.HANDLE_OFFSET);
        maxConfs = b.getInt(CommSystemStructLayout.MAX_CONFS_OFFSET);
        numConfs = b.getInt(CommSystemStructLayout.NUM_CONFS_OFFSET);
        numPendingTerms = b.getInt(CommSystemStructLayout.NUM_PENDING_TERMS_OFFSET);
        autoAnswerPP = b.getInt(CommSystemStructLayout.AUTO_ANSWER_PP_OFFSET);
        autoAnswerMP = b.getInt(CommSystemStructLayout.AUTO_ANSWER_MP_OFFSET);
        connectTimeout = b.getInt(CommSystemStructLayout.CONNECT_TIMEOUT_OFFSET);
        disconnectTimeout = b.getInt(CommSystemStructLayout.DISCONNECT_TIMEOUT_OFFSET);
        maxTermsPerConf = b.getInt(CommSystemStructLayout.MAX_TERMS_PER_CONF_OFFSET);
        maxRecentCallListLen = b.getInt(CommSystemStructLayout.MAX_RECENT_CALL_LIST_LEN_OFFSET);
        autoSearchOrder = b.getInt(CommSystemStructLayout.AUTO_SEARCH_ORDER_OFFSET);
        int pairs = Math.max(0, Math.min(b.getInt(CommSystemStructLayout.DIAL_ORDER_COUNT_OFFSET),
                                         CommSystemStructLayout.DIAL_ORDER_LENGTH / 2));
        dialOrder = new int[pairs][2];
        for (int i = 0; i < pairs; i++) {
            dialOrder[i][0] = b.getInt(CommSystemStructLayout.DIAL_ORDER_OFFSET + 8 * i);
            dialOrder[i][1] = b.getInt(CommSystemStructLayout.DIAL_ORDER_OFFSET + 8 * i + 4);
        }
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
     * {@code NativeGetCommSystem} or the record of {@code EVENT_COMM_SYSTEM_CHANGED}).
     *
     * @param handle the structure's handle
     * @return the subsystem, or null when the handle names nothing
     */
    public static CommSystemStruct read(long handle) {
        ByteBuffer b = StructChain.view(CommSystemStruct::newDirectByteBuffer, handle, CommSystemStructLayout.SIZE);
        return b == null ? null : new CommSystemStruct(b);
    }
}
