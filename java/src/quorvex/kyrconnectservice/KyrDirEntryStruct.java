package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * One directory entry (a person, a room or a group), read once from a native
 * node: a search result, or an entry looked up by id. The same layout is the
 * filter a search takes (see {@link #filter}).
 */
public final class KyrDirEntryStruct {
    /** The entry type of a group. */
    public static final int ENTRY_TYPE_GROUP = 1;

    /** One video endpoint of an entry and the addresses it is dialled at. */
    public static final class VideoDevice {
        /** Device name. */
        public final String name;
        /** Call rate. */
        public final int rate;
        /** Dialling addresses, in the codec's order. */
        public final List<String> addresses;
        /** Presence state. */
        public final int presence;
        /** Presence protocol. */
        public final int presenceProt;
        /** Device id. */
        public final String id;

        VideoDevice(ByteBuffer b, int at) {
            name = text(b, at + DirVideoDeviceStructLayout.NAME_OFFSET, DirVideoDeviceStructLayout.NAME_LENGTH);
            rate = b.getInt(at + DirVideoDeviceStructLayout.RATE_OFFSET);
            int count = clamp(b.getInt(at + DirVideoDeviceStructLayout.ADDR_COUNT_OFFSET),
                    DirVideoDeviceStructLayout.ADDR_LENGTH);
            List<String> a = new ArrayList<>(count);
            for (int i = 0; i < count; i++) {
                int off = at + DirVideoDeviceStructLayout.ADDR_OFFSET + i * DirVideoAddressStructLayout.SIZE;
                a.add(text(b, off + DirVideoAddressStructLayout.TEXT_OFFSET, DirVideoAddressStructLayout.TEXT_LENGTH));
            }
            addresses = Collections.unmodifiableList(a);
            presence = b.getInt(at + DirVideoDeviceStructLayout.PRESENCE_OFFSET);
            presenceProt = b.getInt(at + DirVideoDeviceStructLayout.PRESENCE_PROT_OFFSET);
            id = text(b, at + DirVideoDeviceStructLayout.ID_OFFSET, DirVideoDeviceStructLayout.ID_LENGTH);
        }

        @Override
        public String toString() {
            return name + " " + addresses;
        }
    }

    /** Server instance. */
    public final int srvrInstance;
    /** Kind of directory server the entry comes from. */
    public final int srvrType;
    /** Kind of entry ({@link #ENTRY_TYPE_GROUP} for a group). */
    public final int entryType;
    /** Entry id: the server's id, a colon, and the rest. */
    public final String id;
    /** Locale. */
    public final String locale;
    /** Full name. */
    public final String fullName;
    /** Display name. */
    public final String displayName;
    /** Company. */
    public final String company;
    /** Company address. */
    public final String companyAddress;
    /** Department. */
    public final String department;
    /** Title. */
    public final String title;
    /** Manager. */
    public final String manager;
    /** Assistant. */
    public final String assistant;
    /** E-mail address. */
    public final String email;
    /** Work telephone. */
    public final String workTel;
    /** Fax. */
    public final String faxTel;
    /** Mobile telephone. */
    public final String mobileTel;
    /** Home telephone. */
    public final String homeTel;
    /** The entry's video endpoints (at most five). */
    public final List<VideoDevice> videoDevices;
    /** Web address. */
    public final String webAddress;
    /** Time zone. */
    public final String timeZone;
    /** Call rate. */
    public final int rate;
    /** First name. */
    public final String firstName;
    /** Last name. */
    public final String lastName;
    /** Presence state. */
    public final int presence;

    private KyrDirEntryStruct(ByteBuffer b) {
        srvrInstance = b.getInt(KyrDirEntryStructLayout.SRVR_INSTANCE_OFFSET);
        srvrType = b.getInt(KyrDirEntryStructLayout.SRVR_TYPE_OFFSET);
        entryType = b.getInt(KyrDirEntryStructLayout.ENTRY_TYPE_OFFSET);
        id = text(b, KyrDirEntryStructLayout.ID_OFFSET, KyrDirEntryStructLayout.ID_LENGTH);
        locale = text(b, KyrDirEntryStructLayout.LOCALE_OFFSET, KyrDirEntryStructLayout.LOCALE_LENGTH);
        fullName = text(b, KyrDirEntryStructLayout.FULL_NAME_OFFSET, KyrDirEntryStructLayout.FULL_NAME_LENGTH);
        displayName = text(b, KyrDirEntryStructLayout.DISPLAY_NAME_OFFSET,
                KyrDirEntryStructLayout.DISPLAY_NAME_LENGTH);
        company = text(b, KyrDirEntryStructLayout.COMPANY_OFFSET, KyrDirEntryStructLayout.COMPANY_LENGTH);
        companyAddress = text(b, KyrDirEntryStructLayout.COMPANY_ADDRESS_OFFSET,
                KyrDirEntryStructLayout.COMPANY_ADDRESS_LENGTH);
        department = text(b, KyrDirEntryStructLayout.DEPARTMENT_OFFSET, KyrDirEntryStructLayout.DEPARTMENT_LENGTH);
        title = text(b, KyrDirEntryStructLayout.TITLE_OFFSET, KyrDirEntryStructLayout.TITLE_LENGTH);
        manager = text(b, KyrDirEntryStructLayout.MANAGER_OFFSET, KyrDirEntryStructLayout.MANAGER_LENGTH);
        assistant = text(b, KyrDirEntryStructLayout.ASSISTANT_OFFSET, KyrDirEntryStructLayout.ASSISTANT_LENGTH);
        email = text(b, KyrDirEntryStructLayout.EMAIL_OFFSET, KyrDirEntryStructLayout.EMAIL_LENGTH);
        workTel = text(b, KyrDirEntryStructLayout.WORK_TEL_OFFSET, KyrDirEntryStructLayout.WORK_TEL_LENGTH);
        faxTel = text(b, KyrDirEntryStructLayout.FAX_TEL_OFFSET, KyrDirEntryStructLayout.FAX_TEL_LENGTH);
        mobileTel = text(b, KyrDirEntryStructLayout.MOBILE_TEL_OFFSET, KyrDirEntryStructLayout.MOBILE_TEL_LENGTH);
        homeTel = text(b, KyrDirEntryStructLayout.HOME_TEL_OFFSET, KyrDirEntryStructLayout.HOME_TEL_LENGTH);
        int devices = clamp(b.getInt(KyrDirEntryStructLayout.VIDEO_DEVICE_COUNT_OFFSET),
                KyrDirEntryStructLayout.VIDEO_DEVICE_LENGTH);
        List<VideoDevice> d = new ArrayList<>(devices);
        for (int i = 0; i < devices; i++) {
            d.add(new VideoDevice(b, KyrDirEntryStructLayout.VIDEO_DEVICE_OFFSET + i * DirVideoDeviceStructLayout.SIZE));
        }
        videoDevices = Collections.unmodifiableList(d);
        webAddress = text(b, KyrDirEntryStructLayout.WEB_ADDRESS_OFFSET, KyrDirEntryStructLayout.WEB_ADDRESS_LENGTH);
        timeZone = text(b, KyrDirEntryStructLayout.TIME_ZONE_OFFSET, KyrDirEntryStructLayout.TIME_ZONE_LENGTH);
        rate = b.getInt(KyrDirEntryStructLayout.RATE_OFFSET);
        firstName = text(b, KyrDirEntryStructLayout.FIRST_NAME_OFFSET, KyrDirEntryStructLayout.FIRST_NAME_LENGTH);
        lastName = text(b, KyrDirEntryStructLayout.LAST_NAME_OFFSET, KyrDirEntryStructLayout.LAST_NAME_LENGTH);
        presence = b.getInt(KyrDirEntryStructLayout.PRESENCE_OFFSET);
    }

    static int clamp(int count, int max) {
        return Math.max(0, Math.min(count, max));
    }

    static String text(ByteBuffer b, int offset, int length) {
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
     * Reads one entry; it stays native until released.
     *
     * @param handle the entry's handle
     * @return the entry, or null when the handle names nothing
     */
    public static KyrDirEntryStruct read(long handle) {
        ByteBuffer b = StructChain.view(KyrDirEntryStruct::newDirectByteBuffer, handle, KyrDirEntryStructLayout.SIZE);
        return b == null ? null : new KyrDirEntryStruct(b);
    }

    /**
     * Reads every node of a result list, in list order; the list stays native.
     *
     * @param head the list's handle (0 for an empty list)
     * @return the entries
     */
    public static List<KyrDirEntryStruct> readList(long head) {
        return StructChain.read(head, KyrDirEntryStructLayout.SIZE, KyrDirEntryStruct::newDirectByteBuffer,
                KyrDirEntryStruct::new);
    }

    /**
     * A search filter: entries match when each non-empty text is part of the
     * entry's field of the same name (the codec decides how). Texts are cut
     * to their fields at a character boundary.
     *
     * @param id part of the entry id, or null
     * @param entryType kind of entry (0 for any)
     * @param displayName part of the display name, or null
     * @param fullName part of the full name, or null
     * @param firstName part of the first name, or null
     * @param lastName part of the last name, or null
     * @return a direct buffer in native byte order for a search
     */
    public static ByteBuffer filter(String id, int entryType, String displayName, String fullName, String firstName,
                                    String lastName) {
        ByteBuffer b = ByteBuffer.allocateDirect(KyrDirEntryStructLayout.SIZE).order(ByteOrder.nativeOrder());
        b.putInt(KyrDirEntryStructLayout.ENTRY_TYPE_OFFSET, entryType);
        DirAddressListStruct.putText(b, KyrDirEntryStructLayout.ID_OFFSET, KyrDirEntryStructLayout.ID_LENGTH, id);
        DirAddressListStruct.putText(b, KyrDirEntryStructLayout.DISPLAY_NAME_OFFSET, KyrDirEntryStructLayout.DISPLAY_NAME_LENGTH,
                displayName);
        DirAddressListStruct.putText(b, KyrDirEntryStructLayout.FULL_NAME_OFFSET, KyrDirEntryStructLayout.FULL_NAME_LENGTH, fullName);
        DirAddressListStruct.putText(b, KyrDirEntryStructLayout.FIRST_NAME_OFFSET, KyrDirEntryStructLayout.FIRST_NAME_LENGTH, firstName);
        DirAddressListStruct.putText(b, KyrDirEntryStructLayout.LAST_NAME_OFFSET, KyrDirEntryStructLayout.LAST_NAME_LENGTH, lastName);
        return b;
    }

    /** @return true for a group entry */
    public boolean isGroup() {
        return entryType == ENTRY_TYPE_GROUP;
    }

    @Override
    public String toString() {
        return displayName + " <" + id + "> " + videoDevices;
    }
}
