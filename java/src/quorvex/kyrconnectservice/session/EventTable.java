package quorvex.kyrconnectservice.session;

import static quorvex.kyrconnectservice.KyrEvents.*;

import java.util.Map;

import quorvex.kyrconnectservice.AudioSystemStruct;
import quorvex.kyrconnectservice.CalendarSubSystemInterface;
import quorvex.kyrconnectservice.CommSubSystemInterface;
import quorvex.kyrconnectservice.CommSystemStruct;
import quorvex.kyrconnectservice.DirectorySystemStruct;
import quorvex.kyrconnectservice.KyrDirServerStruct;
import quorvex.kyrconnectservice.SettingsStruct;

/**
 * Turns one event of the library into the session's immutable event
 * object, on the native thread that posted it: records the library posts
 * are valid only during that call, and every list or node an event hands
 * over (KyrEvents.payloadKind PAYLOAD_OWNED) is released here, whether or
 * not anyone listens.
 */
final class EventTable {
    private EventTable() {
    }

    /**
     * The event object for (code, value1, value2), or null for an event the
     * session handles itself or that carries nothing (an empty settings
     * change). Releases what the event hands over.
     */
    static Object decode(Natives n, int code, int v1, int v2) {
        switch (code) {
            case EVENT_AUDIO_VOLUME_CHANGED:
                return new AudioEvent(AudioEvent.Kind.VOLUME, v1, null);
            case EVENT_AUDIO_MUTE_CHANGED:
                return new AudioEvent(AudioEvent.Kind.MUTE, v1, null);
            case EVENT_AUDIO_CAPS_CHANGED:
                return new AudioEvent(AudioEvent.Kind.CAPABILITIES, v1, null);
            case EVENT_AUDIO_SYSTEM_CHANGED:
                return new AudioEvent(AudioEvent.Kind.SYSTEM, 0, AudioSystemStruct.read(v1));
            case EVENT_AUDIO_SETTINGS_CHANGED:
                return settings(SettingsEvent.Area.AUDIO, n.audio.takeSettingsUpdate(v1));
            case EVENT_COMM_CALL_STATE_CHANGED:
                return CallInfo.state(v1, v2);
            case EVENT_COMM_CALL_MUTE_CHANGED:
                return CallInfo.mute(v1, v2 != 0);
            case EVENT_COMM_CALL_AUTH_STATE_CHANGED:
                return CallInfo.auth(v2, v1);
            case EVENT_COMM_CALL_LIST_CHANGED: {
                var c = CommSubSystemInterface.readCallEvent(v1);
                return c == null ? null : CallInfo.of(CallInfo.Change.ENDED, c);
            }
            case EVENT_COMM_PENDING_CALLS_CHANGED:
                return new CommEvent(CommEvent.Kind.PENDING_CALLS, v1, null, null);
            case EVENT_COMM_RECENT_CALLS_ARCHIVED:
                return new CommEvent(CommEvent.Kind.RECENT_CALLS_ARCHIVED, v1, null, null);
            case EVENT_COMM_SYSTEM_CHANGED:
                return new CommEvent(CommEvent.Kind.SYSTEM, v2, CommSystemStruct.read(v1), null);
            case EVENT_COMM_CONFERENCE_CHANGED:
                return new CommEvent(CommEvent.Kind.CONFERENCE, v2, null, CommSubSystemInterface.readConferenceEvent(v1));
            case EVENT_COMM_SETTINGS_CHANGED:
                return settings(SettingsEvent.Area.COMM, n.comm.takeSettingsEvent(v1));
            case EVENT_DIR_SYSTEM_CHANGED:
                return DirectoryEvent.system(DirectorySystemStruct.read(v1));
            case EVENT_DIR_SERVER_DISABLED:
                return dirServer(n, DirectoryEvent.Kind.SERVER_DISABLED, v1);
            case EVENT_DIR_SERVER_STATUS_CHANGED:
                return dirServer(n, DirectoryEvent.Kind.SERVER_STATUS, v1);
            case EVENT_DIR_SERVER_MODIFIED:
                return dirServer(n, DirectoryEvent.Kind.SERVER_MODIFIED, v1);
            case EVENT_DIR_ENTRY_ADDED:
                return DirectoryEvent.entry(DirectoryEvent.Kind.ENTRY_ADDED, n.directory.readEntryChanged(v1));
            case EVENT_DIR_ENTRY_REMOVED:
                return DirectoryEvent.entry(DirectoryEvent.Kind.ENTRY_REMOVED, n.directory.readEntryChanged(v1));
            case EVENT_DIR_ENTRY_CHANGED:
                return DirectoryEvent.entry(DirectoryEvent.Kind.ENTRY_CHANGED, n.directory.readEntryChanged(v1));
            case EVENT_DIR_SETTINGS_CHANGED:
                try {
                    return settings(SettingsEvent.Area.DIRECTORY, SettingsStruct.readList(v1 > 0 ? v1 : 0));
                } finally {
                    if (v1 > 0) {
                        n.directory.releaseSettings(v1);
                    }
                }
            case EVENT_CONTENT_SETTINGS_CHANGED:
                return settings(SettingsEvent.Area.CONTENT, n.content.takeEventSettings(v1));
            case EVENT_CAMERA_CHANGED:
                return new CameraEvent(CameraEvent.Kind.CHANGED, v1, v2, false);
            case EVENT_CAMERA_ADDED:
                return new CameraEvent(CameraEvent.Kind.ADDED, v1, v2, false);
            case EVENT_CAMERA_REMOVED:
                return new CameraEvent(CameraEvent.Kind.REMOVED, v1, v2, false);
            case EVENT_CAMERA_FAR_GROUP_CHANGED:
                return new CameraEvent(CameraEvent.Kind.FAR_GROUP_CHANGED, v1, v2, false);
            case EVENT_CAMERA_FAR_GROUP_ADDED:
                return new CameraEvent(CameraEvent.Kind.FAR_GROUP_ADDED, v1, v2, false);
            case EVENT_CAMERA_FAR_GROUP_REMOVED:
                return new CameraEvent(CameraEvent.Kind.FAR_GROUP_REMOVED, v1, v2, false);
            case EVENT_CAMERA_PRESET_CHANGED:
                return new CameraEvent(CameraEvent.Kind.PRESET_CHANGED, v2, 0, v1 != 0);
            case EVENT_CAMERA_PRESET_SELECTED:
                return new CameraEvent(CameraEvent.Kind.PRESET_SELECTED, v2, 0, v1 != 0);
            case EVENT_CAL_SETTINGS_CHANGED:
                return settings(SettingsEvent.Area.CALENDAR, n.calendar.takeEventSettings(v1));
            case EVENT_CAL_MEETING_ADDED:
                return new MeetingEvent(MeetingEvent.Kind.ADDED, n.calendar.takeEventMeeting(v1), null, v2, null);
            case EVENT_CAL_MEETING_REMOVED:
                return new MeetingEvent(MeetingEvent.Kind.REMOVED, n.calendar.takeEventMeeting(v1), null, v2, null);
            case EVENT_CAL_MEETING_CHANGED:
                return new MeetingEvent(MeetingEvent.Kind.CHANGED, n.calendar.takeEventMeeting(v1), null, v2, null);
            case EVENT_CAL_SERVER_CHANGED:
                return new MeetingEvent(MeetingEvent.Kind.SERVER_CHANGED, null, n.calendar.takeEventServer(v1), v2, null);
            case EVENT_CAL_CHANGED:
                return new MeetingEvent(MeetingEvent.Kind.CALENDAR_CHANGED, null, null, v2,
                                        CalendarSubSystemInterface.readEventCalendar(v1));
            case EVENT_SECURITY_SETTINGS_CHANGED:
                return settings(SettingsEvent.Area.SECURITY, n.security.takeSettingsUpdate(v1));
            case EVENT_SYSTEM_SETTINGS_CHANGED:
                return settings(SettingsEvent.Area.SYSTEM, n.system.takeSettingsUpdate(v1));
            case EVENT_VIDEO_ENDPOINT_TYPE:
                return new VideoEvent(VideoEvent.Kind.ENDPOINT_TYPE, v1);
            case EVENT_VIDEO_DME_MODE_CHANGED:
                return new VideoEvent(VideoEvent.Kind.DME_MODE, v1);
            case EVENT_VIDEO_DME_SWAP_CHANGED:
                return new VideoEvent(VideoEvent.Kind.DME_SWAP, v1);
            case EVENT_VIDEO_PIP_MODE_CHANGED:
                return new VideoEvent(VideoEvent.Kind.PIP_MODE, v1);
            case EVENT_VIDEO_PIP_SWAP_CHANGED:
                return new VideoEvent(VideoEvent.Kind.PIP_SWAP, v1);
            case EVENT_VIDEO_PIP_LOCATION_CAP_CHANGED:
                return new VideoEvent(VideoEvent.Kind.PIP_LOCATION_CAPABILITY, v1);
            case EVENT_ERROR:
                return new ErrorEvent(v1);
            default:
                // EVENT_CONNECT_STATE_CHANGED and EVENT_DIR_SEARCH_DONE are the session's own business.
                return null;
        }
    }

    private static SettingsEvent settings(SettingsEvent.Area area, Map<String, String> values) {
        return values.isEmpty() ? null : new SettingsEvent(area, values);
    }

    /**
     * One server change may post the same node with two events; the first
     * releases it, so the second is given the copy the first made.
     */
    private static DirectoryEvent dirServer(Natives n, DirectoryEvent.Kind kind, int handle) {
        synchronized (n) {
            try {
                KyrDirServerStruct s = KyrDirServerStruct.read(handle);
                if (s == null && handle == n.lastServerHandle) {
                    s = n.lastServer;
                }
                n.lastServerHandle = handle;
                n.lastServer = s;
                return DirectoryEvent.server(kind, s);
            } finally {
                n.directory.releaseServers(handle);
            }
        }
    }
}
