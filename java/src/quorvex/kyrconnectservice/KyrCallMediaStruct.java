package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.util.List;

/** Statistics of one media stream of a call, read once from the native structure. */
public final class KyrCallMediaStruct {
    /** Media slot of the call (0..7). */
    public final int index;
    /** The codec's handle of the stream. */
    public final int handle;
    /** Media type. */
    public final int type;
    /** Stream state (2 while streaming). */
    public final int state;
    /** Algorithm, for example "H.264". */
    public final String alg;
    /** Format, for example "1080p". */
    public final String format;
    /** Source address. */
    public final String srcAddress;
    /** Destination address. */
    public final String dstAddress;
    /** Encryption protocol. */
    public final String encryptProto;
    /** Encryption algorithm. */
    public final String encryptAlg;
    /** Error concealment. */
    public final int errorConcealment;
    /** Errors counted. */
    public final int errors;
    /** Negotiated bit rate (kbit/s). */
    public final int bitRate;
    /** Measured bit rate (kbit/s). */
    public final int actualBitRate;
    /** Negotiated frame rate. */
    public final int frameRate;
    /** Measured frame rate. */
    public final double actualFrameRate;
    /** Packets carried. */
    public final int totalPackets;
    /** Packets lost. */
    public final int packetsLost;
    /** Packet loss in percent. */
    public final double percentPacketLoss;
    /** Jitter (ms). */
    public final int jitter;
    /** Latency (ms). */
    public final int latency;
    /** Algorithm annexes. */
    public final String algAnnexes;
    /** Largest jitter seen (ms). */
    public final int maxJitter;

    private KyrCallMediaStruct(ByteBuffer b) {
        index = b.getInt(KyrCallMediaStructLayout.INDEX_OFFSET);
        handle = b.getInt(KyrCallMediaStructLayout.HANDLE_OFFSET);
        type = b.getInt(KyrCallMediaStructLayout.TYPE_OFFSET);
        state = b.getInt(KyrCallMediaStructLayout.STATE_OFFSET);
        alg = StructChain.text(b, KyrCallMediaStructLayout.ALG_OFFSET, KyrCallMediaStructLayout.ALG_LENGTH);
        format = StructChain.text(b, KyrCallMediaStructLayout.FORMAT_OFFSET, KyrCallMediaStructLayout.FORMAT_LENGTH);
        srcAddress = StructChain.text(b, KyrCallMediaStructLayout.SRC_ADDRESS_OFFSET,
                                      KyrCallMediaStructLayout.SRC_ADDRESS_LENGTH);
        dstAddress = StructChain.text(b, KyrCallMediaStructLayout.DST_ADDRESS_OFFSET,
                                      KyrCallMediaStructLayout.DST_ADDRESS_LENGTH);
        encryptProto = StructChain.text(b, KyrCallMediaStructLayout.ENCRYPT_PROTO_OFFSET,
                                        KyrCallMediaStructLayout.ENCRYPT_PROTO_LENGTH);
        encryptAlg = StructChain.text(b, KyrCallMediaStructLayout.ENCRYPT_ALG_OFFSET,
                                      KyrCallMediaStructLayout.ENCRYPT_ALG_LENGTH);
        errorConcealment = b.getInt(KyrCallMediaStructLayout.ERROR_CONCEALMENT_OFFSET);
        errors = b.getInt(KyrCallMediaStructLayout.ERRORS_OFFSET);
        bitRate = b.getInt(KyrCallMediaStructLayout.BIT_RATE_OFFSET);
        actualBitRate = b.getInt(KyrCallMediaStructLayout.ACTUAL_BIT_RATE_OFFSET);
        frameRate = b.getInt(KyrCallMediaStructLayout.FRAME_RATE_OFFSET);
        actualFrameRate = b.getDouble(KyrCallMediaStructLayout.ACTUAL_FRAME_RATE_OFFSET);
        totalPackets = b.getInt(KyrCallMediaStructLayout.TOTAL_PACKETS_OFFSET);
        packetsLost = b.getInt(KyrCallMediaStructLayout.PACKETS_LOST_OFFSET);
        percentPacketLoss = b.getDouble(KyrCallMediaStructLayout.PERCENT_PACKET_LOSS_OFFSET);
        jitter = b.getInt(KyrCallMediaStructLayout.JITTER_OFFSET);
        latency = b.getInt(KyrCallMediaStructLayout.LATENCY_OFFSET);
        algAnnexes = StructChain.text(b, KyrCallMediaStructLayout.ALG_ANNEXES_OFFSET,
                                      KyrCallMediaStructLayout.ALG_ANNEXES_LENGTH);
        maxJitter = b.getInt(KyrCallMediaStructLayout.MAX_JITTER_OFFSET);
    }

    /**
     * A direct buffer over the native block named by handle, or null.
     *
     * @param handle a handle the library returned
     * @param capacity bytes to view
     * @return the buffer, or null
     */
    public static native ByteBuffer newDirectByteBuffer(long handle, long capacity);

    /**
     * Reads every stream of a native statistics list, in list order; the
     * list stays native and must still be released.
     *
     * @param head the list's handle (0: empty)
     * @return the streams
     */
    public static List<KyrCallMediaStruct> readList(long head) {
        return StructChain.read(head, KyrCallMediaStructLayout.SIZE, KyrCallMediaStruct::newDirectByteBuffer,
                                KyrCallMediaStruct::new);
    }

    @Override
    public String toString() {
        return String.format("media %d %s %s %d/%d kbit/s %.2f fps, %d of %d packets lost, jitter %d ms", index, alg,
                             format, actualBitRate, bitRate, actualFrameRate, packetsLost, totalPackets, jitter);
    }
}
