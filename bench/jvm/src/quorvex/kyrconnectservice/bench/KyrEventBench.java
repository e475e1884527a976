package quorvex.kyrconnectservice.bench;

import java.io.FileWriter;
import java.io.IOException;
import java.io.PrintWriter;
import java.util.Arrays;

import quorvex.kyrconnectservice.KyrConnectService;
import quorvex.kyrconnectservice.KyrEvents;

/**
 * Events delivered to a Java listener through the whole service path - the
 * codec writes a terminal notification, the reader thread queues it, the
 * worker decodes it and its callback posts the event through
 * postEventFromNative - set against a bare native loop of the same upcall in
 * the same JVM.
 *
 * <p>Usage: {@code KyrEventBench OUT} with the library given as the system
 * property {@code kyrconnect.library}; writes one tab-separated row per
 * figure (figure, library, baseline, ratio, target, met) to OUT.
 * {@code KYR_BENCH_QUICK=1} takes fewer samples.
 */
public final class KyrEventBench {

    /** Arrival time of each numbered event; value1 is the number. */
    static final class Arrivals {
        final long[] at;
        volatile int count;
        volatile long last;

        Arrivals(int n) {
            at = new long[n];
        }

        void arrive(int seq) {
            if (seq < 0 || seq >= at.length || at[seq] != 0) {
                return;
            }
            long now = System.nanoTime();
            at[seq] = now;
            last = now;
            count = count + 1; // one writer: the worker, or the upcall loop
        }

        boolean await(int n, long timeoutMs) throws InterruptedException {
            long end = System.nanoTime() + timeoutMs * 1_000_000L;
            while (count < n && System.nanoTime() < end) {
                Thread.sleep(2);
            }
            return count >= n;
        }
    }

    /** One run's figures. */
    static final class Result {
        double rate;
        int lost;
        double p50Us;
        double p99Us;
    }

    private static volatile Arrivals sCurrent = new Arrivals(0);
    private static final int MUTE = KyrEvents.EVENT_COMM_CALL_MUTE_CHANGED;

    private KyrEventBench() {
    }

    static native int startPeer();

    static native void stopPeer();

    static native long[] push(int n, int perSecond);

    static native long[] upcallLoop(int n, int code);

    /** The baseline's target: the same shape as postEventFromNative. */
    static void upcall(Object ref, int code, int value1, int value2, Object obj) {
        if (code == MUTE) {
            sCurrent.arrive(value1);
        }
    }

    static Result measure(Arrivals a, long[] stamp, int n) {
        Result r = new Result();
        r.lost = n - a.count;
        long[] lat = new long[a.count];
        int k = 0;
        for (int i = 0; i < n; i++) {
            if (a.at[i] != 0 && k < lat.length) {
                lat[k++] = a.at[i] - stamp[i];
            }
        }
        Arrays.sort(lat, 0, k);
        if (k > 0) {
            r.p50Us = lat[(int) (0.5 * (k - 1) + 0.5)] / 1000.0;
            r.p99Us = lat[(int) (0.99 * (k - 1) + 0.5)] / 1000.0;
        }
        double secs = (a.last - stamp[0]) / 1e9;
        r.rate = a.count > 1 && secs > 0 ? a.count / secs : 0;
        return r;
    }

    static Result throughService(int n, int perSecond) throws InterruptedException {
        Arrivals a = new Arrivals(n);
        sCurrent = a;
        long[] stamp = push(n, perSecond);
        a.await(n, 10_000);
        Thread.sleep(50); // stragglers would show as duplicates, not as losses
        return measure(a, stamp, n);
    }

    static Result bareUpcalls(int n) {
        Arrivals a = new Arrivals(n);
        sCurrent = a;
        long[] stamp = upcallLoop(n, MUTE);
        return measure(a, stamp, n);
    }

    static String f0(double x) {
        return String.format("%.0f", x);
    }

    public static void main(String[] args) throws Exception {
        if (args.length < 1) {
            System.err.println("usage: KyrEventBench OUT");
            System.exit(2);
        }
        boolean quick = "1".equals(System.getenv("KYR_BENCH_QUICK"));
        int n = quick ? 5000 : 20000;
        int paced = 5000;
        KyrConnectService svc = new KyrConnectService((code, v1, v2, obj) -> {
            if (code == MUTE) {
                sCurrent.arrive(v1);
            }
        });
        if (svc.setup() != 0) {
            throw new IllegalStateException("set-up failed");
        }
        if (startPeer() < 0) {
            throw new IllegalStateException("the loopback codec did not start");
        }
        // The worker finds the connection on its next round (it pauses a
        // second while none is up) and takes its place in the queue then.
        Thread.sleep(1500);
        // Warm-up: the worker attaches to the VM, the JIT compiles both paths.
        Arrivals warm = new Arrivals(2000);
        sCurrent = warm;
        push(2000, 0);
        if (!warm.await(2000, 15_000)) {
            throw new IllegalStateException("warm-up: " + warm.count + " of 2000 events arrived");
        }
        bareUpcalls(20000);

        // Alternating rounds, medians: the machine may be shared.
        int rounds = quick ? 1 : 3;
        Result[] lib = new Result[rounds];
        Result[] base = new Result[rounds];
        Result[] libPaced = new Result[rounds];
        for (int i = 0; i < rounds; i++) {
            lib[i] = throughService(n, 0);
            base[i] = bareUpcalls(n);
            libPaced[i] = throughService(quick ? 2000 : 10000, paced);
        }
        Result l = median(lib);
        Result b = median(base);
        Result lp = median(libPaced);
        int lost = 0;
        for (int i = 0; i < rounds; i++) {
            lost += lib[i].lost + libPaced[i].lost;
        }
        try (PrintWriter out = new PrintWriter(new FileWriter(args[0]))) {
            out.printf("events to a Java listener, burst: rate\t%s/s\tbare upcall %s/s\t%.3fx\t-\t-%n",
                    f0(l.rate), f0(b.rate), l.rate / b.rate);
            out.printf("events to a Java listener, burst: latency p50/p99\t%s / %s us\tbare upcall %.2f / %.2f us"
                    + "\t-\t-\t-%n", f0(l.p50Us), f0(l.p99Us), b.p50Us, b.p99Us);
            out.printf("events to a Java listener, paced %d/s: latency p50/p99\t%s / %s us\t-\t-\t-\t-%n",
                    paced, f0(lp.p50Us), f0(lp.p99Us));
            out.printf("events to a Java listener: lost (all %d runs)\t%d\t0\t-\t0\t%s%n", 2 * rounds, lost,
                    lost == 0 ? "met" : "NOT met");
        }
        stopPeer();
        svc.release();
        System.exit(0);
    }

    static Result median(Result[] rs) {
        Result[] s = rs.clone();
        Arrays.sort(s, (x, y) -> Double.compare(x.rate, y.rate));
        Result m = s[s.length / 2];
        double[] p50 = new double[rs.length];
        double[] p99 = new double[rs.length];
        for (int i = 0; i < rs.length; i++) {
            p50[i] = rs[i].p50Us;
            p99[i] = rs[i].p99Us;
        }
        Arrays.sort(p50);
        Arrays.sort(p99);
        Result r = new Result();
        r.rate = m.rate;
        r.lost = m.lost;
        r.p50Us = p50[rs.length / 2];
        r.p99Us = p99[rs.length / 2];
        return r;
    }
}
