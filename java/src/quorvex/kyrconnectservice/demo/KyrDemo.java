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

    private static final long START = System.nanoTime();

    private static void say(String fmt, Object... args) {
        long ms = (System.nanoTime() - START) / 1_000_000;
        System.out.printf("[%6d ms] %s%n", ms, String.format(fmt, args));
        System.out.flush();
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
        KyrConnectService svc = new KyrConnectService((code, v1, v2, obj) -> {
            if (code == KyrEvents.EVENT_CONNECT_STATE_CHANGED) {
                say("event %s: %s", KyrEvents.eventName(code), KyrEvents.stateName(v1));
                states.add(v1);
            } else {
                say("event %s: value1=%d value2=%d%s", KyrEvents.eventName(code), v1, v2,
                    obj == null ? "" : " obj=" + obj);
            }
        });

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
                rc = svc.pair(adminUser, adminPwd);
                say("pair as %s -> %d", adminUser, rc);
            }
            if (rc == 0 && waitFor(states, KyrEvents.KYR_Connect_Connected, 5000)) {
                say("connected; codec accepts clients from version %s", svc.getMinDavixVersion());
                rc = svc.sendSystemInfo("1.0.0-demo", System.getProperty("os.name") + " "
                                        + System.getProperty("os.version"), 0, "en");
                say("sendSystemInfo -> %d", rc);
                say("listening for events for %d s", seconds);
                Thread.sleep(seconds * 1000L);
                status = 0;
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
