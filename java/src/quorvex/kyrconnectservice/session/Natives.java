package quorvex.kyrconnectservice.session;

import quorvex.kyrconnectservice.AudioSubSystemInterface;
import quorvex.kyrconnectservice.CalendarSubSystemInterface;
import quorvex.kyrconnectservice.CommSubSystemInterface;
import quorvex.kyrconnectservice.ContentSubSystemInterface;
import quorvex.kyrconnectservice.DirectorySubSystemInterface;
import quorvex.kyrconnectservice.KyrConnectService;
import quorvex.kyrconnectservice.KyrDirServerStruct;
import quorvex.kyrconnectservice.SecuritySubSystemInterface;
import quorvex.kyrconnectservice.SystemSubSystemInterface;
import quorvex.kyrconnectservice.VideoSubSystemInterface;

/** The low-level service and interface objects one session drives. */
final class Natives {
    final KyrConnectService service;
    final AudioSubSystemInterface audio = new AudioSubSystemInterface();
    final CommSubSystemInterface comm = new CommSubSystemInterface();
    final DirectorySubSystemInterface directory;
    final CalendarSubSystemInterface calendar;
    final ContentSubSystemInterface content;
    final SecuritySubSystemInterface security = new SecuritySubSystemInterface();
    final SystemSubSystemInterface system = new SystemSubSystemInterface();
    final VideoSubSystemInterface video;

    // The directory server node last read from an event (see EventTable).
    int lastServerHandle;
    KyrDirServerStruct lastServer;

    Natives(KyrConnectService.EventListener listener, DirectorySubSystemInterface directory) {
        service = new KyrConnectService(listener);
        this.directory = directory;
        calendar = new CalendarSubSystemInterface(service);
        content = new ContentSubSystemInterface(service);
        video = new VideoSubSystemInterface(service);
    }

    /** The thread's last CSAPI code: what a getter without a result code left. */
    int lastError() {
        return comm.getLastCallFailCause();
    }
}
