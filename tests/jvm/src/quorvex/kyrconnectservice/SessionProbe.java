package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.fail;

import java.io.File;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Set;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;
import java.util.concurrent.atomic.AtomicInteger;

import quorvex.kyrconnectservice.session.KyrException;
import quorvex.kyrconnectservice.session.KyrSession;
import quorvex.kyrconnectservice.session.SessionBuilder;
import quorvex.kyrconnectservice.session.SessionState;

/**
 * What the session tests share: a callback executor whose threads are known,
 * a record of every state change and of the threads listeners ran on.
 */
final class SessionProbe implements AutoCloseable {
    static final long WAIT = 8000;

    /** One state change as a listener saw it. */
    static final class Change {
        final SessionState state;
        final SessionState previous;
        final int code;

        Change(SessionState state, SessionState previous, int code) {
            this.state = state;
            this.previous = previous;
            this.code = code;
        }

        @Override
        public String toString() {
            return previous + "->" + state + "(" + code + ")";
        }
    }

    private static final AtomicInteger POOLS = new AtomicInteger();
    final String threadPrefix = "probe-" + POOLS.incrementAndGet() + "-";
    private final AtomicInteger threads = new AtomicInteger();
    /** Two threads, so ordered delivery cannot come from a single thread by chance. */
    final ExecutorService executor = Executors.newFixedThreadPool(2, r -> {
        Thread t = new Thread(r, threadPrefix + threads.incrementAndGet());
        t.setDaemon(true);
        return t;
    });
    final LinkedBlockingQueue<Change> changes = new LinkedBlockingQueue<>();
    final Set<String> listenerThreads = ConcurrentHashMap.newKeySet();

    SessionBuilder builder(SimProcess sim, String serial) {
        return KyrSession.builder(sim.address(), serial)
                .callbackExecutor(executor)
                .reconnectDelays(java.time.Duration.ofMillis(20), java.time.Duration.ofMillis(200));
    }

    KyrSession watch(KyrSession s) {
        s.addStateListener((state, previous, code) -> {
            seen();
            changes.add(new Change(state, previous, code));
        });
        return s;
    }

    /** Notes the thread a listener runs on. */
    void seen() {
        listenerThreads.add(Thread.currentThread().getName());
    }

    /** Waits for the state, skipping others; fails after WAIT. */
    Change await(SessionState wanted) throws InterruptedException {
        List<Change> skipped = new ArrayList<>();
        long end = System.currentTimeMillis() + WAIT;
        for (long left = WAIT; left > 0; left = end - System.currentTimeMillis()) {
            Change c = changes.poll(left, TimeUnit.MILLISECONDS);
            if (c == null) {
                break;
            }
            if (c.state == wanted) {
                return c;
            }
            skipped.add(c);
        }
        fail("no " + wanted + " within " + WAIT + " ms; saw " + skipped);
        return null;
    }

    /** Every state change within ms. */
    List<Change> drain(long ms) throws InterruptedException {
        Thread.sleep(ms);
        List<Change> out = new ArrayList<>();
        changes.drainTo(out);
        return out;
    }

    /** The future's value; fails the test on failure or time-out. */
    static <T> T value(CompletableFuture<T> f) throws Exception {
        return f.get(WAIT, TimeUnit.MILLISECONDS);
    }

    /** The code the future failed with; fails the test when it succeeded. */
    static int failure(CompletableFuture<?> f) throws InterruptedException, TimeoutException {
        try {
            f.get(WAIT, TimeUnit.MILLISECONDS);
        } catch (ExecutionException e) {
            assertNotNull(e.getCause());
            if (!(e.getCause() instanceof KyrException)) {
                throw new AssertionError("not a KyrException", e.getCause());
            }
            return ((KyrException) e.getCause()).code();
        }
        fail("the future succeeded");
        return 0;
    }

    /** Checks that every listener ran on this probe's executor. */
    void assertListenersOnExecutor() {
        for (String t : listenerThreads) {
            assertEquals("listener thread " + t, true, t.startsWith(threadPrefix));
        }
    }

    /** Open descriptors of this process. */
    static int descriptors() {
        String[] fds = new File("/proc/self/fd").list();
        return fds == null ? -1 : fds.length;
    }

    /** What each open descriptor of this process is, for failure messages. */
    static List<String> descriptorTargets() {
        List<String> out = new ArrayList<>();
        File[] fds = new File("/proc/self/fd").listFiles();
        for (File f : fds == null ? new File[0] : fds) {
            try {
                out.add(java.nio.file.Files.readSymbolicLink(f.toPath()).toString());
            } catch (java.io.IOException e) {
                out.add("?");
            }
        }
        Collections.sort(out);
        return out;
    }

    @Override
    public void close() {
        executor.shutdownNow();
        try {
            executor.awaitTermination(5, TimeUnit.SECONDS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
