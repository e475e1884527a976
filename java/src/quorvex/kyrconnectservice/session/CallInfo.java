package quorvex.kyrconnectservice.session;

import quorvex.kyrconnectservice.KyrCallStruct;

/**
 * One call as a session reports it: an immutable copy, valid for ever.
 * {@link #change} says what the report is about; what the library's
 * report does not carry is 0, -1 or empty as documented per field.
 */
public final class CallInfo {
    /** What a call report is about. */
    public enum Change {
        /** A call that is up now (read after every (re)connect and by {@link CommOps#currentCalls()}). */
        CURRENT,
        /** The call a dial started ({@link CommOps#dial}). */
        DIALED,
        /** The call state changed; the library names the state and cause only (id is 0). */
        STATE,
        /** A call was muted or unmuted: id and muted. */
        MUTE,
        /** A call's authentication state changed: id and authState. */
        AUTH,
        /** A call ended and went to the recent-call list: the whole call. */
        ENDED
    }

    public final Change change;
    /** Conference index; -1 for a pending call; 0 when the report does not say. */
    public final int conference;
    /** The terminal id every per-call operation takes; 0 when the report does not say. */
    public final int id;
    /** Display name of the far end ("" when not reported). */
    public final String name;
    /** Address of the far end ("" when not reported). */
    public final String address;
    /** Call state (KyrCallStruct.STATE_*), -1 when not reported. */
    public final int state;
    /** Cause code of the last state change. */
    public final int cause;
    public final boolean muted;
    /** Authentication state, -1 when not reported. */
    public final int authState;
    public final boolean incoming;
    /** Call rate in kbit/s, 0 when not reported. */
    public final int rate;

    CallInfo(Change change, int conference, int id, String name, String address, int state, int cause, boolean muted,
             int authState, boolean incoming, int rate) {
        this.change = change;
        this.conference = conference;
        this.id = id;
        this.name = name == null ? "" : name;
        this.address = address == null ? "" : address;
        this.state = state;
        this.cause = cause;
        this.muted = muted;
        this.authState = authState;
        this.incoming = incoming;
        this.rate = rate;
    }

    static CallInfo of(Change change, KyrCallStruct c) {
        return new CallInfo(change, c.index, c.id, c.name, c.addr.isEmpty() ? c.dialedAddr : c.addr, c.state,
                            c.causeCode, c.muted != 0, c.authState, c.direction == 1, c.rate);
    }

    static CallInfo state(int state, int cause) {
        return new CallInfo(Change.STATE, 0, 0, "", "", state, cause, false, -1, false, 0);
    }

    static CallInfo mute(int id, boolean muted) {
        return new CallInfo(Change.MUTE, 0, id, "", "", -1, 0, muted, -1, false, 0);
    }

    static CallInfo auth(int id, int authState) {
        return new CallInfo(Change.AUTH, 0, id, "", "", -1, 0, false, authState, false, 0);
    }

    /** @return "Active", "Dialing", ... or "Unknown" */
    public String stateName() {
        return KyrCallStruct.stateName(state);
    }

    @Override
    public String toString() {
        if (change == Change.STATE) {
            return "call state " + stateName() + (cause != 0 ? " (cause " + cause + ")" : "");
        }
        return change + " call " + id + (name.isEmpty() ? "" : " '" + name + "'") + (address.isEmpty() ? "" : " " + address)
                + (state >= 0 ? " " + stateName() : "") + (muted ? " muted" : "")
                + (authState >= 0 ? " auth " + KyrCallStruct.authStateName(authState) : "");
    }
}
