package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.util.List;

/** A conference as the library reports it, read once from the native structure. */
public final class KyrConferenceStruct {
    /** Conference index (0 in events). */
    public final int index;
    /** The codec's handle of the conference. */
    public final int handle;
    /** Conference name. */
    public final String name;
    /** User name. */
    public final String userName;
    /** Most terminals the conference takes. */
    public final int maxTerms;
    /** Rate in kbit/s. */
    public final int rate;
    /** Non-zero when encrypted. */
    public final int encrypted;
    /** Content state. */
    public final int contentState;
    /** Chair state. */
    public final int chairState;
    /** Terminals (calls) in the conference. */
    public final int numTerms;
    /** Talkers. */
    public final int numTalkers;
    /** Conference id. */
    public final int id;
    /** Conference control capabilities. */
    public final int confControlCap;
    /** Conference roles. */
    public final int confRoles;
    /** Non-zero while the whole conference is muted. */
    public final int confMute;
    /** Last action. */
    public final int action;
    /** Content restriction. */
    public final int contentRestrict;

    private KyrConferenceStruct(ByteBuffer b) {
        index = b.getInt(KyrConferenceStructLayout.INDEX_OFFSET);
        handle = b.getInt(KyrConferenceStructLayout.HANDLE_OFFSET);
        name = StructChain.text(b, KyrConferenceStructLayout.NAME_OFFSET, KyrConferenceStructLayout.NAME_LENGTH);
        userName = StructChain.text(b, KyrConferenceStructLayout.USER_NAME_OFFSET,
                                    KyrConferenceStructLayout.USER_NAME_LENGTH);
        maxTerms = b.getInt(KyrConferenceStructLayout.MAX_TERMS_OFFSET);
        rate = b.getInt(KyrConferenceStructLayout.RATE_OFFSET);
        encrypted = b.getInt(KyrConferenceStructLayout.ENCRYPTED_OFFSET);
        contentState = b.getInt(KyrConferenceStructLayout.CONTENT_STATE_OFFSET);
        chairState = b.getInt(KyrConferenceStructLayout.CHAIR_STATE_OFFSET);
        numTerms = b.getInt(KyrConferenceStructLayout.NUM_TERMS_OFFSET);
        numTalkers = b.getInt(KyrConferenceStructLayout.NUM_TALKERS_OFFSET);
        id = b.getInt(KyrConferenceStructLayout.ID_OFFSET);
        confControlCap = b.getInt(KyrConferenceStructLayout.CONF_CONTROL_CAP_OFFSET);
        confRoles = b.getInt(KyrConferenceStructLayout.CONF_ROLES_OFFSET);
        confMute = b.getInt(KyrConferenceStructLayout.CONF_MUTE_OFFSET);
        action = b.getInt(KyrConferenceStructLayout.ACTION_OFFSET);
        contentRestrict = b.getInt(KyrConferenceStructLayout.CONTENT_RESTRICT_OFFSET);
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
     * Reads the conference named by handle (the record of
     * {@code EVENT_COMM_CONFERENCE_CHANGED}, read while the event is delivered).
     *
     * @param handle the record's handle
     * @return the conference, or null when the handle names nothing
     */
    public static KyrConferenceStruct read(long handle) {
        ByteBuffer b = StructChain.view(KyrConferenceStruct::newDirectByteBuffer, handle,
                                        KyrConferenceStructLayout.SIZE);
        return b == null ? null : new KyrConferenceStruct(b);
    }

    /**
     * Reads every conference of a native list, in list order; the list stays
     * native and must still be released.
     *
     * @param head the list's handle (0: empty)
     * @return the conferences
     */
    public static List<KyrConferenceStruct> readList(long head) {
        return StructChain.read(head, KyrConferenceStructLayout.SIZE, KyrConferenceStruct::newDirectByteBuffer,
                                KyrConferenceStruct::new);
    }

    @Override
    public String toString() {
        return "conference " + index + " '" + name + "' " + numTerms + " call(s)" + (confMute != 0 ? " muted" : "");
    }
}
