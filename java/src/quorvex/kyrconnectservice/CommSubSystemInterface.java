package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.util.List;
import java.util.Map;

/**
 * Calls and conferences: dial, answer, hang up, mute, send flash and keys,
 * answer a call's password request, and read the current calls,
 * conferences, recent calls and per-call statistics.
 *
 * <p>Calls are named by their conference index and their terminal id
 * ({@link KyrCallStruct#id}); a pending (incoming) call has no conference
 * yet. Every method talks to the codec synchronously on the calling thread
 * through the connection of the {@link KyrConnectService}, which must be set
 * up and connected. Changes arrive as events ({@code EVENT_COMM_*} of
 * {@link KyrEvents}): the call state, the call list when a call ends (read
 * it with {@link #readCallEvent(int)} while the event is delivered),
 * pending calls, conferences, the subsystem and its settings.
 *
 * <p>Typical use:
 * <pre>
 *   CommSubSystemInterface comm = new CommSubSystemInterface();
 *   comm.dial(0, "10.0.0.9", "h323", 1920);
 *   // EVENT_COMM_CALL_STATE_CHANGED ... Active
 *   for (KyrCallStruct call : comm.getCurrentCalls()) { ... }
 *   comm.hangUp(0, call.id, 16);
 * </pre>
 */
public class CommSubSystemInterface {
    /** The conference index that names the pending (incoming) calls in {@link #hangUp}. */
    public static final int PENDING_CALLS = -1;
    /** The terminal id that names the whole conference in {@link #hangUp} (and any call in {@link #answer}). */
    public static final int WHOLE_CONFERENCE = 0;
    /** A normal call clearing cause. */
    public static final int CAUSE_NORMAL = 16;

    /** Creates the interface; the library is loaded by {@link KyrConnectService}. */
    public CommSubSystemInterface() {
    }

    /**
     * Dials "prefix:address" in a conference. The outcome arrives as call
     * state events; a bad address posts {@code EVENT_ERROR} with
     * {@code ERROR_REASON_DIAL_BAD_ADDRESS}.
     *
     * @param conference conference index (0 for the first)
     * @param address the far end's address
     * @param prefix the call type ("h323", "sip", ...), or null for none
     * @param rate call rate in kbit/s
     */
    public void dial(int conference, String address, String prefix, int rate) {
        NativeDial(conference, address, prefix, rate);
    }

    /**
     * Dials the addresses of one far site in conference 0.
     *
     * @param siteName the site's name
     * @param rates the rate of each address
     * @param addresses one to ten addresses
     * @param all true to dial every address, false to stop at the first that connects
     * @return 0, a negative CSAPI code, or -1 when the list was refused (nothing was dialled)
     */
    public int dialList(String siteName, int[] rates, String[] addresses, boolean all) {
        return NativeDialList(DirAddressListStruct.build(siteName, rates, addresses), all ? 1 : 0);
    }

    /**
     * Answers a pending call.
     *
     * @param conference the conference the call joins
     * @param callId the pending call's id, or {@link #WHOLE_CONFERENCE} (0) for the first pending call
     */
    public void answer(int conference, int callId) {
        NativeAcceptCall(conference, callId);
    }

    /**
     * Hangs up a call, a whole conference or a pending call.
     *
     * @param conference conference index, or {@link #PENDING_CALLS} to refuse a pending call
     * @param callId the call's id, or {@link #WHOLE_CONFERENCE} to end the whole conference
     * @param cause clearing cause, for example {@link #CAUSE_NORMAL}
     */
    public void hangUp(int conference, int callId, int cause) {
        NativeHangup(conference, callId, cause);
    }

    /**
     * Leaves a conference, leaving the other parties connected.
     *
     * @param conference conference index
     * @param cause clearing cause
     * @return 0 or a negative CSAPI code
     */
    public int leaveConference(int conference, int cause) {
        return NativeLeaveConf(conference, cause);
    }

    /**
     * Mutes or unmutes one call; {@code EVENT_COMM_CALL_MUTE_CHANGED} follows.
     *
     * @param conference conference index
     * @param callId the call's id
     * @param mute true to mute
     * @return 0 or a negative CSAPI code
     */
    public int setCallMuted(int conference, int callId, boolean mute) {
        return NativeToggleTermMute(conference, callId, mute);
    }

    /**
     * Mutes or unmutes a whole conference.
     *
     * @param conference conference index
     * @param mute true to mute
     * @return 0 or a negative CSAPI code
     */
    public int setConferenceMuted(int conference, boolean mute) {
        return NativeToggleConfMute(conference, mute ? 1 : 0);
    }

    /**
     * Sends a hook flash on a call.
     *
     * @param conference conference index
     * @param callId the call's id
     * @param durationMs flash length in milliseconds
     */
    public void sendFlash(int conference, int callId, int durationMs) {
        NativeSendFlash(conference, callId, durationMs);
    }

    /**
     * Sends DTMF keys on a call (null sends nothing).
     *
     * @param conference conference index
     * @param callId the call's id
     * @param keys the keys, for example "1234#"
     */
    public void sendKeys(int conference, int callId, String keys) {
        NativeSendKeystring(conference, callId, keys);
    }

    /**
     * Answers a call's password request.
     *
     * @param conference conference index
     * @param callId the call's id
     * @param password the password (at most 127 bytes are sent); null is refused
     * @return 0, a negative CSAPI code, or -1 for a null password
     */
    public int authenticateCall(int conference, int callId, String password) {
        return NativeAuthenticateCall(conference, callId, password);
    }

    /**
     * The calls now up: every conference's calls in conference order, then
     * the pending calls (index -1).
     *
     * @return the calls; empty when there are none or the codec could not be read
     */
    public List<KyrCallStruct> getCurrentCalls() {
        long head = NativeGetCurrentCalls();
        try {
            return KyrCallStruct.readList(head);
        } finally {
            NativeReleaseCurrentCallsList(head);
        }
    }

    /**
     * The recent-call list, newest first (at most 100).
     *
     * @return the calls; empty when there are none or the codec could not be read
     */
    public List<KyrCallStruct> getRecentCalls() {
        long head = NativeGetRecentCalls();
        try {
            return KyrCallStruct.readList(head);
        } finally {
            NativeReleaseRecentCallList(head);
        }
    }

    /**
     * The conferences.
     *
     * @return the conferences in index order; empty when the codec could not be read
     */
    public List<KyrConferenceStruct> getCurrentConferences() {
        long head = NativeGetCurrentConferences();
        try {
            return KyrConferenceStruct.readList(head);
        } finally {
            NativeReleaseCurrentConferencesList(head);
        }
    }

    /**
     * Statistics of a call's streaming media.
     *
     * @param conference conference index
     * @param callId the call's id
     * @return one entry per streaming medium; empty when none streams or the codec could not be read
     */
    public List<KyrCallMediaStruct> getCallStatistics(int conference, int callId) {
        long head = NativeGetCallStats(conference, callId);
        try {
            return KyrCallMediaStruct.readList(head);
        } finally {
            NativeReleaseCallStatsList(head);
        }
    }

    /**
     * @return the calls in every conference plus the pending calls (0 when the codec could not be read)
     */
    public int getNumberOfCurrentCalls() {
        return NativeGetNumberCurrentCalls();
    }

    /**
     * @return the number of conferences (0 when the codec could not be read)
     */
    public int getNumberOfCurrentConferences() {
        return NativeGetNumberCurrentConferences();
    }

    /**
     * Reads the communication subsystem from the codec.
     *
     * @return the subsystem, or null when it could not be read
     */
    public CommSystemStruct getCommSystem() {
        return CommSystemStruct.read(NativeGetCommSystem());
    }

    /**
     * @return the CSAPI code of this thread's last codec operation (0 when it succeeded)
     */
    public int getLastCallFailCause() {
        return NativeGetLastCallFailCause();
    }

    /**
     * @return the codec's clock value, or -1 when it could not be read
     */
    public long getSystemTime() {
        return NativeGetSystemTime();
    }

    /**
     * The communication settings as key/value pairs.
     *
     * @return the settings in the codec's order
     * @throws SettingsUnavailableException when the codec did not give the page
     */
    public Map<String, String> getSettings() {
        long head = NativeGetCommSettings();
        return InterfaceSupport.takeList(head, "comm", this::NativeCommSettingsRelease);
    }

    /**
     * Changes one communication setting.
     *
     * @param key the setting's key, for example "auto_answer_pt2pt"
     * @param value its new value
     * @return 0 or more on success, a negative code on failure
     */
    public int setSetting(String key, String value) {
        return NativeSetCommSettings(key, value);
    }

    /**
     * Reads the call of an {@code EVENT_COMM_CALL_LIST_CHANGED} event; call it
     * while the event is delivered.
     *
     * @param value1 the event's first value
     * @return the call that ended, or null
     */
    public static KyrCallStruct readCallEvent(int value1) {
        return KyrCallStruct.read(value1);
    }

    /**
     * Reads the conference of an {@code EVENT_COMM_CONFERENCE_CHANGED} event;
     * call it while the event is delivered.
     *
     * @param value1 the event's first value
     * @return the conference, or null
     */
    public static KyrConferenceStruct readConferenceEvent(int value1) {
        return KyrConferenceStruct.read(value1);
    }

    /**
     * Reads and releases the settings list of an
     * {@code EVENT_COMM_SETTINGS_CHANGED} event (the list belongs to the
     * receiver); call it once per event.
     *
     * @param value1 the event's first value (0: no list)
     * @return the changed settings
     */
    public Map<String, String> takeSettingsEvent(int value1) {
        return InterfaceSupport.takeList(value1, "comm update", this::NativeCommSettingsRelease);
    }

    native void NativeDial(int conf, String address, String prefix, int rate);
    native int NativeDialList(ByteBuffer list, int all);
    native void NativeAcceptCall(int conf, int term);
    native void NativeHangup(int conf, int term, int cause);
    native int NativeLeaveConf(int conf, int cause);
    native int NativeToggleTermMute(int conf, int term, boolean mute);
    native int NativeToggleConfMute(int conf, int mute);
    native void NativeSendFlash(int conf, int term, int duration);
    native void NativeSendKeystring(int conf, int term, String keys);
    native int NativeAuthenticateCall(int conf, int term, String password);
    native long NativeGetCurrentCalls();
    native long NativeGetRecentCalls();
    native long NativeGetCurrentConferences();
    native long NativeGetCallStats(int conf, int term);
    native int NativeGetNumberCurrentCalls();
    native int NativeGetNumberCurrentConferences();
    native long NativeGetCommSystem();
    native int NativeGetLastCallFailCause();
    native long NativeGetSystemTime();
    native long NativeGetCommSettings();
    native int NativeSetCommSettings(String key, String value);
    native void NativeReleaseCurrentCallsList(long head);
    native void NativeReleaseRecentCallList(long head);
    native void NativeReleaseCurrentConferencesList(long head);
    native void NativeReleaseCallStatsList(long head);
    native void NativeCommSettingsRelease(long head);
}
