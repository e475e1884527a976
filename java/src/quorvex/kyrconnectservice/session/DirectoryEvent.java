package quorvex.kyrconnectservice.session;

import java.util.Collections;
import java.util.List;

import quorvex.kyrconnectservice.DirEntryChangedStruct;
import quorvex.kyrconnectservice.DirectorySystemStruct;
import quorvex.kyrconnectservice.KyrDirEntryStruct;
import quorvex.kyrconnectservice.KyrDirServerStruct;

/** A directory change, or one page of a search's results. */
public final class DirectoryEvent {
    /** What happened. */
    public enum Kind {
        /** The directory record: {@link #system}. */
        SYSTEM,
        /** A server was disabled: {@link #server}. */
        SERVER_DISABLED,
        /** A server went on- or offline: {@link #server}. */
        SERVER_STATUS,
        /** A server's contents changed: {@link #server}. */
        SERVER_MODIFIED,
        /** An entry was added: {@link #entry}. */
        ENTRY_ADDED,
        /** An entry was removed: {@link #entry}. */
        ENTRY_REMOVED,
        /** An entry changed: {@link #entry}. */
        ENTRY_CHANGED,
        /** One page of a search started with {@link DirectoryOps#search}: {@link #results}, {@link #serverId}. */
        SEARCH_PAGE
    }

    public final Kind kind;
    public final DirectorySystemStruct system;
    public final KyrDirServerStruct server;
    public final DirEntryChangedStruct entry;
    /** The page's entries (unmodifiable; empty unless {@link Kind#SEARCH_PAGE}). */
    public final List<KyrDirEntryStruct> results;
    /** The searched server for {@link Kind#SEARCH_PAGE}, else null. */
    public final String serverId;

    private DirectoryEvent(Kind kind, DirectorySystemStruct system, KyrDirServerStruct server,
                           DirEntryChangedStruct entry, List<KyrDirEntryStruct> results, String serverId) {
        this.kind = kind;
        this.system = system;
        this.server = server;
        this.entry = entry;
        this.results = results == null ? List.of() : Collections.unmodifiableList(results);
        this.serverId = serverId;
    }

    static DirectoryEvent system(DirectorySystemStruct s) {
        return new DirectoryEvent(Kind.SYSTEM, s, null, null, null, null);
    }

    static DirectoryEvent server(Kind kind, KyrDirServerStruct s) {
        return new DirectoryEvent(kind, null, s, null, null, null);
    }

    static DirectoryEvent entry(Kind kind, DirEntryChangedStruct e) {
        return new DirectoryEvent(kind, null, null, e, null, null);
    }

    static DirectoryEvent page(String serverId, List<KyrDirEntryStruct> results) {
        return new DirectoryEvent(Kind.SEARCH_PAGE, null, null, null, results, serverId);
    }

    @Override
    public String toString() {
        switch (kind) {
            case SEARCH_PAGE:
                return "directory page of " + serverId + ": " + results.size() + " entries";
            case ENTRY_ADDED:
            case ENTRY_REMOVED:
            case ENTRY_CHANGED:
                return "directory " + kind + (entry == null ? "" : " " + entry.serverId + "/" + entry.entryId);
            case SYSTEM:
                return "directory system";
            default:
                return "directory " + kind + (server == null ? "" : " " + server.groupName);
        }
    }
}
