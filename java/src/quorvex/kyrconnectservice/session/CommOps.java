package quorvex.kyrconnectservice.session;

import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CompletableFuture;

import quorvex.kyrconnectservice.CommSubSystemInterface;
import quorvex.kyrconnectservice.CommSystemStruct;
import quorvex.kyrconnectservice.KyrCallStruct;

/** Calls and conferences, through a {@link KyrSession}. Every method returns at once. */
public final class CommOps {
    private final KyrSession s;

    CommOps(KyrSession s) {
        this.s = s;
    }

    /**
     * Dials an address in conference 0. The call's progress arrives as
     * {@link CallInfo} events; a refused address also fails the future
     * (-8 "Bad address").
     *
     * @param address the far end
     * @param prefix the call type ("h323", "sip", ...), or null
     * @param rate call rate in kbit/s
     * @return the call as the codec lists it right after the dial
     */
    public CompletableFuture<CallInfo> dial(String address, String prefix, int rate) {
        return s.call("dial", n -> {
            n.comm.dial(0, address, prefix, rate);
            Results.checkLast(n, "dial");
            CallInfo found = null;
            for (KyrCallStruct c : n.comm.getCurrentCalls()) {
                if (address != null && (address.equals(c.addr) || address.equals(c.dialedAddr))
                        && (found == null || c.id > found.id)) {
                    found = CallInfo.of(CallInfo.Change.DIALED, c);
                }
            }
            return found != null ? found : new CallInfo(CallInfo.Change.DIALED, 0, 0, "", address,
                    KyrCallStruct.STATE_DIALING, 0, false, -1, false, rate);
        });
    }

    /** Answers a pending call (0: the first) into conference 0. */
    public CompletableFuture<Void> answer(int callId) {
        return s.action("answer", n -> n.comm.answer(0, callId));
    }

    /** Hangs up a call (callId 0: the whole conference) with a normal clearing cause. */
    public CompletableFuture<Void> hangUp(int conference, int callId) {
        return s.action("hangUp", n -> n.comm.hangUp(conference, callId, CommSubSystemInterface.CAUSE_NORMAL));
    }

    /** Refuses a pending call. */
    public CompletableFuture<Void> reject(int callId) {
        return s.action("reject", n -> n.comm.hangUp(CommSubSystemInterface.PENDING_CALLS, callId,
                                                      CommSubSystemInterface.CAUSE_NORMAL));
    }

    public CompletableFuture<Void> setCallMuted(int conference, int callId, boolean muted) {
        return s.code("setCallMuted", n -> n.comm.setCallMuted(conference, callId, muted));
    }

    /** Sends DTMF keys on a call. */
    public CompletableFuture<Void> sendKeys(int conference, int callId, String keys) {
        return s.action("sendKeys", n -> n.comm.sendKeys(conference, callId, keys));
    }

    /** The calls now up, conference calls first, then the pending ones. */
    public CompletableFuture<List<CallInfo>> currentCalls() {
        return s.call("currentCalls", n -> infos(n.comm.getCurrentCalls()));
    }

    /** The recent-call list, newest first. */
    public CompletableFuture<List<CallInfo>> recentCalls() {
        return s.call("recentCalls", n -> infos(n.comm.getRecentCalls()));
    }

    public CompletableFuture<CommSystemStruct> system() {
        return s.call("commSystem", n -> Results.orFailure(n, "commSystem", n.comm.getCommSystem()));
    }

    public CompletableFuture<Map<String, String>> settings() {
        return s.call("commSettings", n -> n.comm.getSettings());
    }

    public CompletableFuture<Void> setSetting(String key, String value) {
        return s.code("setCommSetting", n -> n.comm.setSetting(key, value));
    }

    private static List<CallInfo> infos(List<KyrCallStruct> calls) {
        List<CallInfo> out = new ArrayList<>(calls.size());
        for (KyrCallStruct c : calls) {
            out.add(CallInfo.of(CallInfo.Change.CURRENT, c));
        }
        return List.copyOf(out);
    }
}
