package quorvex.kyrconnectservice.demo;

import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

import quorvex.kyrconnectservice.KyrConnectService;
import quorvex.kyrconnectservice.KyrEvents;

/**
 * A whole session against a codec: set up, connect with a serial number,
 * pair with the administrator credentials when asked, report the client's
 * identity, print every event by name as it arrives, then disconnect and
 * release.
 *
 * <p>Usage: KyrDemo address serial adminUser adminPassword [seconds]
 */
public final class KyrDemo {
    private KyrDemo() {
    }

    /**
     * The scenes run while connected, in this order; a scene whose class is
     * not part of this build is skipped.
     */
    private static final String[] SCENES = {
        "CommScene", "AudioScene", "SystemScene", "DirectoryScene", "CalendarScene",
        "CameraScene", "VideoScene", "TestHooksScene",
    };

    private static void say(String fmt, Object... args) {
        DemoSession.say(fmt, args);
    }

    public static void main(String[] args) throws InterruptedException {
        if (args.length < 4) {
            System.err.println("usage: KyrDemo address serial adminUser adminPassword [seconds]");
            System.exit(2);
        }
        String address = args[0];
        String serial = args[1];
        String adminUser = args[2];
        String adminPwd = args[3];
        int seconds = args.length > 4 ? Integer.parseInt(args[4]) : 3;

        BlockingQueue<Integer> states = new LinkedBlockingQueue<>();
        DemoSession session = new DemoSession();
        KyrConnectService svc = new KyrConnectService((code, v1, v2, obj) -> {
            if (code == KyrEvents.EVENT_CONNECT_STATE_CHANGED) {
                say("event %s: %s", KyrEvents.eventName(code), KyrEvents.stateName(v1));
                states.add(v1);
            } else {
                session.post(code, v1, v2, obj);
            }
        });
        session.attach(svc);

        int rc = svc.setup();
        say("setup -> %d", rc);
        if (rc != 0) {
            System.exit(1);
        }
        int status = 1;
        try {
            rc = svc.connect(address, serial, "1.0.0", "1.0.0", "99.0.0");
            say("connect %s as %s -> %d", address, serial, rc);
            if (rc == -23) {
                // The moment to show the codec's identity to the user; an app
                // stores it after pairing and pins it for later connects.
                say("codec fingerprint %s", svc.getServerFingerprint());
                rc = svc.pair(adminUser, adminPwd);
                say("pair as %s -> %d", adminUser, rc);
            }
            if (rc == 0 && waitFor(states, KyrEvents.KYR_Connect_Connected, 5000)) {
                say("connected; codec accepts clients from version %s", svc.getMinDavixVersion());
                rc = svc.sendSystemInfo("1.0.0-demo", System.getProperty("os.name") + " "
                                        + System.getProperty("os.version"), 0, "en");
                say("sendSystemInfo -> %d", rc);
                status = runScenes(session) ? 0 : 1;
                say("listening for events for %d s", seconds);
                session.drain(seconds * 1000L);
            } else {
                say("not connected (state %s)", KyrEvents.stateName(svc.getConnectionState()));
            }
        } finally {
            say("disconnect -> %d", svc.disconnect());
            svc.release();
            say("released");
        }
        System.exit(status);
    }

    private static boolean runScenes(DemoSession session) {
        boolean ok = true;
        for (String name : SCENES) {
            DemoScene scene;
            try {
                scene = (DemoScene) Class.forName(KyrDemo.class.getPackageName() + "." + name)
                    .getDeclaredConstructor().newInstance();
            } catch (ReflectiveOperationException e) {
                continue;
            }
            say("---- %s ----", name);
            try {
                scene.run(session);
            } catch (Exception e) {
                say("%s failed: %s", name, e);
                ok = false;
            }
        }
        return ok;
    }

    private static boolean waitFor(BlockingQueue<Integer> states, int wanted, long ms)
            throws InterruptedException {
        long end = System.currentTimeMillis() + ms;
        for (long left = ms; left > 0; left = end - System.currentTimeMillis()) {
            Integer s = states.poll(left, TimeUnit.MILLISECONDS);
            if (s == null) {
                return false;
            }
            if (s == wanted) {
                return true;
            }
        }
        return false;
    }
}
