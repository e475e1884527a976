package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Map;

/**
 * The codec's address book: its directory servers, paged searches, single
 * entries, and dialling an entry or a whole group.
 *
 * <p>Servers are named by their id ({@link KyrDirServerStruct#id}); an
 * entry's id starts with its server's id and a colon. Every method talks to
 * the codec synchronously on the calling thread through the connection of the
 * {@link KyrConnectService}, which must be set up and connected. The server
 * list is the library's table of known servers, filled after connecting and
 * kept current by the codec's notifications.
 *
 * <p>A search runs on the calling thread until the list ends (each page may
 * take up to a minute) and hands every page to its listener as it arrives.
 * At the end of the list the service posts {@code EVENT_DIR_SEARCH_DONE}
 * carrying the search's {@link SearchParams}; pass your service events to
 * {@link #dispatchSearchDone} to have the listener told. A search that fails,
 * or that the library gives up on (a codec sending empty pages for ever, or
 * more than ten thousand entries), posts no completion.
 *
 * <p>Typical use:
 * <pre>
 *   DirectorySubSystemInterface dir = new DirectorySubSystemInterface();
 *   KyrDirServerStruct ldap = dir.getServers(DirectorySubSystemInterface.PROTOCOL_ALL).get(0);
 *   dir.search(ldap.id, KyrDirEntryStruct.filter(null, 0, "ann", null, null, null), 0, 20,
 *              (page, params) -&gt; show(page));
 *   dir.dialEntry(entry, 0);
 * </pre>
 *
 * <p>Changes arrive as events ({@code EVENT_DIR_*} of {@link KyrEvents}):
 * the subsystem ({@link DirectorySystemStruct#read}), servers switched off,
 * coming online or with new contents ({@link KyrDirServerStruct#read}, then
 * {@link #releaseServers}), entries added, removed or changed
 * ({@link #readEntryChanged}) and settings.
 */
public class DirectorySubSystemInterface {
    /** Protocol mask selecting every protocol. */
    public static final int PROTOCOL_ALL = 0xF;

    /** Receives a search's pages and its completion. */
    public interface SearchListener {
        /**
         * One page of results, in the codec's order; called on the searching
         * thread.
         *
         * @param page the page's entries
         * @param params the search
         */
        void onPage(List<KyrDirEntryStruct> page, SearchParams params);

        /**
         * The codec reached the end of the list (see {@link #dispatchSearchDone}).
         *
         * @param params the search
         */
        default void onDone(SearchParams params) {
        }
    }

    /**
     * One search: its arguments and its progress. The same object is handed
     * to every page and carried by the search's completion event.
     */
    public static class SearchParams {
        /** The server searched. */
        public final String serverId;
        /** The codec's entry attribute flags to return. */
        public final int attributes;
        /** Most entries asked for (0: the codec's limit). */
        public final int totalNames;
        /** Entries per page. */
        public final int namesPerPage;
        private final SearchListener listener;
        private volatile int pages;
        private volatile int entries;
        private volatile boolean done;

        /**
         * @param serverId the server to search
         * @param attributes entry attribute flags
         * @param totalNames most entries (0: the codec's limit)
         * @param namesPerPage entries per page (1 to 64)
         * @param listener receives the pages, may be null
         */
        public SearchParams(String serverId, int attributes, int totalNames, int namesPerPage,
                            SearchListener listener) {
            this.serverId = serverId;
            this.attributes = attributes;
            this.totalNames = totalNames;
            this.namesPerPage = namesPerPage;
            this.listener = listener;
        }

        /** @return pages delivered so far */
        public int pages() {
            return pages;
        }

        /** @return entries delivered so far */
        public int entries() {
            return entries;
        }

        /** @return true once the completion event was dispatched */
        public boolean isDone() {
            return done;
        }
    }

    /** Creates the interface; the library is loaded by {@link KyrConnectService}. */
    public DirectorySubSystemInterface() {
    }

    /**
     * Searches a directory server, handing each page to the listener as it
     * arrives; returns when the list has ended or failed.
     *
     * @param serverId the server's id (nothing happens for an unknown one)
     * @param filter a filter from {@link KyrDirEntryStruct#filter}
     * @param totalNames most entries (0: the codec's limit)
     * @param namesPerPage entries per page (1 to 64)
     * @param listener receives the pages
     * @return the search, also carried by its completion event
     */
    public SearchParams search(String serverId, ByteBuffer filter, int totalNames, int namesPerPage,
                               SearchListener listener) {
        SearchParams p = new SearchParams(serverId, -1, totalNames, namesPerPage, listener);
        search(p, filter);
        return p;
    }

    /**
     * Runs the search described by params.
     *
     * @param params the search
     * @param filter a filter from {@link KyrDirEntryStruct#filter}
     */
    public void search(SearchParams params, ByteBuffer filter) {
        NativeDirectoryAsyncSearch(params.serverId, filter, params.attributes, params.totalNames,
                params.namesPerPage, params);
    }

    /**
     * Called by the library once per page with the page's first node and the
     * codec's list handle. Reads the page, releases its nodes and hands the
     * entries to the search's listener.
     *
     * @param first handle of the page's first node
     * @param listHandle the codec's list handle (the same for every page of a search)
     * @param params the search
     */
    protected void searchResultsCallback(long first, long listHandle, SearchParams params) {
        List<KyrDirEntryStruct> page;
        try {
            page = KyrDirEntryStruct.readList(first);
        } finally {
            NativeDirectoryReleaseSearchResults(first);
        }
        if (params == null) {
            return;
        }
        params.pages++;
        params.entries += page.size();
        if (params.listener != null) {
            params.listener.onPage(Collections.unmodifiableList(page), params);
        }
    }

    /**
     * Hands a service event to the search it completes: call it from the
     * {@link KyrConnectService.EventListener} with every event.
     *
     * @param code the event code
     * @param obj the event's object
     * @return true when the event was a search's completion
     */
    public static boolean dispatchSearchDone(int code, Object obj) {
        if (code != KyrEvents.EVENT_DIR_SEARCH_DONE || !(obj instanceof SearchParams)) {
            return false;
        }
        SearchParams p = (SearchParams) obj;
        p.done = true;
        if (p.listener != null) {
            p.listener.onDone(p);
        }
        return true;
    }

    /**
     * Looks one entry up by id.
     *
     * @param serverId the entry's server
     * @param entryId the entry's id
     * @return the entry, or null when the server is unknown or the codec has no such entry
     */
    public KyrDirEntryStruct getEntry(String serverId, String entryId) {
        long h = NativeDirectoryGetEntry(serverId, entryId);
        if (h == 0) {
            return null;
        }
        try {
            return KyrDirEntryStruct.read(h);
        } finally {
            NativeDirectoryReleaseEntry(h);
        }
    }

    /**
     * The known directory servers of the selected protocols, protocol 1
     * first.
     *
     * @param protocolMask 0x1 protocol 1, 0x2 protocol 2, 0x4 protocol 3, 0x8 protocol 4
     * @return the servers (empty when none)
     */
    public List<KyrDirServerStruct> getServers(int protocolMask) {
        long head = NativeDirectoryGetServers(protocolMask);
        try {
            return KyrDirServerStruct.readList(head);
        } finally {
            NativeDirectoryReleaseServerList(head);
        }
    }

    /**
     * The number of servers of the selected protocols as the codec counts them.
     *
     * @param protocolMask as for {@link #getServers}
     * @return the count, 0 when the codec cannot be asked
     */
    public int getNumberServers(int protocolMask) {
        return NativeDirectoryGetNumberServers(protocolMask);
    }

    /** @return the directory subsystem, or null when the codec cannot be asked */
    public DirectorySystemStruct getDirectorySystem() {
        return DirectorySystemStruct.read(NativeGetDirectorySystem());
    }

    /** The directory settings as key/value pairs, in list order ({@link SettingsUnavailableException} if unreadable). */
    public Map<String, String> getSettings() {
        long head = NativeGetDirectorySettings();
        return InterfaceSupport.takeList(head, "directory", this::NativeDirectorySettingsRelease);
    }

    /**
     * Changes one directory setting.
     *
     * @param key the setting's key
     * @param value its new value
     * @return the codec's result (0 or more), or a negative code
     */
    public int setSetting(String key, String value) {
        return NativeSetDirectorySettings(key, value);
    }

    /**
     * Dials every address of one of an entry's video devices, as one call to
     * the entry's site.
     *
     * @param entry the entry
     * @param device index into {@link KyrDirEntryStruct#videoDevices}
     * @return 0, a negative CSAPI code, or -1 when there is nothing to dial
     */
    public int dialEntry(KyrDirEntryStruct entry, int device) {
        return NativeDirectoryDialEntry(addressList(entry, device));
    }

    /**
     * Dials several entries at once, each at the addresses of its first video
     * device.
     *
     * @param members the group's members (1 to 30)
     * @return 0, a negative CSAPI code, or -1 when the group cannot be dialled
     */
    public int dialGroup(List<KyrDirEntryStruct> members) {
        List<ByteBuffer> lists = new ArrayList<>();
        for (KyrDirEntryStruct m : members) {
            lists.add(addressList(m, 0));
        }
        return NativeDirectoryDialGroup(DirAddressListArrayStruct.build(lists));
    }

    /** One entry's device as an address list; an entry without it gives an empty list. */
    static ByteBuffer addressList(KyrDirEntryStruct entry, int device) {
        if (entry == null || device < 0 || device >= entry.videoDevices.size()) {
            return DirAddressListStruct.build(entry == null ? "" : entry.displayName, new int[0], new String[0]);
        }
        KyrDirEntryStruct.VideoDevice d = entry.videoDevices.get(device);
        String[] addresses = d.addresses.toArray(new String[0]);
        int[] rates = new int[addresses.length];
        java.util.Arrays.fill(rates, d.rate != 0 ? d.rate : entry.rate);
        return DirAddressListStruct.build(entry.displayName, rates, addresses);
    }

    /**
     * Reads and releases the record of an entry event.
     *
     * @param handle the event's value1
     * @return the record, or null when the handle names nothing
     */
    public DirEntryChangedStruct readEntryChanged(long handle) {
        try {
            return DirEntryChangedStruct.read(handle);
        } finally {
            releaseEntryChanged(handle);
        }
    }

    /**
     * Releases the record of an entry event.
     *
     * @param handle the event's value1
     */
    public void releaseEntryChanged(long handle) {
        NativeDirectoryReleaseDirEntryChanged(handle);
    }

    /**
     * Releases a server node posted with a server event, or a server list;
     * releasing twice is harmless (a status and a modified event may carry
     * the same node).
     *
     * @param handle the node's or list's handle
     */
    public void releaseServers(long handle) {
        NativeDirectoryReleaseServerList(handle);
    }

    /**
     * Releases a settings list posted with {@code EVENT_DIR_SETTINGS_CHANGED}.
     *
     * @param handle the list's handle
     */
    public void releaseSettings(long handle) {
        NativeDirectorySettingsRelease(handle);
    }

    native int NativeDirectoryDialEntry(ByteBuffer list);
    native int NativeDirectoryDialGroup(ByteBuffer array);
    native void NativeDirectoryAsyncSearch(String serverId, ByteBuffer filter, int attributes, int totalNames,
                                           int namesPerPage, SearchParams params);
    native long NativeDirectoryGetEntry(String serverId, String entryId);
    native long NativeDirectoryGetServers(int protocolMask);
    native int NativeDirectoryGetNumberServers(int protocolMask);
    native long NativeGetDirectorySystem();
    native long NativeGetDirectorySettings();
    native int NativeSetDirectorySettings(String key, String value);
    native int NativeDirectoryAddEntry();
    native int NativeDirectoryDeleteEntry();
    native int NativeDirectoryModifyEntry();
    native int NativeDirectoryAddEntryToGroup();
    native int NativeDirectoryDeleteEntryFromGroup();
    native void NativeDirectorySettingsRelease(long head);
    native void NativeDirectoryReleaseSearchResults(long head);
    native void NativeDirectoryReleaseServerList(long head);
    native void NativeDirectoryReleaseEntry(long handle);
    native void NativeDirectoryReleaseDirEntryChanged(long handle);
}
