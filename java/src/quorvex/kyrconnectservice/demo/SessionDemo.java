package quorvex.kyrconnectservice.demo;

import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.time.Duration;
import java.util.List;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

import quorvex.kyrconnectservice.KyrDirEntryStruct;
import quorvex.kyrconnectservice.KyrDirServerStruct;
import quorvex.kyrconnectservice.CalendarSubSystemInterface.Meeting;
import quorvex.kyrconnectservice.session.CallInfo;
import quorvex.kyrconnectservice.session.KyrSession;
import quorvex.kyrconnectservice.session.SessionState;

/**
 * A whole session through the session SDK: connect and pair, audio, a call
 * with its events, the directory, the calendar, a camera, the video layout,
 * then the codec is restarted, dropped and silenced under the session and it
 * comes back by itself each time; every state change is printed with its time.
 *
 * <p>Usage: SessionDemo address serial adminUser adminPassword [seconds] [control-fifo]
 *
 * <p>With a control fifo the demo asks the script that runs the simulator to
 * restart it ("restart") or to pass a command on to it ("sim close",
 * "sim blackhole", "sim clear").
 */
public final class SessionDemo {
    private static final long WAIT_MS = 15_000;

    private final KyrSession session;
    private final BlockingQueue<SessionState> states = new LinkedBlockingQueue<>();
    private final OutputStream control;

    private SessionDemo(KyrSession session, OutputStream control) {
        this.session = session;
        this.control = control;
    }

    private static void say(String fmt, Object... args) {
        DemoSession.say(fmt, args);
    }

    public static void main(String[] args) throws Exception {
        if (args.length < 4) {
            System.err.println("usage: SessionDemo address serial adminUser adminPassword [seconds] [control-fifo]");
            System.exit(2);
        }
        int seconds = args.length > 4 ? Integer.parseInt(args[4]) : 3;
        OutputStream control = args.length > 5 ? new FileOutputStream(args[5]) : null;
        KyrSession session = KyrSession.builder(args[0], args[1])
                .clientVersion("1.0.0")
                .credentials(args[2], args[3])
                .reconnectDelays(Duration.ofMillis(200), Duration.ofSeconds(2))
                .liveness(Duration.ofSeconds(2))
                .build();
        SessionDemo demo = new SessionDemo(session, control);
        int status;
        try {
            status = demo.run(seconds) ? 0 : 1;
        } finally {
            session.close();
            say("session closed");
            if (control != null) {
                control.close();
            }
        }
        System.exit(status);
    }

    private boolean run(int seconds) throws Exception {
        session.addStateListener((state, previous, code) -> {
            say("state %s -> %s%s", previous, state, code == 0 ? "" : " (" + code + ")");
            states.add(state);
        });
        // Every event of every kind, as the session delivers it (an app adds one listener per kind it shows).
        session.addListener(Object.class, e -> say("event: %s", e));

        say("start (returns at once)");
        session.start();
        if (!await(SessionState.CONNECTED)) {
            say("not connected: %s", session.state());
            return false;
        }
        boolean ok = scene("audio", this::audio) & scene("call", this::call) & scene("directory", this::directory)
                & scene("calendar", this::calendar) & scene("camera", this::camera) & scene("video", this::video);
        if (control != null) {
            ok &= scene("reconnect", this::reconnect);
        }
        say("listening for events for %d s", seconds);
        Thread.sleep(seconds * 1000L);
        return ok;
    }

    private interface Scene {
        void run() throws Exception;
    }

    private boolean scene(String name, Scene s) {
        say("---- %s ----", name);
        try {
            s.run();
            return true;
        } catch (Exception e) {
            say("%s failed: %s", name, e instanceof ExecutionException ? e.getCause() : e);
            return false;
        }
    }

    private static <T> T get(CompletableFuture<T> f) throws Exception {
        return f.get(WAIT_MS, TimeUnit.MILLISECONDS);
    }

    private boolean await(SessionState wanted) throws InterruptedException {
        long end = System.currentTimeMillis() + WAIT_MS;
        for (long left = WAIT_MS; left > 0; left = end - System.currentTimeMillis()) {
            SessionState s = states.poll(left, TimeUnit.MILLISECONDS);
            if (s == wanted) {
                return true;
            }
        }
        return false;
    }

    private void audio() throws Exception {
        int volume = get(session.audio().volume());
        int target = volume == 40 ? 41 : 40;
        say("volume %d, setting %d", volume, target);
        get(session.audio().setVolume(target));
        say("volume now %d", get(session.audio().volume()));
        get(session.audio().setMuted(true));
        say("muted: %s", get(session.audio().muted()));
        get(session.audio().setMuted(false));
    }

    private void call() throws Exception {
        CallInfo call = get(session.comm().dial("10.0.0.9", "h323", 1024));
        say("dialled: %s", call);
        Thread.sleep(1500); // the call state events arrive meanwhile
        List<CallInfo> calls = get(session.comm().currentCalls());
        say("%d call(s) up", calls.size());
        for (CallInfo c : calls) {
            say("  %s", c);
        }
        get(session.comm().hangUp(call.conference, call.id));
        Thread.sleep(500);
    }

    private void directory() throws Exception {
        List<KyrDirServerStruct> servers = get(session.directory().servers());
        for (int i = 0; i < 50 && servers.isEmpty(); i++) {
            Thread.sleep(100); // the codec's server table is read just after connecting
            servers = get(session.directory().servers());
        }
        say("%d directory servers", servers.size());
        if (servers.isEmpty()) {
            throw new IllegalStateException("the codec reported no directory server");
        }
        List<KyrDirEntryStruct> found = get(session.directory().search(servers.get(0).id, "Ada", 0));
        say("search for \"Ada\" in %s: %d entries", servers.get(0).id, found.size());
    }

    private void calendar() throws Exception {
        long now = System.currentTimeMillis() / 1000;
        long today = now - now % 86400;
        List<Meeting> meetings = get(session.calendar().meetings(today, today + 86400));
        say("today's meetings: %d", meetings.size());
        for (Meeting m : meetings) {
            say("  %s", m);
        }
    }

    private void camera() throws Exception {
        say("near cameras: %d, first: %s", get(session.cameras().nearCameraCount()),
            get(session.cameras().nearCamera(0)));
        get(session.cameras().pan(true, 1));
        Thread.sleep(300);
        get(session.cameras().stop(true));
    }

    private void video() throws Exception {
        get(session.video().setPipMode(2));
        say("PIP at %d", get(session.video().pipMode()));
        get(session.video().setPipMode(-1));
        say("PIP %s", get(session.video().pipMode()) == -1 ? "off" : "still on");
    }

    private void reconnect() throws Exception {
        say("the codec restarts (it forgets the pairing)");
        send("restart");
        comeBack(null);
        say("the codec drops the connection");
        send("sim close");
        comeBack(null);
        say("the codec goes silent: its socket stays open, nothing comes back (blackhole)");
        send("sim blackhole");
        comeBack("sim clear");
    }

    /** Waits for the loss and the return; lift (when not null) ends the fault once the loss is known. */
    private void comeBack(String lift) throws Exception {
        boolean lost = await(SessionState.RECONNECTING);
        if (lost && lift != null) {
            say("the session found the silence through its liveness probe; the codec speaks again in 2 s");
            Thread.sleep(2000);
            send(lift);
        }
        if (!lost || !await(SessionState.CONNECTED)) {
            throw new IllegalStateException("the session did not come back: " + session.state());
        }
        say("back; volume %d", get(session.audio().volume()));
    }

    private void send(String line) throws IOException {
        control.write((line + "\n").getBytes(StandardCharsets.UTF_8));
        control.flush();
    }
}
