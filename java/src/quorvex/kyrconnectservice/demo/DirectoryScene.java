package quorvex.kyrconnectservice.demo;

import java.util.ArrayList;
import java.util.List;

import quorvex.kyrconnectservice.DirectorySubSystemInterface;
import quorvex.kyrconnectservice.KyrDirEntryStruct;
import quorvex.kyrconnectservice.KyrDirServerStruct;
import quorvex.kyrconnectservice.KyrEvents;

/**
 * The address book: lists the codec's directory servers, searches the local
 * book for a name page by page, looks one result up again and dials it.
 */
public final class DirectoryScene implements DemoScene {
    @Override
    public void run(DemoSession demo) throws Exception {
        DirectorySubSystemInterface dir = new DirectorySubSystemInterface();
        List<KyrDirServerStruct> servers = dir.getServers(DirectorySubSystemInterface.PROTOCOL_ALL);
        for (int i = 0; i < 50 && servers.isEmpty(); i++) {
            Thread.sleep(100); // the server table is filled just after connecting
            servers = dir.getServers(DirectorySubSystemInterface.PROTOCOL_ALL);
        }
        DemoSession.say("directory: %d servers", servers.size());
        for (KyrDirServerStruct s : servers) {
            DemoSession.say("  %s", s);
        }
        if (servers.isEmpty()) {
            throw new IllegalStateException("the codec reported no directory server");
        }
        String book = servers.get(0).id;

        DemoSession.say("directory: searching %s for first name \"Ada\", 4 names per page", book);
        List<KyrDirEntryStruct> found = new ArrayList<>();
        DirectorySubSystemInterface.SearchParams search = dir.search(book,
                KyrDirEntryStruct.filter(null, 0, null, null, "Ada", null), 0, 4, (page, params) -> {
                    DemoSession.say("directory: page %d, %d entries", params.pages(), page.size());
                    for (KyrDirEntryStruct e : page) {
                        DemoSession.say("  %-16s %-12s %s", e.displayName, e.id,
                                e.videoDevices.isEmpty() ? "-" : e.videoDevices.get(0).addresses);
                    }
                    found.addAll(page);
                });
        DemoSession.Event done = demo.waitFor(KyrEvents.EVENT_DIR_SEARCH_DONE, 5000);
        DemoSession.say("directory: search %s, %d entries in %d pages", done != null && done.obj == search
                ? "complete" : "not completed", search.entries(), search.pages());
        if (found.isEmpty()) {
            throw new IllegalStateException("the search found nobody");
        }

        KyrDirEntryStruct pick = dir.getEntry(book, found.get(found.size() - 1).id);
        if (pick == null) {
            throw new IllegalStateException("the entry could not be looked up again");
        }
        DemoSession.say("directory: dialling %s (%s) at %s", pick.displayName, pick.email,
                pick.videoDevices.get(0).addresses);
        int rc = dir.dialEntry(pick, 0);
        DemoSession.say("directory: dial %s (%d)", rc == 0 ? "sent" : "refused", rc);
        demo.drain(300);
    }
}
