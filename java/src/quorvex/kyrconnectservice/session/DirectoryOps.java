package quorvex.kyrconnectservice.session;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CompletableFuture;

import quorvex.kyrconnectservice.DirectorySubSystemInterface;
import quorvex.kyrconnectservice.DirectorySubSystemInterface.SearchParams;
import quorvex.kyrconnectservice.KyrDirEntryStruct;
import quorvex.kyrconnectservice.KyrDirServerStruct;

/** The codec's directories, through a {@link KyrSession}. Every method returns at once. */
public final class DirectoryOps {
    /** Entries per page of a search. */
    static final int PAGE = 32;

    private final KyrSession s;

    DirectoryOps(KyrSession s) {
        this.s = s;
    }

    /** The known directory servers of every protocol. */
    public CompletableFuture<List<KyrDirServerStruct>> servers() {
        return s.call("directoryServers",
                      n -> List.copyOf(n.directory.getServers(DirectorySubSystemInterface.PROTOCOL_ALL)));
    }

    /**
     * Searches a server for entries whose display name contains name. Each
     * page also arrives as a {@link DirectoryEvent} of kind SEARCH_PAGE.
     *
     * @param serverId the server's id
     * @param name part of the display name, or null for every entry
     * @param max most entries (0: the codec's limit)
     * @return every entry found, in the codec's order
     */
    public CompletableFuture<List<KyrDirEntryStruct>> search(String serverId, String name, int max) {
        return s.call("search", n -> {
            List<KyrDirEntryStruct> all = new ArrayList<>();
            SearchParams p = new SearchParams(serverId, -1, max, PAGE, (page, params) -> {
                all.addAll(page);
                s.deliver(DirectoryEvent.page(serverId, page));
            });
            n.directory.search(p, KyrDirEntryStruct.filter(null, 0, name, null, null, null));
            Results.checkLast(n, "search");
            return List.copyOf(all);
        });
    }

    /** Dials one of an entry's video devices (0 first). */
    public CompletableFuture<Void> dial(KyrDirEntryStruct entry, int device) {
        return s.code("dialEntry", n -> n.directory.dialEntry(entry, device));
    }
}
