package quorvex.kyrconnectservice.session;

import quorvex.kyrconnectservice.CommSystemStruct;
import quorvex.kyrconnectservice.KyrConferenceStruct;

/** A change of the communication subsystem (not of one call: see {@link CallInfo}). */
public final class CommEvent extends KindEvent<CommEvent.Kind> {
    /** What changed. */
    public enum Kind {
        /** The subsystem record: {@link #system}, change flags in {@link #value}. */
        SYSTEM,
        /** A conference: {@link #conference}, change flags in {@link #value}. */
        CONFERENCE,
        /** The pending (incoming) calls changed. */
        PENDING_CALLS,
        /** The recent-call list was archived at time {@link #value}. */
        RECENT_CALLS_ARCHIVED
    }

    /** For {@link Kind#SYSTEM}, else null. */
    public final CommSystemStruct system;
    /** For {@link Kind#CONFERENCE}, else null. */
    public final KyrConferenceStruct conference;

    CommEvent(Kind kind, int value, CommSystemStruct system, KyrConferenceStruct conference) {
        super(kind, value);
        this.system = system;
        this.conference = conference;
    }

    @Override
    public String toString() {
        switch (kind) {
            case SYSTEM:
                return "comm system" + (system == null ? " (unreadable)" : ": " + system.numConfs + " conference(s), "
                        + system.numPendingTerms + " pending");
            case CONFERENCE:
                return "conference " + (conference == null ? "(unreadable)" : conference.index + " with "
                        + conference.numTerms + " call(s)");
            default:
                return describe("comm");
        }
    }
}
