package quorvex.kyrconnectservice.session;

import quorvex.kyrconnectservice.KyrEvents;

/** A failure the library reports besides an operation's result (a dial refused, ...). */
public final class ErrorEvent {
    /** The reason, one of the {@code KyrEvents.ERROR_REASON_*} values. */
    public final int reason;

    ErrorEvent(int reason) {
        this.reason = reason;
    }

    /** @return the reason's name, for example "ERROR_REASON_DIAL_BAD_ADDRESS" */
    public String reasonName() {
        return KyrEvents.errorReasonName(reason);
    }

    @Override
    public String toString() {
        return "error " + reasonName();
    }
}
