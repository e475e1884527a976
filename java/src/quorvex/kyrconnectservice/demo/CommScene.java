package quorvex.kyrconnectservice.demo;

import java.util.List;

import quorvex.kyrconnectservice.CommSubSystemInterface;
import quorvex.kyrconnectservice.KyrCallMediaStruct;
import quorvex.kyrconnectservice.KyrCallStruct;
import quorvex.kyrconnectservice.KyrEvents;

/**
 * A call as a user sees it: dial, watch the call state change until the far
 * end answers, look at the call, mute and unmute it, read its statistics and
 * hang up.
 */
public final class CommScene implements DemoScene {
    private static final String ADDRESS = "10.0.0.9";
    private static final long WAIT = 5000;

    /** Creates the scene. */
    public CommScene() {
    }

    @Override
    public void run(DemoSession demo) throws Exception {
        CommSubSystemInterface comm = new CommSubSystemInterface();
        DemoSession.say("calls: dialling %s (h323, 1024 kbit/s)", ADDRESS);
        comm.dial(0, ADDRESS, "h323", 1024);
        if (!waitForState(demo, KyrCallStruct.STATE_ACTIVE)) {
            throw new IllegalStateException("the call never became Active");
        }

        KyrCallStruct call = null;
        for (KyrCallStruct c : comm.getCurrentCalls()) {
            DemoSession.say("calls: %s", c);
            DemoSession.say("calls:   name=%s addr=%s dialed=%s id=%d state=%s rate=%d direction=%s muted=%d "
                            + "media=%d connectTime=%d", c.name, c.addr, c.dialedAddr, c.id,
                            KyrCallStruct.stateName(c.state), c.rate, c.direction == 0 ? "out" : "in", c.muted,
                            c.numMedia, c.connectTime);
            if (c.addr.endsWith(ADDRESS)) {
                call = c;
            }
        }
        if (call == null) {
            throw new IllegalStateException("the dialled call is not listed");
        }
        DemoSession.say("calls: %d call(s) in %d conference(s)", comm.getNumberOfCurrentCalls(),
                        comm.getNumberOfCurrentConferences());

        DemoSession.say("calls: mute -> %d", comm.setCallMuted(0, call.id, true));
        report(demo.waitFor(KyrEvents.EVENT_COMM_CALL_MUTE_CHANGED, WAIT), "muted");
        DemoSession.say("calls: unmute -> %d", comm.setCallMuted(0, call.id, false));
        report(demo.waitFor(KyrEvents.EVENT_COMM_CALL_MUTE_CHANGED, WAIT), "unmuted");

        List<KyrCallMediaStruct> stats = comm.getCallStatistics(0, call.id);
        DemoSession.say("calls: %d streaming media", stats.size());
        for (KyrCallMediaStruct m : stats) {
            DemoSession.say("calls:   %s", m);
        }

        DemoSession.say("calls: hanging up call %d", call.id);
        comm.hangUp(0, call.id, CommSubSystemInterface.CAUSE_NORMAL);
        if (!waitForState(demo, KyrCallStruct.STATE_DISCONNECTED)) {
            throw new IllegalStateException("the call did not end");
        }
        demo.waitFor(KyrEvents.EVENT_COMM_CALL_LIST_CHANGED, WAIT);
        List<KyrCallStruct> recent = comm.getRecentCalls();
        DemoSession.say("calls: %d recent call(s); latest: %s", recent.size(), recent.isEmpty() ? "-" : recent.get(0));
    }

    /** Prints every call state until the wanted one arrives; false when it did not in time. */
    private static boolean waitForState(DemoSession demo, int wanted) throws InterruptedException {
        long end = System.currentTimeMillis() + WAIT;
        while (System.currentTimeMillis() < end) {
            DemoSession.Event e = demo.waitFor(KyrEvents.EVENT_COMM_CALL_STATE_CHANGED,
                                               Math.max(1, end - System.currentTimeMillis()));
            if (e == null) {
                return false;
            }
            DemoSession.say("calls: call state %s (cause %d)", KyrCallStruct.stateName(e.value1), e.value2);
            if (e.value1 == wanted) {
                return true;
            }
        }
        return false;
    }

    private static void report(DemoSession.Event e, String what) {
        DemoSession.say("calls: %s", e == null ? "no mute event" : "call " + e.value1 + " " + what + " (" + e.value2 + ")");
    }
}
